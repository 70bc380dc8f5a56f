// Replies that come after their exchange gave up (q417drv.h, Late): the
// requests a connection sent and was not answered for, and the late
// replies heard for them, kept until the host asks.
#pragma once

#include "Wire.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace drv {

struct LateReply {
    uint8_t address = 0;
    int32_t rate = 0;                    /**< Bd, at which the request went */
    std::chrono::microseconds after{};   /**< from the request's sending to the reply */
};

class LateReplies {
public:
    using Clock = std::chrono::steady_clock;

    // What a host has not asked for yet is dropped beyond this, oldest
    // first; a host that asks after each exchange never comes near it.
    static constexpr std::size_t Kept = 256;

    // A request is on its way; it stays open until its reply is taken or a
    // later request reuses its seq.
    void Sent(const wire::Request &request, int32_t rate, Clock::time_point at)
    {
        open_[request.seq] = Open{true, request.address, rate, at};
    }

    // Its exchange took the reply: a copy that follows is no late reply.
    void Answered(const wire::Request &request) { open_[request.seq].waiting = false; }

    // A reply that decodes but is not the one an exchange waits for: kept
    // when it answers an open request from the module that was asked.
    // True when it was kept.
    bool Heard(const wire::Reply &reply, Clock::time_point at)
    {
        Open &o = open_[reply.seq];
        if (!o.waiting || o.address != reply.address)
            return false;
        Keep(o, at);
        return true;
    }

    // Whose a damaged reply may be: the exchange in progress, earlier
    // requests (kept as late), both when its bytes fit either as well, or
    // nobody's.
    struct Whose {
        bool current = false;
        bool late = false;
    };

    // A reply that arrived damaged still tells that a module is there. Its
    // seq and address bytes name the request it answers, unless the damage
    // hit one of them: then the other still matches, and the hit one is a
    // bit away from the request's. The requests with the closest match take
    // it; when that is more than one, each earlier one is kept as late, so
    // that a module is probed again rather than lost, and the caller learns
    // that `current` (the exchange in progress, if any) may be the one.
    Whose Damaged(uint8_t seq, uint8_t address, const wire::Request *current,
                  Clock::time_point at)
    {
        auto closeness = [&](uint8_t s, uint8_t a) {
            if (s == seq && a == address)
                return 2;
            return (s == seq && OneBit(a ^ address)) || (a == address && OneBit(s ^ seq)) ? 1 : 0;
        };
        auto earlier = [&](std::size_t s) {
            return open_[s].waiting && (current == nullptr || s != current->seq);
        };
        int best = current != nullptr ? closeness(current->seq, current->address) : 0;
        for (std::size_t s = 0; s < open_.size(); ++s) {
            if (earlier(s))
                best = std::max(best, closeness(uint8_t(s), open_[s].address));
        }
        Whose whose;
        if (best == 0)
            return whose;
        whose.current = current != nullptr && closeness(current->seq, current->address) == best;
        for (std::size_t s = 0; s < open_.size(); ++s) {
            if (earlier(s) && closeness(uint8_t(s), open_[s].address) == best) {
                Keep(open_[s], at);
                whose.late = true;
            }
        }
        return whose;
    }

    bool Empty() const { return kept_.empty(); }
    std::size_t Size() const { return kept_.size(); }
    LateReply Take()
    {
        const LateReply r = kept_.front();
        kept_.pop_front();
        return r;
    }

private:
    struct Open {
        bool waiting = false;
        uint8_t address = 0;
        int32_t rate = 0;
        Clock::time_point sent{};
    };

    static bool OneBit(unsigned x) { return x != 0 && (x & (x - 1)) == 0; }

    void Keep(Open &o, Clock::time_point at)
    {
        o.waiting = false;
        if (kept_.size() == Kept)
            kept_.pop_front();
        kept_.push_back({o.address, o.rate,
                         std::chrono::duration_cast<std::chrono::microseconds>(at - o.sent)});
    }
    std::array<Open, 256> open_{}; /**< by seq */
    std::deque<LateReply> kept_;
};

} // namespace drv
