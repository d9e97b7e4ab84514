#include "StartupItemFields.h"

#include "core/Format.h"
#include "core/StrCon.h"

namespace keldora::startup {

StoredItem StoredItemOf(const TStartupItem& item)
{
    return {item.Desc.view(), item.CmdLine.view(), item.Icon.view(), item.DelayTime, item.Enable ? 1 : 0, item.Order,
            item.TakenOver.view()};
}

StoredItem TakenOverItem(std::string_view desc, std::string_view cmdLine, std::string_view icon,
                         std::uint8_t location, int n, std::string_view takenOver)
{
    return {desc, cmdLine, icon, /*delayTime=*/0, /*enable=*/1, location * 10 + n, takenOver};
}

std::string TakeOverTimeNow()
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    return PaddedDecimal(now.wYear, 4) + '-' + PaddedDecimal(now.wMonth, 2) + '-' + PaddedDecimal(now.wDay, 2) + 'T' +
           PaddedDecimal(now.wHour, 2) + ':' + PaddedDecimal(now.wMinute, 2) + ':' + PaddedDecimal(now.wSecond, 2) + 'Z';
}

bool WritesField(const ItemField& field, const StoredItem& item, bool takeOver, bool present)
{
    if (field.kept && field.kind == FieldKind::Text && (item.*field.text).empty())
        return false;
    return !(takeOver && field.kept && present);
}

const ItemField* FindItemField(std::string_view name)
{
    for (const ItemField& field : ItemFields)
        if (SameText(field.name, name))
            return &field;
    return nullptr;
}

} // namespace keldora::startup
