#include "AgentQuitEvent.h"

#include "common/StartToken.h"
#include "winutil/ErrorText.h"
#include "winutil/WideText.h"

#include <aclapi.h>
#include <sddl.h>

#include <optional>
#include <vector>

namespace {

std::vector<BYTE> ProcessUser(HANDLE process = GetCurrentProcess())
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.put()))
        return {};
    return TokenInfo(token.get(), TokenUser);
}

PSID SidOf(std::vector<BYTE>& user)
{
    return user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
}

std::wstring SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text))
        return {};
    const UniqueLocalMemory owned(text);
    return text;
}

std::wstring NameOf(const std::wstring& sid, DWORD processId)
{
    return sid.empty() ? std::wstring() : L"Global\\Keldora.Quit." + sid + L"." + std::to_wstring(processId);
}

// An elevated agent's objects would be owned by the Administrators group by
// default: the user is named as the owner, which only the user's tokens can.
bool OwnedBy(HANDLE object, PSID user)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    const UniqueLocalMemory owned(descriptor);
    return owner && EqualSid(owner, user);
}

} // namespace

std::string AgentQuitEventName(DWORD processId)
{
    std::vector<BYTE> user = ProcessUser();
    return Utf8FromWide(NameOf(SidText(SidOf(user)), processId));
}

// Auto-reset: the one waiter, the agent's change watch, takes each request
// as it comes, and the event is clear again for the next one. A manual-reset
// event stays set once asked, so the watch would have to stop waiting on it
// and a later request would go unheard.
UniqueKernelHandle CreateAgentQuitEvent(std::string& refusal)
{
    std::vector<BYTE> user = ProcessUser();
    const std::wstring sid = SidText(SidOf(user));
    if (sid.empty()) {
        refusal = "The agent's quit event was not made: its user could not be read.";
        return {};
    }
    const std::wstring sddl = L"O:" + sid + L"D:(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        refusal = "The agent's quit event was not made: " + ErrorText(GetLastError());
        return {};
    }
    const UniqueLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const std::wstring name = NameOf(sid, GetCurrentProcessId());
    const std::string quoted = "The agent's quit event \"" + Utf8FromWide(name) + "\"";
    UniqueKernelHandle event(CreateEventW(&attributes, /*manualReset=*/FALSE, FALSE, name.c_str()));
    if (!event)
        refusal = quoted + " could not be made (" + ErrorText(GetLastError()) + ")";
    else if (GetLastError() == ERROR_ALREADY_EXISTS)
        refusal = quoted + " existed before the agent made it";
    else if (!OwnedBy(event.get(), SidOf(user)))
        refusal = quoted + " is not owned by the agent's user";
    else
        return event;
    refusal += ": /restore cannot ask this agent to quit from another session, and refuses while it runs.";
    return {};
}

UniqueKernelHandle OpenAgentQuitEvent(DWORD processId)
{
    std::vector<BYTE> user = ProcessUser();
    const std::wstring name = NameOf(SidText(SidOf(user)), processId);
    if (name.empty())
        return {};
    UniqueKernelHandle event(OpenEventW(EVENT_MODIFY_STATE | READ_CONTROL, FALSE, name.c_str()));
    if (!event || !OwnedBy(event.get(), SidOf(user)))
        return {};
    return event;
}

std::optional<bool> RunsAsThisUser(HANDLE process)
{
    std::vector<BYTE> user = ProcessUser();
    std::vector<BYTE> other = ProcessUser(process);
    if (!SidOf(user) || !SidOf(other))
        return std::nullopt;
    return EqualSid(SidOf(user), SidOf(other)) != FALSE;
}
