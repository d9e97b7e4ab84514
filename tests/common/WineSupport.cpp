#include "WineSupport.h"

#include "common/AppPaths.h"
#include "winutil/RegKey.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

constexpr const char* WineKey = "Software\\Wine";
constexpr const char* DesktopKey = "Control Panel\\Desktop";

std::string ReadAll(HANDLE file)
{
    std::string out;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        out.append(buffer, got);
    return out;
}

void WriteWaitNote(const std::string& text)
{
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(L"KELDORA_WAIT_NOTE", path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return;
    const UniqueFile file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string ClockTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
    return text;
}

} // namespace

WaitNote::WaitNote(DWORD timeoutMs, std::source_location where)
{
    std::string file = where.file_name();
    if (const std::size_t tests = file.rfind("tests/"); tests != std::string::npos)
        file.erase(0, tests);
    text_ = file + ":" + std::to_string(where.line()) + " (" + where.function_name() + "), for up to " +
            std::to_string(timeoutMs / 1000) + " s";
    WriteWaitNote(text_ + ", since " + ClockTime());
}

WaitNote::~WaitNote()
{
    WriteWaitNote("none; the last one, " + text_ + ", ended at " + ClockTime());
}

std::string RunAndCapture(const std::string& programAndArgs, DWORD* exitCode, std::source_location where)
{
    return RunAndCaptureAs(nullptr, programAndArgs, exitCode, where);
}

std::string RunAndCaptureAs(HANDLE token, const std::string& programAndArgs, DWORD* exitCode,
                            std::source_location where)
{
    wchar_t tempDir[MAX_PATH + 1], tempName[MAX_PATH + 1];
    GetTempPathW(MAX_PATH, tempDir);
    GetTempFileNameW(tempDir, L"kdt", 0, tempName);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueFile output(CreateFileW(tempName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!output)
        throw std::runtime_error("cannot create capture file");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output.get();
    si.hStdError = output.get();
    PROCESS_INFORMATION pi = {};
    const std::string commandLine = GetAppFolder() + programAndArgs;
    std::wstring line = WideFromUtf8(commandLine);
    const BOOL started = token ? CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                                      nullptr, &si, &pi)
                               : CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                                &si, &pi);
    if (!started)
        throw std::runtime_error("cannot start " + commandLine);
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    const WaitNote note(60000, where);
    // A child that outlives the wait would go on changing the shared prefix.
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), STILL_ACTIVE);
        WaitForSingleObject(process.get(), 5000);
    }
    if (exitCode)
        GetExitCodeProcess(process.get(), exitCode);
    return ReadAll(output.get());
}

WineVersionScope::WineVersionScope(const char* version)
{
    RegKey key = RegKey::Create(HKEY_CURRENT_USER, WineKey, KEY_READ | KEY_WRITE);
    if (auto old = key.ReadString("Version")) {
        hadValue_ = true;
        previous_ = *old;
    }
    EXPECT_EQ(key.WriteString("Version", version), ERROR_SUCCESS);
}

WineVersionScope::~WineVersionScope()
{
    RegKey key = RegKey::Open(HKEY_CURRENT_USER, WineKey, KEY_WRITE);
    if (hadValue_)
        EXPECT_EQ(key.WriteString("Version", previous_), ERROR_SUCCESS);
    else
        static_cast<void>(key.DeleteValue("Version"));
}

void PumpMessagesFor(DWORD ms)
{
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

namespace {

#pragma pack(push, 1)
struct WineGdiHandleEntry {
    unsigned long long object;
    unsigned long owner;
    unsigned short unique;
    unsigned char type;
    unsigned char flags;
    unsigned long long user;
};
#pragma pack(pop)

} // namespace

MemoryBitmap::MemoryBitmap(int width, int height)
{
    const HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    bitmap_.reset(CreateCompatibleBitmap(screen, width, height));
    ReleaseDC(nullptr, screen);
    old_ = SelectObject(dc_, bitmap_.get());
}

MemoryBitmap::~MemoryBitmap()
{
    SelectObject(dc_, old_);
    DeleteDC(dc_);
}

int CountGdiObjects()
{
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0)
        return static_cast<int>(counted);
    // Wine keeps its GDI handle table behind a pointer in the PEB.
    const BYTE* peb = nullptr;
#if defined(_WIN64)
    asm("movq %%gs:0x60, %0" : "=r"(peb));
    constexpr std::size_t kGdiTableOffset = 0xF8;
#else
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    constexpr std::size_t kGdiTableOffset = 0x94;
#endif
    const auto* table = *reinterpret_cast<const WineGdiHandleEntry* const*>(peb + kGdiTableOffset);
    if (!table)
        return -1;
    int used = 0;
    for (int i = 0; i < 0x10000; ++i)
        if (table[i].type != 0)
            ++used;
    return used;
}

bool LinkCjkFont()
{
    const RegKey links = RegKey::Create(HKEY_LOCAL_MACHINE,
                                        "Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink",
                                        KEY_SET_VALUE);
    if (!links)
        return false;
    // One string of the list with its zero; the writer adds the list's closing zero.
    static constexpr char linked[] = "wqy-microhei.ttc,WenQuanYi Micro Hei";
    constexpr std::string_view font(linked, sizeof linked);
    // "MS Sans Serif" is the markup label's font; Wine draws it from a raster
    // font that nothing links otherwise.
    for (const char* face : {"Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "MS Sans Serif"})
        if (links.WriteString(face, font, REG_MULTI_SZ) != ERROR_SUCCESS)
            return false;
    return true;
}

UniqueKernelHandle StartProcess(const std::string& commandLine, HANDLE token)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::wstring line = WideFromUtf8(commandLine);
    const BOOL started = token ? CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                      nullptr, &startup, &info)
                               : CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                                &startup, &info);
    if (!started)
        throw std::runtime_error("cannot start " + commandLine);
    CloseHandle(info.hThread);
    return UniqueKernelHandle(info.hProcess);
}

DWORD WaitForExit(HANDLE process, DWORD timeoutMs)
{
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

void EndProgramsIn(const std::string& folder, DWORD waitMs)
{
    const std::wstring prefix = WideFromUtf8(folder);
    const UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    const DWORD until = GetTickCount() + waitMs;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        const UniqueKernelHandle process(OpenProcess(
            PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH * 2] = {};
        DWORD length = MAX_PATH * 2;
        if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &length) || length < prefix.size() ||
            CompareStringOrdinal(image, static_cast<int>(prefix.size()), prefix.c_str(), static_cast<int>(prefix.size()),
                                 TRUE) != CSTR_EQUAL)
            continue;
        const DWORD now = GetTickCount();
        if (WaitForSingleObject(process.get(), until > now ? until - now : 0) == WAIT_TIMEOUT)
            TerminateProcess(process.get(), 1);
    }
}

namespace {

template <typename Wanted>
bool PressYesWhere(Wanted wanted, DWORD timeoutMs)
{
    HWND dialog = nullptr;
    const bool open = PumpUntil(
        [&] {
            dialog = nullptr;
            while ((dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr))) {
                DWORD owner = 0;
                GetWindowThreadProcessId(dialog, &owner);
                if (wanted(owner) && GetDlgItem(dialog, IDYES))
                    return true;
            }
            return false;
        },
        timeoutMs);
    return open && PostMessageW(dialog, WM_COMMAND, IDYES, 0);
}

}  // namespace

bool PressYesIn(DWORD processId, DWORD timeoutMs)
{
    return PressYesWhere([&](DWORD owner) { return owner == processId; }, timeoutMs);
}

bool PressYesIn(const std::string& program, DWORD timeoutMs)
{
    return PressYesWhere(
        [&](DWORD owner) {
            const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner));
            wchar_t path[MAX_PATH + 1] = {};
            DWORD size = MAX_PATH;
            return process && QueryFullProcessImageNameW(process.get(), 0, path, &size) &&
                   lstrcmpiW(path, WideFromUtf8(program).c_str()) == 0;
        },
        timeoutMs);
}

UniqueKernelHandle TokenWithoutAdministrators()
{
    UniqueKernelHandle process;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put());
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    UniqueSid admins;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             admins.put());
    SID_AND_ATTRIBUTES denyOnly = {admins.get(), 0};
    UniqueKernelHandle restricted;
    CreateRestrictedToken(process.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put());
    return restricted;
}

void PressKey(WORD key, bool shift)
{
    std::vector<INPUT> inputs;
    const auto add = [&](WORD code, DWORD flags) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = code;
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    if (shift)
        add(VK_SHIFT, 0);
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (shift)
        add(VK_SHIFT, KEYEVENTF_KEYUP);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

SystemColoursScope::SystemColoursScope(std::vector<std::pair<int, COLORREF>> colours)
{
    std::vector<COLORREF> wanted;
    for (const auto& [index, colour] : colours) {
        indices_.push_back(index);
        saved_.push_back(GetSysColor(index));
        wanted.push_back(colour);
    }
    EXPECT_TRUE(SetSysColors(static_cast<int>(indices_.size()), indices_.data(), wanted.data()));
}

SystemColoursScope::~SystemColoursScope()
{
    SetSysColors(static_cast<int>(indices_.size()), indices_.data(), saved_.data());
}

LogPixelsScope::LogPixelsScope(DWORD dpi)
{
    const RegKey key = RegKey::Create(HKEY_CURRENT_USER, DesktopKey, KEY_READ | KEY_WRITE);
    previous_ = key.ReadDword("LogPixels");
    EXPECT_EQ(key.WriteDword("LogPixels", dpi), ERROR_SUCCESS);
}

LogPixelsScope::~LogPixelsScope()
{
    const RegKey key = RegKey::Create(HKEY_CURRENT_USER, DesktopKey, KEY_WRITE);
    const LONG restored = previous_ ? key.WriteDword("LogPixels", *previous_) : key.DeleteValue("LogPixels");
    EXPECT_EQ(restored, ERROR_SUCCESS);
}

std::wstring WindowTextOf(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

RECT BoundsIn(HWND parent, HWND child)
{
    RECT bounds{};
    GetWindowRect(child, &bounds);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

bool TextFits(HWND control, int padding)
{
    const std::wstring text = WindowTextOf(control);
    const HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT measured{};
    const bool prefix = ClassOf(control) == L"Button" || !(GetWindowLongPtrW(control, GWL_STYLE) & SS_NOPREFIX);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured,
              DT_CALCRECT | DT_SINGLELINE | (prefix ? 0 : DT_NOPREFIX));
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    RECT client{};
    GetClientRect(control, &client);
    return measured.right + 2 * padding <= client.right;
}
