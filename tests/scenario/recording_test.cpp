#include <fcntl.h>
#include <unistd.h>

#include <random>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "scenario/recording.hpp"
#include "test_support.hpp"

using namespace trajix;
using trajix::test::readFileBytes;
using trajix::test::RecordingProgress;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

constexpr std::size_t block = static_cast<std::size_t>(recordingBlockSize);

// A recording whose block s is filled with byte s + 1, so every block is told apart.
std::string numberedRecording(int blocks, std::size_t tail = 0)
{
    std::string bytes;
    bytes.reserve(block * static_cast<std::size_t>(blocks) + tail);
    for (int s = 0; s < blocks; ++s) bytes.append(block, static_cast<char>(s + 1));
    bytes.append(tail, '\x7f');
    return bytes;
}

std::string convertedBytes(std::string input)
{
    const auto table = bitReversalTable();
    reverseWordBits(reinterpret_cast<std::uint8_t*>(input.data()), input.size(), table);
    return input;
}

}  // namespace

TEST(BitReversal, WordsAreReversedWhole)
{
    EXPECT_EQ(convertedBytes(std::string("\x01\x00", 2)), std::string("\x00\x80", 2));
    EXPECT_EQ(convertedBytes("\x12\x34"), "\x2C\x48");
    // Every word against a bit-by-bit reversal of the 16-bit value, in one buffer so
    // that the wide path meets them all, then in short buffers ending in a tail.
    std::vector<std::uint8_t> words(2 * 65536);
    for (unsigned word = 0; word < 65536; ++word) {
        words[2 * word] = static_cast<std::uint8_t>(word & 0xff);
        words[2 * word + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    const auto reversedWord = [](unsigned word) {
        unsigned reversed = 0;
        for (int k = 0; k < 16; ++k)
            if (word & (1u << k)) reversed |= 1u << (15 - k);
        return reversed;
    };
    const auto table = bitReversalTable();
    reverseWordBits(words.data(), words.size(), table);
    for (unsigned word = 0; word < 65536; ++word)
        ASSERT_EQ(words[2 * word] | (words[2 * word + 1] << 8), reversedWord(word)) << word;
    for (std::size_t size = 0; size <= 18; size += 2) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(37 * i + 11);
        const auto original = bytes;
        reverseWordBits(bytes.data(), size, table);
        for (std::size_t i = 0; i < size; i += 2)
            ASSERT_EQ(bytes[i] | (bytes[i + 1] << 8), reversedWord(original[i] | (original[i + 1] << 8u))) << size;
    }
}

TEST(BigFileSize, CountsBeyondFourGigabytes)
{
    TempDir dir;
    const auto path = dir / "big.dsf";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0);  // sparse: no data blocks
    ::close(fd);
    EXPECT_EQ(BigFileSize(path), 5ULL << 30);
    EXPECT_EQ(recordingBlockCount(BigFileSize(path)), 2624);
    EXPECT_EQ((5ULL << 30) - 2624ULL * block, 5120u);
    EXPECT_EQ(BigFileSize(dir / "missing.dsf"), 0u);
}

TEST(ConvertDsf, WholeBlocksOnlyAndTwiceGivesTheInput)
{
    TempDir dir;
    std::string input = numberedRecording(3, 100);
    input[0] = '\x01';
    input[1] = '\x00';
    input[block] = '\x12';
    input[block + 1] = '\x34';
    writeFileBytes(dir / "a.dsf", input);
    RecordingProgress progress;
    EXPECT_EQ(convertDSF(dir / "a.dsf", dir / "a.bin", progress), 3);
    const std::string output = readFileBytes(dir / "a.bin");
    ASSERT_EQ(output.size(), 3 * block);
    EXPECT_EQ(output.substr(0, 2), std::string("\x00\x80", 2));
    EXPECT_EQ(output.substr(block, 2), "\x2C\x48");
    EXPECT_EQ(output, convertedBytes(input.substr(0, 3 * block)));
    EXPECT_EQ(progress.captions, std::vector<std::string>{"Converting file"});
    EXPECT_EQ(progress.maxima, std::vector<long long>{3});
    EXPECT_EQ(progress.positions, (std::vector<long long>{1, 2, 3}));

    convertDSF(dir / "a.bin", dir / "back.dsf", progress);
    EXPECT_EQ(readFileBytes(dir / "back.dsf"), input.substr(0, 3 * block));
}

TEST(ConvertDsf, UnderOneBlockGivesAnEmptyOutput)
{
    TempDir dir;
    writeFileBytes(dir / "short.dsf", std::string(block - 1, 'x'));
    RecordingProgress progress;
    EXPECT_EQ(convertDSF(dir / "short.dsf", dir / "short.bin", progress), 0);
    EXPECT_EQ(readFileBytes(dir / "short.bin"), "");
    EXPECT_EQ(progress.maxima, std::vector<long long>{0});
    EXPECT_EQ(progress.finished, 1);
}

// A recording named x.bin maps onto itself and would be destroyed.
TEST(ConvertDsf, RefusesToWriteOverItsInput)
{
    TempDir dir;
    const std::string input = numberedRecording(1);
    writeFileBytes(dir / "x.bin", input);
    NullProgress progress;
    EXPECT_THROW(convertDSF(dir / "x.bin", dir / "x.bin", progress), Error);
    EXPECT_THROW(convertDSF(dir / "x.bin", dir / "." / "x.bin", progress), Error);
    EXPECT_EQ(readFileBytes(dir / "x.bin"), input);
    EXPECT_EQ(binNameFor((dir / "x.bin").string()), (dir / "x.bin").string());
}

TEST(ConvertDsf, FailuresLeaveNoPartialOutputAndKeepAnOldOne)
{
    TempDir dir;
    writeFileBytes(dir / "old.bin", "good old file");
    NullProgress progress;
    try {
        convertDSF(dir / "missing.dsf", dir / "old.bin", progress);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("missing.dsf"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.bin"));

    writeFileBytes(dir / "two.dsf", numberedRecording(2));
    RecordingProgress cancelling;
    cancelling.cancelAfter = 1;
    EXPECT_THROW(convertDSF(dir / "two.dsf", dir / "old.bin", cancelling), Error);
    EXPECT_EQ(readFileBytes(dir / "old.bin"), "good old file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // no temporary left
    EXPECT_THROW(convertDSF(dir.path(), dir / "dir.bin", progress), Error);
}

TEST(RecordingNames, FixedCharacterCounts)
{
    EXPECT_EQ(binNameFor("track.dsf"), "track.bin");
    EXPECT_EQ(binNameFor("/data/t.dsf1"), "/data/t.dbin");
    EXPECT_EQ(dropoutOutputName("track.bin"), "track_mod.bin");
    EXPECT_EQ(dropoutOutputName("/r/track.bin5"), "/r/track._mod.bin");
}

class Dropouts : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        recording_ = new std::string(numberedRecording(16, 1000));
        writeFileBytes(*dir_ / "rec.bin", *recording_);
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        delete recording_;
    }
    void TearDown() override { std::filesystem::remove(*dir_ / "rec_mod.bin"); }

    // Which seconds of the output are zero; the others must equal the input's.
    static std::vector<int> blankSeconds()
    {
        const std::string output = readFileBytes(*dir_ / "rec_mod.bin");
        EXPECT_EQ(output.size(), 16 * block);
        std::vector<int> blank;
        for (int s = 0; s < 16; ++s) {
            const std::string second = output.substr(static_cast<std::size_t>(s) * block, block);
            if (second == std::string(block, '\0'))
                blank.push_back(s);
            else
                EXPECT_EQ(second, recording_->substr(static_cast<std::size_t>(s) * block, block)) << s;
        }
        return blank;
    }
    static DropoutRequest request(long long start, long long duration) { return {*dir_ / "rec.bin", start, duration}; }

    static TempDir* dir_;
    static std::string* recording_;
};
TempDir* Dropouts::dir_ = nullptr;
std::string* Dropouts::recording_ = nullptr;

TEST_F(Dropouts, StartZeroCopiesWholeBlocksWhateverTheDuration)
{
    RecordingProgress progress;
    EXPECT_EQ(createDropouts(request(0, -50), progress), *dir_ / "rec_mod.bin");
    EXPECT_TRUE(blankSeconds().empty());
    EXPECT_EQ(progress.maxima, std::vector<long long>{16});
    EXPECT_EQ(progress.positions.back(), 16);
}

TEST_F(Dropouts, BlanksStartThroughStartPlusDuration)
{
    NullProgress progress;
    createDropouts(request(10, 0), progress);
    EXPECT_EQ(blankSeconds(), std::vector<int>{10});
    createDropouts(request(10, 5), progress);
    EXPECT_EQ(blankSeconds(), (std::vector<int>{10, 11, 12, 13, 14, 15}));
    createDropouts(request(15, 0), progress);
    EXPECT_EQ(blankSeconds(), std::vector<int>{15});
    createDropouts(request(3, -1), progress);
    EXPECT_TRUE(blankSeconds().empty());
}

TEST_F(Dropouts, OutOfRangeIsRefusedBeforeAnythingIsWritten)
{
    writeFileBytes(*dir_ / "rec_mod.bin", "earlier result");
    NullProgress progress;
    for (auto [start, duration] : {std::pair{10LL, 6LL}, {16LL, 0LL}, {-1LL, 0LL}, {5LL, -2LL}}) {
        try {
            createDropouts(request(start, duration), progress);
            FAIL() << start << " " << duration;
        } catch (const Error& e) {
            EXPECT_FALSE(std::string(e.what()).empty());
        }
        EXPECT_EQ(readFileBytes(*dir_ / "rec_mod.bin"), "earlier result");
    }
    EXPECT_THROW(createDropouts({*dir_ / "none.bin", 1, 0}, progress), Error);
    EXPECT_FALSE(std::filesystem::exists(*dir_ / "none_mod.bin"));
}

namespace {
// Cuts the input short when block 2 is due, as another program writing it might.
class TruncatingProgress final : public ProgressSink {
public:
    explicit TruncatingProgress(std::filesystem::path file) : file_(std::move(file)) {}
    void position(long long p) override
    {
        if (p == 2) std::filesystem::resize_file(file_, block + 10);
    }

private:
    std::filesystem::path file_;
};
}  // namespace

// Reading a mapped block past the end of a file that shrank would end the process.
TEST(ConvertDsf, InputThatShrinksWhileReadIsAnErrorNotACrash)
{
    TempDir dir;
    writeFileBytes(dir / "grow.dsf", numberedRecording(3));
    TruncatingProgress progress(dir / "grow.dsf");
    try {
        convertDSF(dir / "grow.dsf", dir / "grow.bin", progress);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("block 2"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "grow.bin"));
    writeFileBytes(dir / "grow.bin", numberedRecording(3));
    TruncatingProgress again(dir / "grow.bin");
    EXPECT_THROW(createDropouts({dir / "grow.bin", 1, 0}, again), Error);
    EXPECT_FALSE(std::filesystem::exists(dir / "grow_mod.bin"));
}

// The fast conversion and the dropout copy against a plain byte-by-byte reference over
// random recordings of random length: whole blocks, a part block behind them, less than
// one block, and random dropout ranges; one recording is long enough that the kept runs
// are copied in several pieces. The reference swaps the bytes of each word and
// reverses each byte through the table, nothing else.
TEST(RecordingInvariant, FastConversionAndDropoutsEqualThePlainReference)
{
    TempDir dir;
    std::mt19937_64 random(20261209);
    const auto table = bitReversalTable();
    NullProgress progress;
    for (int trial = 0; trial < 8; ++trial) {
        const std::size_t blocks = trial == 0 ? 0 : trial == 2 ? 18 : random() % 4;
        const std::size_t tail = trial == 1 ? 0 : random() % block;
        std::string input(blocks * block + tail, '\0');
        for (char& c : input) c = static_cast<char>(random());
        writeFileBytes(dir / "r.dsf", input);
        SCOPED_TRACE(testing::Message() << blocks << " blocks and " << tail << " bytes");

        ASSERT_EQ(convertDSF(dir / "r.dsf", dir / "r.bin", progress), static_cast<std::int64_t>(blocks));
        std::string plain(blocks * block, '\0');
        for (std::size_t i = 0; i < plain.size(); i += 2) {
            plain[i] = static_cast<char>(table[static_cast<std::uint8_t>(input[i + 1])]);
            plain[i + 1] = static_cast<char>(table[static_cast<std::uint8_t>(input[i])]);
        }
        ASSERT_TRUE(readFileBytes(dir / "r.bin") == plain);

        if (blocks == 0) continue;
        const long long start =
            trial == 2 ? 9 : static_cast<long long>(random() % (blocks + 1));  // 0: no dropout
        const long long duration = start == 0 ? 0 : static_cast<long long>(random() % (blocks - start + 1)) - 1;
        createDropouts({dir / "r.bin", start, duration}, progress);
        std::string blanked = plain;
        for (long long s = start; start != 0 && s <= start + duration; ++s)
            std::fill_n(blanked.begin() + s * static_cast<long long>(block), block, '\0');
        ASSERT_TRUE(readFileBytes(dir / "r_mod.bin") == blanked) << "dropout " << start << " for " << duration;
    }
}
