#include "update/auRollout.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string product = input.ConsumeRandomLengthString(64);
    const std::string text = input.ConsumeRemainingBytesAsString();

    const std::string machine = MachineValueFromState(text);
    Require(machine.empty() || IsMachineValue(machine), "a state value that is not one");
    Require(machine.empty() || text.size() <= UpdateStateLimit, "an oversized state was trusted");
    if (!machine.empty())
        Require(MachineValueFromState(MachineStateText(machine)) == machine, "the value does not read back");
    const int bucket = RolloutBucket(text, product);
    Require(bucket >= 0 && bucket < RolloutBuckets, "bucket out of range");
    Require(RolloutBucket(text, product) == bucket, "bucket not stable");
    return 0;
}
