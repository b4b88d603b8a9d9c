#include "crashreport/delivery/mime/Base64.h"

#include <array>
#include <cstring>

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters per 12 input bits: one table look-up where the plain loop needs two.
struct TPairTable {
    std::array<char, 2 * 4096> Chars{};
    constexpr TPairTable() {
        for (int i = 0; i < 4096; ++i) {
            Chars[size_t(2 * i)] = Alphabet[i >> 6];
            Chars[size_t(2 * i + 1)] = Alphabet[i & 63];
        }
    }
};
constexpr TPairTable Pairs;

} // namespace

void AppendBase64(std::string& out, const uint8_t* data, size_t count) {
    const size_t start = out.size();
    out.resize(start + Base64Length(count));
    char* dst = out.data() + start;
    const char* pairs = Pairs.Chars.data();
    size_t i = 0;
    for (; i + 3 <= count; i += 3, dst += 4) {
        const uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        std::memcpy(dst, pairs + 2 * (v >> 12), 2);
        std::memcpy(dst + 2, pairs + 2 * (v & 0xFFF), 2);
    }
    if (i < count) {
        const uint32_t v = uint32_t(data[i]) << 16 | (i + 1 < count ? uint32_t(data[i + 1]) << 8 : 0);
        dst[0] = Alphabet[v >> 18];
        dst[1] = Alphabet[(v >> 12) & 63];
        dst[2] = i + 1 < count ? Alphabet[(v >> 6) & 63] : '=';
        dst[3] = '=';
    }
}
