#include "common/ProcessManager.h"

#include "ScratchFolder.h"
#include "core/CmdLnUtils.h"
#include "core/StrCon.h"
#include "common/Utils.h"
#include "winutil/RegKey.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"
#include "winutil/UniqueShell.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <sstream>
#include <thread>
#include <vector>

namespace {

struct Record {
    std::string module;
    std::string commandLine;
    std::string folder;
};

class ComApartment {
public:
    ComApartment() { CoInitialize(nullptr); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

void SaveShortcut(IShellLinkW* link, const std::string& path)
{
    UniqueCom<IPersistFile> file;
    ASSERT_HRESULT_SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())));
    ASSERT_HRESULT_SUCCEEDED(file.get()->Save(WideFromUtf8(path).c_str(), TRUE));
}

UniqueCom<IShellLinkW> NewShellLink()
{
    UniqueCom<IShellLinkW> link;
    CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                     reinterpret_cast<void**>(link.put()));
    return link;
}

// Every launch starts a copy of the recording helper, which appends its
// module path, command line and working folder to a file in the scratch
// folder.
class ProcessManagerTest : public ::testing::Test {
protected:
    ProcessManagerTest()
        : scratch_("KdLaunch"), recordFile_(scratch_.PathOf("records.txt")),
          recordScope_("KD_RECORD_FILE", recordFile_)
    {
    }

    std::string Recorder(std::string_view relative) const
    {
        return scratch_.CopyIn(GetAppFolder() + "cmdrecord.exe", relative);
    }

    std::vector<Record> Records() const
    {
        std::vector<Record> records;
        std::istringstream in(ReadWholeFile(recordFile_, 1 << 20).value_or(""));
        std::string line;
        Record current;
        while (std::getline(in, line)) {
            line = TrimUpTo(line, ' ');
            if (line.rfind("module=", 0) == 0)
                current.module = line.substr(7);
            else if (line.rfind("cmdline=", 0) == 0)
                current.commandLine = line.substr(8);
            else if (line.rfind("cwd=", 0) == 0)
                current.folder = line.substr(4);
            else if (line == "end")
                records.push_back(std::exchange(current, Record{}));
        }
        return records;
    }

    std::vector<Record> AwaitRecords(std::size_t count) const
    {
        for (int attempt = 0; attempt < 200 && Records().size() < count; ++attempt)
            Sleep(50);
        return Records();
    }

    ScratchFolder scratch_;
    std::string recordFile_;
    EnvVarScope recordScope_;
};

TEST_F(ProcessManagerTest, QuotedProgramStartsInItsOwnFolder)
{
    const std::string program = Recorder("Program Files\\Tool\\rec.exe");
    ASSERT_TRUE(ExecuteFile("\"" + program + "\" /a \"b c\"", /*wait=*/false));
    const std::vector<Record> records = AwaitRecords(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(SameText(records[0].module, program));
    EXPECT_EQ(records[0].commandLine, "\"" + program + "\" /a \"b c\"");
    EXPECT_TRUE(SameText(records[0].folder, scratch_.PathOf("Program Files\\Tool")));
}

TEST_F(ProcessManagerTest, PlantedProgramAtFirstBlankNeverStarts)
{
    Recorder("Program.exe");
    const std::string program = Recorder("Program Files\\Tool\\rec.exe");
    const std::string unquoted = scratch_.PathOf("Program Files\\Tool\\rec.exe");

    ASSERT_TRUE(ExecuteFile(unquoted + " /quiet", /*wait=*/true));
    ASSERT_TRUE(ExecuteFile("\"" + unquoted + " /unbalanced", /*wait=*/true));
    EXPECT_FALSE(ExecuteFile(scratch_.PathOf("Program Files\\Tool\\absent.exe /quiet"), /*wait=*/true));
    EXPECT_FALSE(ExecuteFile("\"" + scratch_.PathOf("Program Files\\Tool\\absent.exe") + "\" /quiet", true));

    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 2u);
    for (const Record& record : records)
        EXPECT_TRUE(SameText(record.module, program)) << record.module;
    EXPECT_EQ(records[0].commandLine, "\"" + program + "\" /quiet");
    EXPECT_EQ(records[1].commandLine, "\"" + program + "\" /unbalanced");
}

TEST_F(ProcessManagerTest, BareNameIsFoundAlongPath)
{
    const std::string program = Recorder("Bin\\kdrecorder.exe");
    EnvVarScope path("PATH", scratch_.PathOf("Bin") + ";" + GetEnvVar("PATH"));
    ASSERT_TRUE(ExecuteFile("kdrecorder -x", /*wait=*/true));
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(SameText(records[0].commandLine, "\"" + program + "\" -x"));
    EXPECT_TRUE(SameText(records[0].folder, scratch_.PathOf("Bin")));
}

TEST_F(ProcessManagerTest, ShortcutStartsItsTargetWithItsOwnArguments)
{
    ComApartment com;
    // Names outside the ANSI code page all the way: folders, shortcut, arguments.
    const std::string program = Recorder("Werkzeug J\xc3\xb6rg \xe4\xba\xa7\xe5\x93\x81\\rec.exe");
    const std::string work = scratch_.PathOf("\xd0\xa0\xd0\xb0\xd0\xb1\xd0\xbe\xd1\x82\xd0\xb0");
    scratch_.AddFile("\xd0\xa0\xd0\xb0\xd0\xb1\xd0\xbe\xd1\x82\xd0\xb0\\placeholder.txt");
    const std::string shortcut = scratch_.PathOf("Links\\Mein Tool \xe6\x97\xa5\xe6\x9c\xac.lnk");
    CreateDirectoryW(WideFromUtf8(scratch_.PathOf("Links")).c_str(), nullptr);
    {
        UniqueCom<IShellLinkW> link = NewShellLink();
        ASSERT_TRUE(link);
        link.get()->SetPath(WideFromUtf8(program).c_str());
        link.get()->SetArguments(L"--from-link \"a b\" \x65e5\x672c");
        link.get()->SetWorkingDirectory(WideFromUtf8(work).c_str());
        SaveShortcut(link.get(), shortcut);
    }

    ASSERT_TRUE(ExecuteFile("\"" + shortcut + "\" /dropped", /*wait=*/true));
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(SameText(records[0].module, program));
    EXPECT_EQ(records[0].commandLine, "\"" + program + "\" --from-link \"a b\" \xe6\x97\xa5\xe6\x9c\xac");
    EXPECT_TRUE(SameText(records[0].folder, work));
}

TEST_F(ProcessManagerTest, ShortcutOutsideFileSystemGoesToTheShellItself)
{
    ComApartment com;
    const std::string shortcut = scratch_.PathOf("Computer.lnk");
    {
        UniqueCom<IShellLinkW> link = NewShellLink();
        ASSERT_TRUE(link);
        UniqueItemIdList computer;
        ASSERT_HRESULT_SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, computer.put()));
        link.get()->SetIDList(computer.get());
        SaveShortcut(link.get(), shortcut);
    }
    TExecuteInfo target;
    ASSERT_TRUE(ResolveShortcut(shortcut, target));
    EXPECT_EQ(target.FileName, "");

    TExecuteInfo info;
    ASSERT_TRUE(TProcessManager().GetExecuteInfo("\"" + shortcut + "\" /x", info));
    EXPECT_TRUE(SameText(info.FileName, shortcut));
    EXPECT_EQ(info.Parameters, "");
    EXPECT_TRUE(SameText(info.Directory, scratch_.Path() + "\\"));
}

TEST_F(ProcessManagerTest, DocumentOpensThroughTheShell)
{
    const std::string program = Recorder("Tool\\rec.exe");
    const std::string document = scratch_.AddFile("My Docs\\note.kdrecdoc", "not a program");
    EXPECT_EQ(RegKey::Create(HKEY_CLASSES_ROOT, ".kdrecdoc", KEY_WRITE).WriteString("", "KdRecDoc"), ERROR_SUCCESS);
    EXPECT_EQ(RegKey::Create(HKEY_CLASSES_ROOT, "KdRecDoc\\shell\\open\\command", KEY_WRITE)
                  .WriteString("", "\"" + program + "\" --document \"%1\""),
              ERROR_SUCCESS);

    // Without waiting is the agent's path for every document it starts.
    const bool waited = ExecuteFile(document, /*wait=*/true);
    const std::vector<Record> afterWait = AwaitRecords(1);
    const bool started = ExecuteFile(document, /*wait=*/false);
    const std::vector<Record> records = AwaitRecords(2);
    static_cast<void>(RegKey::DeleteTree(HKEY_CLASSES_ROOT, "KdRecDoc"));
    static_cast<void>(RegKey::DeleteKey(HKEY_CLASSES_ROOT, ".kdrecdoc"));

    ASSERT_TRUE(waited);
    ASSERT_TRUE(started);
    EXPECT_EQ(afterWait.size(), 1u);
    ASSERT_EQ(records.size(), 2u);
    for (const Record& record : records) {
        EXPECT_TRUE(SameText(record.module, program));
        EXPECT_NE(record.commandLine.find("--document"), std::string::npos);
        EXPECT_NE(UpperText(record.commandLine).find(UpperText("note.kdrecdoc")), std::string::npos);
    }
}

TEST_F(ProcessManagerTest, WaitLastsUntilTheWholeTreeHasEnded)
{
    const std::string program = Recorder("Tool\\rec.exe");
    ASSERT_TRUE(ExecuteFile("\"" + program + "\" --spawn-child", /*wait=*/true));
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 2u) << "the child records 700 ms after its parent has ended";
    EXPECT_NE(records[1].commandLine.find("--child"), std::string::npos);
}

TEST_F(ProcessManagerTest, TwoWaitsAtOnceUseTheirOwnJobs)
{
    const std::string program = Recorder("Tool\\rec.exe");
    bool first = false;
    std::thread other([&] { first = ExecuteFile("\"" + program + "\" --sleep 3000 --first", true); });
    Sleep(100);
    const DWORD started = GetTickCount();
    ASSERT_TRUE(ExecuteFile("\"" + program + "\" --second", /*wait=*/true));
    const DWORD elapsed = GetTickCount() - started;
    other.join();
    EXPECT_TRUE(first);
    EXPECT_LT(elapsed, 2000u) << "the second wait must not follow the first one's process";
    EXPECT_EQ(Records().size(), 2u);
}

TEST_F(ProcessManagerTest, LinesNamingNothingStartNothing)
{
    const std::string program = Recorder("Tool\\rec.exe");
    for (const std::string& line :
         {std::string(), std::string("   "), std::string("C:\\KdNowhere\\nothing.exe /x"),
          "\"" + program + "\"\x01 /x", program + " " + std::string(kMaxCommandLineLength, 'x')}) {
        TProcessManager manager;
        EXPECT_FALSE(manager.Execute(line, /*wait=*/false)) << line.substr(0, 80);
        EXPECT_EQ(manager.ExitCode(), 0u);
    }
    Sleep(300);
    EXPECT_TRUE(Records().empty());
}

TEST_F(ProcessManagerTest, GetExecuteInfoGivesTheProgramFolder)
{
    const std::string program = Recorder("Tool Dir\\rec.exe");
    TExecuteInfo info;
    ASSERT_TRUE(TProcessManager().GetExecuteInfo(scratch_.PathOf("Tool Dir\\rec -a -b"), info));
    EXPECT_TRUE(SameText(info.FileName, program));
    EXPECT_EQ(info.Parameters, "-a -b");
    EXPECT_TRUE(SameText(info.Directory, scratch_.PathOf("Tool Dir\\")));
}

LRESULT CALLBACK SignalOnApp(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        SetEvent(reinterpret_cast<HANDLE>(lParam));
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(WaitWithMessages, DispatchesWhileWaitingAndKeepsQuit)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SignalOnApp;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KdWaitTest";
    RegisterClassW(&windowClass);
    HWND window =
        CreateWindowW(L"KdWaitTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    UniqueKernelHandle signalled(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const DWORD threadId = GetCurrentThreadId();
    std::thread poster([&] {
        Sleep(100);
        PostThreadMessageW(threadId, WM_QUIT, 7, 0);
        PostMessageW(window, WM_APP, 0, reinterpret_cast<LPARAM>(signalled.get()));
    });
    const bool done = WaitWithMessages(nullptr, signalled.get(), 5000);
    poster.join();
    EXPECT_TRUE(done);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
    DestroyWindow(window);
}

DWORD WINAPI SleepForEver(LPVOID)
{
    Sleep(INFINITE);
    return 0;
}

TEST(WaitWithMessages, TimeOutEndsTheWaitedThread)
{
    UniqueKernelHandle thread(CreateThread(nullptr, 0, SleepForEver, nullptr, 0, nullptr));
    ASSERT_TRUE(thread);
    EXPECT_FALSE(WaitWithMessages(nullptr, thread.get(), 100));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 2000), WAIT_OBJECT_0);
    EXPECT_FALSE(WaitWithMessages(nullptr, nullptr, 100));
}

}  // namespace
