#include "startup/StartupApproved.h"

#include "common/SystemFacts.h"
#include "core/ApprovalValue.h"
#include "core/StrCon.h"
#include "winutil/RegKey.h"

#include <vector>

namespace {

constexpr const char* kApprovedPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\";

struct ApprovalKey {
    HKEY root = nullptr;
    std::string path;
};

std::optional<ApprovalKey> ApprovalKeyOf(const TStpDesc& location)
{
    switch (location.Location) {
    case 0:
        return ApprovalKey{HKEY_LOCAL_MACHINE,
                           std::string(kApprovedPath) + (location.View == KEY_WOW64_32KEY ? "Run32" : "Run")};
    case 1:
        return ApprovalKey{HKEY_CURRENT_USER, std::string(kApprovedPath) + "Run"};
    case AllUsersStartupFolder:
        return ApprovalKey{HKEY_LOCAL_MACHINE, std::string(kApprovedPath) + "StartupFolder"};
    case UserStartupFolder:
        return ApprovalKey{HKEY_CURRENT_USER, std::string(kApprovedPath) + "StartupFolder"};
    default:
        return std::nullopt;
    }
}

// The user's keys are one in both views.
std::vector<REGSAM> ViewsOf(const ApprovalKey& key)
{
    if (key.root == HKEY_LOCAL_MACHINE && Is64BitWindows())
        return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    return {0};
}

} // namespace

TApprovals::TApprovals(const TStpDesc& location)
{
    const std::optional<ApprovalKey> place = ApprovalKeyOf(location);
    if (!place)
        return;
    for (const REGSAM view : ViewsOf(*place)) {
        std::vector<RegKey::Value> values;
        const RegKey key = RegKey::Open(place->root, place->path, KEY_READ | view);
        if (!key || key.Values(values) != ERROR_SUCCESS)
            continue;
        // The first view's choice stands.
        for (RegKey::Value& value : values) {
            if (ApprovalOf(value.type == REG_BINARY, value.data) != TApproval::apNone)
                choices_.emplace(UpperText(value.name), std::move(value.data));
        }
    }
}

std::optional<std::string> TApprovals::Find(std::string_view entry) const
{
    const auto found = choices_.find(UpperText(entry));
    return found == choices_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

bool WriteApproval(const TStpDesc& location, std::string_view entry, std::string_view bytes)
{
    const std::optional<ApprovalKey> place = ApprovalKeyOf(location);
    if (!place)
        return false;
    const RegKey key = RegKey::Create(place->root, place->path, KEY_READ | KEY_WRITE | ViewsOf(*place).front());
    return key && key.WriteBinary(entry, bytes) == ERROR_SUCCESS && RegFlushKey(key.get()) == ERROR_SUCCESS;
}
