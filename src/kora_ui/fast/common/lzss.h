// Decoder for the compressed constant text of the modules.
//
// A control byte precedes each group of up to eight items, read from its least
// significant bit. A set bit is one literal byte. A clear bit is a
// back-reference of two or three bytes b1 b2 [b3]:
//   b1 < 128:               distance b1, length b2 + 3
//   b1 >= 128, b2 < 128:    distance 128 + (b1 & 0x7F) + ((b2 & 0x60) << 2),
//                           length (b2 & 0x1F) + 3
//   b1 >= 128, b2 >= 128:   distance 128 + (b1 & 0x7F) + ((b2 & 0x7F) << 7),
//                           length b3 + 3
// The copy starts distance + length bytes before the current end of the output
// and proceeds byte by byte. Decoding stops once the output is full; the input
// consumed by then must be exactly the whole input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kora {

// Returns true when `in` expands to exactly `out_len` bytes using all of `in`.
// Never reads or writes outside the two buffers.
inline bool lzss_expand(const std::uint8_t *in, std::size_t in_len, std::uint8_t *out, std::size_t out_len) noexcept {
    std::size_t ip = 0, op = 0;
    while (op < out_len) {
        if (ip >= in_len) return false;
        unsigned control = in[ip++];
        for (int bit = 0; bit < 8 && op < out_len; ++bit, control >>= 1) {
            if (control & 1u) {
                if (ip >= in_len) return false;
                out[op++] = in[ip++];
                continue;
            }
            if (ip + 2 > in_len) return false;
            unsigned b1 = in[ip], b2 = in[ip + 1];
            ip += 2;
            std::size_t dist, len;
            if (b1 < 128) {
                dist = b1;
                len = b2 + 3u;
            } else if (b2 < 128) {
                dist = 128u + (b1 & 0x7Fu) + ((b2 & 0x60u) << 2);
                len = (b2 & 0x1Fu) + 3u;
            } else {
                if (ip >= in_len) return false;
                dist = 128u + (b1 & 0x7Fu) + ((b2 & 0x7Fu) << 7);
                len = in[ip++] + 3u;
            }
            if (dist + len > op) return false;
            std::size_t src = op - dist - len;
            for (std::size_t i = 0; i < len && op < out_len; ++i) out[op++] = out[src + i];
        }
    }
    return ip == in_len;
}

}  // namespace kora
