#pragma once
// Shared by the agent's tests: scratch folders, whole-file reads and writes,
// starting helper programs of the build, and the real kdAgent.exe started,
// waited for until it answers and told to quit.
#include <windows.h>

#include "common/ScratchFolder.h"
#include "common/WineSupport.h"
#include "agent/CoolTrayIcon.h"
#include "agent/uAgentForm.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <source_location>
#include <vector>

#include <initializer_list>
#include <string>
#include <string_view>

// Presses keys in the popup menu that this thread is tracking, once it is open
// (called from a timer while the menu's modal loop runs).
void SendKeysToOpenMenu(std::initializer_list<WORD> keys);

// The world an agent test runs in: the four watched locations empty (before
// and after), the session's logon start done, a scratch agent folder holding a recording KdConfig.exe, and
// the message-box and launch records sent to files of that folder. The
// folder's name begins with the prefix (UTF-8, "\\" for a folder above it).
class AgentSandbox {
public:
    explicit AgentSandbox(std::string_view folderPrefix = "kdagent-");
    ~AgentSandbox();
    AgentSandbox(const AgentSandbox&) = delete;
    AgentSandbox& operator=(const AgentSandbox&) = delete;

    // With a trailing backslash.
    std::string Folder() const;
    std::string PathOf(const std::string& name) const;
    // Lines the message-box seam wrote: "caption|type|text".
    std::vector<std::string> Messages() const;
    // Command lines of the recording programs started so far.
    std::vector<std::string> Launches() const;
    // A copy of the recording program under another name in the agent folder.
    std::string AddRecorder(const std::string& name) const;
    // A copy of kdAgent.exe in the agent folder.
    std::string AddAgentProgram() const;
    // The agent folder's kdAgent.exe, copied there when missing.
    std::string AgentProgram() const;

private:
    std::unique_ptr<ScratchFolder> folder_;
    std::unique_ptr<EnvVarScope> messageLog_;
    std::unique_ptr<EnvVarScope> recordFile_;
};

// A kdAgent.exe started from the sandbox's folder (copied there when
// missing), told to quit (and ended if it will not) when the object goes.
class RunningAgent {
public:
    explicit RunningAgent(const AgentSandbox& sandbox, HANDLE token = nullptr)
        : process_(StartProcess("\"" + sandbox.AgentProgram() + "\"", token))
    {
    }
    ~RunningAgent()
    {
        if (WaitForExit(process_.get(), 0) != STILL_ACTIVE)
            return;
        if (const HWND window = Window())
            PostMessageW(window, UM_QUIT, 0, 0);
        if (WaitForExit(process_.get(), 10000) == STILL_ACTIVE)
            TerminateProcess(process_.get(), 9);
    }
    RunningAgent(const RunningAgent&) = delete;
    RunningAgent& operator=(const RunningAgent&) = delete;

    HANDLE Process() const { return process_.get(); }
    static HWND Window() { return FindWindowW(L"TAgentForm", nullptr); }
    // This agent's own window, where several run.
    HWND OwnWindow() const;
    // Told to quit as the menu's Exit does; the exit code (STILL_ACTIVE when
    // it has not ended within a minute).
    DWORD Quit() const;
    // The window exists once FormCreate has begun; an answer to WM_NULL comes
    // from the message loop, after FormCreate has ended, or from its start's
    // wait for the stores, which answers sent messages.
    static bool WaitForWindow()
    {
        DWORD_PTR ignored = 0;
        return WaitUntil([] { return Window() != nullptr; }, 30000) &&
               SendMessageTimeoutW(Window(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
    }

    static LRESULT Send(UINT message, WPARAM wParam = 0)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(Window(), message, wParam, 0, SMTO_NORMAL, 30000, &result);
        return static_cast<LRESULT>(result);
    }

    // The tray icon as the shell knows it: a change is answered only for an icon it holds.
    static bool TrayIconShown()
    {
        NOTIFYICONDATAW data = {};
        data.cbSize = NotifyIconDataSize();
        data.hWnd = FindWindowW(L"TCoolTrayIconHandler", nullptr);
        data.uID = 1;
        return data.hWnd && Shell_NotifyIconW(NIM_MODIFY, &data);
    }

    // A right click on the tray icon, then keys in the menu once it is open.
    static bool ChooseFromMenu(std::initializer_list<WORD> keys)
    {
        const HWND handler = FindWindowW(L"TCoolTrayIconHandler", nullptr);
        PostMessageW(handler, WM_TRAYNOTIFY, 1, WM_RBUTTONDOWN);
        if (!WaitUntil([] { return FindWindowW(L"#32768", nullptr) != nullptr; }))
            return false;
        for (const WORD key : keys) {
            SendKeysToOpenMenu({key});
            Sleep(100);
        }
        return true;
    }

private:
    UniqueKernelHandle process_;
};

// An agent started, run until the condition holds (its take-over done, say)
// and told to quit; call it through ASSERT_NO_FATAL_FAILURE.
template <typename Condition>
void RunAgentUntil(const AgentSandbox& sandbox, Condition condition,
                   std::source_location where = std::source_location::current())
{
    const RunningAgent agent(sandbox);
    ASSERT_TRUE(RunningAgent::WaitForWindow());
    ASSERT_TRUE(WaitUntil(condition, 30000, where));
}

// As the end of the session does: the next agent is the session's first.
void ForgetLogonSession();

void AddRunValue(std::uint8_t location, const std::string& name, const std::string& commandLine);
// A value of an item key in the store of a Run key; empty when absent.
std::string StoreValue(std::uint8_t location, const std::string& item, const char* value);
bool StoreHasItem(std::uint8_t location, const std::string& item);
