#include "update/auUpdateState.h"

#include "core/StrCon.h"
#include "startup/uStartupMgr.h"
#include "update/auCng.h"
#include "update/auRollout.h"
#include "update/stub/StubFiles.h"
#include "winutil/FindFiles.h"
#include "winutil/WholeFile.h"

#include <shlobj.h>

namespace {

constexpr const char* MachineFileName = "machine.state";
// Seconds from 0001-01-01 to 1601-01-01, where file times start.
constexpr std::int64_t FileTimeEpochSeconds = 50491123200;

std::string ReadMachineValue(const std::string& path)
{
    const auto text = ReadWholeFile(path, UpdateStateLimit);
    return text ? MachineValueFromState(*text) : std::string();
}

} // namespace

bool WriteAtomically(const std::string& path, const std::string& text, bool replace)
{
    const std::string temporary = path + "." + RandomHex() + ".tmp";
    if (WriteFlushed(temporary, text) && MoveWrittenThrough(temporary, path, replace))
        return true;
    DeleteAnyFile(temporary);
    return false;
}

std::string DefaultUpdateStateFolder()
{
    const std::string local = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA);
    return local.empty() ? std::string() : AddBackslash(local) + "Keldora\\Updates\\";
}

std::string MachineValue(const std::string& folder)
{
    if (folder.empty() || !ForceDirectories(folder))
        return {};
    const std::string path = AddBackslash(folder) + MachineFileName;
    // Looked at before the read: a file there then and unreadable is
    // garbled and replaced; one made since by another copy is kept.
    const bool garbled = FileExists(path);
    if (std::string value = ReadMachineValue(path); !value.empty())
        return value;
    const std::string value = RandomHex();
    if (value.empty())
        return {};
    WriteAtomically(path, MachineStateText(value), /*replace=*/garbled);
    return ReadMachineValue(path);
}

std::int64_t UtcSecondsNow()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return FileTimeEpochSeconds + static_cast<std::int64_t>(ticks / 10000000);
}

TauCheckState LoadCheckState(const std::string& folder, const TauCheckOwner& owner, std::int64_t now)
{
    if (folder.empty())
        return StateForCheck({}, owner, now);
    // The former file was shared by every product without a name: whatever
    // it holds may be another product's, so it is never used.
    DeleteAnyFile(AddBackslash(folder) + FormerCheckStateFileName(owner.product));
    const auto text =
        ReadWholeFile(AddBackslash(folder) + CheckStateFileName(owner.address, owner.product), UpdateStateLimit);
    return StateForCheck(text ? CheckStateFromText(*text, now) : TauCheckState(), owner, now);
}

bool SaveCheckState(const std::string& folder, const TauCheckState& state)
{
    return !folder.empty() && ForceDirectories(folder) &&
           WriteAtomically(AddBackslash(folder) + CheckStateFileName(state.owner.address, state.owner.product),
                           CheckStateText(state), /*replace=*/true);
}
