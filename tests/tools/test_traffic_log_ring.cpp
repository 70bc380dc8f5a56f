// The traffic log's storage without a window: the ring keeps exactly the
// newest records, the hook hears every operation's steps from any thread,
// and a record formats to the very line the trace writes for its step.
#include "ExchangeHook.h"
#include "ExchangeLog.h"
#include "Module.h"
#include "Qxxx417.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace
{

TModuleStep Step(uint8_t cmd, std::string what)
{
    TModuleStep s;
    s.Cmd = cmd;
    s.Sub = 3;
    s.RequestX = 1;
    s.Request = {0xA0, 0xB1, 0xC2, 0xD3};
    s.X = 2;
    s.Reply = {9, 8, 7, 6};
    s.Status = 0;
    s.What = std::move(what);
    s.Started = std::chrono::system_clock::now();
    s.Duration = std::chrono::microseconds(1234);
    return s;
}

TExchangeRecord Numbered(int n)
{
    return TExchangeRecord::From({ifLan, 0, 5}, Step(uint8_t(n % 256), std::to_string(n)));
}

std::vector<std::string> Meanings(const TExchangeRing &ring)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < ring.Size(); ++i)
        out.emplace_back(ring.At(i).What, ring.At(i).WhatLength);
    return out;
}

// Collects what the hook hands over, as the window's log does.
struct Listening {
    TExchangeLog log;
    Listening() { AddExchangeObserver(&log); }
    ~Listening() { RemoveExchangeObserver(&log); }
    std::vector<TExchangeRecord> Taken()
    {
        std::vector<TExchangeRecord> batch;
        log.Take(batch);
        return batch;
    }
};

TEST(ExchangeRing, KeepsExactlyTheNewestInOrderAcrossWraps)
{
    TExchangeRing ring(5);
    for (int n = 0; n < 3; ++n)
        ring.Push(Numbered(n));
    EXPECT_EQ(Meanings(ring), (std::vector<std::string>{"0", "1", "2"}));
    for (int n = 3; n < 12; ++n)
        ring.Push(Numbered(n));
    EXPECT_EQ(Meanings(ring), (std::vector<std::string>{"7", "8", "9", "10", "11"}));
    const std::size_t full = ring.Bytes();

    // Dropping from the oldest end, then filling past the wrap again.
    ring.DropOldest(2);
    EXPECT_EQ(Meanings(ring), (std::vector<std::string>{"9", "10", "11"}));
    for (int n = 12; n < 16; ++n)
        ring.Push(Numbered(n));
    EXPECT_EQ(Meanings(ring), (std::vector<std::string>{"11", "12", "13", "14", "15"}));
    ring.Clear();
    EXPECT_EQ(ring.Size(), 0u);
    ring.Push(Numbered(99));
    EXPECT_EQ(Meanings(ring), (std::vector<std::string>{"99"}));
    EXPECT_EQ(ring.Bytes(), full); // reused, never grown past its capacity
}

TEST(ExchangeRing, MemoryStaysFlatOnceFull)
{
    TExchangeRing ring(1000);
    for (int n = 0; n < 1000; ++n)
        ring.Push(Numbered(n));
    const std::size_t full = ring.Bytes();
    for (int n = 0; n < 50000; ++n)
        ring.Push(Numbered(n));
    EXPECT_EQ(ring.Bytes(), full);
    EXPECT_EQ(ring.Size(), 1000u);
}

TEST(ExchangeRecord, FormatsToTheTraceLineOfItsStep)
{
    TTraceClock clock;
    TModuleStep scratch;
    for (TTraceFormat format : {TTraceFormat::Text, TTraceFormat::Csv}) {
        TModuleStep step = Step(12, "kontrola registru 62 (rychlost) = 4 (9600 Bd) (přečteno 3)");
        step.Mismatch = true;
        step.Status = 4;
        std::string expected, got;
        AppendTraceLine(expected, format, clock, {ifCom, 0, 17}, step, "Chyba, \"CRC\"");
        AppendRecordLine(got, format, clock, TExchangeRecord::From({ifCom, 77, 17}, step),
                         "Chyba, \"CRC\"", scratch);
        EXPECT_EQ(got, expected);
    }
}

TEST(ExchangeRecord, LongMeaningIsCutOnACharacterBoundary)
{
    std::string what;
    while (what.size() < 2 * TExchangeRecord::WhatBytes)
        what += "č"; // two bytes each, one of them falls on the cut
    what = "x" + what;
    const TExchangeRecord r = TExchangeRecord::From({}, Step(1, what));
    const std::string kept(r.What, r.WhatLength);
    EXPECT_LE(kept.size(), TExchangeRecord::WhatBytes);
    EXPECT_EQ(what.compare(0, kept.size(), kept), 0);
    EXPECT_EQ(kept.size() % 2, 1u); // "x" and whole "č"s only
}

TEST(ExchangeHook, HearsEveryStepOfAnOperationWithItsFinalMeaning)
{
    Listening listening;
    // Handle 0 sends nothing: the step fails with DrvNotComposed, and is
    // still an exchange the log must show.
    uint32_t word = 0;
    ReadInputs({ifUsb, 0, 9}, word);
    TModuleConfig config{};
    WriteRegisters({ifUsb, 0, 9}, AddressRegisters(), config);
    const auto taken = listening.Taken();
    ASSERT_EQ(taken.size(), 2u); // the write fails first, ending its operation
    EXPECT_EQ(taken[0].Address, 9);
    EXPECT_EQ(taken[0].Status, DrvNotComposed);
    EXPECT_EQ(std::string(taken[1].What, taken[1].WhatLength),
              "zápis registru " + std::to_string(RegAddress) + " (adresa) = 0");
}

TEST(ExchangeHook, CollectsFromManyThreadsAndStopsWhenPausedOrRemoved)
{
    auto listening = std::make_unique<Listening>();
    constexpr int Threads = 4, Each = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([t] {
            for (int n = 0; n < Each; ++n)
                NotifyExchange({ifLan, 0, uint8_t(t)}, Step(uint8_t(n % 256), std::to_string(n)));
        });
    }
    std::vector<TExchangeRecord> all, batch;
    for (auto &w : workers) {
        listening->log.Take(batch); // takes while the others still add
        all.insert(all.end(), batch.begin(), batch.end());
        w.join();
    }
    listening->log.Take(batch);
    all.insert(all.end(), batch.begin(), batch.end());
    ASSERT_EQ(all.size(), std::size_t(Threads * Each));
    std::vector<int> next(Threads, 0); // each thread's records in its order
    for (const TExchangeRecord &r : all)
        EXPECT_EQ(std::string(r.What, r.WhatLength), std::to_string(next[r.Address]++));

    listening->log.SetPaused(true);
    NotifyExchange({ifLan, 0, 1}, Step(1, "paused"));
    EXPECT_TRUE(listening->Taken().empty());
    listening->log.SetPaused(false);
    NotifyExchange({ifLan, 0, 1}, Step(1, "again"));
    EXPECT_EQ(listening->Taken().size(), 1u);

    Listening other;
    RemoveExchangeObserver(&listening->log);
    NotifyExchange({ifLan, 0, 1}, Step(1, "one listener"));
    EXPECT_TRUE(listening->Taken().empty());
    EXPECT_EQ(other.Taken().size(), 1u);
}

} // namespace
