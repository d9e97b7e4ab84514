#include "StartupTestSupport.h"

#include "core/StrCon.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <vector>


namespace {

void ClearFolder(const std::string& folder)
{
    for (const FoundFile& f : FindFiles(AddBackslash(folder) + "*")) {
        const std::string path = AddBackslash(folder) + f.name;
        SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (f.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            ClearFolder(path);
            RemoveDirectoryW(WideFromUtf8(path).c_str());
        } else {
            DeleteFileW(WideFromUtf8(path).c_str());
        }
    }
}

constexpr const char* kApprovedPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\";

void ClearApproved(std::uint8_t location)
{
    const HKEY root = IsMachineLocation(location) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::vector<const char*> names =
        IsFolderLocation(location) ? std::vector<const char*>{"StartupFolder"} : std::vector<const char*>{"Run", "Run32"};
    for (const char* name : names) {
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
            static_cast<void>(RegKey::DeleteTree(root, std::string(kApprovedPath) + name, view));
    }
}

} // namespace

RegKey OpenApprovedKey(HKEY root, const char* name, REGSAM view)
{
    return RegKey::Create(root, std::string(kApprovedPath) + name, KEY_ALL_ACCESS | view);
}

RegKey OpenRunKey(std::uint8_t location, REGSAM view)
{
    const TStpDesc desc = GetStpDesc(location);
    return RegKey::Create(desc.RootKey, desc.Path, KEY_ALL_ACCESS | view);
}

void ClearLocation(std::uint8_t location)
{
    const TStpDesc desc = GetStpDesc(location);
    if (location <= 1 || IsFolderLocation(location))
        ClearApproved(location);
    if (IsFolderLocation(location)) {
        ClearFolder(desc.Path);
        return;
    }
    for (const REGSAM view : LocationViews(location)) {
        static_cast<void>(RegKey::DeleteTree(desc.RootKey, desc.Path, view));
        RegKey::Create(desc.RootKey, desc.Path, KEY_ALL_ACCESS | view);
    }
}

void WriteFile(const std::string& path, const std::string& content)
{
    WriteWholeFile(path, content);
}

std::string ReadFile(const std::string& path)
{
    return ReadWholeFile(path, 64 << 20).value_or(std::string());
}

StartupFolderScope::StartupFolderScope(const std::string& folder)
    : shellFolders_(RegKey::Create(HKEY_CURRENT_USER,
                                   "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                   KEY_READ | KEY_WRITE))
{
    if (!ForceDirectories(folder)) {
        ready_ = testing::AssertionFailure() << "cannot create " << folder;
        return;
    }
    if (!shellFolders_) {
        ready_ = testing::AssertionFailure() << "cannot open User Shell Folders";
        return;
    }
    before_ = shellFolders_.ReadString("Startup");
    written_ = shellFolders_.WriteString("Startup", folder) == ERROR_SUCCESS;
    if (!written_) {
        ready_ = testing::AssertionFailure() << "cannot write the Startup value";
        return;
    }
    const std::string reported = GetStpDesc(9).Path;
    if (!SameText(reported, folder))
        ready_ = testing::AssertionFailure() << "the Startup folder is " << reported << ", not " << folder;
}

StartupFolderScope::~StartupFolderScope()
{
    if (!written_)
        return;
    ClearLocation(9);
    EXPECT_EQ(before_ ? shellFolders_.WriteString("Startup", *before_, REG_EXPAND_SZ)
                      : shellFolders_.DeleteValue("Startup"),
              ERROR_SUCCESS);
}

ForgettingStartupFolder::ForgettingStartupFolder()
{
    if (Unavailable().empty())
        startup_.emplace(folder_);
}

testing::AssertionResult ForgettingStartupFolder::Ready() const
{
    if (!startup_)
        return testing::AssertionFailure() << Unavailable();
    return startup_->Ready();
}
