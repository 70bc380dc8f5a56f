// Frames of the 417 bus as our interfaces carry them (UDP datagrams, or a
// byte stream on a serial line). docs/wire-protocol.md describes the layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace wire {

inline constexpr uint8_t RequestStart = 0xA5;
inline constexpr uint8_t ReplyStart = 0x5A;
inline constexpr std::size_t RequestSize = 12;
inline constexpr std::size_t ReplySize = 11;

struct Request {
    uint8_t seq = 0;     /**< matches the reply to its request */
    uint8_t address = 0; /**< bus address of the module */
    uint8_t cmd = 0;
    uint8_t sub = 0;
    uint8_t x = 0;
    std::array<uint8_t, 4> d{}; /**< D0..D3 */
    bool operator==(const Request &) const = default;
};

struct Reply {
    uint8_t seq = 0;     /**< the request's */
    uint8_t address = 0; /**< the answering module's */
    uint8_t status = 0;  /**< 0, or the module's Q417_E_MOD_* code */
    uint8_t x = 0;
    std::array<uint8_t, 4> d{};
    bool operator==(const Reply &) const = default;
};

using RequestFrame = std::array<uint8_t, RequestSize>;
using ReplyFrame = std::array<uint8_t, ReplySize>;

// CRC-16 with polynomial 0x8005 reflected (0xA001), initial value 0xFFFF.
uint16_t Crc16(std::span<const uint8_t> bytes);

RequestFrame Encode(const Request &r);
ReplyFrame Encode(const Reply &r);

enum class Decoded { Ok, BadStart, BadSize, BadCrc };

Decoded Decode(std::span<const uint8_t> frame, Request &out);
Decoded Decode(std::span<const uint8_t> frame, Reply &out);

// Converter configuration, UDP only: the LAN converter drives the bus at the
// rate it was last told (9600 Bd until then) and acknowledges each request.
// Its own start bytes and sizes keep it apart from the module frames. The
// rate travels little-endian, as the CRC does.
inline constexpr uint8_t ConfigStart = 0xC3;
inline constexpr uint8_t ConfigAckStart = 0x3C;
inline constexpr std::size_t ConfigSize = 8;
inline constexpr std::size_t ConfigAckSize = 9;

struct ConverterConfig {
    uint8_t seq = 0;   /**< matches the acknowledgement to its request */
    uint32_t rate = 0; /**< bus rate asked for, Bd */
    bool operator==(const ConverterConfig &) const = default;
};

enum class ConfigResult : uint8_t { Accepted = 0, InvalidRate = 1 };

struct ConverterAck {
    uint8_t seq = 0;    /**< the request's */
    uint8_t result = 0; /**< a ConfigResult; any other value is a refusal too */
    uint32_t rate = 0;  /**< the rate in force after the request, Bd */
    bool operator==(const ConverterAck &) const = default;
};

using ConfigFrame = std::array<uint8_t, ConfigSize>;
using ConfigAckFrame = std::array<uint8_t, ConfigAckSize>;

ConfigFrame Encode(const ConverterConfig &c);
ConfigAckFrame Encode(const ConverterAck &a);
Decoded Decode(std::span<const uint8_t> frame, ConverterConfig &out);
Decoded Decode(std::span<const uint8_t> frame, ConverterAck &out);

// The silence guard (q417drv.h) on a LAN: the converter sees the bus, the
// driver does not. A configuration of 10 bytes, the guard in us after the
// rate, switches it on for the sender: from then on the converter answers a
// request nobody answers with a silence datagram, at the moment the reply's
// first byte is overdue plus the guard. The 8-byte form switches it off.
// The acknowledgement is the same for both; a converter that does not know
// the 10-byte form does not acknowledge it.
inline constexpr std::size_t GuardedConfigSize = 10;
inline constexpr uint8_t SilenceStart = 0x96;
inline constexpr std::size_t SilenceSize = 5;

struct GuardedConfig {
    uint8_t seq = 0;
    uint32_t rate = 0;     /**< bus rate asked for, Bd */
    uint16_t guardUs = 0;  /**< the guard, us */
    bool operator==(const GuardedConfig &) const = default;
};

struct Silence {
    uint8_t seq = 0;     /**< the unanswered request's */
    uint8_t address = 0; /**< the unanswered request's */
    bool operator==(const Silence &) const = default;
};

using GuardedConfigFrame = std::array<uint8_t, GuardedConfigSize>;
using SilenceFrame = std::array<uint8_t, SilenceSize>;

GuardedConfigFrame Encode(const GuardedConfig &c);
SilenceFrame Encode(const Silence &s);
Decoded Decode(std::span<const uint8_t> frame, GuardedConfig &out);
Decoded Decode(std::span<const uint8_t> frame, Silence &out);

// Finds frames of one kind in a byte stream: hunts for the start byte,
// takes `size` bytes and checks the CRC; on a bad CRC it drops that start
// byte and hunts again, so noise before a frame costs nothing.
class FrameScanner {
public:
    FrameScanner(uint8_t start, std::size_t size) : start_(start), size_(size) {}

    // Decides whether a candidate that failed its CRC counts in
    // BadCrcCount (unset: every one does); the owner may know it for
    // another's, such as a late reply to an earlier request.
    using Counts = std::function<bool(std::span<const uint8_t> candidate)>;
    void CountRejected(Counts counts) { counts_ = std::move(counts); }

    void Feed(std::span<const uint8_t> bytes);
    // The next whole frame with a good CRC; false when none is complete.
    bool Next(std::span<uint8_t> frame);
    // Candidate frames rejected for their CRC since the last Reset or
    // ResetCount.
    unsigned BadCrcCount() const { return badCrc_; }
    void ResetCount() { badCrc_ = 0; }
    void Reset();

private:
    uint8_t start_;
    std::size_t size_;
    std::vector<uint8_t> buf_;
    unsigned badCrc_ = 0;
    Counts counts_;
};

} // namespace wire
