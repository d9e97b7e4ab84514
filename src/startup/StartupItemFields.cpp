#include "StartupItemFields.h"

#include "core/StrCon.h"

namespace keldora::startup {

StoredItem StoredItemOf(const TStartupItem& item)
{
    return {item.Desc.view(), item.CmdLine.view(), item.Icon.view(), item.DelayTime, item.Enable ? 1 : 0, item.Order};
}

StoredItem TakenOverItem(std::string_view desc, std::string_view cmdLine, std::string_view icon,
                         std::uint8_t location, int n)
{
    return {desc, cmdLine, icon, /*delayTime=*/0, /*enable=*/1, location * 10 + n};
}

const ItemField* FindItemField(std::string_view name)
{
    for (const ItemField& field : ItemFields)
        if (SameText(field.name, name))
            return &field;
    return nullptr;
}

} // namespace keldora::startup
