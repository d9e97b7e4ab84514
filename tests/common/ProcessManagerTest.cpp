#include "common/ProcessManager.h"
#include "common/StartToken.h"
#include "common/WineSupport.h"

#include "ScratchFolder.h"
#include "core/CmdLnUtils.h"
#include "core/StrCon.h"
#include "common/AppPaths.h"
#include "common/Environment.h"
#include "winutil/OwnedWindow.h"
#include "winutil/RegKey.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"
#include "winutil/UniqueShell.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

namespace {

struct Record {
    std::string module;
    std::string commandLine;
    std::string folder;
    std::string show;
    std::string admin;
    std::string iconic;
};

// Ends a process once it goes out of scope, however the test ends.
struct ProcessEnder {
    HANDLE process;
    ~ProcessEnder() { TerminateProcess(process, 0); }
};

// The launcher drops elevation while it lives.
class UnelevatedScope {
public:
    UnelevatedScope() { SetStartUnelevated(true); }
    ~UnelevatedScope() { SetStartUnelevated(false); }
    UnelevatedScope(const UnelevatedScope&) = delete;
    UnelevatedScope& operator=(const UnelevatedScope&) = delete;
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
            else if (line.rfind("show=", 0) == 0)
                current.show = line.substr(5);
            else if (line.rfind("admin=", 0) == 0)
                current.admin = line.substr(6);
            else if (line.rfind("iconic=", 0) == 0)
                current.iconic = line.substr(7);
            else if (line == "end")
                records.push_back(std::exchange(current, Record{}));
        }
        return records;
    }

    std::vector<Record> AwaitRecords(std::size_t count) const
    {
        for (const DWORD start = GetTickCount(); Records().size() < count && GetTickCount() - start < 60000;)
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

// As Explorer starts a shortcut: its show state, working folder and arguments.
TEST_F(ProcessManagerTest, ShortcutStartsMinimisedInItsWorkingFolderAndAPlainLineShowsNormally)
{
    ComApartment com;
    const std::string program = Recorder("Tool\\rec.exe");
    const std::string work = scratch_.PathOf("Work Folder");
    scratch_.AddFile("Work Folder\\placeholder.txt");
    const auto link = [&](const char* name, int showCommand) {
        UniqueCom<IShellLinkW> shortcut = NewShellLink();
        shortcut.get()->SetPath(WideFromUtf8(program).c_str());
        shortcut.get()->SetArguments(L"--window --from-link");
        shortcut.get()->SetWorkingDirectory(WideFromUtf8(work).c_str());
        shortcut.get()->SetShowCmd(showCommand);
        SaveShortcut(shortcut.get(), scratch_.PathOf(name));
        return scratch_.PathOf(name);
    };
    const std::string minimised = link("Minimised.lnk", SW_SHOWMINNOACTIVE);
    const std::string maximised = link("Maximised.lnk", SW_SHOWMAXIMIZED);

    TExecuteInfo info;
    ASSERT_TRUE(TProcessManager().GetExecuteInfo("\"" + minimised + "\"", info));
    EXPECT_EQ(info.ShowCommand, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(ExecuteFile("\"" + minimised + "\"", /*wait=*/true));
    ASSERT_TRUE(ExecuteFile("\"" + maximised + "\"", /*wait=*/true, SW_SHOWMINNOACTIVE)) << "the link's own state wins";
    ASSERT_TRUE(ExecuteFile("\"" + program + "\" --window --plain", /*wait=*/true));
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].show, std::to_string(SW_SHOWMINNOACTIVE));
    EXPECT_EQ(records[0].iconic, "1") << "its window came up minimised";
    EXPECT_TRUE(SameText(records[0].folder, work));
    EXPECT_EQ(records[0].commandLine, "\"" + program + "\" --window --from-link");
    EXPECT_EQ(records[1].show, std::to_string(SW_SHOWMAXIMIZED));
    EXPECT_EQ(records[1].iconic, "0");
    EXPECT_EQ(records[2].show, std::to_string(SW_SHOWNORMAL));
    EXPECT_EQ(records[2].iconic, "0");
    EXPECT_TRUE(SameText(records[2].folder, scratch_.PathOf("Tool")));
}

TEST_F(ProcessManagerTest, ShortcutPointingNowhereStartsNothingAndShowsNothing)
{
    ComApartment com;
    const std::string shortcut = scratch_.PathOf("Gone.lnk");
    {
        UniqueCom<IShellLinkW> link = NewShellLink();
        ASSERT_TRUE(link);
        link.get()->SetPath(L"C:\\KdNowhere\\gone.exe");
        link.get()->SetWorkingDirectory(L"C:\\KdNowhere");
        SaveShortcut(link.get(), shortcut);
    }
    const std::string broken = scratch_.AddFile("Broken.lnk", "no shortcut inside");
    for (const std::string& line : {"\"" + shortcut + "\"", "\"" + broken + "\" /x"}) {
        EXPECT_FALSE(ExecuteFile(line, /*wait=*/false)) << line;
        EXPECT_FALSE(ExecuteFile(line, /*wait=*/true)) << line;
    }
    Sleep(300);
    EXPECT_TRUE(Records().empty());
    EXPECT_FALSE(FindWindowW(L"#32770", nullptr)) << "no error box of the shell";
}

// Wine keeps no integrity levels, but it keeps the Administrators group of
// a token: a program started with the lowered token or the shell's
// unelevated one finds the group deny-only.
TEST_F(ProcessManagerTest, ElevatedStartsTakeTheShellsTokenOrALoweredOneAndNeverTheirOwn)
{
    UniqueKernelHandle own;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put()));
    ASSERT_TRUE(IsElevatedToken(own.get())) << "Wine's programs run elevated";
    const std::string program = Recorder("Tool\\rec.exe");
    const std::string document = scratch_.AddFile("My Docs\\note.kdrecdoc2", "not a program");
    EXPECT_EQ(RegKey::Create(HKEY_CLASSES_ROOT, ".kdrecdoc2", KEY_WRITE).WriteString("", "KdRecDoc2"), ERROR_SUCCESS);
    EXPECT_EQ(RegKey::Create(HKEY_CLASSES_ROOT, "KdRecDoc2\\shell\\open\\command", KEY_WRITE)
                  .WriteString("", "\"" + program + "\" --document \"%1\""),
              ERROR_SUCCESS);

    // No desktop shell here: a lowered copy of this process's token.
    const TStartToken lowered = StartTokenFor(nullptr);
    EXPECT_EQ(lowered.way, TStartWay::swLoweredOwnToken);
    ASSERT_TRUE(lowered.token);
    ASSERT_TRUE(ExecuteFile("\"" + program + "\" --as-caller", /*wait=*/true)) << "the caller's token by default";
    {
        UnelevatedScope unelevated;
        ASSERT_TRUE(ExecuteFile("\"" + program + "\" --lowered", /*wait=*/true));
        ASSERT_TRUE(ExecuteFile(document, /*wait=*/true)) << "a document through its open command";
    }

    // A stand-in shell with an unelevated token of the same user.
    const UniqueKernelHandle filtered = TokenWithoutAdministrators();
    ASSERT_TRUE(filtered);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION shell = {};
    // It stays far longer than the test needs it, until the test ends it.
    std::wstring shellLine = WideFromUtf8("\"" + program + "\" --shell --stay 300000");
    ASSERT_TRUE(CreateProcessAsUserW(filtered.get(), nullptr, shellLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &shell));
    UniqueKernelHandle shellProcess(shell.hProcess), shellThread(shell.hThread);
    const ProcessEnder endShell{shellProcess.get()};
    HWND shellWindow = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (shellWindow = FindWindowW(nullptr, L"cmdrecord-stay")) != nullptr; }, 60000));
    const TStartToken fromShell = StartTokenFor(shellWindow);
    EXPECT_EQ(fromShell.way, TStartWay::swShellToken);
    STARTUPINFOW childStartup = {};
    childStartup.cb = sizeof childStartup;
    PROCESS_INFORMATION child = {};
    std::wstring childLine = WideFromUtf8("\"" + program + "\" --with-shell-token");
    ASSERT_TRUE(CreateProcessFor(fromShell, childLine, 0, nullptr, childStartup, child));
    UniqueKernelHandle childProcess(child.hProcess), childThread(child.hThread);
    EXPECT_EQ(WaitForSingleObject(childProcess.get(), 60000), WAIT_OBJECT_0);
    // Wine's CreateProcessWithTokenW starts with the caller's token; the
    // token itself, given to a call Wine honours, is the shell's.
    std::wstring tokenLine = WideFromUtf8("\"" + program + "\" --shell-token-as-user");
    ASSERT_TRUE(CreateProcessAsUserW(fromShell.token.get(), nullptr, tokenLine.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, nullptr, &childStartup, &child));
    UniqueKernelHandle tokenProcess(child.hProcess), tokenThread(child.hThread);
    EXPECT_EQ(WaitForSingleObject(tokenProcess.get(), 60000), WAIT_OBJECT_0);
    TerminateProcess(shellProcess.get(), 0);

    static_cast<void>(RegKey::DeleteTree(HKEY_CLASSES_ROOT, "KdRecDoc2"));
    static_cast<void>(RegKey::DeleteKey(HKEY_CLASSES_ROOT, ".kdrecdoc2"));
    const std::vector<Record> records = Records();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].admin, "elevated") << records[0].commandLine;
    EXPECT_EQ(records[1].admin, "filtered") << records[1].commandLine;
    EXPECT_EQ(records[2].admin, "filtered") << records[2].commandLine;
    EXPECT_NE(records[2].commandLine.find("--document"), std::string::npos);
    EXPECT_NE(records[2].commandLine.find(document), std::string::npos);
    EXPECT_EQ(records[3].admin, "filtered") << "the stand-in shell";
    EXPECT_NE(records[4].commandLine.find("--with-shell-token"), std::string::npos);
    EXPECT_EQ(records[5].admin, "filtered") << records[5].commandLine;
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
    // The first program runs until the test lets it end.
    const std::string name = "KdTwoWaits-" + std::to_string(GetCurrentProcessId());
    const UniqueKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, WideFromUtf8(name).c_str()));
    ASSERT_TRUE(release);
    bool first = false;
    std::atomic<bool> firstEnded{false};
    std::thread other([&] {
        first = ExecuteFile("\"" + program + "\" --until " + name + " --first", true);
        firstEnded = true;
    });
    // Its wait has begun once it has recorded.
    EXPECT_EQ(AwaitRecords(1).size(), 1u);
    const bool second = ExecuteFile("\"" + program + "\" --second", /*wait=*/true);
    EXPECT_FALSE(firstEnded) << "the second wait must not follow the first one's process";
    SetEvent(release.get());
    other.join();
    EXPECT_TRUE(second);
    EXPECT_TRUE(first);
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
    RegisterOwnedWindowClass(L"KdWaitTest", SignalOnApp);
    HWND window =
        CreateWindowW(L"KdWaitTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    UniqueKernelHandle signalled(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const DWORD threadId = GetCurrentThreadId();
    std::thread poster([&] {
        Sleep(100);
        PostThreadMessageW(threadId, WM_QUIT, 7, 0);
        PostMessageW(window, WM_APP, 0, reinterpret_cast<LPARAM>(signalled.get()));
    });
    const bool done = WaitWithMessages(nullptr, signalled.get(), 60000);
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
    EXPECT_EQ(WaitForSingleObject(thread.get(), 60000), WAIT_OBJECT_0);
    EXPECT_FALSE(WaitWithMessages(nullptr, nullptr, 100));
}

}  // namespace
