// Every way of reversing words' bits against the byte table, on all 65536 words and on
// short, misaligned buffers that end in the portable tail.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "scenario/recording.hpp"
#include "scenario/word_bits.hpp"

using namespace trajix;

namespace {

// What the table gives: the two bytes swapped and each reversed.
void expectTableWords(const std::uint8_t* source, const std::uint8_t* result, std::size_t size, const char* way)
{
    static const auto table = bitReversalTable();
    for (std::size_t p = 0; p + 1 < size; p += 2) {
        ASSERT_EQ(result[p], table[source[p + 1]]) << way << " byte " << p << " of " << size;
        ASSERT_EQ(result[p + 1], table[source[p]]) << way << " byte " << p + 1 << " of " << size;
    }
}

struct Way {
    WordReversal way;
    const char* name;
};
const Way ways[] = {{WordReversal::Portable, "portable"}, {WordReversal::Ssse3, "SSSE3"}, {WordReversal::Avx2, "AVX2"}};

}  // namespace

TEST(WordReversal, EveryWayGivesTheTableOnEveryWord)
{
    std::vector<std::uint8_t> words(2 * 65536);
    for (unsigned word = 0; word < 65536; ++word) {
        words[2 * word] = static_cast<std::uint8_t>(word & 0xff);
        words[2 * word + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    int tested = 0;
    for (const Way& w : ways) {
        if (!wordReversalSupported(w.way)) continue;
        ++tested;
        std::vector<std::uint8_t> result(words.size());
        reverseWordBitsWith(w.way, words.data(), result.data(), words.size());
        expectTableWords(words.data(), result.data(), words.size(), w.name);
        // In place, as the conversion runs it.
        std::vector<std::uint8_t> inPlace = words;
        reverseWordBitsWith(w.way, inPlace.data(), inPlace.data(), inPlace.size());
        EXPECT_EQ(inPlace, result) << w.name;
    }
    EXPECT_GE(tested, 1);
    EXPECT_TRUE(wordReversalSupported(fastestWordReversal()));
}

TEST(WordReversal, ShortAndMisalignedBuffersEndInTheSameBytes)
{
    // Sizes around the 16-, 32- and 64-byte strides, starting one byte past alignment.
    std::vector<std::uint8_t> storage(1 + 200);
    for (std::size_t i = 0; i < storage.size(); ++i) storage[i] = static_cast<std::uint8_t>(i * 73 + 5);
    const std::uint8_t* source = storage.data() + 1;
    for (const Way& w : ways) {
        if (!wordReversalSupported(w.way)) continue;
        for (std::size_t size = 0; size <= 196; size += 2) {
            std::vector<std::uint8_t> result(size + 2, 0xAA);
            reverseWordBitsWith(w.way, source, result.data(), size);
            expectTableWords(source, result.data(), size, w.name);
            EXPECT_EQ(result[size], 0xAA) << w.name << " wrote past " << size;
            EXPECT_EQ(result[size + 1], 0xAA) << w.name << " wrote past " << size;
        }
    }
}
