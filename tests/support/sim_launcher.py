#!/usr/bin/env python3
"""Starts q417sim for test programs that cannot start it themselves: the
Windows tests under wine (SimProcessWin.cpp). Listens on 127.0.0.1 (TCP);
each connection sends an executable and its arguments a line each and an
empty line, then "k SIGNAL" lines; it gets the program's stdout as "o LINE",
its stderr as "e LINE" and its exit as "x CODE", then the close. A closed
connection ends its program.

    sim_launcher.py PORT-FILE   # writes the port it listens on, then serves
"""
import os
import signal
import socket
import subprocess
import sys
import threading

GRACE_S = 10  # a signalled simulator's time to exit before SIGKILL


def serve(conn):
    f = conn.makefile("rb")
    argv = []
    for raw in f:
        line = raw.decode("utf-8", "replace").rstrip("\n")
        if line == "":
            break
        argv.append(line)
    if not argv:
        conn.close()
        return
    lock = threading.Lock()

    def say(text):
        with lock:
            try:
                conn.sendall((text + "\n").encode("utf-8", "replace"))
            except OSError:
                pass

    try:
        p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    except OSError as e:
        say("e cannot start %s: %s" % (argv[0], e))
        say("x 127")
        conn.close()
        return

    def relay(stream, tag):
        for raw in stream:
            say(tag + " " + raw.decode("utf-8", "replace").rstrip("\n"))

    relays = [threading.Thread(target=relay, args=(p.stdout, "o")),
              threading.Thread(target=relay, args=(p.stderr, "e"))]
    for t in relays:
        t.start()

    def commands():
        for raw in f:
            words = raw.decode("utf-8", "replace").split()
            if len(words) == 2 and words[0] == "k" and words[1].isdigit():
                try:
                    p.send_signal(int(words[1]))
                except OSError:
                    pass
                threading.Timer(GRACE_S, lambda: p.poll() is None and p.kill()).start()
        # The test has gone: its simulator goes too.
        if p.poll() is None:
            p.terminate()

    threading.Thread(target=commands, daemon=True).start()
    code = p.wait()
    for t in relays:
        t.join()
    say("x %d" % (code if code >= 0 else -1))
    try:
        conn.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    conn.close()


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(64)
    tmp = sys.argv[1] + ".tmp"
    with open(tmp, "w") as out:
        out.write("%d\n" % server.getsockname()[1])
    os.replace(tmp, sys.argv[1])
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
