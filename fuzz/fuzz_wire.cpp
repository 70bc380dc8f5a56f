// The wire-frame decoders and the stream scanner on any bytes: whatever
// they accept re-encodes to the very bytes they took.
#include "FuzzFile.h"
#include "Wire.h"

#include <algorithm>
#include <cstdint>

namespace {

template <typename Frame, typename Message> void Accepted(std::span<const uint8_t> bytes)
{
    Message m;
    if (wire::Decode(bytes, m) == wire::Decoded::Ok) {
        const Frame f = wire::Encode(m);
        FUZZ_CHECK(bytes.size() == f.size() && std::equal(f.begin(), f.end(), bytes.begin()));
    }
}

void Scan(uint8_t start, std::size_t size, std::span<const uint8_t> stream, std::size_t chunk,
          bool request)
{
    wire::FrameScanner scanner(start, size);
    std::vector<uint8_t> frame(size);
    std::size_t found = 0;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        scanner.Feed(stream.subspan(at, std::min(chunk, stream.size() - at)));
        while (scanner.Next(frame)) {
            ++found;
            FUZZ_CHECK(frame[0] == start);
            if (request) {
                wire::Request r;
                FUZZ_CHECK(wire::Decode(frame, r) == wire::Decoded::Ok);
            } else {
                wire::Reply r;
                FUZZ_CHECK(wire::Decode(frame, r) == wire::Decoded::Ok);
            }
        }
    }
    FUZZ_CHECK(found <= stream.size() / size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::span<const uint8_t> all(data, size);
    Accepted<wire::RequestFrame, wire::Request>(all);
    Accepted<wire::ReplyFrame, wire::Reply>(all);
    Accepted<wire::ConfigFrame, wire::ConverterConfig>(all);
    Accepted<wire::ConfigAckFrame, wire::ConverterAck>(all);
    Accepted<wire::GuardedConfigFrame, wire::GuardedConfig>(all);
    Accepted<wire::SilenceFrame, wire::Silence>(all);
    if (size == 0)
        return 0;

    // The first byte picks how the stream arrives: in chunks of 1..16.
    const std::size_t chunk = data[0] % 16 + 1;
    Scan(wire::RequestStart, wire::RequestSize, all.subspan(1), chunk, true);
    Scan(wire::ReplyStart, wire::ReplySize, all.subspan(1), chunk, false);

    // Every frame encoded from the input's bytes decodes to what was sent.
    if (size >= 9) {
        wire::Request q{data[0], data[1], data[2], data[3], data[4], {data[5], data[6], data[7], data[8]}};
        wire::Request q2;
        FUZZ_CHECK(wire::Decode(wire::Encode(q), q2) == wire::Decoded::Ok && q2 == q);
        wire::Reply r{data[0], data[1], data[2], data[3], {data[5], data[6], data[7], data[8]}};
        wire::Reply r2;
        FUZZ_CHECK(wire::Decode(wire::Encode(r), r2) == wire::Decoded::Ok && r2 == r);
        const uint32_t rate = uint32_t(data[5]) | uint32_t(data[6]) << 8 |
                              uint32_t(data[7]) << 16 | uint32_t(data[8]) << 24;
        wire::ConverterConfig c{data[0], rate}, c2;
        FUZZ_CHECK(wire::Decode(wire::Encode(c), c2) == wire::Decoded::Ok && c2 == c);
        wire::ConverterAck a{data[0], data[1], rate}, a2;
        FUZZ_CHECK(wire::Decode(wire::Encode(a), a2) == wire::Decoded::Ok && a2 == a);
        wire::GuardedConfig g{data[0], rate, uint16_t(data[1] | data[2] << 8)}, g2;
        FUZZ_CHECK(wire::Decode(wire::Encode(g), g2) == wire::Decoded::Ok && g2 == g);
        wire::Silence n{data[0], data[1]}, n2;
        FUZZ_CHECK(wire::Decode(wire::Encode(n), n2) == wire::Decoded::Ok && n2 == n);
        // One flipped bit anywhere is never accepted as a good frame.
        auto bad = wire::Encode(q);
        bad[data[4] % bad.size()] ^= uint8_t(1u << (data[3] % 8));
        FUZZ_CHECK(wire::Decode(bad, q2) != wire::Decoded::Ok);
    }
    return 0;
}
