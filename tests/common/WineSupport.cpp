#include "WineSupport.h"

#include "common/Utils.h"
#include "winutil/RegKey.h"
#include "winutil/UniqueHandle.h"

#include <gtest/gtest.h>

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

} // namespace

std::string RunAndCapture(const std::string& programAndArgs, DWORD* exitCode)
{
    char tempDir[MAX_PATH + 1], tempName[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, tempDir);
    GetTempFileNameA(tempDir, "kdt", 0, tempName);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueFile output(CreateFileA(tempName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!output)
        throw std::runtime_error("cannot create capture file");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = output.get();
    si.hStdError = output.get();
    PROCESS_INFORMATION pi = {};
    std::string commandLine = GetAppFolder() + programAndArgs;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot start " + commandLine);
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(process.get(), 60000);
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
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
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
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::string line = commandLine;
    const BOOL started = token ? CreateProcessAsUserA(token, nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                                      nullptr, &startup, &info)
                               : CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
