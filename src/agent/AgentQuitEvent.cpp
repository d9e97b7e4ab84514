#include "AgentQuitEvent.h"

#include "common/StartToken.h"
#include "winutil/WideText.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace {

std::vector<BYTE> ProcessUser()
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
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

UniqueKernelHandle CreateAgentQuitEvent()
{
    std::vector<BYTE> user = ProcessUser();
    const std::wstring sid = SidText(SidOf(user));
    if (sid.empty())
        return {};
    const std::wstring sddl = L"O:" + sid + L"D:(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return {};
    const UniqueLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    UniqueKernelHandle event(
        CreateEventW(&attributes, /*manualReset=*/TRUE, FALSE, NameOf(sid, GetCurrentProcessId()).c_str()));
    if (!event || GetLastError() == ERROR_ALREADY_EXISTS || !OwnedBy(event.get(), SidOf(user)))
        return {};
    return event;
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
