// The rights the stores work with: under an elevated process (Wine runs every
// program so) the user's locations are worked on as a member of no
// Administrators group, on this thread only and until the scope ends; the
// machine's with the process's own rights. Wine checks no file's access list,
// so what the lowered rights keep out of reach shows only on Windows.
#include "StartupTestSupport.h"

#include "common/StartToken.h"
#include "core/StrCon.h"
#include "startup/StoreLinks.h"
#include "startup/uStartupMgr.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <iostream>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

bool AnAdministrator()
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    UniqueSid admins;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, admins.put()))
        return false;
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, admins.get(), &member) && member;
}

struct TMachineLockTry {
    UniqueKernelHandle started{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::string outcome;
};

DWORD WINAPI TryMachineLock(void* param) noexcept
{
    auto* const attempt = static_cast<TMachineLockTry*>(param);
    SetEvent(attempt->started.get());
    try {
        const TStoreFileLock lock = MachineStoresLock();
        attempt->outcome = "taken";
    } catch (const std::exception& e) {
        attempt->outcome = e.what();
    }
    return 0;
}

void CALLBACK WakeUp(ULONG_PTR) {}

// Who the file's access list lets in, each with all rights, and whether it
// is protected from what its folder hands down.
std::set<std::string> FullAccessOf(const std::wstring& path, bool& isProtected)
{
    const UniqueFile file(
        CreateFileW(path.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!file || GetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                                 nullptr, &descriptor) != ERROR_SUCCESS)
        return {"unread"};
    const UniqueLocalMemory owned(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    isProtected = GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED);
    std::set<std::string> whom;
    for (DWORD i = 0; list && i < list->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(list, i, &ace))
            return {"unread"};
        const auto* const allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        wchar_t* text = nullptr;
        if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || allowed->Mask != FILE_ALL_ACCESS ||
            !ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text))
            return {"entry of type " + std::to_string(allowed->Header.AceType) + ", rights " +
                    std::to_string(allowed->Mask)};
        const UniqueLocalMemory ownedText(text);
        whom.insert(Utf8FromWide(text));
    }
    return whom;
}

} // namespace

// The machine's lock file as a power cut leaves it, with the access its
// folder hands down: the next take resets it to a protected list of
// administrators and the system. A take waiting for another holder ends at
// the APC a stopping worker's thread is sent, and says so.
TEST(StoreLinks, TheMachineLockIsTheAdministratorsAloneAndItsWaitEndsForAStop)
{
    ClearLocation(AllUsersStartupFolder);
    const std::string store = GetStpDesc(AllUsersStartupFolder).Path + "\\Keldora";
    ASSERT_TRUE(ForceDirectories(store));
    const std::wstring lockFile = WideFromUtf8(store + "\\Keldora.lock");
    TMachineLockTry attempt;
    {
        const UniqueFile held(CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                          FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        ASSERT_TRUE(held);
        const UniqueKernelHandle thread(CreateThread(nullptr, 0, TryMachineLock, &attempt, 0, nullptr));
        ASSERT_TRUE(thread);
        ASSERT_EQ(WaitForSingleObject(attempt.started.get(), 30000), WAIT_OBJECT_0);
        ASSERT_TRUE(QueueUserAPC(WakeUp, thread.get(), 0));
        ASSERT_EQ(WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
    }
    EXPECT_NE(attempt.outcome.find("the program is stopping"), std::string::npos) << attempt.outcome;
    EXPECT_NE(attempt.outcome.find("Keldora.lock"), std::string::npos) << attempt.outcome;

    // Whether this system keeps a file's access list at all: Wine may make
    // one from the file's mode instead, and then nothing below can be seen.
    const std::wstring probe = WideFromUtf8(store + "\\probe");
    bool kept = false;
    {
        const UniqueFile file(CreateFileW(probe.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_ALWAYS,
                                          FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;BA)(A;;FA;;;SY)",
                                                                         SDDL_REVISION_1, &descriptor, nullptr));
        const UniqueLocalMemory owned(descriptor);
        BOOL present = FALSE, defaulted = FALSE;
        PACL list = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
        bool probeProtected = false;
        kept = file &&
               SetSecurityInfo(file.get(), SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                               list, nullptr) == ERROR_SUCCESS &&
               FullAccessOf(probe, probeProtected) == std::set<std::string>{"S-1-5-18", "S-1-5-32-544"};
    }
    {
        const TStoreFileLock fresh = MachineStoresLock();
        bool freshProtected = !kept;
        if (kept) {
            EXPECT_EQ(FullAccessOf(lockFile, freshProtected), (std::set<std::string>{"S-1-5-18", "S-1-5-32-544"}))
                << "made with its list";
        }
        EXPECT_TRUE(freshProtected);
    }
    EXPECT_FALSE(FileExists(Utf8FromWide(lockFile)));
    {
        const UniqueFile left(CreateFileW(lockFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(left);
    }
    if (!kept)
        std::cout << "This system keeps no file access list here: only that the lock's reset succeeded is shown.\n";
    bool isProtected = true;
    if (kept)
        EXPECT_NE(FullAccessOf(lockFile, isProtected), (std::set<std::string>{"S-1-5-18", "S-1-5-32-544"}));
    {
        const TStoreFileLock lock = MachineStoresLock();  // raises when the list could not be reset
        isProtected = !kept;
        if (kept)
            EXPECT_EQ(FullAccessOf(lockFile, isProtected), (std::set<std::string>{"S-1-5-18", "S-1-5-32-544"}));
        EXPECT_TRUE(isProtected) << "nothing handed down from the folder";
    }
    EXPECT_FALSE(FileExists(Utf8FromWide(lockFile))) << "the lock goes with its holder";

    // A leftover that no take could delete on close (read-only) is taken all
    // the same. (Wine opens a folder of its name as a file, so the refusal of
    // one cannot be seen here.)
    {
        const UniqueFile left(CreateFileW(lockFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_READONLY, nullptr));
        ASSERT_TRUE(left);
    }
    EXPECT_NO_THROW(MachineStoresLock());
    EXPECT_FALSE(FileExists(Utf8FromWide(lockFile)));

    ClearLocation(AllUsersStartupFolder);
}

TEST(StoreLinks, AnElevatedProcessWorksOnTheUsersFilesWithTheUsersRightsOnly)
{
    ASSERT_TRUE(IsElevatedProcess());
    ASSERT_TRUE(AnAdministrator());
    {
        const TActingAsUser user(/*userLocation=*/true);
        EXPECT_FALSE(user.MoreRightsThanUser());
        EXPECT_FALSE(AnAdministrator()) << "the Administrators group for deny only";
        bool otherThread = false;
        std::thread([&] { otherThread = AnAdministrator(); }).join();
        EXPECT_TRUE(otherThread) << "this thread only";
    }
    EXPECT_TRUE(AnAdministrator()) << "reverted with the scope";
    const TActingAsUser machine(/*userLocation=*/false);
    EXPECT_TRUE(machine.MoreRightsThanUser()) << "so no link may lie anywhere on the machine folder's path";
    EXPECT_TRUE(AnAdministrator());
}
