#include "uAppConfig.h"

#include "core/Assert.h"
#include "winutil/ProfileFile.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <oleauto.h>

namespace {

// Another program may hold the file for a moment while it writes; wait for
// it rather than fail (about a second in all).
constexpr int kLockAttempts = 40;
constexpr DWORD kLockPauseMs = 25;

bool IsLockError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

UniqueFile OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD& error)
{
    for (int attempt = 0;; ++attempt) {
        UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        error = file ? ERROR_SUCCESS : GetLastError();
        if (file || !IsLockError(error) || attempt + 1 == kLockAttempts)
            return file;
        Sleep(kLockPauseMs);
    }
}

std::optional<IniDocument> LoadDocument(const std::string& path)
{
    DWORD error = ERROR_SUCCESS;
    const UniqueFile file = OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, error);
    if (!file)
        return error == ERROR_FILE_NOT_FOUND ? std::optional<IniDocument>(IniDocument()) : std::nullopt;
    const auto bytes = ReadWholeFile(file.get(), kMaxIniFileSize);
    if (!bytes)
        return std::nullopt;
    return IniDocument::Parse(ProfileTextFromBytes(*bytes));
}

// Read, change and write back while no one else can open the file, so a key
// another program wrote since our Open survives. The file keeps its encoding
// unless its text no longer fits the ANSI code page (ProfileFile.h).
std::optional<IniDocument> UpdateDocument(const std::string& path, const KeyPath& key, std::string_view value)
{
    if (!IniDocument::CanHold(key.section, key.name, value))
        return std::nullopt;
    DWORD error = ERROR_SUCCESS;
    const UniqueFile file = OpenFile(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS, error);
    if (!file)
        return std::nullopt;
    const auto bytes = ReadWholeFile(file.get(), kMaxIniFileSize);
    if (!bytes)
        return std::nullopt;
    IniDocument doc = IniDocument::Parse(ProfileTextFromBytes(*bytes));
    if (!doc.Set(key.section, key.name, value))
        return std::nullopt;
    const std::string updated = ProfileBytesFromText(doc.Text(), ProfileEncodingOf(*bytes));
    DWORD written = 0;
    if (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !WriteFile(file.get(), updated.data(), static_cast<DWORD>(updated.size()), &written, nullptr) ||
        written != updated.size() || !SetEndOfFile(file.get()) || !FlushFileBuffers(file.get()))
        return std::nullopt;
    return doc;
}

std::string ShortDateText(DATE value)
{
    SYSTEMTIME time = {};
    if (!VariantTimeToSystemTime(value, &time))
        return {};
    const int size = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    const int length = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text.data(), size);
    if (length <= 0)
        return {};
    return Utf8FromWide(std::wstring_view(text.data(), static_cast<std::size_t>(length - 1)));
}

int WindowStateOf(HWND form)
{
    if (IsIconic(form))
        return 1;
    return IsZoomed(form) ? 2 : 0;
}

std::string FormStateBase(std::string_view formName)
{
    return "FormState\\" + std::string(formName) + "\\";
}

} // namespace

bool TAppCfgIni::Open(const std::string& fileName)
{
    Close();
    FFileName = fileName;
    FIniFile = LoadDocument(fileName);
    FOpen = true;
    return true;
}

bool TAppCfgIni::Close()
{
    if (!FOpen)
        return false;
    FOpen = false;
    FIniFile.reset();
    return true;
}

// The stored text of a key; `ok` false when the store cannot answer at all.
std::optional<std::string> TAppCfgIni::Lookup(std::string_view keyPath, bool& ok) const
{
    const auto key = SplitKeyPath(keyPath);
    ok = FOpen && FIniFile && key;
    if (!ok)
        return std::nullopt;
    return FIniFile->Get(key->section, key->name);
}

bool TAppCfgIni::Write(std::string_view keyPath, std::string_view value)
{
    const auto key = SplitKeyPath(keyPath);
    if (!FOpen || !FIniFile || !key)
        return false;
    if (auto updated = UpdateDocument(FFileName, *key, value)) {
        FIniFile = std::move(updated);
        return true;
    }
    FIniFile->Set(key->section, key->name, value);
    return false;
}

bool TAppCfgIni::ReadString(std::string_view keyPath, std::string& value, std::string_view def)
{
    bool ok = false;
    const auto text = Lookup(keyPath, ok);
    if (ok)
        value = text ? *text : std::string(def);
    return ok;
}

bool TAppCfgIni::WriteString(std::string_view keyPath, std::string_view value)
{
    return Write(keyPath, value);
}

bool TAppCfgIni::ReadDateTime(std::string_view keyPath, DATE& value, DATE def)
{
    bool ok = false;
    const auto text = Lookup(keyPath, ok);
    if (!ok)
        return false;
    if (!text || text->empty()) {
        value = def;
        return true;
    }
    std::wstring wide = WideFromUtf8(*text);
    DATE parsed = 0;
    if (FAILED(VarDateFromStr(wide.data(), LOCALE_USER_DEFAULT, 0, &parsed)))
        return false;
    value = parsed;
    return true;
}

bool TAppCfgIni::WriteDate(std::string_view keyPath, DATE value)
{
    const std::string text = ShortDateText(value);
    return !text.empty() && Write(keyPath, text);
}

bool TAppCfgIni::ReadInteger(std::string_view keyPath, int& value, int def)
{
    bool ok = false;
    const auto text = Lookup(keyPath, ok);
    if (!ok)
        return false;
    std::int32_t parsed = def;
    if (!text || !ParseIniInteger(*text, parsed))
        parsed = def;
    value = parsed;
    return true;
}

bool TAppCfgIni::WriteInteger(std::string_view keyPath, int value)
{
    return Write(keyPath, std::to_string(value));
}

bool TAppCfgIni::SaveFormState(HWND form, std::string_view formName)
{
    Check(form != nullptr, "SaveFormState needs a form", "uAppConfig");
    const int state = WindowStateOf(form);
    RECT bounds = {};
    if (state != 0) {
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        if (!GetWindowPlacement(form, &placement))
            return false;
        bounds = placement.rcNormalPosition;
    } else if (!GetWindowRect(form, &bounds)) {
        return false;
    }
    const std::string base = FormStateBase(formName);
    return WriteInteger(base + "Left", bounds.left) && WriteInteger(base + "Top", bounds.top) &&
           WriteInteger(base + "Width", bounds.right - bounds.left) &&
           WriteInteger(base + "Height", bounds.bottom - bounds.top) && WriteInteger(base + "State", state);
}

bool TAppCfgIni::LoadFormState(HWND form, std::string_view formName, bool withSize)
{
    Check(form != nullptr, "LoadFormState needs a form", "uAppConfig");
    RECT bounds = {};
    if (!GetWindowRect(form, &bounds))
        return false;
    const std::string base = FormStateBase(formName);
    int left = 0, top = 0, width = 0, height = 0, state = 0;
    if (!ReadInteger(base + "Left", left, bounds.left) || !ReadInteger(base + "Top", top, bounds.top) ||
        !ReadInteger(base + "Width", width, bounds.right - bounds.left) ||
        !ReadInteger(base + "Height", height, bounds.bottom - bounds.top) ||
        !ReadInteger(base + "State", state, WindowStateOf(form)))
        return false;
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (withSize ? 0 : SWP_NOSIZE);
    if (!SetWindowPos(form, nullptr, left, top, width, height, flags))
        return false;
    // A hidden form keeps its state until it is shown; applying it now would show it.
    if (withSize && IsWindowVisible(form))
        ShowWindow(form, state == 1 ? SW_MINIMIZE : state == 2 ? SW_MAXIMIZE : SW_RESTORE);
    return true;
}
