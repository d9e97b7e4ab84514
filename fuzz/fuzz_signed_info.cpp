#include "update/auReleaseRules.h"
#include "update/auRoadChoice.h"
#include "update/auSignedInfo.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string key = input.ConsumeRandomLengthString(160);
    const std::string digest = input.ConsumeRandomLengthString(80);
    const std::string text = input.ConsumeRemainingBytesAsString();

    if (const auto xy = PublisherKeyXY(key))
        Require(xy->size() == 2 * P256FieldSize, "key of the wrong size");
    const TauPublisherKeys keys = PublisherKeysXY(key);
    Require(keys.failure.empty() != keys.keys.empty(), "a key list both failed and read");
    Require(keys.keys.size() <= PublisherKeyLimit, "more keys than an installed copy reads");
    if (const auto bytes = DecodeSha256Hex(digest))
        Require(bytes->size() == Sha256Size && digest.size() == 2 * Sha256Size, "digest of the wrong size");
    if (const auto bytes = DecodeBase64(text))
        Require(bytes->size() == text.size() / 4 * 3 - (text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0),
                "base64 of the wrong size");
    if (const auto rs = EcdsaSignatureToRS(text))
        Require(rs->size() == 2 * P256FieldSize && text.size() <= 72, "signature of the wrong size");

    const TauSignedInfo parts = SplitSignedInfo(text);
    if (parts.failure.empty()) {
        Require(parts.signature.size() == 2 * P256FieldSize, "signature of the wrong size");
        Require(text.starts_with(parts.signedText), "signed text is not the start of the file");
        Require(text.find('#', parts.signedText.size() + 1) == std::string::npos, "a key after the signature");
    } else {
        Require(parts.signature.empty() && parts.signedText.empty(), "a failure with a result");
    }

    const TauReleaseDigests digests = ReleaseDigests(TauInfoFileText(text));
    if (digests.failure.empty()) {
        Require(digests.files.size() == TauInfoFileText(text).FileList().size(), "a file without its digest");
        for (const auto& [url, bytes] : digests.files)
            Require(bytes.size() == Sha256Size, "digest of the wrong size");
    } else {
        Require(digests.files.empty(), "a failure with a result");
    }

    // The rules a signed file must meet here: a file that passes names the
    // product expected and has not expired.
    const TauInfoFileText info(text);
    if (const auto time = ParseUtcTime(key)) {
        Require(IsCalendarDate(time->date) && key.size() == 20, "a time that is no moment");
        const TauReleaseExpectation here{digest, *time, true};
        if (SignedReleaseFailure(info, here).empty()) {
            Require(digest.empty() || info.Value("product").size() == digest.size(), "another product passed");
            Require(IsPlainVersion(info.Value("version")), "a version that is not plain passed");
            const auto expires = ParseUtcTime(info.Value("expires"));
            Require(!info.Has("expires") || (expires && !(*expires < *time)), "an expired file passed");
        }
    }
    const TauReleaseRoads roads = ReleaseRoads(info);
    Require(roads.files.size() == info.FileList().size(), "roads of another list of files");
    for (const TauFileRoads& file : roads.files) {
        Require(!file.compressed || (file.compressed->sha256.size() == Sha256Size && !file.compressed->url.empty()),
                "a compressed form without its digest or address");
        Require(file.patches.size() <= PatchLimit, "more patches than a file may have");
        for (const TauPatch& patch : file.patches)
            Require(patch.sha256.size() == Sha256Size && patch.sourceSha256.size() == Sha256Size && !patch.url.empty(),
                    "a patch without its digests or address");
        // The engine's choice: only patches of the installed digest, none as
        // large as the whole file, the compressed form last.
        const std::uint64_t whole = text.size();
        const std::optional<std::string> installed =
            file.patches.empty() ? std::nullopt : std::optional<std::string>(file.patches.front().sourceSha256);
        const std::vector<TauRoad> chosen = CheaperRoads(file, installed, whole);
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            Require(chosen[i].size < whole, "a road as large as the file");
            Require(chosen[i].kind == TauRoad::Compressed ? i + 1 == chosen.size()
                                                          : chosen[i].sourceSha256 == *installed,
                    "a patch of another file, or the compressed form before a patch");
        }
    }
    if (UnverifiedReleaseFailure(key, info.FileList()).empty())
        Require(key.size() > 8, "an address that is no https address passed");
    return 0;
}
