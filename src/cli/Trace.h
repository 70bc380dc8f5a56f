// The exchange trace of korvalctl (--trace): one line per exchange with a
// module, as plain aligned text for a person or as CSV for a spreadsheet.
//
// A trace follows every exchange of a long run, so a line must cost well
// under a microsecond: the date and time of day formatted once per second,
// no formatting library, and into a file of its own lines go out in blocks
// of 64 KiB rather than one by one.
#pragma once

#include "Module.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
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

class TTrace
{
  public:
    // `out` stays open (stdout or a file the caller opened) and must outlive
    // this trace; writes a CSV header line first for Csv.
    //   - A terminal gets each line at once (flushed), as a person watches it.
    //   - stdout gets each line into its own buffer, so the lines keep their
    //     place among the results printed there.
    //   - Any other file gets the lines in blocks of BlockSize bytes; what is
    //     gathered reaches it on Flush at the latest.
    TTrace(std::FILE *out, TTraceFormat format);
    ~TTrace(); // flushes
    TTrace(const TTrace &) = delete;
    TTrace &operator=(const TTrace &) = delete;

    // One exchange with the module at link.Address through interface link.Kind;
    // statusText: the driver's text for step.Status.
    void Exchange(const TModuleLink &link, const TModuleStep &step, const std::string &statusText);
    // Writes what is gathered and flushes `out`. Not for a signal handler:
    // the tool calls it once the exchange in progress is over.
    void Flush();

    static constexpr std::size_t BlockSize = 64 * 1024;

  private:
    // Hands what is pending to `out` as the kind of `out` asks.
    void Write();

    std::FILE *out_;
    TTraceFormat format_;
    bool terminal_;
    bool lineByLine_;
    TTraceClock clock_;
    std::string pending_; // reserved once, so a line allocates nothing
};
