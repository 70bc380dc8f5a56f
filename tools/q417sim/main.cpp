// q417sim: simulated 417 modules on UDP (127.0.0.1) and a pseudo-terminal.
// tools/README.md describes the options and the lines printed on stdout.
#include "Options.h"
#include "Server.h"

#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <span>
#include <string>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int sig)
{
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    // A full pipe already holds enough to wake the loop.
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &b, 1);
    errno = saved;
}

// Scripts read these lines from a pipe: each must arrive as it is printed.
[[gnu::format(printf, 1, 2)]] void Line(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintRestart()
{
    Line("restart");
}

std::string Printable(std::span<const uint8_t> bytes)
{
    std::string s;
    for (uint8_t b : bytes)
        s += (b >= 0x20 && b < 0x7F) ? char(b) : '?';
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    using namespace q417sim;

    Options options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
    case Parsed::Help:
        std::fputs(Usage(), stdout);
        return 0;
    case Parsed::Error:
        std::fprintf(stderr, "q417sim: %s\nTry 'q417sim --help'.\n", error.c_str());
        return 2;
    case Parsed::Run:
        break;
    }

#ifdef __linux__
    // The kernel may let a sleep run 50 us past its end by default, most of
    // a byte time at 115200 Bd; a simulator keeping wire time asks for 1 ns.
    if (options.timing.real)
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif

    if (pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::perror("q417sim: pipe");
        return 1;
    }
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    SimBus bus;
    for (const ModuleSpec &spec : options.modules) {
        SimModule &m = bus.Add(SimModule(spec.address, spec.baudCode, spec.id));
        m.SetInputSource(options.inputs, options.fixedInputs);
        m.SetChannelFaults(options.channels);
        m.SetTurnaround(spec.turnaround);
    }

    const uint32_t seed =
        options.seed ? *options.seed : uint32_t(std::time(nullptr)) ^ (uint32_t(getpid()) << 16);
    int rc = 0;
    {
        Server server(bus, options, seed);
        if ((options.udp && !server.OpenUdp(options.udpPort, error)) ||
            (options.pty && !server.OpenPty(error)) ||
            (!options.link.empty() && !server.MakeLink(options.link, error))) {
            std::fprintf(stderr, "q417sim: %s\n", error.c_str());
            rc = 1;
        } else {
            for (const SimModule &m : bus.Modules()) {
                const std::string own =
                    m.Turnaround() ? " turnaround " +
                                         std::to_string(std::chrono::duration_cast<
                                                            std::chrono::milliseconds>(
                                                            *m.Turnaround())
                                                            .count())
                                   : std::string();
                Line("module %u baud %u name %s version %s%s", m.Address(), m.BaudCode(),
                     Printable(m.Id().name).c_str(), Printable(m.Id().version).c_str(),
                     own.c_str());
            }
            if (options.udp)
                Line("udp 127.0.0.1:%u", server.UdpPort());
            if (options.pty)
                Line("pty %s", server.SlavePath().c_str());
            if (!options.link.empty())
                Line("link %s", options.link.c_str());
            if (options.verbose)
                std::fprintf(stderr, "q417sim: seed %u\n", seed);
            Line("ready");
            server.Run(signalPipe[0], PrintRestart);
            // However the loop ended, what the master asked for is known.
            Line("%s", Format(server.Counts()).c_str());
        }
    } // the server removes the link and closes its descriptors here
    close(signalPipe[0]);
    close(signalPipe[1]);
    return rc;
}
