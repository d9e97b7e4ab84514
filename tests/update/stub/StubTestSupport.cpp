#include "StubTestSupport.h"

#include "common/HostCommand.h"
#include "common/TextLines.h"
#include "common/AppPaths.h"
#include "http/FileSha256.h"
#include "update/stub/ManifestWriter.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <stdexcept>

namespace {

constexpr const wchar_t* ReadyEventName = L"KdStubProductHolding";
constexpr const wchar_t* ReleaseEventName = L"KdStubProductRelease";

// Starts a program from a UTF-8 command line; throws with `what` when it cannot.
UniqueHandle<KernelHandleTraits> StartProcess(const std::string& commandLine, const std::string& what)
{
    std::wstring line = WideFromUtf8(commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        throw std::runtime_error("cannot start " + what);
    CloseHandle(started.hThread);
    return UniqueHandle<KernelHandleTraits>(started.hProcess);
}

// The exit code of a started program, once it ends within two minutes.
DWORD ExitCodeOf(const UniqueHandle<KernelHandleTraits>& process, const std::string& what)
{
    if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0)
        throw std::runtime_error(what + " did not end");
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

}  // namespace

std::string BuildProgram(const std::string& name)
{
    return GetAppFolder() + name;
}

FolderState ReadFolder(const std::string& folder)
{
    FolderState state;
    for (const FoundFile& found : FindFiles(folder + "\\*")) {
        if (found.name == OutcomeFileName)
            continue;
        const std::string path = folder + "\\" + found.name;
        state[found.name] = {ReadWholeFile(path), found.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)};
    }
    return state;
}

std::vector<std::string> PendingInListingOrder(const std::string& folder)
{
    std::vector<std::string> names;
    for (const FoundFile& found : FindFiles(folder + "\\*.uTMP"))
        names.push_back(found.name);
    return names;
}

DWORD RunStub(const std::string& arguments, const std::optional<std::string>& manifest, DWORD manifestHeldMs)
{
    const ScratchFolder own("kdstubrun");
    const std::string stub = own.CopyIn(BuildProgram("Zeredira3.exe"), "Zeredira3.exe");
    if (manifest)
        own.AddFile(ManifestFileName, *manifest);
    UniqueFile held;
    if (manifest && manifestHeldMs > 0)
        held.reset(CreateFileW(WideFromUtf8(own.PathOf(std::string(ManifestFileName))).c_str(),
                               GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
    const UniqueHandle<KernelHandleTraits> process = StartProcess("\"" + stub + "\" " + arguments, "the stub");
    if (held) {
        Sleep(manifestHeldMs);
        held.reset();
    }
    return ExitCodeOf(process, "the stub");
}

OutcomeRecord TakeOutcome(const std::string& folder)
{
    const std::string path = folder + "\\" + std::string(OutcomeFileName);
    const std::string text = ReadWholeFile(path);
    DeleteFileW(WideFromUtf8(path).c_str());
    Outcome outcome;
    if (ReadOutcome(text, outcome) != RecordError::none)
        return {};
    return {outcome.code, std::string(outcome.text)};
}

std::string DigestOfFile(const std::string& path)
{
    return Sha256Of(ReadWholeFile(path));
}

std::string HexOf(const std::string& bytes)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes)
        text += std::string(1, Digits[byte >> 4]) + Digits[byte & 15];
    return text;
}

FolderState WithoutPending(FolderState state)
{
    std::erase_if(state, [](const auto& entry) {
        return entry.first.size() > 5 && entry.first.substr(entry.first.size() - 5) == ".uTMP";
    });
    return state;
}

ReleaseFolder::ReleaseFolder(const std::string& subfolder) : scratch_("kdstub"), folder_(scratch_.PathOf(subfolder))
{
    oldProduct_ = ReadWholeFile(BuildProgram("stubproduct.exe"));
    Add("app.exe", oldProduct_);
    SetEnvironmentVariableW(L"KD_STUB_RECORD", WideFromUtf8(Record()).c_str());
}

void ReleaseFolder::Add(const std::string& name, const std::string& content) const
{
    scratch_.AddFile(folder_.substr(scratch_.Path().size() + 1) + "\\" + name, content);
}

void ReleaseFolder::AddPending(const std::string& name, const std::string& content) const
{
    Add(name, content);
    SetFileAttributesW(WideFromUtf8(PathOf(name)).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
}

void ReleaseFolder::AddRelease() const
{
    Add("lib.dll", "old library");
    Add("data.txt", "old data");
    Add("keep.txt", "not in the release");
    AddPending("app.exe.uTMP", NewProduct());
    AddPending("lib.dll.uTMP", "new library, longer than the old one");
    AddPending("data.txt.uTMP", "");
    AddPending("new.txt.uTMP", "a file the old release did not have");
}

std::string ReleaseFolder::ManifestOf(const std::vector<std::string>& names, const ProductProcess& product,
                                      const std::string& updater) const
{
    std::vector<ManifestEntry> entries;
    for (const std::string& name : names)
        entries.push_back({name, DigestOfFile(PathOf(name + ".uTMP"))});
    return ManifestText(product, updater, entries);
}

std::vector<std::string> ReleaseFolder::WaitForRecords(size_t count) const
{
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (GetFileAttributesW(WideFromUtf8(Record()).c_str()) != INVALID_FILE_ATTRIBUTES) {
            lines = EndedLines(ReadWholeFile(Record()));
            if (lines.size() >= count)
                break;
        }
        Sleep(100);
    }
    return lines;
}

HoldingProduct::HoldingProduct(const std::string& program, DWORD milliseconds, const std::string& deleteAfter,
                               const std::string& createAfter)
{
    UniqueHandle<KernelHandleTraits> ready(CreateEventW(nullptr, TRUE, FALSE, ReadyEventName));
    SetEnvironmentVariableW(L"KD_STUB_READY_EVENT", ReadyEventName);
    release_ = CreateEventW(nullptr, TRUE, FALSE, ReleaseEventName);
    ResetEvent(release_);
    SetEnvironmentVariableW(L"KD_STUB_RELEASE_EVENT", ReleaseEventName);
    std::string commandLine = "\"" + program + "\" --hold " + std::to_string(milliseconds);
    if (!deleteAfter.empty())
        commandLine += " --delete \"" + deleteAfter + "\"";
    if (!createAfter.empty())
        commandLine += " --create \"" + createAfter + "\"";
    process_ = StartProcess(commandLine, program).release();
    if (WaitForSingleObject(ready.get(), 30000) != WAIT_OBJECT_0)
        throw std::runtime_error("the product did not hold its file");
}

HoldingProduct::~HoldingProduct()
{
    SetEvent(release_);
    WaitForSingleObject(process_, 60000);
    CloseHandle(process_);
    CloseHandle(release_);
}

// The product runs the engine against a release on the test server and waits
// until the engine closes it (0) or the upgrade fails (1).
DWORD RunProductUpgrade(const ReleaseFolder& release, const std::string& infoURL)
{
    const std::string commandLine = "\"" + release.Program() + "\" --upgrade " + infoURL;
    return ExitCodeOf(StartProcess(commandLine, "the product"), "the product");
}

void KillOutright(const std::string& pattern)
{
    // On the host's own drive, where the host's shell can write its files.
    const std::string folder = BuildProgram("kdhost-" + std::to_string(GetCurrentProcessId()) + "\\");
    CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
    // A "[.]" in the pattern keeps the shell that runs this from matching itself.
    const std::string quoted = "'" + pattern + "'";
    HostOutput(folder, "pkill -KILL -f " + quoted + "; while pgrep -f " + quoted + " >/dev/null; do sleep 0.05; done");
    DeleteFileW(WideFromUtf8(folder + "host-output.txt").c_str());
    DeleteFileW(WideFromUtf8(folder + "host-done.txt").c_str());
    RemoveDirectoryW(WideFromUtf8(folder).c_str());
}
