#include "ExchangeLog.h"

#include <algorithm>
#include <cstring>

TExchangeRecord TExchangeRecord::From(const TModuleLink &link, const TModuleStep &step)
{
    TExchangeRecord r;
    r.Started = int64_t(step.Started.time_since_epoch().count());
    r.Duration = int64_t(step.Duration.count());
    r.Kind = link.Kind;
    r.Address = link.Address;
    r.Cmd = step.Cmd;
    r.Sub = step.Sub;
    r.RequestX = step.RequestX;
    std::copy(step.Request.begin(), step.Request.end(), r.Request);
    r.X = step.X;
    std::copy(step.Reply.begin(), step.Reply.end(), r.Reply);
    r.Status = step.Status;
    r.Mismatch = step.Mismatch;
    std::size_t n = std::min(step.What.size(), WhatBytes);
    // Never half a character: back off over continuation bytes.
    if (n < step.What.size()) {
        while (n > 0 && (static_cast<unsigned char>(step.What[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(r.What, step.What.data(), n);
    r.WhatLength = uint8_t(n);
    return r;
}

void TExchangeRecord::Unpack(TModuleLink &link, TModuleStep &step) const
{
    link.Kind = Kind;
    link.Handle = 0;
    link.Address = Address;
    step.Started = std::chrono::system_clock::time_point(std::chrono::system_clock::duration(Started));
    step.Duration = std::chrono::nanoseconds(Duration);
    step.Address = Address;
    step.Cmd = Cmd;
    step.Sub = Sub;
    step.RequestX = RequestX;
    std::copy(Request, Request + 4, step.Request.begin());
    step.X = X;
    std::copy(Reply, Reply + 4, step.Reply.begin());
    step.Status = Status;
    step.Mismatch = Mismatch;
    step.What.assign(What, WhatLength);
}

TExchangeRing::TExchangeRing(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1))
{
}

void TExchangeRing::Push(const TExchangeRecord &record)
{
    if (size_ < capacity_) {
        const std::size_t at = (head_ + size_) % capacity_;
        if (at < records_.size()) {
            records_[at] = record;
        } else {
            // Exactly the capacity, not the vector's doubling past it.
            if (records_.capacity() == 0)
                records_.reserve(capacity_);
            records_.push_back(record);
        }
        ++size_;
        return;
    }
    records_[head_] = record;
    head_ = (head_ + 1) % capacity_;
}

void TExchangeRing::DropOldest(std::size_t n)
{
    n = std::min(n, size_);
    head_ = (head_ + n) % capacity_;
    size_ -= n;
}

void TExchangeRing::Clear()
{
    DropOldest(size_);
}

void TExchangeLog::Exchange(const TModuleLink &link, const TModuleStep &step,
                            const std::string &statusText)
{
    if (Paused())
        return;
    const TExchangeRecord record = TExchangeRecord::From(link, step);
    std::lock_guard guard(lock_);
    pending_.push_back(record);
    const unsigned key = unsigned(link.Kind) << 8 | step.Status;
    if (texts_.find(key) == texts_.end())
        texts_.emplace(key, statusText);
}

void TExchangeLog::Take(std::vector<TExchangeRecord> &batch)
{
    batch.clear();
    std::lock_guard guard(lock_);
    batch.swap(pending_);
}

std::string TExchangeLog::StatusText(const TExchangeRecord &record) const
{
    std::lock_guard guard(lock_);
    const auto found = texts_.find(unsigned(record.Kind) << 8 | record.Status);
    return found == texts_.end() ? std::string() : found->second;
}

void AppendRecordLine(std::string &line, TTraceFormat format, TTraceClock &clock,
                      const TExchangeRecord &record, const std::string &statusText,
                      TModuleStep &scratch)
{
    TModuleLink link;
    record.Unpack(link, scratch);
    AppendTraceLine(line, format, clock, link, scratch, statusText);
}
