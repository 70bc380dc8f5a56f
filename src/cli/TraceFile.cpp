#include "TraceFile.h"

#include "CliPlatform.h"

TTrace::TTrace(std::FILE *out, TTraceFormat format)
    : out_(out), format_(format), terminal_(cli::IsTerminal(out)),
      lineByLine_(terminal_ || out == stdout || out == stderr)
{
    // A line is rarely above 300 bytes: room for the block and the line that
    // completes it.
    pending_.reserve(BlockSize + 1024);
    if (format_ == TTraceFormat::Csv) {
        pending_ += TraceCsvHeader();
        Write();
    }
}

TTrace::~TTrace()
{
    Flush();
}

void TTrace::Exchange(const TModuleLink &link, const TModuleStep &step,
                      const std::string &statusText)
{
    AppendTraceLine(pending_, format_, clock_, link, step, statusText);
    Write();
}

void TTrace::Flush()
{
    if (!pending_.empty()) {
        std::fwrite(pending_.data(), 1, pending_.size(), out_);
        pending_.clear();
    }
    std::fflush(out_);
}

void TTrace::Write()
{
    if (!lineByLine_ && pending_.size() < BlockSize)
        return;
    std::fwrite(pending_.data(), 1, pending_.size(), out_);
    pending_.clear();
    if (terminal_)
        std::fflush(out_);
}
