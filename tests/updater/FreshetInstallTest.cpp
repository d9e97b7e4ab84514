// freshet.exe hands over to the real stub, end to end: the stub runs from a
// private folder, waits for a product that ignores the close request and
// holds a data file, installs only the files the engine checked (in folders
// named outside the code page too), and every outcome that is not an install
// is told by the next freshet.exe run.
#include "FreshetInstallRun.h"
#include "Publisher.h"
#include "HttpTestServer.h"
#include "common/ScratchFolder.h"
#include "common/SmallDisk.h"
#include "common/TextLines.h"
#include "common/AppPaths.h"
#include "common/WineSupport.h"
#include "update/auStubLaunch.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/ProfileFile.h"
#include "winutil/WideText.h"

#include <aclapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {


// The DACL of a path: protected, and each entry's SID.
struct Dacl {
    bool isProtected = false;
    std::vector<std::string> sids;
};

Dacl DaclOf(const std::string& path)
{
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    Dacl result;
    if (GetNamedSecurityInfoW(WideFromUtf8(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &acl, nullptr, &descriptor) != ERROR_SUCCESS)
        return result;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    result.isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)))
            continue;
        wchar_t* text = nullptr;
        ConvertSidToStringSidW(&ace->SidStart, &text);
        result.sids.push_back(text ? Utf8FromWide(text) : "?");
        LocalFree(text);
    }
    LocalFree(descriptor);
    return result;
}

std::string OwnSid()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    char buffer[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    const std::string sid = Utf8FromWide(text);
    LocalFree(text);
    return sid;
}

bool OpensForWriting(const std::string& path)
{
    const UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                      FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(file);
}

TEST(FreshetInstall, AProductThatIgnoresTheCloseRequestIsWaitedForAndStartedOnce)
{
    InstallRun run;
    // Strays beside the release: a cut download, anyone's file.
    run.folder.AddFile("app\\helper.exe.uTMP", "a stray program");
    run.folder.AddFile("app\\version.dll.uTMP", "a stray library");
    const std::string updater = ReadWholeFile(run.App("freshet.exe"));

    const UniqueKernelHandle product =
        run.StartProduct("--ignore-close --hold-data data.txt --exit-on " + run.exitName);
    const std::string stubFolder = run.StubFolder();
    ASSERT_FALSE(stubFolder.empty()) << "the stub runs from a private folder";
    // The folder is there before its files: they are read once the stub runs.
    const std::string manifest = stubFolder + "manifest.txt";
    EXPECT_TRUE(PumpUntil(
        [&] {
            return GetFileAttributesW(WideFromUtf8(manifest).c_str()) != INVALID_FILE_ATTRIBUTES &&
                   !OpensForWriting(manifest);
        },
        60000))
        << "the stub holds its manifest";
    // While the stub waits: only the caller may use its folder, and nobody
    // may write the stub or its manifest.
    // Wine reports a DACL made from the host's file mode (the owner, and
    // SYSTEM for it), not the one set: what it can show is that nobody else
    // is granted anything.
    for (const std::string& path : {stubFolder.substr(0, stubFolder.size() - 1), stubFolder + "manifest.txt",
                                     stubFolder + "Zeredira3.exe"}) {
        const Dacl dacl = DaclOf(path);
        EXPECT_NE(std::find(dacl.sids.begin(), dacl.sids.end(), OwnSid()), dacl.sids.end()) << path;
        for (const std::string& sid : dacl.sids)
            EXPECT_TRUE(sid == OwnSid() || sid == "S-1-5-18") << path << " grants " << sid;
    }
    EXPECT_FALSE(OpensForWriting(stubFolder + "Zeredira3.exe"));
    EXPECT_EQ(run.Starts().size(), 1u) << "nothing started while the product runs";
    EXPECT_EQ(ReadWholeFile(run.App("data.txt")), "old data") << "nothing replaced while the product runs";

    run.EndProduct();
    EXPECT_EQ(WaitForExit(product.get(), 60000), 0u);
    ASSERT_TRUE(PumpUntil([&] { return run.Starts().size() >= 2; }, 60000));
    Sleep(1500);
    const std::vector<std::string> starts = run.Starts();
    ASSERT_EQ(starts.size(), 2u) << "started once more, after it had ended";
    EXPECT_NE(starts[1].find("|" + std::to_string(run.newProduct.size()) + "|"), std::string::npos) << starts[1];
    EXPECT_EQ(ReadWholeFile(run.App("data.txt")), "new data");
    EXPECT_EQ(ProfileFile(run.App("update.ini")).ReadString("UpdateInfo", "Version"), "2.0")
        << ReadWholeFile(run.log) << ReadWholeFile(run.events);
    EXPECT_EQ(ReadWholeFile(run.App("freshet.exe")), updater) << "no stray became the updater";
    EXPECT_FALSE(FileExists(run.App("helper.exe")));
    EXPECT_FALSE(FileExists(run.App("version.dll")));
    EXPECT_FALSE(run.HasPending());
    EXPECT_NE(ReadWholeFile(run.events).find("close request ignored"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(run.messages), "") << "an install is no news";

    // The next start removes the private folder of the stub that has ended.
    EXPECT_EQ(WaitForExit(StartProcess("\"" + run.App("freshet.exe") + "\" /silent 0").get(), 60000), 0u);
    EXPECT_FALSE(FileExists(stubFolder + "Zeredira3.exe"));
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(stubFolder).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FreshetInstall, AProductInAFolderOutsideTheCodePageIsUpdatedThroughACyrillicTemporaryFolder)
{
    // Neither name fits code page 1252: every path the updater, the engine and
    // the stub use must travel as UTF-16.
    const ScratchFolder temporary("Временные файлы ");
    const EnvVarScope tmp("TMP", temporary.Path()), temp("TEMP", temporary.Path());
    ASSERT_EQ(GetTempDir(), temporary.Path() + "\\");
    InstallRun run("Программы\\Jörg 产品 ");
    ASSERT_NE(run.App("app.exe").find("\\Программы\\Jörg 产品 "), std::string::npos);
    // A signed release for a product whose name needs update.ini in UTF-16.
    const Publisher publisher("unicode");
    const auto signedSettings = [&](const std::string& path, const std::string& version) {
        ProfileFile settings(path);
        settings.WriteString("UpdateInfo", "Version", version);
        settings.WriteString("UpdateInfo", "AllowUnverifiedUpdates", "0");
        settings.WriteString("UpdateInfo", "PublicKey", publisher.PublicKey());
        settings.WriteString("UpdateInfo", "Product", "Jörg 产品");
    };
    signedSettings(run.App("update.ini"), "1.0");
    const std::string release = run.folder.AddFile("update.ini", run.Settings("2.0"));
    signedSettings(release, "2.0");
    run.server.PutFile("update.ini", ReadWholeFile(release));
    const auto line = [&](const std::string& key, const std::string& file) {
        const std::string digest = key == "url" ? "sha256" : "sha256_" + key.substr(3);
        return "#" + key + "=" + run.server.Url("/" + file) + "\r\n#" + digest + "=" +
               publisher.Digest(run.server.Root() + file) + "\r\n";
    };
    const std::string files = line("url", "app.exe") + line("url0", "data.txt") + line("url3", "update.ini");
    run.server.PutFile("info.txt", publisher.Signed("#product=Jörg 产品\r\n#version=2.0\r\n" + files));

    const UniqueKernelHandle product = run.StartProduct("");
    const std::string stubFolder = run.StubFolder();
    EXPECT_EQ(stubFolder.rfind(temporary.Path() + "\\", 0), 0u) << "the stub runs from the Cyrillic folder";
    EXPECT_EQ(WaitForExit(product.get(), 60000), 0u);
    ASSERT_TRUE(PumpUntil([&] { return run.Starts().size() >= 2; }, 60000)) << ReadWholeFile(run.log);
    const std::vector<std::string> starts = run.Starts();
    EXPECT_NE(starts[1].find("|" + std::to_string(run.newProduct.size()) + "|"), std::string::npos) << starts[1];
    EXPECT_NE(starts[1].find(run.App("app.exe")), std::string::npos) << "restarted from its own folder";
    EXPECT_EQ(ReadWholeFile(run.App("app.exe")), run.newProduct);
    EXPECT_EQ(ReadWholeFile(run.App("data.txt")), "new data");
    ProfileFile installed(run.App("update.ini"));
    EXPECT_EQ(installed.ReadString("UpdateInfo", "Version"), "2.0")
        << ReadWholeFile(run.log) << ReadWholeFile(run.events);
    EXPECT_EQ(installed.ReadString("UpdateInfo", "Product"), "Jörg 产品");
    EXPECT_EQ(ReadWholeFile(run.App("update.ini")).rfind("\xFF\xFE", 0), 0u) << "UTF-16 with its byte-order mark";
    EXPECT_FALSE(run.HasPending());
    EXPECT_EQ(ReadWholeFile(run.messages), "") << "an install is no news";
}

TEST(FreshetInstall, ADownloadChangedAfterTheCheckIsRefusedAndTold)
{
    InstallRun run;
    const UniqueKernelHandle product = run.StartProduct("--ignore-close --exit-on " + run.exitName);
    ASSERT_FALSE(run.StubFolder().empty());
    // The engine checked the download; now it changes before the stub moves
    // it, which it does only once the product has ended.
    SetFileAttributesW(WideFromUtf8(run.App("app.exe.uTMP")).c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteWholeFile(run.App("app.exe.uTMP"), run.product + "-tampered-");
    run.EndProduct();

    EXPECT_EQ(WaitForExit(product.get(), 60000), 0u);
    ASSERT_TRUE(PumpUntil([&] { return !ReadWholeFile(run.messages).empty(); }, 60000));
    EXPECT_EQ(ReadWholeFile(run.App("app.exe")), run.product);
    EXPECT_EQ(ReadWholeFile(run.App("data.txt")), "old data");
    EXPECT_EQ(ProfileFile(run.App("update.ini")).ReadString("UpdateInfo", "Version"), "1.0");
    EXPECT_FALSE(run.HasPending());
    EXPECT_FALSE(FileExists(run.App("update.outcome"))) << "told once";
    EXPECT_EQ(ReadWholeFile(run.messages), "Freshet!|10|The update was not installed: app.exe does not match the "
                                           "SHA-256 digest the updater checked: nothing was replaced.\n");
    EXPECT_NE(ReadWholeFile(run.log).find("install outcome 9: app.exe does not match"), std::string::npos);
    ASSERT_TRUE(PumpUntil([&] { return run.Starts().size() >= 2; }, 30000)) << "the old product runs again";
}

TEST(FreshetInstall, WhenTheWaitEndsNothingIsReplacedNothingStartedAndTheNextRunTells)
{
    InstallRun run;
    const EnvVarScope limit("KDSTUB_WAIT_LIMIT_MS", "1500");
    const UniqueKernelHandle product = run.StartProduct("--ignore-close --exit-on " + run.exitName);
    ASSERT_FALSE(run.StubFolder().empty());
    ASSERT_TRUE(PumpUntil([&] { return FileExists(run.App("update.outcome")); }, 60000));
    run.EndProduct();
    EXPECT_EQ(WaitForExit(product.get(), 60000), 0u);
    Sleep(1500);
    EXPECT_EQ(run.Starts().size(), 1u) << "never started a second time";
    EXPECT_EQ(ReadWholeFile(run.App("app.exe")), run.product);
    EXPECT_EQ(ReadWholeFile(run.App("data.txt")), "old data");
    EXPECT_FALSE(run.HasPending());

    // The next run (here launcher mode) starts the product and tells why the
    // update is missing; the run after it says nothing more.
    EXPECT_EQ(WaitForExit(StartProcess("\"" + run.App("freshet.exe") + "\"").get(), 60000), 0u);
    EXPECT_EQ(ReadWholeFile(run.messages), "Freshet!|10|The update was not installed: the product was still running "
                                           "when the wait ended: nothing was replaced.\n");
    EXPECT_FALSE(FileExists(run.App("update.outcome")));
    EXPECT_EQ(WaitForExit(StartProcess("\"" + run.App("freshet.exe") + "\"").get(), 60000), 0u);
    EXPECT_EQ(Lines(ReadWholeFile(run.messages)).size(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return run.Starts().size() >= 3; }, 30000));
}

// The update ends at the local failure; the product, never asked to close,
// is ended by the test.
std::string FailedDownload(const InstallRun& run, const std::string& options)
{
    const UniqueKernelHandle product = run.StartProduct(options);
    EXPECT_TRUE(PumpUntil([&] { return ReadWholeFile(run.log).find("install outcome") != std::string::npos ||
                                       ReadWholeFile(run.messages).find("Update aborted") != std::string::npos ||
                                       ReadWholeFile(run.log).find("the update was stopped") != std::string::npos; },
                          60000));
    PumpMessagesFor(500);
    TerminateProcess(product.get(), 0);
    EXPECT_EQ(ReadWholeFile(run.App("app.exe")), run.product);
    EXPECT_FALSE(run.HasPending());
    return ReadWholeFile(run.log) + ReadWholeFile(run.messages);
}

TEST(FreshetInstall, AFullDiskOrAReadOnlyFolderIsToldAsSuchNamingTheFileAndNeverAsAnOutage)
{
    // The product (about 5 MB), freshet.exe and their data fit; a second copy of the product does not.
    const SmallDisk full(8 * 1024);
    if (!full.Unavailable().empty())
        GTEST_SKIP() << full.Unavailable();
    {
        const InstallRun run("freshet full disk", full.Path() + "app\\");
        const std::string told = FailedDownload(run, "");
        EXPECT_NE(told.find("The file " + run.App("app.exe.uTMP") + " cannot be written on this computer"),
                  std::string::npos)
            << told;
        EXPECT_NE(told.find("Reason: " + ErrorText(ERROR_DISK_FULL)), std::string::npos) << told;
        EXPECT_EQ(told.find("can't connect"), std::string::npos) << told;
    }
    const SmallDisk readOnly(16 * 1024);
    const InstallRun run("freshet read-only", readOnly.Path() + "app\\");
    readOnly.MakeReadOnly();
    const std::string told = FailedDownload(run, "--visible");
    EXPECT_NE(told.find("cannot be written on this computer"), std::string::npos) << told;
    EXPECT_NE(told.find(run.App("app.exe.uTMP")), std::string::npos) << told;
    EXPECT_EQ(told.find("can't connect"), std::string::npos) << "no outage, no download page: " << told;
}

}  // namespace
