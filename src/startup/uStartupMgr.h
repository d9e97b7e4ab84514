#pragma once
// The startup locations, the startup-item record and the frame of every
// location manager. A manager owns its items; everyone else borrows them until
// the manager's next ClearItems, Reload, AddItem or destruction.
// A manager is not thread-safe: one thread at a time uses it and its items
// (in the agent, the take-over's worker, one job after another).

#include <windows.h>

#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 text of at most 255 characters (UTF-16 code units, as the system
// counts them) stored inline, so that a record holding it copies by value;
// longer text is cut between characters, never inside one, never overrun.
class ShortString {
public:
    static constexpr std::size_t MaxLength = 255;
    // Each code unit takes three UTF-8 bytes at the most.
    static constexpr std::size_t MaxBytes = 3 * MaxLength;

    ShortString() = default;
    ShortString(std::string_view text) { assign(text); }
    ShortString& operator=(std::string_view text)
    {
        assign(text);
        return *this;
    }

    std::string str() const { return std::string(chars_, length_); }
    std::string_view view() const { return std::string_view(chars_, length_); }
    // In bytes.
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }
    friend bool operator==(const ShortString& a, const ShortString& b) { return a.view() == b.view(); }

private:
    void assign(std::string_view text);

    std::uint16_t length_ = 0;
    char chars_[MaxBytes] = {};
};

class TBaseStartupMgr;

struct TStartupItem {
    ShortString Desc;
    ShortString CmdLine;
    ShortString Icon;
    std::int32_t DelayTime = 0;
    bool Enable = false;
    TBaseStartupMgr* Owner = nullptr;  // not owning
    std::uint8_t Location = 0;
    std::int32_t Order = 0;
    // When the entry first came into the store (UTC, "YYYY-MM-DDThh:mm:ssZ");
    // empty where an older store did not record it.
    ShortString TakenOver;
};
using PStartupItem = TStartupItem*;

struct TStpDesc {
    std::uint8_t Location = 0;
    HKEY RootKey = nullptr;
    std::string Path;
    // The registry view every key of the location is opened in
    // (KEY_WOW64_64KEY or KEY_WOW64_32KEY); 0 for the process's own view.
    REGSAM View = 0;
};

constexpr std::uint8_t StartupLocationCount = 10;
constexpr std::uint8_t AllUsersStartupFolder = 8;
constexpr std::uint8_t UserStartupFolder = 9;
// The product's store beside each location: a subkey, or a hidden folder with its INI file.
constexpr const char* StoreName = "Keldora";
constexpr const char* StoreIniName = "Keldora.ini";

extern const char* const StartupRunKeyPaths[4];
extern const char* const StartupLocationCaptions[StartupLocationCount];

TStpDesc GetStpDesc(std::uint8_t location, REGSAM view = 0);
// The views a location's key exists in: both for the machine's Run-type keys
// on 64-bit Windows (in either build), else only the process's own. The
// user's keys are shared between the views.
std::vector<REGSAM> LocationViews(std::uint8_t location);
bool IsMachineLocation(std::uint8_t location);
// Path of a shell special folder; empty when the shell gives none.
std::string GetSpecialFolderPath(int folder);
// The all-users Startup folder as the 9x family lays it out, beside the
// user's; empty when either part is unknown.
std::string GetLegacyCommonStartupPath();
bool IsFolderLocation(std::uint8_t location);

class EStartupMgrErr : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

extern const char* const LoadItemsErrorFormat;

class TBaseStartupMgr {
public:
    explicit TBaseStartupMgr(std::uint8_t location, REGSAM view = 0);
    virtual ~TBaseStartupMgr() = default;
    TBaseStartupMgr(const TBaseStartupMgr&) = delete;
    TBaseStartupMgr& operator=(const TBaseStartupMgr&) = delete;

    // Every operation a concrete manager does not provide raises EAbstractError.
    virtual void LoadItems();
    virtual bool SetupItems();
    virtual bool RestoreItems();
    virtual bool DeleteItem(int index);
    virtual bool StoreItem(TStartupItem& item);
    virtual bool SaveItems();

    void ClearItems() noexcept { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    PStartupItem Items(int index) const;
    bool Reload();
    bool AddItem(TStartupItem item);
    const TStpDesc& Desc() const { return FDesc; }
    // Problems met on the way that lost nothing and stopped nothing (an entry
    // left where it is, a store key that cannot be read); each is handed out
    // once in the manager's life.
    std::vector<std::string> TakeNotes();

protected:
    // Appends a copy of the item as one of this manager's and returns it.
    TStartupItem& AppendItem(const TStartupItem& item = {});
    void Note(const std::string& text);

    std::vector<std::unique_ptr<TStartupItem>> FItems;
    const TStpDesc FDesc;

private:
    std::vector<std::string> FNotes;
    std::set<std::string> FNoted;
};

// Runs a manager operation; an error derived from std::exception becomes an
// EStartupMgrErr whose message `describe` builds from the caught message.
template <typename Work, typename Describe>
auto RunGuarded(Work&& work, Describe&& describe) -> decltype(work())
{
    try {
        return work();
    } catch (const std::exception& e) {
        throw EStartupMgrErr(describe(e));
    }
}

// A new manager for the location, its stored items already loaded: a folder
// manager for 8 and 9, a registry manager for the others.
std::unique_ptr<TBaseStartupMgr> CreateStartupMgr(std::uint8_t location, REGSAM view = 0);
