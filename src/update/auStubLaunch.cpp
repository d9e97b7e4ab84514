#include "update/auStubLaunch.h"

#include "update/auCng.h"
#include "winutil/ResourceFile.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <vector>

namespace {

constexpr const char* StubFileName = "Zeredira3.exe";

std::string TemporaryFolder()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        return {};
    std::string path = Utf8FromWide(std::wstring_view(folder, length));
    if (path.back() != '\\')
        path += '\\';
    return path;
}

// A protected DACL with one entry: full control for the token's user,
// inherited by everything created inside.
class OwnerOnlySecurity {
public:
    OwnerOnlySecurity()
    {
        UniqueKernelHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
            return;
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        user_.resize(size);
        if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size))
            return;
        const PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* acl = reinterpret_cast<PACL>(acl_.data());
        ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
                 AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                                       sid) &&
                 InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
                 SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    }

    SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }
    // Sets the DACL again on what was created: a system that does not apply
    // the one given at creation, or inheritance, gets it this way.
    bool Apply(const std::string& path)
    {
        return ready_ && SetFileSecurityW(WideFromUtf8(path).c_str(), DACL_SECURITY_INFORMATION, &descriptor_);
    }

private:
    std::vector<BYTE> user_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

std::string MakePrivateFolder(OwnerOnlySecurity& security)
{
    const std::string temporary = TemporaryFolder();
    if (temporary.empty() || !security.Attributes())
        return {};
    // A name taken already (by chance or planted) is never reused.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const std::string random = RandomHex();
        if (random.empty())
            return {};
        const std::string folder = temporary + PrivateFolderPrefix + random;
        if (CreateDirectoryW(WideFromUtf8(folder).c_str(), security.Attributes()))
            return security.Apply(folder) ? folder + "\\" : std::string();
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

bool WriteNewFile(const std::string& path, const std::string& text)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool DeleteWide(const std::string& path)
{
    const std::wstring wide = WideFromUtf8(path);
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(wide.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// A folder whose stub still runs stays: its image cannot be deleted while it
// runs, and it holds its manifest open without sharing deletion.
void RemovePrivateFolder(const std::string& folder)
{
    if (!DeleteWide(folder + StubFileName) || !DeleteWide(folder + std::string(ManifestFileName)))
        return;
    RemoveDirectoryW(WideFromUtf8(folder).c_str());
}

bool StartProcess(const std::string& program, std::string commandLine)
{
    std::wstring line = WideFromUtf8(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(WideFromUtf8(program).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

ProductProcess ProductIdentity(DWORD processId)
{
    const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    FILETIME created, exited, kernel, user;
    if (processId == 0 || !process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        return {};
    return {processId, (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime};
}

std::string CreatePrivateFolder()
{
    OwnerOnlySecurity security;
    return MakePrivateFolder(security);
}

bool LaunchStub(HMODULE module, const std::string& programPath, const std::string& restartArgument,
                const std::string& manifest)
{
    OwnerOnlySecurity security;
    const std::string folder = MakePrivateFolder(security);
    if (folder.empty())
        return false;
    const std::string stub = folder + StubFileName;
    const std::string manifestPath = folder + std::string(ManifestFileName);
    // Quoted: the temporary folder and the program's folder may hold blanks.
    if (!WriteResourceToFile(module, "AUUPG", "AUUPG", stub) || !security.Apply(stub) ||
        !WriteNewFile(manifestPath, manifest) || !security.Apply(manifestPath) ||
        !StartProcess(stub, "\"" + stub + "\" \"" + programPath + "\" " + restartArgument)) {
        RemovePrivateFolder(folder);
        return false;
    }
    return true;
}

void RemoveStalePrivateFolders()
{
    const std::string temporary = TemporaryFolder();
    if (temporary.empty())
        return;
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileW(WideFromUtf8(temporary + PrivateFolderPrefix + "*").c_str(), &found));
    if (!search)
        return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemovePrivateFolder(temporary + Utf8FromWide(found.cFileName) + "\\");
    } while (FindNextFileW(search.get(), &found));
}
