#include "AdminCheck.h"

#include <memory>
#include <vector>

#include "winutil/UniqueHandle.h"

namespace {

struct SidDeleter {
    void operator()(void* sid) const { FreeSid(sid); }
};

std::unique_ptr<void, SidDeleter> AdministratorsSid()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &sid))
        return nullptr;
    return std::unique_ptr<void, SidDeleter>(sid);
}

} // namespace

bool TokenHasEnabledAdministrators(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    if (size == 0)
        return false;
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenGroups, buffer.data(), size, &size))
        return false;
    const auto admins = AdministratorsSid();
    if (!admins)
        return false;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& group = groups->Groups[i];
        if (EqualSid(group.Sid, admins.get()))
            return (group.Attributes & SE_GROUP_ENABLED) && !(group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY);
    }
    return false;
}

bool IsUserAdmin()
{
    UniqueKernelHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        if (GetLastError() != ERROR_NO_TOKEN)
            return false;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
            return false;
    }
    return TokenHasEnabledAdministrators(token.get());
}
