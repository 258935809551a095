#include "signal/sampling.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <numbers>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TRAJIX_X86_VECTORS 1
#endif

namespace trajix::sampling {

CodeTables::CodeTables(int prn)
    : CodeTables([prn] {
          const auto code = gps::caCode(prn);
          return std::vector<std::uint8_t>(code.begin(), code.end());
      }())
{
}

CodeTables::CodeTables(const std::vector<std::uint8_t>& code)
{
    chips.resize(code.size());
    // The padding is read by 16-chip loads near the end of a period, never used.
    signs.assign(code.size() + 16, 1);
    for (std::size_t chip = 0; chip < code.size(); ++chip) {
        const bool one = code[chip] != 0;
        chips[chip] = static_cast<std::uint8_t>(one ? carrierTableSize : 0);
        signs[chip] = static_cast<std::int8_t>(one ? -1 : 1);
    }
}

std::vector<std::uint8_t> withBocSubcarrier(const std::array<std::uint8_t, 4092>& code, bool negate)
{
    std::vector<std::uint8_t> halves(2 * code.size());
    const std::uint8_t flip = negate ? 1 : 0;
    for (std::size_t chip = 0; chip < code.size(); ++chip) {
        halves[2 * chip] = static_cast<std::uint8_t>((code[chip] & 1u) ^ flip);
        halves[2 * chip + 1] = static_cast<std::uint8_t>((code[chip] & 1u) ^ flip ^ 1u);
    }
    return halves;
}

void CarrierWave::set(double amplitude, bool complex)
{
    fitsBytes = true;
    for (int k = 0; k < carrierTableSize; ++k) {
        const double angle = 2 * std::numbers::pi * (k + 0.5) / carrierTableSize;
        const auto evenOf = [](double value) { return static_cast<std::int16_t>(2 * std::lround(value / 2)); };
        const std::int16_t c = evenOf(amplitude * std::cos(angle));
        const std::int16_t s = complex ? evenOf(amplitude * std::sin(angle)) : std::int16_t{0};
        const auto at = static_cast<std::size_t>(k);
        cosine[at] = c;
        cosine[at + carrierTableSize] = static_cast<std::int16_t>(-c);
        sine[at] = s;
        sine[at + carrierTableSize] = static_cast<std::int16_t>(-s);
        fitsBytes = fitsBytes && std::abs(c) <= 127 && std::abs(s) <= 127;
        cosineBytes[at] = static_cast<std::int8_t>(std::clamp<int>(c, -127, 127));
        sineBytes[at] = static_cast<std::int8_t>(std::clamp<int>(s, -127, 127));
    }
}

void addRunReference(const CodeTables& code, const CarrierWave& wave, RunPhase& phase, unsigned dataBit,
                     std::int16_t* inPhase, std::int16_t* quadrature, int count)
{
    const std::uint8_t dataSign = static_cast<std::uint8_t>(dataBit ? carrierTableSize : 0);
    const std::uint8_t* chips = code.chips.data();
    const std::int16_t* cosine = wave.cosine.data();
    std::uint64_t codePhase = phase.code;
    std::uint32_t carrier = phase.carrier;
    // The chip (0 or 64) picks the wave's sign half, the carrier's top bits the step.
    for (int i = 0; i < count; ++i) {
        const unsigned index = (chips[codePhase >> 32] ^ dataSign) | (carrier >> (32 - carrierTableBits));
        inPhase[i] = static_cast<std::int16_t>(inPhase[i] + cosine[index]);
        if (quadrature) quadrature[i] = static_cast<std::int16_t>(quadrature[i] + wave.sine[index]);
        codePhase += phase.codeStep;
        carrier += phase.carrierStep;
    }
    phase.code = codePhase;
    phase.carrier = carrier;
}

void addRunPairReference(const CodeTables& code, const CodeTables& pilot, const CarrierWave& wave, RunPhase& phase,
                         unsigned dataBit, unsigned pilotBit, std::int16_t* inPhase, std::int16_t* quadrature,
                         int count)
{
    RunPhase pilotPhase = phase;
    addRunReference(code, wave, phase, dataBit, inPhase, quadrature, count);
    addRunReference(pilot, wave, pilotPhase, pilotBit, inPhase, quadrature, count);
}

#ifdef TRAJIX_X86_VECTORS

namespace {

// 16 samples at a time with SSE4.1 (every x86-64 processor since about 2008):
//  - carrier: 16 phases in four 32-bit lanes each, their top 6 bits packed into bytes;
//  - wave: four 16-byte shuffles look up the 64 byte-sized values, blends pick the
//    right quarter by bits 4 and 5 of the index;
//  - code: the 16 samples span at most 8 chips at 2 samples per chip; each lane's chip
//    is the first sample's chip plus its whole-chip offset plus the carry out of the
//    32-bit fraction, and a shuffle of the 16 chip signs from the first chip on gives
//    each lane its sign.
struct Lookup {
    __m128i t0, t1, t2, t3;
};

__attribute__((target("sse4.1"))) inline __m128i lookupBytes(const Lookup& table, __m128i index, __m128i bit4,
                                                             __m128i bit5)
{
    const __m128i low = _mm_blendv_epi8(_mm_shuffle_epi8(table.t0, index), _mm_shuffle_epi8(table.t1, index), bit4);
    const __m128i high = _mm_blendv_epi8(_mm_shuffle_epi8(table.t2, index), _mm_shuffle_epi8(table.t3, index), bit4);
    return _mm_blendv_epi8(low, high, bit5);
}

__attribute__((target("sse4.1"))) inline void accumulate(std::int16_t* sums, __m128i bytes)
{
    auto* out = reinterpret_cast<__m128i*>(sums);
    const __m128i low = _mm_cvtepi8_epi16(bytes);
    const __m128i high = _mm_cvtepi8_epi16(_mm_srli_si128(bytes, 8));
    _mm_storeu_si128(out, _mm_add_epi16(_mm_loadu_si128(out), low));
    _mm_storeu_si128(out + 1, _mm_add_epi16(_mm_loadu_si128(out + 1), high));
}

template <bool complex>
__attribute__((target("sse4.1"), always_inline)) inline void addRunVector(const CodeTables& code,
                                                                          const CarrierWave& wave, RunPhase& phase,
                                                                          unsigned dataBit, std::int16_t* inPhase,
                                                                          std::int16_t* quadrature, int count)
{
    const int groups = count / 16;
    if (groups > 0) {
        const std::uint64_t codeStep = phase.codeStep;
        const std::uint32_t carrierStep = phase.carrierStep;
        alignas(16) std::uint32_t carrierLanes[16], fractionOffsets[16];
        alignas(16) std::int8_t wholeOffsets[16];
        for (int j = 0; j < 16; ++j) {
            const std::uint64_t offset = codeStep * static_cast<std::uint64_t>(j);
            carrierLanes[j] = phase.carrier + carrierStep * static_cast<std::uint32_t>(j);
            fractionOffsets[j] = static_cast<std::uint32_t>(offset);
            wholeOffsets[j] = static_cast<std::int8_t>(offset >> 32);
        }
        const auto* lanes = reinterpret_cast<const __m128i*>(carrierLanes);
        __m128i c0 = _mm_load_si128(lanes), c1 = _mm_load_si128(lanes + 1), c2 = _mm_load_si128(lanes + 2),
                c3 = _mm_load_si128(lanes + 3);
        const auto* fractions = reinterpret_cast<const __m128i*>(fractionOffsets);
        const __m128i f0 = _mm_load_si128(fractions), f1 = _mm_load_si128(fractions + 1),
                      f2 = _mm_load_si128(fractions + 2), f3 = _mm_load_si128(fractions + 3);
        const __m128i whole = _mm_load_si128(reinterpret_cast<const __m128i*>(wholeOffsets));
        const __m128i carrierAdvance = _mm_set1_epi32(static_cast<int>(carrierStep * 16u));
        // A data bit of 1 inverts every chip: +1 xor 0xFE is -1 and back.
        const __m128i dataFlip = _mm_set1_epi8(static_cast<char>(dataBit ? 0xFE : 0));
        const Lookup cosine{_mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data())),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data() + 16)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data() + 32)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data() + 48))};
        Lookup sine{};
        if constexpr (complex)
            sine = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data())),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data() + 16)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data() + 32)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data() + 48))};
        std::uint64_t codePhase = phase.code;
        const std::int8_t* signs = code.signs.data();
        for (int g = 0; g < groups; ++g) {
            // Carrier: the top 6 bits of each lane's phase as 16 byte indices.
            const __m128i index = _mm_packus_epi16(
                _mm_packs_epi32(_mm_srli_epi32(c0, 32 - carrierTableBits), _mm_srli_epi32(c1, 32 - carrierTableBits)),
                _mm_packs_epi32(_mm_srli_epi32(c2, 32 - carrierTableBits), _mm_srli_epi32(c3, 32 - carrierTableBits)));
            // pblendvb reads bit 7 of each byte: bits 4 and 5 of the index moved there (a
            // bit shifted into the next byte lands below its bit 7).
            const __m128i bit4 = _mm_slli_epi16(index, 3);
            const __m128i bit5 = _mm_slli_epi16(index, 2);

            // Code: carry out of (fraction + lane offset), compared without sign via the bias.
            const __m128i fraction =
                _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(codePhase) ^ 0x80000000u));
            const __m128i carry01 = _mm_packs_epi32(_mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f0)),
                                                    _mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f1)));
            const __m128i carry23 = _mm_packs_epi32(_mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f2)),
                                                    _mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f3)));
            const __m128i chipOffset = _mm_sub_epi8(whole, _mm_packs_epi16(carry01, carry23));
            const __m128i window =
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(signs + (codePhase >> 32))), dataFlip);
            const __m128i sign = _mm_shuffle_epi8(window, chipOffset);

            accumulate(inPhase + 16 * g, _mm_sign_epi8(lookupBytes(cosine, index, bit4, bit5), sign));
            if constexpr (complex)
                accumulate(quadrature + 16 * g, _mm_sign_epi8(lookupBytes(sine, index, bit4, bit5), sign));

            c0 = _mm_add_epi32(c0, carrierAdvance);
            c1 = _mm_add_epi32(c1, carrierAdvance);
            c2 = _mm_add_epi32(c2, carrierAdvance);
            c3 = _mm_add_epi32(c3, carrierAdvance);
            codePhase += 16 * codeStep;
        }
        phase.code = codePhase;
        phase.carrier += carrierStep * static_cast<std::uint32_t>(16 * groups);
    }
    const int done = 16 * groups;
    if (done < count)
        addRunReference(code, wave, phase, dataBit, inPhase + done, complex ? quadrature + done : nullptr,
                        count - done);
}

// The two codes of a pair on one carrier: the wave is looked up once; where the two
// codes' signs agree the sample gains twice the signed wave, where they differ nothing
// (two additions of 16-bit sums wrapping as the plain loop's do, in one).
__attribute__((target("sse4.1"))) inline void accumulateTwice(std::int16_t* sums, __m128i bytes)
{
    auto* out = reinterpret_cast<__m128i*>(sums);
    const __m128i low = _mm_cvtepi8_epi16(bytes);
    const __m128i high = _mm_cvtepi8_epi16(_mm_srli_si128(bytes, 8));
    _mm_storeu_si128(out, _mm_add_epi16(_mm_loadu_si128(out), _mm_add_epi16(low, low)));
    _mm_storeu_si128(out + 1, _mm_add_epi16(_mm_loadu_si128(out + 1), _mm_add_epi16(high, high)));
}

template <bool complex>
__attribute__((target("sse4.1"), always_inline)) inline void addRunPairVector(
    const CodeTables& code, const CodeTables& pilot, const CarrierWave& wave, RunPhase& phase, unsigned dataBit,
    unsigned pilotBit, std::int16_t* inPhase, std::int16_t* quadrature, int count)
{
    const int groups = count / 16;
    if (groups > 0) {
        const std::uint64_t codeStep = phase.codeStep;
        const std::uint32_t carrierStep = phase.carrierStep;
        alignas(16) std::uint32_t carrierLanes[16], fractionOffsets[16];
        alignas(16) std::int8_t wholeOffsets[16];
        for (int j = 0; j < 16; ++j) {
            const std::uint64_t offset = codeStep * static_cast<std::uint64_t>(j);
            carrierLanes[j] = phase.carrier + carrierStep * static_cast<std::uint32_t>(j);
            fractionOffsets[j] = static_cast<std::uint32_t>(offset);
            wholeOffsets[j] = static_cast<std::int8_t>(offset >> 32);
        }
        const auto* lanes = reinterpret_cast<const __m128i*>(carrierLanes);
        __m128i c0 = _mm_load_si128(lanes), c1 = _mm_load_si128(lanes + 1), c2 = _mm_load_si128(lanes + 2),
                c3 = _mm_load_si128(lanes + 3);
        const auto* fractions = reinterpret_cast<const __m128i*>(fractionOffsets);
        const __m128i f0 = _mm_load_si128(fractions), f1 = _mm_load_si128(fractions + 1),
                      f2 = _mm_load_si128(fractions + 2), f3 = _mm_load_si128(fractions + 3);
        const __m128i whole = _mm_load_si128(reinterpret_cast<const __m128i*>(wholeOffsets));
        const __m128i carrierAdvance = _mm_set1_epi32(static_cast<int>(carrierStep * 16u));
        const __m128i dataFlip = _mm_set1_epi8(static_cast<char>(dataBit ? 0xFE : 0));
        const __m128i pilotFlip = _mm_set1_epi8(static_cast<char>(pilotBit ? 0xFE : 0));
        const Lookup cosine{_mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data())),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data() + 16)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data() + 32)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.cosineBytes.data() + 48))};
        Lookup sine{};
        if constexpr (complex)
            sine = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data())),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data() + 16)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data() + 32)),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave.sineBytes.data() + 48))};
        std::uint64_t codePhase = phase.code;
        const std::int8_t* signs = code.signs.data();
        const std::int8_t* pilotSigns = pilot.signs.data();
        for (int g = 0; g < groups; ++g) {
            const __m128i index = _mm_packus_epi16(
                _mm_packs_epi32(_mm_srli_epi32(c0, 32 - carrierTableBits), _mm_srli_epi32(c1, 32 - carrierTableBits)),
                _mm_packs_epi32(_mm_srli_epi32(c2, 32 - carrierTableBits), _mm_srli_epi32(c3, 32 - carrierTableBits)));
            const __m128i bit4 = _mm_slli_epi16(index, 3);
            const __m128i bit5 = _mm_slli_epi16(index, 2);
            const __m128i fraction =
                _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(codePhase) ^ 0x80000000u));
            const __m128i carry01 = _mm_packs_epi32(_mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f0)),
                                                    _mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f1)));
            const __m128i carry23 = _mm_packs_epi32(_mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f2)),
                                                    _mm_cmpgt_epi32(fraction, _mm_add_epi32(fraction, f3)));
            const __m128i chipOffset = _mm_sub_epi8(whole, _mm_packs_epi16(carry01, carry23));
            const std::size_t first = codePhase >> 32;
            const __m128i sign = _mm_shuffle_epi8(
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(signs + first)), dataFlip), chipOffset);
            const __m128i pilotSign = _mm_shuffle_epi8(
                _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pilotSigns + first)), pilotFlip),
                chipOffset);
            // The signed wave where the signs agree, zero where they cancel.
            const __m128i agree = _mm_cmpeq_epi8(sign, pilotSign);
            accumulateTwice(inPhase + 16 * g,
                            _mm_and_si128(_mm_sign_epi8(lookupBytes(cosine, index, bit4, bit5), sign), agree));
            if constexpr (complex)
                accumulateTwice(quadrature + 16 * g,
                                _mm_and_si128(_mm_sign_epi8(lookupBytes(sine, index, bit4, bit5), sign), agree));

            c0 = _mm_add_epi32(c0, carrierAdvance);
            c1 = _mm_add_epi32(c1, carrierAdvance);
            c2 = _mm_add_epi32(c2, carrierAdvance);
            c3 = _mm_add_epi32(c3, carrierAdvance);
            codePhase += 16 * codeStep;
        }
        phase.code = codePhase;
        phase.carrier += carrierStep * static_cast<std::uint32_t>(16 * groups);
    }
    const int done = 16 * groups;
    if (done < count)
        addRunPairReference(code, pilot, wave, phase, dataBit, pilotBit, inPhase + done,
                            complex ? quadrature + done : nullptr, count - done);
}

__attribute__((target("sse4.1"))) void addRunPairSse41(const CodeTables& code, const CodeTables& pilot,
                                                       const CarrierWave& wave, RunPhase& phase, unsigned dataBit,
                                                       unsigned pilotBit, std::int16_t* inPhase,
                                                       std::int16_t* quadrature, int count)
{
    if (quadrature)
        addRunPairVector<true>(code, pilot, wave, phase, dataBit, pilotBit, inPhase, quadrature, count);
    else
        addRunPairVector<false>(code, pilot, wave, phase, dataBit, pilotBit, inPhase, nullptr, count);
}

__attribute__((target("avx"))) void addRunPairAvx(const CodeTables& code, const CodeTables& pilot,
                                                  const CarrierWave& wave, RunPhase& phase, unsigned dataBit,
                                                  unsigned pilotBit, std::int16_t* inPhase, std::int16_t* quadrature,
                                                  int count)
{
    if (quadrature)
        addRunPairVector<true>(code, pilot, wave, phase, dataBit, pilotBit, inPhase, quadrature, count);
    else
        addRunPairVector<false>(code, pilot, wave, phase, dataBit, pilotBit, inPhase, nullptr, count);
}

// The same loop twice: as SSE4.1 and in the AVX encoding of the same 16-byte
// instructions, whose three operands spare the register copies.
__attribute__((target("sse4.1"))) void addRunSse41(const CodeTables& code, const CarrierWave& wave, RunPhase& phase,
                                                   unsigned dataBit, std::int16_t* inPhase, std::int16_t* quadrature,
                                                   int count)
{
    if (quadrature)
        addRunVector<true>(code, wave, phase, dataBit, inPhase, quadrature, count);
    else
        addRunVector<false>(code, wave, phase, dataBit, inPhase, nullptr, count);
}

__attribute__((target("avx"))) void addRunAvx(const CodeTables& code, const CarrierWave& wave, RunPhase& phase,
                                              unsigned dataBit, std::int16_t* inPhase, std::int16_t* quadrature,
                                              int count)
{
    if (quadrature)
        addRunVector<true>(code, wave, phase, dataBit, inPhase, quadrature, count);
    else
        addRunVector<false>(code, wave, phase, dataBit, inPhase, nullptr, count);
}

}  // namespace

AddRun fastestAddRun(const CarrierWave& wave)
{
    static const AddRun fastest = __builtin_cpu_supports("avx")      ? addRunAvx
                                  : __builtin_cpu_supports("sse4.1") ? addRunSse41
                                                                     : addRunReference;
    return wave.fitsBytes ? fastest : addRunReference;
}

AddRunPair fastestAddRunPair(const CarrierWave& wave)
{
    static const AddRunPair fastest = __builtin_cpu_supports("avx")      ? addRunPairAvx
                                      : __builtin_cpu_supports("sse4.1") ? addRunPairSse41
                                                                         : addRunPairReference;
    return wave.fitsBytes ? fastest : addRunPairReference;
}

#else

AddRun fastestAddRun(const CarrierWave&)
{
    return addRunReference;
}

AddRunPair fastestAddRunPair(const CarrierWave&)
{
    return addRunPairReference;
}

#endif

namespace {

std::vector<std::int16_t> inverseNormalTable(double sigma)
{
    std::vector<std::int16_t> table(65536);
    for (std::size_t i = 0; i < table.size() / 2; ++i) {
        // The quantile of probability (i + 0.5) / 65536 below the median, by bisection.
        const double p = (static_cast<double>(i) + 0.5) / static_cast<double>(table.size());
        double low = -10, high = 0;
        for (int k = 0; k < 60; ++k) {
            const double mid = (low + high) / 2;
            if (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p)
                low = mid;
            else
                high = mid;
        }
        const auto value = static_cast<std::int16_t>(2 * std::lround(low * sigma / 2 - 0.5) + 1);
        table[i] = value;
        table[table.size() - 1 - i] = static_cast<std::int16_t>(-value);
    }
    return table;
}

}  // namespace

NoiseTable::NoiseTable(std::uint64_t seed, double sigma)
    : base_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull), sigma_(sigma)
{
    // Two million error functions: made once per process and sigma.
    static std::mutex mutex;
    static std::map<double, std::shared_ptr<const std::vector<std::int16_t>>> made;
    const std::lock_guard lock(mutex);
    auto& table = made[sigma];
    if (!table) table = std::make_shared<const std::vector<std::int16_t>>(inverseNormalTable(sigma));
    table_ = table;
}

void NoiseTable::fill(std::int16_t* out, int count, std::uint64_t firstDraw) const
{
    std::uint64_t state = base_ + firstDraw * 0x9E3779B97F4A7C15ull;
    const std::int16_t* table = table_->data();
    int i = 0;
    for (; i < count; i += 4) {
        // splitmix64
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        if (i + 4 <= count) {
            out[i] = table[z & 0xFFFFu];
            out[i + 1] = table[(z >> 16) & 0xFFFFu];
            out[i + 2] = table[(z >> 32) & 0xFFFFu];
            out[i + 3] = table[z >> 48];
        } else {
            for (int k = 0; i + k < count; ++k) out[i + k] = table[(z >> (16 * k)) & 0xFFFFu];
        }
    }
}

void packOneBit(const std::int16_t* sums, int count, std::uint8_t* out)
{
    int word = 0;
#ifdef TRAJIX_X86_VECTORS
    // SSE2: the sign bits of 16 sums compared with zero are the word.
    const __m128i zero = _mm_setzero_si128();
    for (; 16 * word + 16 <= count; ++word) {
        const auto* in = reinterpret_cast<const __m128i*>(sums + 16 * word);
        const __m128i positive =
            _mm_packs_epi16(_mm_cmpgt_epi16(_mm_loadu_si128(in), zero), _mm_cmpgt_epi16(_mm_loadu_si128(in + 1), zero));
        const auto value = static_cast<unsigned>(_mm_movemask_epi8(positive));
        out[2 * word] = static_cast<std::uint8_t>(value & 0xFFu);
        out[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
    }
#endif
    for (; 16 * word < count; ++word) {
        unsigned value = 0;
        for (int j = 0; j < 16; ++j) value |= static_cast<unsigned>(sums[word * 16 + j] > 0) << j;
        out[2 * word] = static_cast<std::uint8_t>(value & 0xFFu);
        out[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
    }
}

void packSamplesReference(const std::int16_t* inPhase, const std::int16_t* quadrature, int count, int bits,
                          std::int32_t gain, std::uint8_t* out)
{
    const std::int32_t top = bits == 8 ? 127 : 32767, bottom = -top - 1;
    const int parts = quadrature ? 2 : 1;
    for (int i = 0; i < count; ++i)
        for (int part = 0; part < parts; ++part) {
            const std::int16_t sum = part == 0 ? inPhase[i] : quadrature[i];
            const std::int32_t value = std::clamp((sum * gain + 2048) >> 12, bottom, top);
            *out++ = static_cast<std::uint8_t>(value & 0xFF);
            if (bits == 16) *out++ = static_cast<std::uint8_t>((value >> 8) & 0xFF);
        }
}

namespace {

#ifdef TRAJIX_X86_VECTORS

// Eight sums times the gain, rounded, as saturated 16-bit values (the clip of 16-bit
// samples; 8-bit ones saturate again when packed to bytes).
__attribute__((target("sse4.1"))) inline __m128i scaleEight(const std::int16_t* sums, __m128i gain, __m128i half)
{
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums));
    const __m128i low = _mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(_mm_cvtepi16_epi32(in), gain), half), 12);
    const __m128i high =
        _mm_srai_epi32(_mm_add_epi32(_mm_mullo_epi32(_mm_cvtepi16_epi32(_mm_srli_si128(in, 8)), gain), half), 12);
    return _mm_packs_epi32(low, high);
}

__attribute__((target("sse4.1"))) void packSamplesVector(const std::int16_t* inPhase, const std::int16_t* quadrature,
                                                         int count, int bits, std::int32_t gain, std::uint8_t* out)
{
    const __m128i g = _mm_set1_epi32(gain), half = _mm_set1_epi32(2048);
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i a = scaleEight(inPhase + i, g, half);
        if (quadrature) {
            const __m128i b = scaleEight(quadrature + i, g, half);
            const __m128i first = _mm_unpacklo_epi16(a, b), second = _mm_unpackhi_epi16(a, b);
            if (bits == 8) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi16(first, second));
                out += 16;
            } else {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), second);
                out += 32;
            }
        } else if (bits == 8) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi16(a, a));
            out += 8;
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a);
            out += 16;
        }
    }
    packSamplesReference(inPhase + i, quadrature ? quadrature + i : nullptr, count - i, bits, gain, out);
}

#endif

}  // namespace

void packSamples(const std::int16_t* inPhase, const std::int16_t* quadrature, int count, int bits, std::int32_t gain,
                 std::uint8_t* out)
{
#ifdef TRAJIX_X86_VECTORS
    static const bool vectors = __builtin_cpu_supports("sse4.1");
    if (vectors) return packSamplesVector(inPhase, quadrature, count, bits, gain, out);
#endif
    packSamplesReference(inPhase, quadrature, count, bits, gain, out);
}

}  // namespace trajix::sampling
