#pragma once
// Signal recordings: one-bit samples at 16368 kHz, so one second of signal is one
// block of 2046000 bytes. A .dsf and a .bin recording hold the same samples; the .bin
// form reverses the bit order of every 16-bit word.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/progress.hpp"

namespace trajix {

inline constexpr std::int64_t recordingBlockSize = 2046000;

/// The size of a file in bytes as a 64-bit number; 0 when the file does not exist.
std::uint64_t BigFileSize(const std::filesystem::path& fileName);

/// Whole one-second blocks in a file of the given size (a trailing part is not counted).
std::int64_t recordingBlockCount(std::uint64_t fileSize);

/// Entry i is the byte i with its bit order reversed (bit k becomes bit 7 - k).
std::array<std::uint8_t, 256> bitReversalTable();

/// Reverses the 16 bits of every word (two bytes at an even offset, first byte low)
/// of a buffer of even size, in place, as the table defines it (byte k of a word becomes
/// table[byte 1 - k]), the fastest way this processor runs (see word_bits.hpp).
void reverseWordBits(std::uint8_t* data, std::size_t size, const std::array<std::uint8_t, 256>& table);
/// The same from source into target (which may be the same buffer).
void reverseWordBits(const std::uint8_t* source, std::uint8_t* target, std::size_t size,
                     const std::array<std::uint8_t, 256>& table);

/// The .bin name of a recording: the name without its last three characters followed
/// by "bin" (track.dsf gives track.bin).
std::string binNameFor(const std::string& dsfName);

/// Checks that a recording can be read: it exists, is no directory and opens for
/// reading. Returns its whole one-second blocks (0 for less than a second of signal).
/// Throws Error naming the file otherwise. Front ends call it before they ask for an
/// output name.
std::int64_t checkRecordingInput(const std::filesystem::path& input);

/// Converts the whole blocks of a .dsf recording into the .bin form, streaming a piece
/// at a time through one small buffer; a trailing part block is dropped. Refuses an output naming the input, and
/// a missing input writes nothing. The output appears under its name only when complete.
/// Progress: caption "Converting file", positions 1..block count. Returns the block count.
std::int64_t convertDSF(const std::filesystem::path& input, const std::filesystem::path& output,
                        ProgressSink& progress);

/// The output name of the dropout copy: the name without its last four characters
/// followed by "_mod.bin" (track.bin gives track_mod.bin).
std::string dropoutOutputName(const std::string& binName);

struct DropoutRequest {
    std::filesystem::path input;
    long long start = 0;     ///< first blanked second; 0 means no dropout
    long long duration = 0;  ///< seconds start .. start + duration are blanked (duration + 1 blocks)
};

/// The checks createDropouts makes before it writes anything: the input as
/// checkRecordingInput checks it, and with start != 0: start > 0, duration >= -1 and
/// start + duration + 1 <= block count. Returns the block count; throws Error saying
/// what is wrong.
std::int64_t checkDropoutRequest(const DropoutRequest& request);

/// Copies the whole blocks of a .bin recording to dropoutOutputName(input) with the
/// seconds start .. start + duration set to zero bytes (the kept blocks copied by the
/// kernel from file to file). A directory as input is refused as such. Start 0 copies every block
/// unchanged. Otherwise start > 0, duration >= -1 and start + duration + 1 <= block
/// count are checked before anything is written (duration -1 blanks nothing).
/// Progress: positions 1..block count. Returns the output name.
std::filesystem::path createDropouts(const DropoutRequest& request, ProgressSink& progress);

}  // namespace trajix
