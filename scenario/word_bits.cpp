#include "scenario/word_bits.hpp"

#include <cstring>
#include <initializer_list>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TRAJIX_X86 1
#endif

namespace trajix {

namespace {

// Eight bytes at a time: reversing the bits of each byte and swapping the two bytes of
// each word reverses all 16 bits of the word.
void reversePortable(const std::uint8_t* source, std::uint8_t* target, std::size_t size)
{
    std::size_t p = 0;
    for (; p + 8 <= size; p += 8) {
        std::uint64_t x;
        std::memcpy(&x, source + p, 8);
        x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
        x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
        x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
        x = ((x >> 8) & 0x00FF00FF00FF00FFull) | ((x & 0x00FF00FF00FF00FFull) << 8);
        std::memcpy(target + p, &x, 8);
    }
    for (; p + 1 < size; p += 2) {
        std::uint32_t word = static_cast<std::uint32_t>(source[p] | source[p + 1] << 8);
        std::uint32_t reversed = 0;
        for (int k = 0; k < 16; ++k) reversed |= ((word >> k) & 1u) << (15 - k);
        target[p] = static_cast<std::uint8_t>(reversed);
        target[p + 1] = static_cast<std::uint8_t>(reversed >> 8);
    }
}

#ifdef TRAJIX_X86

// Entry i: the nibble i reversed, in the high half of the byte or in the low half;
// a byte reversed is the table of its low nibble or'ed with the table of its high one.
alignas(16) constexpr std::uint8_t reversedToHigh[16] = {0x00, 0x80, 0x40, 0xC0, 0x20, 0xA0, 0x60, 0xE0,
                                                         0x10, 0x90, 0x50, 0xD0, 0x30, 0xB0, 0x70, 0xF0};
alignas(16) constexpr std::uint8_t reversedToLow[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE,
                                                        0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};
// Swaps the two bytes of every word.
alignas(16) constexpr std::uint8_t swapBytes[16] = {1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14};

__attribute__((target("ssse3"))) void reverseSsse3(const std::uint8_t* source, std::uint8_t* target, std::size_t size)
{
    const __m128i toHigh = _mm_load_si128(reinterpret_cast<const __m128i*>(reversedToHigh));
    const __m128i toLow = _mm_load_si128(reinterpret_cast<const __m128i*>(reversedToLow));
    const __m128i swap = _mm_load_si128(reinterpret_cast<const __m128i*>(swapBytes));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    std::size_t p = 0;
    for (; p + 16 <= size; p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + p));
        x = _mm_shuffle_epi8(x, swap);
        const __m128i low = _mm_and_si128(x, nibble);
        const __m128i high = _mm_and_si128(_mm_srli_epi16(x, 4), nibble);
        x = _mm_or_si128(_mm_shuffle_epi8(toHigh, low), _mm_shuffle_epi8(toLow, high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + p), x);
    }
    reversePortable(source + p, target + p, size - p);
}

__attribute__((target("avx2"))) __m256i reverse32(__m256i x, __m256i toHigh, __m256i toLow, __m256i swap,
                                                  __m256i nibble)
{
    x = _mm256_shuffle_epi8(x, swap);
    const __m256i low = _mm256_and_si256(x, nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
    return _mm256_or_si256(_mm256_shuffle_epi8(toHigh, low), _mm256_shuffle_epi8(toLow, high));
}

__attribute__((target("avx2"))) void reverseAvx2(const std::uint8_t* source, std::uint8_t* target, std::size_t size)
{
    // The 16-byte tables in both lanes: the shuffles work lane by lane.
    const __m256i toHigh =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(reversedToHigh)));
    const __m256i toLow = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(reversedToLow)));
    const __m256i swap = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(swapBytes)));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    std::size_t p = 0;
    for (; p + 64 <= size; p += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + p + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + p), reverse32(a, toHigh, toLow, swap, nibble));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + p + 32), reverse32(b, toHigh, toLow, swap, nibble));
    }
    for (; p + 32 <= size; p += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + p), reverse32(a, toHigh, toLow, swap, nibble));
    }
    reversePortable(source + p, target + p, size - p);
}

#endif

}  // namespace

bool wordReversalSupported(WordReversal way)
{
    switch (way) {
        case WordReversal::Portable:
            return true;
#ifdef TRAJIX_X86
        case WordReversal::Ssse3:
            __builtin_cpu_init();
            return __builtin_cpu_supports("ssse3");
        case WordReversal::Avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
#else
        case WordReversal::Ssse3:
        case WordReversal::Avx2:
            return false;
#endif
    }
    return false;
}

WordReversal fastestWordReversal()
{
    static const WordReversal fastest = [] {
        for (const WordReversal way : {WordReversal::Avx2, WordReversal::Ssse3})
            if (wordReversalSupported(way)) return way;
        return WordReversal::Portable;
    }();
    return fastest;
}

void reverseWordBitsWith(WordReversal way, const std::uint8_t* source, std::uint8_t* target, std::size_t size)
{
    switch (way) {
#ifdef TRAJIX_X86
        case WordReversal::Avx2:
            reverseAvx2(source, target, size);
            return;
        case WordReversal::Ssse3:
            reverseSsse3(source, target, size);
            return;
#else
        case WordReversal::Avx2:
        case WordReversal::Ssse3:
#endif
        case WordReversal::Portable:
            break;
    }
    reversePortable(source, target, size);
}

}  // namespace trajix
