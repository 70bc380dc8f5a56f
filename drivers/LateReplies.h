// Replies that come after their exchange gave up (q417drv.h, Late): the
// requests a connection sent and was not answered for, and the late
// replies heard for them, kept until the host asks.
#pragma once

#include "Wire.h"

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
        return Heard(reply.seq, reply.address, at);
    }
    // The same for a reply known only by its seq and address bytes: one
    // that arrived damaged still tells that a module is there, when those
    // two name an open request.
    bool Heard(uint8_t seq, uint8_t address, Clock::time_point at)
    {
        Open &o = open_[seq];
        if (!o.waiting || o.address != address)
            return false;
        o.waiting = false;
        if (kept_.size() == Kept)
            kept_.pop_front();
        kept_.push_back(
            {address, o.rate, std::chrono::duration_cast<std::chrono::microseconds>(at - o.sent)});
        return true;
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
    std::array<Open, 256> open_{}; /**< by seq */
    std::deque<LateReply> kept_;
};

} // namespace drv
