#include "common/StartToken.h"

#include "winutil/ErrorText.h"
#include "winutil/RuntimeLink.h"

#include <stdexcept>
#include <vector>

namespace {

constexpr DWORD kPrimaryAccess =
    TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

UniqueSid WellKnownSid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD first, DWORD second = 0)
{
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&authority, count, first, second, 0, 0, 0, 0, 0, 0, &sid))
        return {};
    return UniqueSid(sid);
}

bool SameUser(HANDLE a, HANDLE b)
{
    const std::vector<BYTE> first = TokenInfo(a, TokenUser);
    const std::vector<BYTE> second = TokenInfo(b, TokenUser);
    return !first.empty() && !second.empty() &&
           EqualSid(reinterpret_cast<const TOKEN_USER*>(first.data())->User.Sid,
                    reinterpret_cast<const TOKEN_USER*>(second.data())->User.Sid);
}

// A primary copy of the token of the process that owns the window.
UniqueKernelHandle ShellToken(HWND shellWindow)
{
    DWORD processId = 0;
    if (!shellWindow || !GetWindowThreadProcessId(shellWindow, &processId) || processId == 0)
        return {};
    const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    UniqueKernelHandle token;
    if (!process || !OpenProcessToken(process.get(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put()))
        return {};
    UniqueKernelHandle primary;
    if (!DuplicateTokenEx(token.get(), kPrimaryAccess, nullptr, SecurityImpersonation, TokenPrimary, primary.put()))
        return {};
    return primary;
}

// What an unelevated start of the same user gets: the Administrators group
// for deny only, no privilege beyond the basic ones, medium integrity.
UniqueKernelHandle LoweredToken(HANDLE own)
{
    const UniqueSid admins =
        WellKnownSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    const UniqueSid medium = WellKnownSid(SECURITY_MANDATORY_LABEL_AUTHORITY, 1, SECURITY_MANDATORY_MEDIUM_RID);
    if (!admins || !medium)
        return {};
    SID_AND_ATTRIBUTES denyOnly = {admins.get(), 0};
    UniqueKernelHandle lowered;
    if (!CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE | LUA_TOKEN, 1, &denyOnly, 0, nullptr, 0, nullptr,
                               lowered.put()))
        return {};
    TOKEN_MANDATORY_LABEL label = {{medium.get(), SE_GROUP_INTEGRITY}};
    if (!SetTokenInformation(lowered.get(), TokenIntegrityLevel, &label,
                             sizeof label + GetLengthSid(medium.get())))
        return {};
    return lowered;
}

using CreateWithTokenFn = BOOL WINAPI(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                      LPPROCESS_INFORMATION);

}  // namespace

bool IsElevatedToken(HANDLE token)
{
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

namespace {

// An elevated shell acts as an administrator: its token says it is
// elevated and holds the Administrators group enabled (a restricted copy
// that keeps the group deny-only acts as the user alone).
bool ActsAsAdministrator(HANDLE token)
{
    if (!IsElevatedToken(token))
        return false;
    UniqueKernelHandle identification;
    if (!DuplicateToken(token, SecurityIdentification, identification.put()))
        return true;
    const UniqueSid admins =
        WellKnownSid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    BOOL member = TRUE;
    return !admins || !CheckTokenMembership(identification.get(), admins.get(), &member) || member;
}

} // namespace

std::vector<BYTE> TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size))
        return {};
    return buffer;
}

TStartToken StartTokenFor(HWND shellWindow)
{
    UniqueKernelHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), kPrimaryAccess, own.put()))
        return {TStartWay::swLoweredOwnToken, {}};
    TStartFacts facts;
    facts.elevated = IsElevatedToken(own.get());
    if (!facts.elevated)
        return {};
    UniqueKernelHandle shell = ShellToken(shellWindow);
    facts.shellTokenAvailable = static_cast<bool>(shell);
    facts.sameUser = shell && SameUser(own.get(), shell.get());
    facts.shellElevated = shell && ActsAsAdministrator(shell.get());
    const TStartWay way = ChooseStartWay(facts);
    if (way == TStartWay::swShellToken)
        return {way, std::move(shell)};
    return {way, LoweredToken(own.get())};
}

bool CreateProcessFor(const TStartToken& start, std::wstring& commandLine, DWORD flags, const wchar_t* directory,
                      STARTUPINFOW& startup, PROCESS_INFORMATION& started)
{
    if (start.way == TStartWay::swAsCaller)
        return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, directory,
                              &startup, &started) != FALSE;
    if (!start.token) {
        SetLastError(ERROR_NO_TOKEN);
        return false;
    }
    if (start.way == TStartWay::swLoweredOwnToken)
        return CreateProcessAsUserW(start.token.get(), nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags,
                                    nullptr, directory, &startup, &started) != FALSE;
    try {
        // Needs the impersonation privilege, which an elevated administrator holds.
        const auto createWithToken = BindFunctionAs<CreateWithTokenFn>("advapi32.dll", "CreateProcessWithTokenW");
        return createWithToken(start.token.get(), 0, nullptr, commandLine.data(), flags, nullptr, directory, &startup,
                               &started) != FALSE;
    } catch (const std::runtime_error&) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
}

UniqueKernelHandle LoweredProcessToken()
{
    UniqueKernelHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), kPrimaryAccess, own.put()))
        return {};
    return LoweredToken(own.get());
}

bool IsElevatedProcess()
{
    UniqueKernelHandle own;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.put()) && IsElevatedToken(own.get());
}

TActingAsUser::TActingAsUser(bool userLocation) : elevated_(IsElevatedProcess())
{
    if (!elevated_ || !userLocation)
        return;
    // An impersonation the caller began goes on after this one.
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, /*OpenAsSelf=*/TRUE, outer_.put()))
        outer_.reset();
    const UniqueKernelHandle lowered = LoweredProcessToken();
    impersonating_ = lowered && ImpersonateLoggedOnUser(lowered.get());
    if (!impersonating_)
        throw std::runtime_error(ErrorMessage("The user's lowered rights could not be taken up", GetLastError()) +
                                 "; an elevated program works on the user's files with no more rights than the "
                                 "user, so nothing was read, written or moved");
}

TActingAsUser::~TActingAsUser()
{
    if (!impersonating_)
        return;
    if (!outer_ || !SetThreadToken(nullptr, outer_.get()))
        RevertToSelf();
}
