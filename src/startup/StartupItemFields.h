#pragma once
// The values every stored startup item holds, in the order both stores
// (the registry managers' item keys, the folder managers' index sections)
// write them, with their kinds and the defaults of an entry taken over from a
// native location. Text values are strings; the others are 32-bit integers,
// Enable written as 0 or 1 and read as true when not 0. A take-over rewrites
// the names and lines and writes a kept value only where the entry has none,
// so the user's delay, switch and order, and the time the entry first came
// in, survive it. A kept text that is empty (an older store's item has no
// take-over time) is not written at all.
#include "startup/uStartupMgr.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace keldora::startup {

// One item as a store writes it. Text from a take-over is kept whole; text
// from an item is what its fields hold.
struct StoredItem {
    std::string_view desc;
    std::string_view cmdLine;
    std::string_view icon;
    std::int32_t delayTime = 0;
    std::int32_t enable = 1;
    std::int32_t order = 0;
    // UTC, "YYYY-MM-DDThh:mm:ssZ"; empty for unknown.
    std::string_view takenOver;
};

StoredItem StoredItemOf(const TStartupItem& item);
// The native entry at 0-based position n of its location, as it first enters the store.
StoredItem TakenOverItem(std::string_view desc, std::string_view cmdLine, std::string_view icon,
                         std::uint8_t location, int n, std::string_view takenOver);
// The present time as a take-over records it.
std::string TakeOverTimeNow();

enum class FieldKind { Text, Integer };

struct ItemField {
    const char* name;
    FieldKind kind;
    // The command line keeps an expandable string type where it has one.
    bool expandable;
    // Written by a take-over only where the entry has none.
    bool kept;
    std::string_view StoredItem::*text;  // Text fields
    std::int32_t StoredItem::*integer;   // Integer fields
    void (*readText)(TStartupItem& item, std::string_view text);
    void (*readInteger)(TStartupItem& item, std::int32_t value);
};

inline constexpr ItemField ItemFields[] = {
    {"Desc", FieldKind::Text, false, false, &StoredItem::desc, nullptr,
     [](TStartupItem& item, std::string_view text) { item.Desc = text; }, nullptr},
    {"CmdLine", FieldKind::Text, true, false, &StoredItem::cmdLine, nullptr,
     [](TStartupItem& item, std::string_view text) { item.CmdLine = text; }, nullptr},
    {"Icon", FieldKind::Text, false, false, &StoredItem::icon, nullptr,
     [](TStartupItem& item, std::string_view text) { item.Icon = text; }, nullptr},
    {"DelayTime", FieldKind::Integer, false, true, nullptr, &StoredItem::delayTime, nullptr,
     [](TStartupItem& item, std::int32_t value) { item.DelayTime = value; }},
    {"Enable", FieldKind::Integer, false, true, nullptr, &StoredItem::enable, nullptr,
     [](TStartupItem& item, std::int32_t value) { item.Enable = value != 0; }},
    {"Order", FieldKind::Integer, false, true, nullptr, &StoredItem::order, nullptr,
     [](TStartupItem& item, std::int32_t value) { item.Order = value; }},
    {"TakenOver", FieldKind::Text, false, true, &StoredItem::takenOver, nullptr,
     [](TStartupItem& item, std::string_view text) { item.TakenOver = text; }, nullptr},
};

// Whether a store writes the field of the item, the entry holding the value
// already (`present`) or not.
bool WritesField(const ItemField& field, const StoredItem& item, bool takeOver, bool present);

// The field a stored value's name (in any case) stands for; null for none.
const ItemField* FindItemField(std::string_view name);

} // namespace keldora::startup
