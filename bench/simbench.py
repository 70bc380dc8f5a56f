"""What the korvalctl benchmarks share (bench/scan.sh, profile.sh,
acceptance.sh): the simulator with real timing on 127.0.0.1, korvalctl
pointed at it, the bus's time for an exchange, and the table row."""
import os
import subprocess
import tempfile

# drivers/common/BusTiming.h: 10 bits a byte, a 12-byte request, an
# 11-byte reply, the simulator's default turnaround of 1 ms.
TURNAROUND = 0.001


def exchange_time(rate):
    """Request, turnaround and reply on the wire, in seconds."""
    return 23 * 10 / rate + TURNAROUND


def first_byte_time(rate):
    """Request, turnaround and the reply's first byte: the earliest a master
    can know nobody answers."""
    return 13 * 10 / rate + TURNAROUND


class Bench:
    """The simulator (module 1 at 9600 Bd, or the `modules` given in its
    --module form) and the command line that reaches it through the LAN
    driver, with a settings file of its own; `extra` follows the connection
    options (an address and a rate, say). `simdir` holds the simulator when
    it is not beside korvalctl."""

    def __init__(self, bindir, extra=(), modules=("1:4",), simdir=None):
        args = [f"{simdir or bindir}/q417sim", "--udp-port", "0", "--timing", "real"]
        for m in modules:
            args += ["--module", m]
        self.sim = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        port = None
        for line in self.sim.stdout:
            if line.startswith("udp "):
                port = line.split(":")[1].strip()
            if line.strip() == "ready":
                break
        self.work = tempfile.TemporaryDirectory()
        settings = os.path.join(self.work.name, "W_korval.ini")
        # Real timing: the drivers' switch for tests must not reach here.
        self.env = {k: v for k, v in os.environ.items() if k != "Q417_TIMING"}
        self.ctl = [f"{bindir}/korvalctl", "--settings", settings, "-i", "lan",
                    "--ip", "127.0.0.1", "--udp-port", port, *extra]

    def path(self, name):
        return os.path.join(self.work.name, name)

    def run(self, args, check=True):
        p = subprocess.run(self.ctl + args, env=self.env, capture_output=True, text=True)
        if check and p.returncode != 0:
            raise SystemExit(f"korvalctl {' '.join(args)} ended with {p.returncode}: {p.stderr}")
        return p

    def stop(self):
        self.sim.terminate()
        self.sim.wait()


def row(figure, measured, reference, ratio, goal):
    """One row of the table of docs/PERFORMANCE.md for bench/all.sh."""
    print(f"row\t{figure}\t{measured}\t{reference}\t{ratio:.2f}\t<= {goal}\t"
          f"{'yes' if ratio <= goal else 'no'}", flush=True)
