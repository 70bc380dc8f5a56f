// Serial lines on Windows, through the Win32 communications API.
#include "SerialLine.h"
#include "Transport.h"
#include "q417drv.h"

#include <cstdlib>

#include <windows.h>

namespace drv {

namespace {

class CommLine final : public Line {
public:
    explicit CommLine(HANDLE h) : h_(h) {}
    ~CommLine() override { ::CloseHandle(h_); }
    CommLine(const CommLine &) = delete;
    CommLine &operator=(const CommLine &) = delete;

    bool SetRate(int32_t rate) override
    {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(h_, &dcb))
            return false;
        dcb.BaudRate = DWORD(rate);
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        // Bus converters powered from the port's control lines need them up.
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        return ::SetCommState(h_, &dcb) != 0;
    }
    bool FlushInput() override { return ::PurgeComm(h_, PURGE_RXCLEAR | PURGE_RXABORT) != 0; }
    int Write(const uint8_t *bytes, std::size_t size, int timeoutMs) override
    {
        COMMTIMEOUTS t{};
        t.WriteTotalTimeoutConstant = DWORD(timeoutMs);
        DWORD done = 0;
        if (!::SetCommTimeouts(h_, &t) || !::WriteFile(h_, bytes, DWORD(size), &done, nullptr))
            return -1;
        return int(done);
    }
    int Read(uint8_t *bytes, std::size_t size, int timeoutMs) override
    {
        // Both intervals at MAXDWORD: return as soon as any byte is there,
        // else after the constant, which is what the exchange wants.
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = DWORD(timeoutMs);
        DWORD got = 0;
        if (!::SetCommTimeouts(h_, &t) || !::ReadFile(h_, bytes, DWORD(size), &got, nullptr))
            return -1;
        return int(got);
    }
    int ReadQueued(uint8_t *bytes, std::size_t size) override
    {
        // Interval MAXDWORD with both totals 0: return at once with what
        // the driver holds.
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        DWORD got = 0;
        if (!::SetCommTimeouts(h_, &t) || !::ReadFile(h_, bytes, DWORD(size), &got, nullptr))
            return -1;
        return int(got);
    }

private:
    HANDLE h_;
};

} // namespace

std::unique_ptr<Line> OpenLine(const std::string &path, int32_t &error)
{
    // No sharing: while another program has the port, Windows refuses the
    // open, with access denied for a COM port.
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD why = ::GetLastError();
        error = why == ERROR_ACCESS_DENIED || why == ERROR_SHARING_VIOLATION ? Q417_E_PORT_TAKEN
                                                                             : Q417_E_OPEN;
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // A file or other device that is no serial line is refused here.
    if (!::GetCommState(h, &dcb)) {
        ::CloseHandle(h);
        error = Q417_E_OPEN;
        return nullptr;
    }
    return std::make_unique<CommLine>(h);
}

// COM ports above 9 are reachable only through the device namespace, so
// every port goes that way.
std::string SerialDevicePath(int32_t port)
{
    const std::string var = "Q417_COM" + std::to_string(port);
    if (const char *mapped = std::getenv(var.c_str()); mapped != nullptr && *mapped != '\0')
        return mapped;
    return "\\\\.\\COM" + std::to_string(port);
}

} // namespace drv
