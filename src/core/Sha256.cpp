#include "core/Sha256.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define KELDORA_SHA_INSTRUCTIONS 1
#endif

namespace {

constexpr std::array<std::uint32_t, 64> Rounds = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::array<std::uint32_t, 8> Initial = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t Rotated(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

std::uint32_t BigEndian(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}

void CompressPortable(std::array<std::uint32_t, 8>& state, const std::uint8_t* blocks, std::size_t count) {
    for (; count > 0; --count, blocks += 64) {
        std::array<std::uint32_t, 64> w;
        for (int t = 0; t < 16; ++t) {
            w[t] = BigEndian(blocks + 4 * t);
        }
        for (int t = 16; t < 64; ++t) {
            const std::uint32_t s0 = Rotated(w[t - 15], 7) ^ Rotated(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 = Rotated(w[t - 2], 17) ^ Rotated(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        auto [a, b, c, d, e, f, g, h] = state;
        for (int t = 0; t < 64; ++t) {
            const std::uint32_t t1 = h + (Rotated(e, 6) ^ Rotated(e, 11) ^ Rotated(e, 25)) + ((e & f) ^ (~e & g)) +
                                     Rounds[t] + w[t];
            const std::uint32_t t2 = (Rotated(a, 2) ^ Rotated(a, 13) ^ Rotated(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        const std::array<std::uint32_t, 8> add = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < 8; ++i) {
            state[i] += add[i];
        }
    }
}

#ifdef KELDORA_SHA_INSTRUCTIONS

bool ProcessorHasSha() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) {
        return false;
    }
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}

// Four rounds at a time, the state kept as the instructions want it (ABEF,
// CDGH), the schedule in a ring of four groups of four words. The stack is
// aligned on entry for the vector spills: 32-bit Windows promises 4 bytes.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void CompressSha(std::array<std::uint32_t, 8>& state,
                                                               const std::uint8_t* blocks, std::size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count > 0; --count, blocks += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];
        // Unrolled, the ring of groups stays in registers.
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            __m128i& current = w[group % 4];
            if (group < 4) {
                current = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * group)),
                                           byteSwap);
            } else {
                const __m128i& last = w[(group + 3) % 4];
                const __m128i& beforeLast = w[(group + 2) % 4];
                current = _mm_sha256msg2_epu32(
                    _mm_add_epi32(_mm_sha256msg1_epu32(current, w[(group + 1) % 4]),
                                  _mm_alignr_epi8(last, beforeLast, 4)),
                    last);
            }
            __m128i message = _mm_add_epi32(current,
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(&Rounds[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

#else

bool ProcessorHasSha() {
    return false;
}

void CompressSha(std::array<std::uint32_t, 8>& state, const std::uint8_t* blocks, std::size_t count) {
    CompressPortable(state, blocks, count);
}

#endif

}  // namespace

TSha256::TSha256(TEngine engine)
    : state_(Initial), processor_(engine == TEngine::Best && HasProcessorInstructions()) {}

bool TSha256::HasProcessorInstructions() {
    static const bool has = ProcessorHasSha();
    return has;
}

void TSha256::Compress(const std::uint8_t* blocks, std::size_t count) {
    if (processor_) {
        CompressSha(state_, blocks, count);
    } else {
        CompressPortable(state_, blocks, count);
    }
}

void TSha256::Update(const void* data, std::size_t size) {
    if (size == 0 || finished_) {
        return;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    length_ += size;
    if (held_ > 0) {
        const std::size_t taken = std::min(size, buffer_.size() - held_);
        std::memcpy(buffer_.data() + held_, bytes, taken);
        held_ += taken;
        bytes += taken;
        size -= taken;
        if (held_ < buffer_.size()) {
            return;
        }
        Compress(buffer_.data(), 1);
        held_ = 0;
    }
    Compress(bytes, size / 64);
    held_ = size % 64;
    if (held_ > 0) {
        std::memcpy(buffer_.data(), bytes + size - held_, held_);
    }
}

std::string TSha256::Finish() {
    if (!finished_) {
        const std::uint64_t bits = length_ * 8;
        buffer_[held_++] = 0x80;
        if (held_ > 56) {
            std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(held_), buffer_.end(), std::uint8_t{0});
            Compress(buffer_.data(), 1);
            held_ = 0;
        }
        std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(held_), buffer_.begin() + 56, std::uint8_t{0});
        for (int i = 0; i < 8; ++i) {
            buffer_[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
        }
        Compress(buffer_.data(), 1);
        finished_ = true;
    }
    std::string digest(DigestSize, '\0');
    for (std::size_t i = 0; i < DigestSize; ++i) {
        digest[i] = static_cast<char>(state_[i / 4] >> (24 - 8 * (i % 4)));
    }
    return digest;
}

std::string Sha256Of(std::string_view data) {
    TSha256 hash;
    hash.Update(data.data(), data.size());
    return hash.Finish();
}
