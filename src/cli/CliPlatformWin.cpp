#include "CliPlatform.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include <io.h>
#include <windows.h>

namespace cli
{

namespace
{

std::atomic<bool> InterruptFlag{false};
// Set by the handler, so that a wait ends at once rather than at its time.
HANDLE WakeEvent = nullptr;
// Set once the process is on its way out, after the command has switched
// the outputs off: what a closing console waits for.
HANDLE FinishedEvent = nullptr;

// Console close, logoff and shutdown end the process as soon as the
// handler returns; the system allows a few seconds (5 s for a closed
// console). Holding the handler until the command is done lets it finish
// the exchange in progress and switch the outputs off, as after Ctrl+C.
constexpr DWORD FinishWaitMs = 4500;

void SetFinished()
{
    if (FinishedEvent != nullptr)
        ::SetEvent(FinishedEvent);
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        InterruptFlag.store(true);
        if (WakeEvent != nullptr)
            ::SetEvent(WakeEvent);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        InterruptFlag.store(true);
        if (WakeEvent != nullptr)
            ::SetEvent(WakeEvent);
        if (FinishedEvent != nullptr)
            ::WaitForSingleObject(FinishedEvent, FinishWaitMs);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void InstallSignalHandlers()
{
    if (WakeEvent == nullptr)
        WakeEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (FinishedEvent == nullptr) {
        FinishedEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atexit(SetFinished);
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted()
{
    return InterruptFlag.load();
}

void ClearInterrupted()
{
    InterruptFlag.store(false);
    if (WakeEvent != nullptr)
        ::ResetEvent(WakeEvent);
}

bool WaitUntil(std::chrono::steady_clock::time_point until)
{
    using namespace std::chrono;
    while (!InterruptFlag.load()) {
        const auto left = duration_cast<milliseconds>(until - steady_clock::now());
        if (left <= milliseconds(0))
            return true;
        if (WakeEvent == nullptr)
            ::Sleep(DWORD(std::min<long long>(left.count(), 20)));
        else
            ::WaitForSingleObject(WakeEvent, DWORD(left.count()));
    }
    return false;
}

bool IsTerminal(std::FILE *stream)
{
    const int fd = ::_fileno(stream);
    if (fd < 0 || ::_isatty(fd) == 0)
        return false;
    // _isatty is true for any character device (NUL too); a console is
    // what answers GetConsoleMode.
    DWORD mode = 0;
    const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

namespace
{
UINT ConsoleCodePage = 0; // the console's own, given back at exit
void RestoreConsole()
{
    if (ConsoleCodePage != 0)
        ::SetConsoleOutputCP(ConsoleCodePage);
}
} // namespace

void PrepareConsole()
{
    // korvalctl writes UTF-8; a console shows it only in that code page.
    // The code page belongs to the console, which outlives us.
    if (ConsoleCodePage != 0)
        return;
    ConsoleCodePage = ::GetConsoleOutputCP();
    if (ConsoleCodePage != 0 && ::SetConsoleOutputCP(CP_UTF8))
        std::atexit(RestoreConsole);
}

} // namespace cli
