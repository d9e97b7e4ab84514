#include "AdminCheck.h"

#include <vector>

#include "winutil/UniqueHandle.h"

namespace {

UniqueSid AdministratorsSid()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    UniqueSid sid;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  sid.put()))
        return {};
    return sid;
}

} // namespace

TAdminState AdministratorsIn(const TOKEN_GROUPS& groups)
{
    const auto admins = AdministratorsSid();
    if (!admins)
        return TAdminState::asNone;
    for (DWORD i = 0; i < groups.GroupCount; ++i) {
        const SID_AND_ATTRIBUTES& group = groups.Groups[i];
        if (!EqualSid(group.Sid, admins.get()))
            continue;
        const bool enabled = (group.Attributes & SE_GROUP_ENABLED) && !(group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY);
        return enabled ? TAdminState::asElevated : TAdminState::asFiltered;
    }
    return TAdminState::asNone;
}

TAdminState TokenAdminState(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    if (size == 0)
        return TAdminState::asNone;
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, TokenGroups, buffer.data(), size, &size))
        return TAdminState::asNone;
    return AdministratorsIn(*reinterpret_cast<const TOKEN_GROUPS*>(buffer.data()));
}

TAdminState CurrentAdminState()
{
    UniqueKernelHandle token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
        if (GetLastError() != ERROR_NO_TOKEN)
            return TAdminState::asNone;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
            return TAdminState::asNone;
    }
    return TokenAdminState(token.get());
}

bool IsUserAdmin()
{
    return CurrentAdminState() != TAdminState::asNone;
}
