#include "http/HttpProgress.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace {

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto length = input.ConsumeIntegral<std::int64_t>();
    const auto bytes = input.ConsumeIntegral<std::int64_t>();
    const auto elapsed = input.ConsumeIntegral<std::uint32_t>();
    const TransferProgress p = ComputeProgress(length, bytes, elapsed);
    Require(p.percentsDone <= 100, "percent above 100");
    Require(p.estimatedTimeLeft >= 0 && p.elapsedTime >= 0, "negative time");
    Require(p.transferRate >= 0.0f, "negative rate");
    Require(length > 0 || (p.percentsDone == 0 && p.estimatedTimeLeft == 0), "figures for an unknown size");
    Require(TotalPercentsDone(p.percentsDone, input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>()) <= 100,
            "total percent above 100");
    return 0;
}
