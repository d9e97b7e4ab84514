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

std::string ReadMachineValue(const std::string& path)
{
    const auto text = ReadWholeFile(path, UpdateStateLimit);
    return text ? MachineValueFromState(*text) : std::string();
}

// A reader sees the old file or the new one, never a part; without
// `replace` a file already there is kept.
bool WriteAtomically(const std::string& path, const std::string& text, bool replace)
{
    const std::string temporary = path + "." + RandomHex() + ".tmp";
    if (WriteWholeFile(temporary, text) && MoveWrittenThrough(temporary, path, replace))
        return true;
    DeleteAnyFile(temporary);
    return false;
}

} // namespace

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
