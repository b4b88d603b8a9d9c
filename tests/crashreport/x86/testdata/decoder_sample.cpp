// Sample program for the decoder comparison: compiled with MinGW for i686, its whole code
// section (with the statically linked runtime) is decoded and compared with objdump.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <immintrin.h>
#include <stdexcept>
#include <string>
#include <vector>

__attribute__((noinline)) int Dispatch(int v) {
    switch (v) {
    case 0:
        return std::puts("zero");
    case 1:
        return v * 7;
    case 2:
        return v << 3;
    case 3:
        return std::puts("three");
    case 4:
        return v / 3;
    case 5:
        return -v;
    case 6:
        return v ^ 0x55;
    default:
        return 0;
    }
}

__attribute__((noinline)) double Maths(double a, float b, long long c) {
    return std::sqrt(a) * std::sin(b) + double(c) / 3.0 + std::floor(a * 1.5) + std::fmod(a, 2.5);
}

__attribute__((noinline, target("sse4.2"))) unsigned Vectors(const unsigned char* p, size_t n) {
    __m128i acc = _mm_setzero_si128();
    for (size_t i = 0; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        acc = _mm_add_epi32(acc, _mm_cvtepu8_epi32(x));
        acc = _mm_max_epu32(acc, _mm_shuffle_epi8(x, acc));
    }
    unsigned crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = _mm_crc32_u8(crc, p[i]);
    return unsigned(_mm_extract_epi32(acc, 2)) ^ crc;
}

__attribute__((noinline)) void Throws(int v) {
    if (v > 3) throw std::runtime_error("too large");
}

int main(int argc, char** argv) {
    std::vector<std::string> words(argv, argv + argc);
    int sum = Dispatch(argc) + int(Maths(argc, 2.5f, argc * 1000LL));
    unsigned char buffer[64];
    std::memset(buffer, argc, sizeof buffer);
    sum += int(Vectors(buffer, sizeof buffer));
    try {
        Throws(argc);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
    }
    return sum + int(words.size());
}
