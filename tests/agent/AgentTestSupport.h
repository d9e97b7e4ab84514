#pragma once
// Shared by the agent's tests: scratch folders, whole-file reads and writes,
// and starting helper programs of the build.
#include <windows.h>

#include "common/ScratchFolder.h"
#include "common/WineSupport.h"
#include "winutil/UniqueHandle.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <initializer_list>
#include <string>
#include <string_view>

// Presses keys in the popup menu that this thread is tracking, once it is open
// (called from a timer while the menu's modal loop runs).
void SendKeysToOpenMenu(std::initializer_list<WORD> keys);

// Polls until the condition holds or the time runs out; the last answer.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 30000)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return condition();
        Sleep(20);
    }
    return true;
}

// The world an agent test runs in: the four watched locations empty (before
// and after), a scratch agent folder holding a recording KdConfig.exe, and
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

private:
    std::unique_ptr<ScratchFolder> folder_;
    std::unique_ptr<EnvVarScope> messageLog_;
    std::unique_ptr<EnvVarScope> recordFile_;
};

void AddRunValue(std::uint8_t location, const std::string& name, const std::string& commandLine);
// A value of an item key in the store of a Run key; empty when absent.
std::string StoreValue(std::uint8_t location, const std::string& item, const char* value);
bool StoreHasItem(std::uint8_t location, const std::string& item);
