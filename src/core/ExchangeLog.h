// The traffic log's storage, with no toolkit: exchanges as compact records
// of fixed size, a ring keeping the newest of them, and a thread-safe sink
// that gathers records from any thread for one reader to take in batches.
// A line is formatted only when it is shown or saved, so memory stays flat
// however long the log runs.
#pragma once

#include "Trace.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// One exchange as the trace line needs it. The meaning is cut, on a UTF-8
// character boundary, to what fits.
struct TExchangeRecord {
    static constexpr std::size_t WhatBytes = 95;

    int64_t Started = 0;  // system_clock ticks since the epoch
    int64_t Duration = 0; // nanoseconds
    uint8_t Kind = 0;
    uint8_t Address = 0;
    uint8_t Cmd = 0;
    uint8_t Sub = 0;
    uint8_t RequestX = 0;
    uint8_t Request[4]{};
    uint8_t X = 0;
    uint8_t Reply[4]{};
    uint8_t Status = 0;
    bool Mismatch = false;
    uint8_t WhatLength = 0;
    char What[WhatBytes]{};

    static TExchangeRecord From(const TModuleLink &link, const TModuleStep &step);
    // Back into the link and step the trace formats; `step` keeps its
    // meaning's buffer from call to call.
    void Unpack(TModuleLink &link, TModuleStep &step) const;
};

// The newest `capacity` records, oldest first. Not thread-safe: one
// thread (the window's) owns it.
class TExchangeRing
{
  public:
    explicit TExchangeRing(std::size_t capacity);

    // Adds at the newest end; a full ring drops its oldest.
    void Push(const TExchangeRecord &record);
    // Drops the n oldest (all, if n >= Size()).
    void DropOldest(std::size_t n);
    void Clear();

    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }
    // i = 0 is the oldest.
    const TExchangeRecord &At(std::size_t i) const
    {
        return records_[(head_ + i) % capacity_];
    }
    // What the ring holds on the heap; the same after it has filled.
    std::size_t Bytes() const { return records_.capacity() * sizeof(TExchangeRecord); }

  private:
    std::size_t capacity_;
    std::vector<TExchangeRecord> records_; // grows to capacity_, then is reused
    std::size_t head_ = 0;                 // index of the oldest
    std::size_t size_ = 0;
};

// A sink for the exchange hook (ExchangeHook.h): Exchange copies a record
// into a queue under a mutex and does nothing else, so that it may run on
// any thread; the reader takes the queue in batches. The driver's status
// texts are kept once per interface and status.
class TExchangeLog : public TTraceSink
{
  public:
    void Exchange(const TModuleLink &link, const TModuleStep &step,
                  const std::string &statusText) override;

    // Paused, exchanges are not recorded at all.
    void SetPaused(bool paused) { paused_.store(paused, std::memory_order_relaxed); }
    bool Paused() const { return paused_.load(std::memory_order_relaxed); }

    // Moves what has gathered since the last call into `batch` (emptied
    // first), oldest first.
    void Take(std::vector<TExchangeRecord> &batch);
    // The driver's text for a record's status, as it was when recorded.
    std::string StatusText(const TExchangeRecord &record) const;

  private:
    std::atomic<bool> paused_{false};
    mutable std::mutex lock_;
    std::vector<TExchangeRecord> pending_;
    std::map<unsigned, std::string> texts_; // key: Kind << 8 | Status
};

// The record's trace line, with its newline, as AppendTraceLine writes it.
void AppendRecordLine(std::string &line, TTraceFormat format, TTraceClock &clock,
                      const TExchangeRecord &record, const std::string &statusText,
                      TModuleStep &scratch);
