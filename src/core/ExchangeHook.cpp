#include "ExchangeHook.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

namespace
{

std::atomic<int> Listening{0};

std::mutex &Lock()
{
    static std::mutex lock;
    return lock;
}

std::vector<TTraceSink *> &Observers()
{
    static std::vector<TTraceSink *> observers;
    return observers;
}

// The driver's texts, asked once per interface and status on each thread,
// as korvalctl's session asks them once per status.
const std::string &CachedStatusText(uint8_t kind, uint8_t status)
{
    thread_local std::map<unsigned, std::string> texts;
    thread_local TDataArray text{};
    const unsigned key = unsigned(kind) << 8 | status;
    auto found = texts.find(key);
    if (found == texts.end())
        found = texts.emplace(key, StatusCodeText(kind, status, text)).first;
    return found->second;
}

} // namespace

void AddExchangeObserver(TTraceSink *sink)
{
    std::lock_guard guard(Lock());
    Observers().push_back(sink);
    Listening.store(int(Observers().size()), std::memory_order_relaxed);
}

void RemoveExchangeObserver(TTraceSink *sink)
{
    std::lock_guard guard(Lock());
    auto &observers = Observers();
    observers.erase(std::remove(observers.begin(), observers.end(), sink), observers.end());
    Listening.store(int(observers.size()), std::memory_order_relaxed);
}

void NotifyExchange(const TModuleLink &link, const TModuleStep &step)
{
    if (Listening.load(std::memory_order_relaxed) == 0)
        return;
    // Outside the lock: the driver's text may take a call into the library.
    const std::string &text = CachedStatusText(link.Kind, step.Status);
    std::lock_guard guard(Lock());
    for (TTraceSink *sink : Observers())
        sink->Exchange(link, step, text);
}
