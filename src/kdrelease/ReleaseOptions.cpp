#include "ReleaseOptions.h"

#include <algorithm>
#include <array>

namespace {

struct OptionSpec {
    std::string_view name;
    ReleaseVerb verb;
    std::string ReleaseOptions::*value = nullptr;  // null for a flag
    bool ReleaseOptions::*flag = nullptr;
    bool required = false;
    std::vector<std::string> ReleaseOptions::*list = nullptr;  // given once per value
};

constexpr std::array<OptionSpec, 23> Options = {{
    {"force", ReleaseVerb::Keygen, nullptr, &ReleaseOptions::force},
    {"key", ReleaseVerb::Make, &ReleaseOptions::key, nullptr, true},
    {"version", ReleaseVerb::Make, &ReleaseOptions::version, nullptr, true},
    {"product", ReleaseVerb::Make, &ReleaseOptions::product, nullptr, true},
    {"base-url", ReleaseVerb::Make, &ReleaseOptions::baseURL, nullptr, true},
    {"message", ReleaseVerb::Make, &ReleaseOptions::messageFile},
    {"more-info", ReleaseVerb::Make, &ReleaseOptions::moreInfo},
    {"expires", ReleaseVerb::Make, &ReleaseOptions::expiresDays},
    {"rollout", ReleaseVerb::Make, &ReleaseOptions::rollout},
    {"no-expiry", ReleaseVerb::Make, nullptr, &ReleaseOptions::noExpiry},
    {"installed-files", ReleaseVerb::Make, &ReleaseOptions::installedFiles},
    {"allow-http", ReleaseVerb::Make, nullptr, &ReleaseOptions::allowHttp},
    {"force", ReleaseVerb::Make, nullptr, &ReleaseOptions::force},
    {"previous", ReleaseVerb::Make, nullptr, nullptr, false, &ReleaseOptions::previous},
    {"previous-limit", ReleaseVerb::Make, &ReleaseOptions::previousLimit},
    {"patch-share", ReleaseVerb::Make, &ReleaseOptions::patchShare},
    {"previous", ReleaseVerb::Verify, nullptr, nullptr, false, &ReleaseOptions::previous},
    {"public-key", ReleaseVerb::Verify, &ReleaseOptions::publicKey, nullptr, true},
    {"product", ReleaseVerb::Verify, &ReleaseOptions::product},
    {"installed", ReleaseVerb::Verify, &ReleaseOptions::installed},
    {"installed-files", ReleaseVerb::Verify, &ReleaseOptions::installedFiles},
    {"key", ReleaseVerb::Rotate, &ReleaseOptions::key, nullptr, true},
    {"new-key", ReleaseVerb::Rotate, &ReleaseOptions::newKey, nullptr, true},
}};

constexpr std::string_view Usage =
    "kdrelease: makes and checks signed releases for the Keldora updater\n"
    "\n"
    "  kdrelease keygen [--force] publisher.pem\n"
    "      writes a new P-256 private key (PEM, as openssl writes it) and prints the\n"
    "      PublicKey= line for update.ini\n"
    "  kdrelease make --key publisher.pem --version 2.0 --product NAME --base-url URL\n"
    "                 [--message FILE] [--more-info URL] [--expires DAYS | --no-expiry]\n"
    "                 [--rollout PERCENT] [--installed-files NAME,...] [--allow-http]\n"
    "                 [--force] [--previous EARLIER]... [--previous-limit 3]\n"
    "                 [--patch-share 0.9] FOLDER\n"
    "      writes FOLDER/info.txt, signed, for every other file of FOLDER; each\n"
    "      file's address is URL followed by its name; it expires in 90 days\n"
    "      unless --expires or --no-expiry says otherwise; FOLDER/update.ini must\n"
    "      give this Version and Product, list the signing key in PublicKey and\n"
    "      name a file of the release (or of --installed-files) in ProcessName;\n"
    "      with --previous (once per earlier release folder, at most\n"
    "      --previous-limit of them, 1 to 8), FOLDER/roads gets each file's\n"
    "      compressed form and a patch from each earlier release's file of the\n"
    "      same name that differs, unless that patch is more than --patch-share\n"
    "      of the compressed form; the information file lists them\n"
    "  kdrelease verify --public-key KEY [--product NAME] [--installed VERSION]\n"
    "                   [--installed-files NAME,...] [--previous EARLIER]...\n"
    "                   info.txt [FOLDER]\n"
    "      checks a published information file with the updater's rules and says\n"
    "      what an installed copy would do; with FOLDER, each file and its\n"
    "      update.ini too, and each compressed form and patch of FOLDER/roads\n"
    "      rebuilt into its file (the patches' sources from the --previous folders)\n"
    "  kdrelease rotate --key old.pem --new-key new.pem FOLDER\n"
    "      lists the new key beside the old one in FOLDER/update.ini, so that the\n"
    "      release made from FOLDER (signed with old.pem) moves installed copies\n"
    "      to the new key; later releases are signed with new.pem\n"
    "\n"
    "Exit codes: 0 done (verify: the release would be installed), 1 refused or\n"
    "failed, 2 a bad command line.\n";

struct VerbName {
    std::string_view name;
    ReleaseVerb verb;
    std::size_t minOperands;
    std::size_t maxOperands;
    std::string_view operandsText;
};
constexpr std::array<VerbName, 6> Verbs = {{
    {"keygen", ReleaseVerb::Keygen, 1, 1, "one key file"},
    {"make", ReleaseVerb::Make, 1, 1, "one folder"},
    {"verify", ReleaseVerb::Verify, 1, 2, "the information file and maybe a folder"},
    {"rotate", ReleaseVerb::Rotate, 1, 1, "one folder"},
    {"help", ReleaseVerb::Help, 0, 0, "nothing more"},
    {"--help", ReleaseVerb::Help, 0, 0, "nothing more"},
}};

const VerbName& FindVerb(std::string_view name)
{
    const auto found =
        std::find_if(Verbs.begin(), Verbs.end(), [&](const VerbName& verb) { return verb.name == name; });
    if (found == Verbs.end())
        throw UsageError("unknown sub-command \"" + std::string(name) + "\" (keygen, make, verify, rotate, help)");
    return *found;
}

const OptionSpec& FindOption(ReleaseVerb verb, std::string_view verbName, std::string_view name)
{
    const auto found = std::find_if(Options.begin(), Options.end(), [&](const OptionSpec& option) {
        return option.verb == verb && option.name == name;
    });
    if (found == Options.end())
        throw UsageError("unknown option --" + std::string(name) + " for " + std::string(verbName));
    return *found;
}

void RequireOptions(ReleaseVerb verb, std::string_view verbName, const ReleaseOptions& options)
{
    for (const OptionSpec& option : Options) {
        if (option.verb == verb && option.required && (options.*option.value).empty())
            throw UsageError(std::string(verbName) + " needs --" + std::string(option.name));
    }
}

}  // namespace

ReleaseOptions ParseReleaseOptions(const std::vector<std::string>& arguments)
{
    ReleaseOptions options;
    if (arguments.empty())
        return options;
    const VerbName& verb = FindVerb(arguments[0]);
    options.verb = verb.verb;
    std::vector<std::string_view> seen;
    bool operandsOnly = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (operandsOnly || !argument.starts_with("--")) {
            options.operands.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            operandsOnly = true;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(2, equals == std::string_view::npos ? argument.npos : equals - 2);
        const OptionSpec& option = FindOption(verb.verb, verb.name, name);
        if (option.list) {
            std::string value;
            if (equals != std::string_view::npos)
                value = argument.substr(equals + 1);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            if (value.empty())
                throw UsageError("--" + std::string(name) + " needs a value");
            (options.*option.list).push_back(std::move(value));
            continue;
        }
        if (std::find(seen.begin(), seen.end(), option.name) != seen.end())
            throw UsageError("--" + std::string(name) + " is given twice");
        seen.push_back(option.name);
        if (option.flag) {
            if (equals != std::string_view::npos)
                throw UsageError("--" + std::string(name) + " takes no value");
            options.*option.flag = true;
        } else if (equals != std::string_view::npos) {
            options.*option.value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            options.*option.value = arguments[++i];
        } else {
            throw UsageError("--" + std::string(name) + " needs a value");
        }
        if (option.value && (options.*option.value).empty())
            throw UsageError("--" + std::string(name) + " needs a value");
    }
    RequireOptions(verb.verb, verb.name, options);
    if (options.noExpiry && !options.expiresDays.empty())
        throw UsageError("--expires and --no-expiry exclude each other");
    if (options.operands.size() < verb.minOperands || options.operands.size() > verb.maxOperands)
        throw UsageError(std::string(verb.name) + " takes " + std::string(verb.operandsText));
    return options;
}

std::string_view ReleaseUsage()
{
    return Usage;
}
