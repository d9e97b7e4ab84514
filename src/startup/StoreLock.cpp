#include "startup/StoreLock.h"

#include "winutil/WideText.h"

#include <sddl.h>

#include <stdexcept>
#include <vector>

namespace {

std::wstring UserSidText()
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return {};
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return {};
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

// The user and the system may use it, from any of the user's tokens.
UniqueKernelHandle CreateUserMutex(const std::wstring& name, const std::wstring& sid)
{
    const std::wstring sddl = L"D:(A;;GA;;;" + sid + L")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    UniqueKernelHandle mutex(CreateMutexW(&attributes, FALSE, name.c_str()));
    // A holder of a higher integrity level made it: waiting needs no more.
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
        mutex.reset(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    if (descriptor)
        LocalFree(descriptor);
    return mutex;
}

std::string NameOf(const std::wstring& sid)
{
    return sid.empty() ? std::string() : "Global\\Keldora.Stores." + Utf8FromWide(sid);
}

} // namespace

std::string TStoreLock::Name()
{
    return NameOf(UserSidText());
}

TStoreLock::TStoreLock(DWORD timeoutMs)
{
    const std::wstring sid = UserSidText();
    if (sid.empty())
        return;
    mutex_ = CreateUserMutex(WideFromUtf8(NameOf(sid)), sid);
    if (!mutex_)
        return;
    const DWORD waited = WaitForSingleObjectEx(mutex_.get(), timeoutMs, TRUE);
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    acquired_ = owned_ || (waited != WAIT_TIMEOUT && waited != WAIT_IO_COMPLETION);
}

void TStoreLock::Require() const
{
    if (!acquired_)
        throw std::runtime_error("Another program of this user holds the startup stores; nothing was changed.");
}

TStoreLock::~TStoreLock()
{
    if (owned_)
        ReleaseMutex(mutex_.get());
}
