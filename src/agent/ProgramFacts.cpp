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

LONG CheckSignature(const std::wstring& path)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return status;
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

// What the reading thread found; read by the asking thread only once `done` is set.
struct FileFacts {
    std::string file;
    std::string publisher;
    std::string signature;
    UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// A read past its bound keeps running (the system calls cannot be
// stopped); until it returns no other begins, so reads that hang on a
// stalled share cannot pile up.
std::atomic<bool> readRunning{false};

void ReadFileFacts(FileFacts& facts) noexcept
{
    try {
        if (!FileExists(facts.file)) {
            facts.signature = "program file not found";
        } else {
            std::string problem;
            facts.publisher = ReadPublisher(facts.file, problem);
            facts.signature = SignatureText(CheckSignature(WideFromUtf8(facts.file)));
            if (!problem.empty())
                facts.signature += "; " + problem;
        }
    } catch (...) {
        facts.publisher.clear();
        facts.signature = "program file not read";
    }
    readRunning = false;
    SetEvent(facts.done.get());
}

// Set once a wait was ended to stop the program: the reads still to come
// are not begun, so a batch of them cannot hold up the exit.
std::atomic<bool> readsStopped{false};

// A thread of the system's own, not the threads library's: it owns its share
// of the facts and may outlive the wait for them.
DWORD WINAPI ReadFileFactsThread(void* parameter) noexcept
{
    const std::unique_ptr<std::shared_ptr<FileFacts>> facts(static_cast<std::shared_ptr<FileFacts>*>(parameter));
    ReadFileFacts(**facts);
    return 0;
}

// The file's publisher and signature state, or why they are unknown.
void ReadBounded(TNewProgram& program)
{
    if (readsStopped) {
        program.signature = "program file not read: the program is stopping";
        return;
    }
    auto facts = std::make_shared<FileFacts>();
    facts->file = program.file;
    if (!facts->done) {
        program.signature = "program file not read: " + ErrorText(GetLastError());
        return;
    }
    if (readRunning.exchange(true)) {
        program.signature = "program file not read: an earlier read has not returned yet";
        return;
    }
    auto owned = std::make_unique<std::shared_ptr<FileFacts>>(facts);
    const UniqueKernelHandle thread(CreateThread(nullptr, 0, ReadFileFactsThread, owned.get(), 0, nullptr));
    if (!thread) {
        readRunning = false;
        program.signature = "program file not read: no thread for it";
        return;
    }
    static_cast<void>(owned.release());
    const DWORD waited = WaitForSingleObjectEx(facts->done.get(), kProgramReadMs, /*bAlertable=*/TRUE);
    if (waited == WAIT_IO_COMPLETION) {
        readsStopped = true;
        program.signature = "program file not read: the program is stopping";
    } else if (waited != WAIT_OBJECT_0) {
        program.signature = "program file not read within " + std::to_string(kProgramReadMs / 1000) + " s";
    } else {
        program.publisher = facts->publisher;
        program.signature = facts->signature;
    }
}

} // namespace

TNewProgram ReadProgramFacts(const TStartupItem& item)
{
    TNewProgram program{item.Desc.str(), StartupLocationCaptions[item.Location], ProgramFileOf(item), {}, {}};
    if (program.file.empty())
        program.signature = "program file not found";
    else
        ReadBounded(program);
    return program;
}
