// What the LAN driver adds to a module exchange: ModuleCall through
// libqlx1417.so to the simulator on 127.0.0.1, against the bare UDP round
// trip of the same frame sizes to an echo process. Both peers are separate
// processes, so both round trips pay the same two wake-ups.
#include "Session.h"
#include "SimProcess.h"
#include "Wire.h"

#include "BenchReport.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <thread>

namespace {

uint16_t SimPort = 0;
uint16_t EchoPort = 0;

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A child process answering every datagram with one reply-sized datagram.
// Returns its pid; the port it listens on goes to EchoPort.
pid_t StartEcho()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    EchoPort = ntohs(a.sin_port);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const wire::ReplyFrame reply = wire::Encode(wire::Reply{});
        uint8_t buf[64];
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            if (::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from),
                           &fromLen) > 0)
                ::sendto(fd, reply.data(), reply.size(), 0,
                         reinterpret_cast<sockaddr *>(&from), fromLen);
        }
    }
    ::close(fd);
    return pid;
}

void BM_DriverExchange(benchmark::State &state)
{
    Session s(ifLan);
    if (s.OpenLan("127.0.0.1", SimPort, 1000) != 0 || s.Configure(9600, 1000) != 0) {
        state.SkipWithError("the LAN driver did not connect");
        return;
    }
    for (auto _ : state) {
        const Answer a = s.Call(1, CmdReadInputs, SubChannels);
        if (a.status != 0) {
            state.SkipWithError(("exchange failed, status " + std::to_string(a.status)).c_str());
            break;
        }
        benchmark::DoNotOptimize(a);
    }
}

void BM_BareUdpEcho(benchmark::State &state)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(EchoPort);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        state.SkipWithError("no echo socket");
        return;
    }
    const wire::RequestFrame request = wire::Encode(wire::Request{1, 1, 0, 64, 0, {}});
    uint8_t buf[64];
    for (auto _ : state) {
        if (::send(fd, request.data(), request.size(), 0) != ssize_t(request.size()) ||
            ::recv(fd, buf, sizeof buf, 0) != ssize_t(wire::ReplySize)) {
            state.SkipWithError("echo round trip failed");
            break;
        }
    }
    ::close(fd);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    simtest::SimProcess sim(SIM_EXE, {"--udp-port", "0", "--seed", "1"});
    if (!sim.Ready()) {
        std::fprintf(stderr, "%s\n", sim.Failure().c_str());
        return 1;
    }
    SimPort = sim.UdpPort();
    const pid_t echo = StartEcho();
    if (echo < 0) {
        std::fprintf(stderr, "echo process did not start\n");
        return 1;
    }

    benchmark::RegisterBenchmark("BM_DriverExchange", BM_DriverExchange)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_BareUdpEcho", BM_BareUdpEcho)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    ::kill(echo, SIGTERM);
    ::waitpid(echo, nullptr, 0);

    const auto driver = collector.seconds.find("BM_DriverExchange");
    const auto bare = collector.seconds.find("BM_BareUdpEcho");
    if (driver == collector.seconds.end() || bare == collector.seconds.end())
        return 1;
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&now));
    const double driverUs = driver->second * 1e6, bareUs = bare->second * 1e6;
    const double ratio = driverUs / bareUs;
    std::printf("\n| machine | date | driver exchange (µs) | bare UDP echo (µs) | ratio |\n"
                "|---|---|---|---|---|\n"
                "| %u × %s | %s | %.1f | %.1f | %.2f |\n",
                std::thread::hardware_concurrency(), CpuModel().c_str(), date, driverUs,
                bareUs, ratio);
    std::printf("\nratio %.2f (goal: at most 1.30)\n", ratio);
    PrintRow("LAN exchange through driver and binding to the simulator (timing off), against a "
             "bare UDP echo",
             Figure(driverUs, "µs"), Figure(bareUs, "µs"), ratio, "<= 1.3", ratio <= 1.3);
    return 0;
}
