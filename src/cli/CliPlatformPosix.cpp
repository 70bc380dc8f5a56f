#include "CliPlatform.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace cli
{

namespace
{

using namespace std::chrono_literals;

// The handler only sets the flag and wakes a waiting WaitUntil() through
// the pipe.
std::atomic<bool> InterruptFlag{false};
int WakePipe[2] = {-1, -1};

extern "C" void OnSignal(int)
{
    InterruptFlag.store(true);
    if (WakePipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(WakePipe[1], &byte, 1);
    }
}

} // namespace

void InstallSignalHandlers()
{
    if (WakePipe[0] < 0 && ::pipe2(WakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        WakePipe[0] = WakePipe[1] = -1;
    struct sigaction action {
    };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocking call returns at once
    // SIGHUP: the terminal closed under the run (a dropped SSH session);
    // the outputs must still be switched off.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    // A closed pipe downstream ends a loop through ferror, not by a kill
    // that would skip switching the outputs off and closing the driver.
    std::signal(SIGPIPE, SIG_IGN);
}

bool Interrupted()
{
    return InterruptFlag.load();
}

void ClearInterrupted()
{
    InterruptFlag.store(false);
}

bool WaitUntil(std::chrono::steady_clock::time_point until)
{
    while (!InterruptFlag.load()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left <= 0ms)
            return true;
        if (WakePipe[0] < 0) {
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, 20ms));
            continue;
        }
        pollfd wake{WakePipe[0], POLLIN, 0};
        if (::poll(&wake, 1, int(left.count())) > 0) {
            char drain[16];
            while (::read(WakePipe[0], drain, sizeof drain) > 0) {
            }
        }
    }
    return false;
}

bool IsTerminal(std::FILE *stream)
{
    const int fd = ::fileno(stream);
    return fd >= 0 && ::isatty(fd) == 1;
}

void PrepareConsole() {}

} // namespace cli
