#pragma once
// A product folder for the end-to-end tests of freshet.exe: freshet.exe, the
// product (the stand-in, which starts the updater with its own window), a
// data file, and a release of the product, the data file and update.ini on
// the test server.
#include "HttpTestServer.h"
#include "common/ScratchFolder.h"
#include "common/TextLines.h"
#include "common/AppPaths.h"
#include "common/WineSupport.h"
#include "update/auStubLaunch.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

inline std::set<std::string> PrivateFolders()
{
    std::set<std::string> names;
    for (const FoundFile& found : FindFiles(GetTempDir() + PrivateFolderPrefix + "*"))
        names.insert(GetTempDir() + found.name + "\\");
    return names;
}

struct InstallRun {
    HttpTestServer server;
    ScratchFolder folder;
    const std::string record = folder.PathOf("record.txt");
    const std::string events = folder.PathOf("events.txt");
    const std::string messages = folder.PathOf("messages.txt");
    const std::string log = folder.PathOf("freshet.log");
    // A product started with "--exit-on " + exitName ends once EndProduct says so.
    const std::string exitName = "KdProductExit-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount());
    const UniqueKernelHandle exitEvent{CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8(exitName).c_str())};
    EnvVarScope recordTo{"KD_STUB_RECORD", record};
    EnvVarScope eventsTo{"KD_STUB_EVENTS", events};
    EnvVarScope messagesTo{"KDAGENT_MESSAGE_LOG", messages};
    EnvVarScope logTo{"KDUPDATER_LOG", log};
    const std::string product = ReadWholeFile(GetAppFolder() + "stubproduct.exe");
    const std::string newProduct = product + "-new release-";
    const std::set<std::string> foldersBefore = PrivateFolders();
    const std::string app;

    // The product's folder is "app" in the scratch folder, or the one given.
    explicit InstallRun(std::string_view prefix = "freshet install", const std::string& appFolder = {})
        : folder(prefix), app(appFolder.empty() ? folder.PathOf("app\\") : appFolder)
    {
        CreateDirectoryW(WideFromUtf8(app).c_str(), nullptr);
        WriteWholeFile(App("freshet.exe"), ReadWholeFile(GetAppFolder() + "freshet.exe"));
        WriteWholeFile(App("app.exe"), product);
        WriteWholeFile(App("data.txt"), "old data");
        WriteWholeFile(App("update.ini"), Settings("1.0"));
        server.PutFile("app.exe", newProduct);
        server.PutFile("data.txt", "new data");
        server.PutFile("update.ini", Settings("2.0"));
        server.PutFile("info.txt", "#version=2.0\r\n#url=" + server.Url("/app.exe") + "\r\n#url0=" +
                                       server.Url("/data.txt") + "\r\n#url3=" + server.Url("/update.ini") + "\r\n");
    }
    std::string App(const std::string& name) const { return app + name; }
    // The test server publishes unsigned releases over plain http.
    std::string Settings(const std::string& version) const
    {
        return "[UpdateInfo]\r\nProcessName=app.exe\r\nVersion=" + version + "\r\nInfoURL=" + server.Url("/info.txt") +
               "\r\nAllowUnverifiedUpdates=1\r\n";
    }
    // Starts the product, which starts the updater, and confirms the update.
    UniqueKernelHandle StartProduct(const std::string& options) const
    {
        UniqueKernelHandle running = StartProcess("\"" + App("app.exe") + "\" --updater " + options);
        EXPECT_TRUE(PressYesIn(App("freshet.exe"))) << "the updater asks";
        return running;
    }
    std::vector<std::string> Starts() const { return Lines(ReadWholeFile(record)); }
    void EndProduct() const { SetEvent(exitEvent.get()); }
    // However the test ends, its product and updater do not linger.
    ~InstallRun()
    {
        EndProduct();
        EndProgramsIn(app, 30000);
    }
    // The private folder of this run's stub, once it exists.
    std::string StubFolder() const
    {
        std::string found;
        PumpUntil(
            [&] {
                for (const std::string& name : PrivateFolders()) {
                    if (!foldersBefore.count(name) && FileExists(name + "Zeredira3.exe"))
                        found = name;
                }
                return !found.empty();
            },
            60000);
        return found;
    }
    bool HasPending() const
    {
        return !FindFiles(App("*.uTMP")).empty() || !FindFiles(App("*.uBAK")).empty() ||
               !FindFiles(App("*.road")).empty();
    }
};

