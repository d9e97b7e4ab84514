#include "update/auCheckState.h"
#include "update/auResume.h"
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
    // Late 2025 in the seconds of HTTPDateToUTCSeconds.
    constexpr std::int64_t now = 63900000000;
    const TauCheckState state = CheckStateFromText(text, now);
    Require(state.retryAfter == 0 || (state.retryAfter > now && state.retryAfter - now <= RetryAfterLimitSeconds),
            "a past or huge wait was kept");
    Require(state.etag.size() <= ValidatorLimit + 2 && state.lastModified.size() <= ValidatorLimit,
            "a huge validator was kept");
    Require(CheckStateFromText(CheckStateText(state), now) == state, "the state does not read back");
    const TauCheckOwner owner{product, product, product};
    const TauCheckState used = StateForCheck(state, owner, now);
    Require(used.owner == owner, "the state is used for another check");
    Require(used.retryAfter == 0 || used.retryAfter - now <= RetryAfterLimitSeconds, "a huge wait was used");
    Require(used.etag.empty() || (state.owner.address == owner.address && state.owner.version == owner.version),
            "another check's validators were used");
    const TauCheckState answer = ValidatorsOf(text, now);
    Require(CheckStateFromText(CheckStateText(answer), now) == answer, "validators do not read back");
    if (const auto until = RetryAfterUntil(product, now))
        Require(*until > now && *until - now <= RetryAfterLimitSeconds, "a past or huge Retry-After");
    if (const auto record = ParseResumeRecord(text)) {
        Require(record->length > 0 && record->sha256.size() == 32, "a resume record of nothing was read");
        Require(ResumeRecordText(*record) == text, "the resume record does not read back");
    }
    const int bucket = RolloutBucket(text, product);
    Require(bucket >= 0 && bucket < RolloutBuckets, "bucket out of range");
    Require(RolloutBucket(text, product) == bucket, "bucket not stable");
    return 0;
}
