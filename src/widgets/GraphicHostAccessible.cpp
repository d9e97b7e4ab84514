#include "GraphicControl.h"

IAccessible* TGraphicHost::NewClientReference()
{
    if (!client_) {
        IAccessible* system = nullptr;
        if (FAILED(CreateStdAccessibleObject(parent_, OBJID_CLIENT, __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&system))) ||
            !system)
            return nullptr;
        client_ = new THostAccessible(*this, system);
    }
    client_->AddRef();
    return client_;
}

std::vector<AccessibleElement*> TGraphicHost::AccessibleElements() const
{
    std::vector<AccessibleElement*> elements;
    for (TGraphicControl* control : controls_)
        if (control->Visible())
            elements.push_back(control);
    return elements;
}

AccessibleElement* TGraphicHost::FocusedElement() const
{
    return focus_ && focusItem_ > 0 && ParentHasFocus() ? focus_ : nullptr;
}

bool TGraphicHost::OnGetObject(WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    const auto id = static_cast<LONG>(static_cast<DWORD>(lParam));
    IAccessible* object = nullptr;
    try {
        if (id == OBJID_CLIENT)
            object = NewClientReference();
        else if (TGraphicControl* control = id > 0 ? ControlWithId(id) : nullptr)
            object = control->NewAccessibleReference();
    } catch (...) {
        return false; // the system answers with its own object
    }
    if (!object)
        return false;
    result = LresultFromObject(__uuidof(IAccessible), wParam, object);
    object->Release();
    return true;
}
