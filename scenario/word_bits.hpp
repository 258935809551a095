#pragma once
// Reversing the 16 bits of every word of a signal recording: plain C++ everywhere, and
// byte shuffles of nibble tables (SSSE3, AVX2) where the processor has them.
#include <cstddef>
#include <cstdint>

namespace trajix {

enum class WordReversal { Portable, Ssse3, Avx2 };

/// Whether this processor runs the given way (Portable always does).
bool wordReversalSupported(WordReversal way);

/// The fastest way this processor runs, found once.
WordReversal fastestWordReversal();

/// Reverses the bits of every 16-bit word (two bytes at an even offset, first byte low)
/// of size bytes (even) from source into target, which is either the same buffer or one
/// that does not overlap it. The way must be supported.
void reverseWordBitsWith(WordReversal way, const std::uint8_t* source, std::uint8_t* target, std::size_t size);

}  // namespace trajix
