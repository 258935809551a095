// trajix-bin-unpack RECORDING.bin SAMPLES: unpacks a .bin recording into one signed
// byte per sample (+1 for a set bit, -1 for a clear one), the "byte" samples a
// software receiver reads (GNSS-SDR's File_Signal_Source with item_type=byte; see
// tools/gnss-sdr-gps-l1.conf). In the .bin form each 16-bit little-endian word
// holds 16 samples, the first in its most significant bit.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"

namespace {

int run(const char* inputName, const char* outputName)
{
    std::ifstream in(inputName, std::ios::binary);
    if (!in) throw trajix::Error(fmt::format("cannot open '{}': {}", inputName, std::strerror(errno)));
    trajix::AtomicFile out(outputName);
    std::vector<char> packed(1 << 16);
    std::vector<std::int8_t> samples(packed.size() * 8);
    while (in) {
        in.read(packed.data(), static_cast<std::streamsize>(packed.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got % 2 != 0) throw trajix::Error(fmt::format("'{}' does not hold whole 16-bit words", inputName));
        for (std::size_t w = 0; w < got / 2; ++w) {
            const unsigned word = static_cast<unsigned char>(packed[2 * w]) |
                                  static_cast<unsigned>(static_cast<unsigned char>(packed[2 * w + 1])) << 8;
            for (unsigned k = 0; k < 16; ++k) samples[16 * w + k] = (word >> (15 - k)) & 1u ? 1 : -1;
        }
        out.write(reinterpret_cast<const std::uint8_t*>(samples.data()), got * 8);
    }
    if (in.bad()) throw trajix::Error(fmt::format("cannot read '{}'", inputName));
    out.commit();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fmt::print(stderr, "usage: trajix-bin-unpack RECORDING.bin SAMPLES\n");
        return 2;
    }
    try {
        return run(argv[1], argv[2]);
    } catch (const std::exception& e) {
        fmt::print(stderr, "trajix-bin-unpack: error: {}\n", e.what());
        return 1;
    }
}
