#pragma once
// What an installed copy would do with a published information file: the
// engine's rules (update_core, the same units the engine runs) applied one by
// one, every failure named by its rule, so a publisher sees all that is wrong
// at once. With the release folder, each listed file is also compared with
// the folder's file. Platform-free: no <windows.h> here; the signature is
// checked by the function the caller passes (the platform's cryptography).

#include "kdrelease/ReleaseInfo.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct VerifyRequest {
    std::string infoText;
    std::string publicKey;  // the PublicKey line of update.ini
    std::string product;    // Product of update.ini; empty: any, but one must be named
    std::string installed;  // an installed version to decide against; empty: none
    TauUtcTime now;
    // A file that expires before this moment is warned about.
    TauUtcTime warnBefore;
    // The files of the release folder, when given.
    std::optional<std::vector<ReleaseFile>> folder;
};

struct RuleFailure {
    std::string rule;  // "signature", "product", "expiry", ...
    std::string reason;
    bool operator==(const RuleFailure&) const = default;
};

struct VerifyReport {
    std::vector<RuleFailure> failures;
    // With no failure: what an installed copy does, "would install 2.0
    // (3 files) for product X, ..." or "would find no update ...".
    std::string outcome;
    // With no failure: a line for the publisher, or empty.
    std::string warning;
};

// verify warns about a file that expires sooner than this.
inline constexpr int ExpiryWarningDays = 14;

using SignatureCheck = std::function<bool(std::string_view xy, std::string_view message, std::string_view rs)>;

VerifyReport VerifyRelease(const VerifyRequest& request, const SignatureCheck& verify);

// The key as written after PublicKey= (a whole "PublicKey=..." line is taken too).
std::string PublicKeyOfLine(std::string_view line);
