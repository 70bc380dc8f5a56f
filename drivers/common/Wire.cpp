#include "Wire.h"

#include <algorithm>

namespace wire {

uint16_t Crc16(std::span<const uint8_t> bytes)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

namespace {

// The CRC closes every frame, low byte first.
template <std::size_t N> void Seal(std::array<uint8_t, N> &f)
{
    const uint16_t crc = Crc16(std::span<const uint8_t>(f.data(), N - 2));
    f[N - 2] = uint8_t(crc & 0xFF);
    f[N - 1] = uint8_t(crc >> 8);
}

Decoded Check(std::span<const uint8_t> f, uint8_t start, std::size_t size)
{
    if (f.size() != size)
        return Decoded::BadSize;
    if (f[0] != start)
        return Decoded::BadStart;
    const uint16_t crc = Crc16(f.first(size - 2));
    if (f[size - 2] != (crc & 0xFF) || f[size - 1] != (crc >> 8))
        return Decoded::BadCrc;
    return Decoded::Ok;
}

} // namespace

RequestFrame Encode(const Request &r)
{
    RequestFrame f{RequestStart, r.seq, r.address, r.cmd, r.sub, r.x,
                   r.d[0],       r.d[1], r.d[2],   r.d[3], 0,     0};
    Seal(f);
    return f;
}

ReplyFrame Encode(const Reply &r)
{
    ReplyFrame f{ReplyStart, r.seq, r.address, r.status, r.x, r.d[0], r.d[1], r.d[2], r.d[3], 0, 0};
    Seal(f);
    return f;
}

Decoded Decode(std::span<const uint8_t> f, Request &out)
{
    const Decoded d = Check(f, RequestStart, RequestSize);
    if (d == Decoded::Ok)
        out = Request{f[1], f[2], f[3], f[4], f[5], {f[6], f[7], f[8], f[9]}};
    return d;
}

Decoded Decode(std::span<const uint8_t> f, Reply &out)
{
    const Decoded d = Check(f, ReplyStart, ReplySize);
    if (d == Decoded::Ok)
        out = Reply{f[1], f[2], f[3], f[4], {f[5], f[6], f[7], f[8]}};
    return d;
}

namespace {

void PutRate(uint8_t *at, uint32_t bd)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(bd >> (8 * i));
}

uint32_t GetRate(std::span<const uint8_t> at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

} // namespace

ConfigFrame Encode(const ConverterConfig &c)
{
    ConfigFrame f{ConfigStart, c.seq};
    PutRate(&f[2], c.rate);
    Seal(f);
    return f;
}

ConfigAckFrame Encode(const ConverterAck &a)
{
    ConfigAckFrame f{ConfigAckStart, a.seq, a.result};
    PutRate(&f[3], a.rate);
    Seal(f);
    return f;
}

Decoded Decode(std::span<const uint8_t> f, ConverterConfig &out)
{
    const Decoded d = Check(f, ConfigStart, ConfigSize);
    if (d == Decoded::Ok)
        out = ConverterConfig{f[1], GetRate(f.subspan(2, 4))};
    return d;
}

Decoded Decode(std::span<const uint8_t> f, ConverterAck &out)
{
    const Decoded d = Check(f, ConfigAckStart, ConfigAckSize);
    if (d == Decoded::Ok)
        out = ConverterAck{f[1], f[2], GetRate(f.subspan(3, 4))};
    return d;
}

GuardedConfigFrame Encode(const GuardedConfig &c)
{
    GuardedConfigFrame f{ConfigStart, c.seq};
    PutRate(&f[2], c.rate);
    f[6] = uint8_t(c.guardUs & 0xFF);
    f[7] = uint8_t(c.guardUs >> 8);
    Seal(f);
    return f;
}

SilenceFrame Encode(const Silence &s)
{
    SilenceFrame f{SilenceStart, s.seq, s.address};
    Seal(f);
    return f;
}

Decoded Decode(std::span<const uint8_t> f, GuardedConfig &out)
{
    const Decoded d = Check(f, ConfigStart, GuardedConfigSize);
    if (d == Decoded::Ok)
        out = GuardedConfig{f[1], GetRate(f.subspan(2, 4)), uint16_t(f[6] | f[7] << 8)};
    return d;
}

Decoded Decode(std::span<const uint8_t> f, Silence &out)
{
    const Decoded d = Check(f, SilenceStart, SilenceSize);
    if (d == Decoded::Ok)
        out = Silence{f[1], f[2]};
    return d;
}

void FrameScanner::Feed(std::span<const uint8_t> bytes)
{
    // Bounded: a line that streams noise without frames cannot grow it.
    constexpr std::size_t Limit = 4096;
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
    if (buf_.size() > Limit)
        buf_.erase(buf_.begin(), buf_.end() - std::ptrdiff_t(Limit));
}

bool FrameScanner::Next(std::span<uint8_t> frame)
{
    for (;;) {
        // Bytes before the next start byte cannot begin a frame.
        buf_.erase(buf_.begin(), std::find(buf_.begin(), buf_.end(), start_));
        if (buf_.size() < size_ || frame.size() < size_)
            return false;
        const std::span<const uint8_t> candidate(buf_.data(), size_);
        const uint16_t crc = Crc16(candidate.first(size_ - 2));
        if (candidate[size_ - 2] == (crc & 0xFF) && candidate[size_ - 1] == (crc >> 8)) {
            std::copy(candidate.begin(), candidate.end(), frame.begin());
            buf_.erase(buf_.begin(), buf_.begin() + std::ptrdiff_t(size_));
            return true;
        }
        // This start byte was noise or its frame was damaged: hunt on from
        // the next byte.
        if (!counts_ || counts_(candidate))
            ++badCrc_;
        buf_.erase(buf_.begin());
    }
}

void FrameScanner::Reset()
{
    buf_.clear();
    badCrc_ = 0;
}

} // namespace wire
