#pragma once
// The command line of kdrelease: a sub-command, its options ("--name value"
// or "--name=value", each at most once but --previous, "--" ends them) and
// its operands.
// Platform-free: no <windows.h> here; the arguments arrive as UTF-8.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A command line kdrelease cannot run; the text says what to change.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class ReleaseVerb { Help, Keygen, Make, Verify, Rotate };

struct ReleaseOptions {
    ReleaseVerb verb = ReleaseVerb::Help;
    bool force = false;
    bool allowHttp = false;
    bool noExpiry = false;  // make: --no-expiry
    std::string key;  // make, rotate: --key
    std::string newKey;  // rotate: --new-key
    std::string version;
    std::string product;
    std::string baseURL;
    std::string messageFile;
    std::string moreInfo;
    std::string expiresDays;
    std::string rollout;
    std::string installedFiles;  // make, verify: --installed-files
    std::string publicKey;  // verify
    std::string installed;
    std::vector<std::string> previous;  // make, verify: --previous, once per earlier release folder
    std::string previousLimit;  // make: --previous-limit
    std::string patchShare;  // make: --patch-share
    std::vector<std::string> operands;
};

// Throws UsageError for an unknown sub-command or option, an option of
// another sub-command, a repeated or valueless option, a missing required
// option and a wrong number of operands.
ReleaseOptions ParseReleaseOptions(const std::vector<std::string>& arguments);

// The help text: every sub-command with its options.
std::string_view ReleaseUsage();
