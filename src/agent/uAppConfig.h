#pragma once
// Settings kept in an INI file under key paths "Section\Name" (see
// SplitKeyPath). Paths and text are UTF-8; the file is read and written in
// the encodings of ProfileFile.h (ANSI code page, or UTF-16 LE with its
// byte-order mark once it holds text that code page cannot). The file is shared with the product's other programs, so
// every write re-reads it under an exclusive lock and changes only its own
// key: keys others wrote meanwhile are kept. Reads work on the copy loaded by
// Open and refreshed by each write.
// Nothing here raises but the assertions for a missing form: every operation
// answers false on failure and leaves its output untouched. Main thread of one program; other processes may write
// the same file at any time.

#include <windows.h>

#include "agent/IniDocument.h"

#include <optional>
#include <string>
#include <string_view>

class IAppConfig {
public:
    virtual ~IAppConfig() = default;

    // Loads the file (an absent file is an empty one). True even when the file
    // cannot be read; reads and writes then answer false.
    virtual bool Open(const std::string& fileName) = 0;
    virtual bool Close() = 0;

    // A missing value gives the default and true.
    virtual bool ReadString(std::string_view keyPath, std::string& value, std::string_view def) = 0;
    virtual bool WriteString(std::string_view keyPath, std::string_view value) = 0;
    // Dates in the user's short date (and time) format; `DATE` counts days from 30 Dec 1899.
    virtual bool ReadDateTime(std::string_view keyPath, DATE& value, DATE def) = 0;
    virtual bool WriteDate(std::string_view keyPath, DATE value) = 0;
    // A value that is not a number gives the default.
    virtual bool ReadInteger(std::string_view keyPath, int& value, int def) = 0;
    // True once the file on disk holds the value.
    virtual bool WriteInteger(std::string_view keyPath, int value) = 0;

    // Position of a top-level window under "FormState\<formName>\...".
    virtual bool SaveFormState(HWND form, std::string_view formName) = 0;
    virtual bool LoadFormState(HWND form, std::string_view formName, bool withSize) = 0;
};

class TAppCfgIni : public IAppConfig {
public:
    TAppCfgIni() = default;
    ~TAppCfgIni() override { Close(); }
    TAppCfgIni(const TAppCfgIni&) = delete;
    TAppCfgIni& operator=(const TAppCfgIni&) = delete;

    bool Open(const std::string& fileName) override;
    bool Close() override;
    bool ReadString(std::string_view keyPath, std::string& value, std::string_view def) override;
    bool WriteString(std::string_view keyPath, std::string_view value) override;
    bool ReadDateTime(std::string_view keyPath, DATE& value, DATE def) override;
    bool WriteDate(std::string_view keyPath, DATE value) override;
    bool ReadInteger(std::string_view keyPath, int& value, int def) override;
    bool WriteInteger(std::string_view keyPath, int value) override;
    bool SaveFormState(HWND form, std::string_view formName) override;
    bool LoadFormState(HWND form, std::string_view formName, bool withSize) override;

private:
    std::optional<std::string> Lookup(std::string_view keyPath, bool& ok) const;
    bool Write(std::string_view keyPath, std::string_view value);

    std::string FFileName;
    std::optional<IniDocument> FIniFile;
    bool FOpen = false;
};
