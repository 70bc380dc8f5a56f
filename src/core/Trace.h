// The exchange trace: one line per exchange with a module, as plain aligned
// text for a person or as CSV for a spreadsheet. korvalctl writes the lines
// to a file (--trace); a window can keep them in memory. Both format them
// here, so they read the same.
//
// A trace follows every exchange of a long run, so a line must cost well
// under a microsecond: the date and time of day formatted once per second,
// no formatting library, nothing allocated once the line's buffer has room.
#pragma once

#include "Module.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class TTraceFormat { Text, Csv };

// Local wall time as "2026-12-08 15:41:54.123456". The part up to the
// seconds is kept from the previous call while the second is the same one.
class TTraceClock
{
  public:
    static constexpr std::size_t Width = 26;

    // Writes Width characters (no terminating 0) to `out`.
    void Format(std::chrono::system_clock::time_point t, char *out);

  private:
    int64_t second_ = INT64_MIN; // seconds since the epoch that seconds_ shows
    char seconds_[20]{};
};

// `text` as a CSV field (RFC 4180 quotes where needed), control characters
// as blanks.
void PutCsvText(std::string &s, std::string_view text);

// The CSV header line, with its newline.
std::string TraceCsvHeader();

// The line of one exchange, with its newline, appended to `line`. Control
// characters in the texts become spaces, so an exchange is always one line.
void AppendTraceLine(std::string &line, TTraceFormat format, TTraceClock &clock,
                     const TModuleLink &link, const TModuleStep &step,
                     const std::string &statusText);

// Where a run's exchanges go, one call each as they happen.
class TTraceSink
{
  public:
    virtual ~TTraceSink() = default;
    // One exchange with the module at link.Address through interface
    // link.Kind; statusText: the driver's text for step.Status.
    virtual void Exchange(const TModuleLink &link, const TModuleStep &step,
                          const std::string &statusText) = 0;
    // What is gathered reaches its destination. Called between exchanges,
    // never from a signal handler.
    virtual void Flush() {}
};
