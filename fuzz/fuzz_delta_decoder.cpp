// A download road is bytes from the network: as a compressed form and as a
// patch against a small fixed file, any bytes in any split must be decoded or
// refused with a reason, never handing out more than the signed size, and
// only a road that is accepted has handed out exactly that size. Half the
// inputs are real frames of the fuzzer's bytes with a few bytes changed, so
// the decoder's depths are reached, not only its header checks.
#include "delta/DeltaDecoder.h"
#include "delta/DeltaEncoder.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::uint8_t>& Source() {
    static const std::vector<std::uint8_t> source = [] {
        std::vector<std::uint8_t> bytes;
        for (unsigned i = 0; bytes.size() < 8192; ++i) {
            const std::string line = "line " + std::to_string(i * 7919 % 1000) + " of the installed file\n";
            bytes.insert(bytes.end(), line.begin(), line.end());
        }
        return bytes;
    }();
    return source;
}

void Check(TDeltaDecoder decoder, const std::vector<std::uint8_t>& road, std::uint64_t outputSize,
           FuzzedDataProvider& input) {
    std::uint64_t handed = 0;
    const auto take = [&](std::span<const std::uint8_t> piece) {
        Require(!piece.empty(), "an empty piece handed out");
        handed += piece.size();
        Require(handed <= outputSize, "more handed out than signed");
    };
    std::string refusal;
    std::size_t at = 0;
    while (at < road.size() && refusal.empty()) {
        const std::size_t size = std::min<std::size_t>(road.size() - at, input.ConsumeIntegralInRange(1, 70000));
        refusal = decoder.Feed({road.data() + at, size}, take);
        at += size;
    }
    if (refusal.empty()) {
        refusal = decoder.Finish();
    }
    Require(refusal.empty() || decoder.Finish() == refusal, "a refusal that changed");
    Require(!refusal.empty() || handed == outputSize, "accepted with another size than signed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool patch = input.ConsumeBool();
    const bool made = input.ConsumeBool();
    std::uint64_t outputSize = input.ConsumeIntegralInRange<std::uint64_t>(0, 1 << 17);
    std::vector<std::uint8_t> road;
    if (made) {
        const std::vector<std::uint8_t> content = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 1 << 16));
        road = patch ? EncodePatch(Source(), content, 1) : EncodeCompressed(content, 1);
        if (input.ConsumeBool()) {
            outputSize = content.size();
        }
        for (int edits = input.ConsumeIntegralInRange(0, 4); edits > 0 && !road.empty(); --edits) {
            road[input.ConsumeIntegralInRange<std::size_t>(0, road.size() - 1)] ^= input.ConsumeIntegralInRange(1, 255);
        }
    } else {
        road = input.ConsumeRemainingBytes<std::uint8_t>();
    }
    Check(patch ? TDeltaDecoder::Patch(Source(), outputSize) : TDeltaDecoder::Inflate(outputSize), road, outputSize,
          input);
    return 0;
}
