#include "ProgramFacts.h"

#include "common/CmdLnSystem.h"
#include "core/CmdLnUtils.h"
#include "winutil/ErrorText.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The program a line starts; a Startup folder's file is its own.
std::string ProgramFileOf(const TStartupItem& item)
{
    if (IsFolderLocation(item.Location))
        return item.CmdLine.str();
    return ExtractProgramFile(SystemCmdLn(), item.CmdLine.view());
}

// The first language the translation table names, else US English in Unicode.
std::wstring CompanyNameQuery(const std::vector<char>& block)
{
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translations = nullptr;
    UINT size = 0;
    Translation chosen{0x0409, 0x04B0};
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &size) &&
        translations && size >= sizeof(Translation))
        chosen = translations[0];
    wchar_t query[64] = {};
    swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\CompanyName", chosen.language, chosen.codePage);
    return query;
}

// How many characters the CompanyName value at `text` may have: no more than
// its own node holds (a garbled value length would claim the nodes after
// it) nor the block. Its node begins with the header (length, value length,
// type) and the key, aligned to four bytes.
std::size_t ValueRoom(const std::vector<char>& block, const wchar_t* text)
{
    constexpr std::size_t kKeyEnd = 3 * sizeof(WORD) + sizeof L"CompanyName";
    constexpr std::size_t kValueOffset = (kKeyEnd + 3) / 4 * 4;
    const char* const value = reinterpret_cast<const char*>(text);
    if (value < block.data() + kValueOffset || value >= block.data() + block.size())
        return 0;
    WORD nodeLength = 0;
    std::memcpy(&nodeLength, value - kValueOffset, sizeof nodeLength);
    const std::size_t inNode = nodeLength > kValueOffset ? (nodeLength - kValueOffset) / sizeof(wchar_t) : 0;
    const std::size_t inBlock = static_cast<std::size_t>(block.data() + block.size() - value) / sizeof(wchar_t);
    return std::min(inNode, inBlock);
}

// The publisher, or empty with `problem` saying why there is none.
std::string ReadPublisher(const std::string& file, std::string& problem)
{
    const std::wstring path = WideFromUtf8(file);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return {};
    if (size > kVersionInfoMax) {
        problem = "version information of " + std::to_string(size) + " bytes not read";
        return {};
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        problem = "version information unreadable: " + ErrorText(GetLastError());
        return {};
    }
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), CompanyNameQuery(block).c_str(), reinterpret_cast<void**>(&text), &length) ||
        !text || length == 0)
        return {};
    // A garbled block may leave the text unterminated within what it claims.
    const std::size_t room = ValueRoom(block, text);
    std::size_t units = 0;
    while (units < std::min<std::size_t>(length, room) && text[units] != L'\0')
        ++units;
    return Utf8FromWide(std::wstring_view(text, units));
}

struct SignatureCheck {
    std::wstring path;
    LONG status = ERROR_SUCCESS;
    UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// A check past its bound keeps running (the system call cannot be
// stopped); until it returns no other begins, so checks that hang on a
// stalled share cannot pile up.
std::atomic<bool> checkRunning{false};

void CheckSignature(const std::shared_ptr<SignatureCheck>& check) noexcept
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = check->path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    check->status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    checkRunning = false;
    SetEvent(check->done.get());
}

std::string SignatureText(LONG status)
{
    switch (static_cast<DWORD>(status)) {
    case ERROR_SUCCESS: return "validly signed";
    case static_cast<DWORD>(TRUST_E_NOSIGNATURE): return "not signed";
    case static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN): return "not signed (no signable file)";
    case static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN): return "signature not checked (no trust provider)";
    default: {
        char code[16] = {};
        snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        return std::string("signature not valid (") + code + ")";
    }
    }
}

// Set once a wait was ended to stop the program: the checks still to come
// are not begun, so a batch of them cannot hold up the exit.
std::atomic<bool> checksStopped{false};

// A thread of the system's own, not the threads library's: it owns its share
// of the check and may outlive the wait for it.
DWORD WINAPI CheckSignatureThread(void* parameter) noexcept
{
    const std::unique_ptr<std::shared_ptr<SignatureCheck>> check(static_cast<std::shared_ptr<SignatureCheck>*>(parameter));
    CheckSignature(*check);
    return 0;
}

std::string ReadSignature(const std::string& file)
{
    if (checksStopped)
        return "signature not checked: the program is stopping";
    auto check = std::make_shared<SignatureCheck>();
    check->path = WideFromUtf8(file);
    if (!check->done)
        return "signature not checked: " + ErrorText(GetLastError());
    if (checkRunning.exchange(true))
        return "signature not checked: an earlier check has not returned yet";
    auto owned = std::make_unique<std::shared_ptr<SignatureCheck>>(check);
    const UniqueKernelHandle thread(CreateThread(nullptr, 0, CheckSignatureThread, owned.get(), 0, nullptr));
    if (!thread) {
        checkRunning = false;
        return "signature not checked: no thread for it";
    }
    static_cast<void>(owned.release());
    const DWORD waited = WaitForSingleObjectEx(check->done.get(), kSignatureCheckMs, /*bAlertable=*/TRUE);
    if (waited == WAIT_IO_COMPLETION) {
        checksStopped = true;
        return "signature not checked: the program is stopping";
    }
    if (waited != WAIT_OBJECT_0)
        return "signature not checked within " + std::to_string(kSignatureCheckMs / 1000) + " s";
    return SignatureText(check->status);
}

} // namespace

TNewProgram ReadProgramFacts(const TStartupItem& item)
{
    TNewProgram program{item.Desc.str(), StartupLocationCaptions[item.Location], ProgramFileOf(item), {}, {}};
    if (program.file.empty() || !FileExists(program.file)) {
        program.signature = "program file not found";
        return program;
    }
    std::string problem;
    program.publisher = ReadPublisher(program.file, problem);
    program.signature = ReadSignature(program.file);
    if (!problem.empty())
        program.signature += "; " + problem;
    return program;
}
