#include "AgentTestSupport.h"

#include "agent/LogonStart.h"
#include "common/TextLines.h"
#include "common/AppPaths.h"
#include "startup/StartupTestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

void SendKeysToOpenMenu(std::initializer_list<WORD> keys)
{
    const HWND menu = FindWindowW(L"#32768", nullptr);
    if (!menu)
        return;
    for (const WORD key : keys) {
        PostMessageW(menu, WM_KEYDOWN, key, 0);
        PostMessageW(menu, WM_KEYUP, key, 0xC0000000);
    }
}

namespace {

constexpr std::uint8_t kWatchedLocations[] = {0, 1, 8, 9};

void ClearWatchedLocations()
{
    for (const std::uint8_t location : kWatchedLocations)
        ClearLocation(location);
}

} // namespace

AgentSandbox::AgentSandbox(std::string_view folderPrefix)
{
    ClearWatchedLocations();
    // The session has had its logon start: an agent started here starts
    // nothing of the Startup folders unless a test forgets the session.
    MarkLogonSession();
    folder_ = std::make_unique<ScratchFolder>(folderPrefix);
    messageLog_ = std::make_unique<EnvVarScope>("KDAGENT_MESSAGE_LOG", PathOf("messages.log"));
    recordFile_ = std::make_unique<EnvVarScope>("KD_RECORD_FILE", PathOf("launches.log"));
    AddRecorder("KdConfig.exe");
}

AgentSandbox::~AgentSandbox()
{
    ClearWatchedLocations();
}

std::string AgentSandbox::Folder() const
{
    return folder_->Path() + "\\";
}

std::string AgentSandbox::PathOf(const std::string& name) const
{
    return folder_->PathOf(name);
}

std::vector<std::string> AgentSandbox::Messages() const
{
    return EndedLines(ReadFile(PathOf("messages.log")));
}

std::vector<std::string> AgentSandbox::Launches() const
{
    std::vector<std::string> launches;
    for (const std::string& line : EndedLines(ReadFile(PathOf("launches.log"))))
        if (line.rfind("cmdline=", 0) == 0)
            launches.push_back(line.substr(8));
    return launches;
}

std::string AgentSandbox::AddRecorder(const std::string& name) const
{
    return folder_->CopyIn(GetAppFolder() + "cmdrecord.exe", name);
}

std::string AgentSandbox::AddAgentProgram() const
{
    return folder_->CopyIn(GetAppFolder() + "kdAgent.exe", "kdAgent.exe");
}

std::string AgentSandbox::AgentProgram() const
{
    const std::string program = PathOf("kdAgent.exe");
    return FileExists(program) ? program : AddAgentProgram();
}

namespace {

struct WindowSearch {
    DWORD process = 0;
    HWND found = nullptr;
};

BOOL CALLBACK MatchAgentWindow(HWND window, LPARAM search)
{
    auto& wanted = *reinterpret_cast<WindowSearch*>(search);
    wchar_t name[16] = {};
    DWORD owner = 0;
    if (GetClassNameW(window, name, 16) && std::wstring(name) == L"TAgentForm" &&
        GetWindowThreadProcessId(window, &owner) && owner == wanted.process) {
        wanted.found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND RunningAgent::OwnWindow() const
{
    WindowSearch search{GetProcessId(process_.get()), nullptr};
    EnumWindows(MatchAgentWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

DWORD RunningAgent::Quit() const
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(OwnWindow(), UM_QUIT, 0, 0, SMTO_NORMAL, 30000, &ignored);
    return WaitForExit(process_.get(), 60000);
}

void ForgetLogonSession()
{
    static_cast<void>(RegKey::DeleteTree(HKEY_CURRENT_USER, kLogonMarkKey));
}

void AddRunValue(std::uint8_t location, const std::string& name, const std::string& commandLine)
{
    EXPECT_EQ(OpenRunKey(location).WriteString(name, commandLine), ERROR_SUCCESS);
}

std::string StoreValue(std::uint8_t location, const std::string& item, const char* value)
{
    const TStpDesc desc = GetStpDesc(location);
    const RegKey key = RegKey::Open(desc.RootKey, desc.Path + "\\Keldora\\" + item, KEY_READ);
    if (!key)
        return {};
    if (const auto text = key.ReadString(value))
        return *text;
    if (const auto number = key.ReadDword(value))
        return std::to_string(*number);
    return {};
}

bool StoreHasItem(std::uint8_t location, const std::string& item)
{
    const TStpDesc desc = GetStpDesc(location);
    return RegKey::Exists(desc.RootKey, desc.Path + "\\Keldora\\" + item);
}
