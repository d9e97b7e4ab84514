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

std::wstring NameOf(const wchar_t* kind, const std::wstring& sid, DWORD processId)
{
    return sid.empty() ? std::wstring()
                       : L"Global\\Keldora." + std::wstring(kind) + L"." + sid + L"." + std::to_wstring(processId);
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

// This process's event of the kind, owned by the user and open to the user
// and the system alone; empty with the reason in `refusal` when it cannot be
// made or its name was taken before (`named` then follows the reason).
UniqueKernelHandle CreateUsersEvent(const wchar_t* kind, const std::string& what, bool manualReset,
                                    const std::string& named, std::string& refusal)
{
    std::vector<BYTE> user = ProcessUser();
    const std::wstring sid = SidText(SidOf(user));
    if (sid.empty()) {
        refusal = what + " was not made: its user could not be read.";
        return {};
    }
    const std::wstring sddl = L"O:" + sid + L"D:(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        refusal = what + " was not made: " + ErrorText(GetLastError());
        return {};
    }
    const UniqueLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const std::wstring name = NameOf(kind, sid, GetCurrentProcessId());
    const std::string quoted = what + " \"" + Utf8FromWide(name) + "\"";
    UniqueKernelHandle event(CreateEventW(&attributes, manualReset, FALSE, name.c_str()));
    if (!event)
        refusal = quoted + " could not be made (" + ErrorText(GetLastError()) + ")";
    else if (GetLastError() == ERROR_ALREADY_EXISTS)
        refusal = quoted + " existed before the agent made it";
    else if (!OwnedBy(event.get(), SidOf(user)))
        refusal = quoted + " is not owned by the agent's user";
    else
        return event;
    refusal += named;
    return {};
}

// The process's event of the kind, when the user owns it.
UniqueKernelHandle OpenUsersEvent(const wchar_t* kind, DWORD processId, DWORD access)
{
    std::vector<BYTE> user = ProcessUser();
    const std::wstring name = NameOf(kind, SidText(SidOf(user)), processId);
    if (name.empty())
        return {};
    UniqueKernelHandle event(OpenEventW(access | READ_CONTROL, FALSE, name.c_str()));
    if (!event || !OwnedBy(event.get(), SidOf(user)))
        return {};
    return event;
}

} // namespace

std::string AgentQuitEventName(DWORD processId)
{
    std::vector<BYTE> user = ProcessUser();
    return Utf8FromWide(NameOf(L"Quit", SidText(SidOf(user)), processId));
}

// Auto-reset: the one waiter, the agent's change watch, takes each request
// as it comes, and the event is clear again for the next one. A manual-reset
// event stays set once asked, so the watch would have to stop waiting on it
// and a later request would go unheard.
UniqueKernelHandle CreateAgentQuitEvent(std::string& refusal)
{
    return CreateUsersEvent(
        L"Quit", "The agent's quit event", /*manualReset=*/false,
        ": /restore cannot ask this agent to quit from another session, and refuses while it runs.", refusal);
}

UniqueKernelHandle OpenAgentQuitEvent(DWORD processId)
{
    return OpenUsersEvent(L"Quit", processId, EVENT_MODIFY_STATE);
}

UniqueKernelHandle CreateCommandMark(std::string& refusal)
{
    return CreateUsersEvent(L"Command", "The command's mark", /*manualReset=*/true, /*named=*/".", refusal);
}

bool IsCommandOfThisUser(DWORD processId)
{
    return static_cast<bool>(OpenUsersEvent(L"Command", processId, SYNCHRONIZE));
}

std::optional<bool> RunsAsThisUser(HANDLE process)
{
    std::vector<BYTE> user = ProcessUser();
    std::vector<BYTE> other = ProcessUser(process);
    if (!SidOf(user) || !SidOf(other))
        return std::nullopt;
    return EqualSid(SidOf(user), SidOf(other)) != FALSE;
}
