// korvalctl's --trace: the exchange trace (Trace.h) into stdout or a file.
// Into a file of its own, lines go out in blocks of 64 KiB rather than one
// by one, so that tracing a long run costs the run nothing it notices.
#pragma once

#include "Trace.h"

#include <cstddef>
#include <cstdio>
#include <string>

class TTrace : public TTraceSink
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
    ~TTrace() override; // flushes
    TTrace(const TTrace &) = delete;
    TTrace &operator=(const TTrace &) = delete;

    void Exchange(const TModuleLink &link, const TModuleStep &step,
                  const std::string &statusText) override;
    // Writes what is gathered and flushes `out`.
    void Flush() override;

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
