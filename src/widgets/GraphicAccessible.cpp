#include "GraphicAccessible.h"

#include "winutil/WideText.h"

#include <new>
#include <utility>
#include <vector>

namespace {

std::atomic<long> liveObjects{0};

bool IsChildId(const VARIANT& child)
{
    return child.vt == VT_I4;
}

VARIANT ChildVariant(long id)
{
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// A text for an out-parameter: S_FALSE with null for an empty one.
HRESULT AnswerText(const std::string& text, BSTR* out)
{
    *out = nullptr;
    if (text.empty())
        return S_FALSE;
    const std::wstring wide = WideFromUtf8(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

template <typename Body>
HRESULT Guarded(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace

AccessibleObjectBase::AccessibleObjectBase()
{
    ++liveObjects;
}

AccessibleObjectBase::~AccessibleObjectBase()
{
    --liveObjects;
}

long AccessibleObjectBase::LiveObjects()
{
    return liveObjects;
}

HRESULT AccessibleObjectBase::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch) && iid != __uuidof(IAccessible))
        return E_NOINTERFACE;
    *object = static_cast<IAccessible*>(this);
    AddRef();
    return S_OK;
}

ULONG AccessibleObjectBase::AddRef()
{
    return ++references_;
}

ULONG AccessibleObjectBase::Release()
{
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

HRESULT AccessibleObjectBase::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT AccessibleObjectBase::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

HRESULT AccessibleObjectBase::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT AccessibleObjectBase::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

HRESULT AccessibleObjectBase::put_accName(VARIANT, BSTR)
{
    return E_NOTIMPL;
}

HRESULT AccessibleObjectBase::put_accValue(VARIANT, BSTR)
{
    return E_NOTIMPL;
}

// The control.

int TControlAccessible::ItemOf(const VARIANT& child) const
{
    if (!IsChildId(child) || child.lVal < 0 || child.lVal > control_->AccessibleItems())
        return -1;
    return static_cast<int>(child.lVal);
}

template <typename Body>
HRESULT TControlAccessible::Answer(const VARIANT& child, Body body)
{
    return Guarded([&]() -> HRESULT {
        if (!control_)
            return CO_E_OBJNOTCONNECTED;
        const int item = ItemOf(child);
        if (item < 0)
            return E_INVALIDARG;
        return body(item);
    });
}

HRESULT TControlAccessible::get_accParent(IDispatch** parent)
{
    if (!parent)
        return E_POINTER;
    *parent = nullptr;
    return Answer(ChildVariant(CHILDID_SELF), [&](int) -> HRESULT {
        *parent = control_->NewParentReference();
        return *parent ? S_OK : S_FALSE;
    });
}

HRESULT TControlAccessible::get_accChildCount(long* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return Answer(ChildVariant(CHILDID_SELF), [&](int) -> HRESULT {
        *count = control_->AccessibleItems();
        return S_OK;
    });
}

// Items are simple children: the caller asks this object about them by id.
HRESULT TControlAccessible::get_accChild(VARIANT child, IDispatch** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    return Answer(child, [](int item) { return item == 0 ? E_INVALIDARG : S_FALSE; });
}

HRESULT TControlAccessible::get_accName(VARIANT child, BSTR* name)
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    return Answer(child, [&](int item) { return AnswerText(control_->Describe(item).name, name); });
}

HRESULT TControlAccessible::get_accValue(VARIANT child, BSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = nullptr;
    return Answer(child, [&](int item) { return AnswerText(control_->Describe(item).value, value); });
}

HRESULT TControlAccessible::get_accDescription(VARIANT child, BSTR* description)
{
    if (!description)
        return E_POINTER;
    *description = nullptr;
    return Answer(child, [](int) { return S_FALSE; });
}

HRESULT TControlAccessible::get_accRole(VARIANT child, VARIANT* role)
{
    if (!role)
        return E_POINTER;
    VariantInit(role);
    return Answer(child, [&](int item) -> HRESULT {
        *role = ChildVariant(control_->Describe(item).role);
        return S_OK;
    });
}

HRESULT TControlAccessible::get_accState(VARIANT child, VARIANT* state)
{
    if (!state)
        return E_POINTER;
    VariantInit(state);
    return Answer(child, [&](int item) -> HRESULT {
        *state = ChildVariant(control_->Describe(item).state);
        return S_OK;
    });
}

HRESULT TControlAccessible::get_accHelp(VARIANT child, BSTR* help)
{
    if (!help)
        return E_POINTER;
    *help = nullptr;
    return Answer(child, [](int) { return S_FALSE; });
}

HRESULT TControlAccessible::get_accHelpTopic(BSTR* file, VARIANT child, long* topic)
{
    if (!file || !topic)
        return E_POINTER;
    *file = nullptr;
    *topic = 0;
    return Answer(child, [](int) { return S_FALSE; });
}

HRESULT TControlAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut)
{
    if (!shortcut)
        return E_POINTER;
    *shortcut = nullptr;
    return Answer(child, [&](int item) { return AnswerText(control_->Describe(item).keyboardShortcut, shortcut); });
}

HRESULT TControlAccessible::get_accFocus(VARIANT* focus)
{
    if (!focus)
        return E_POINTER;
    VariantInit(focus);
    return Answer(ChildVariant(CHILDID_SELF), [&](int) -> HRESULT {
        const int item = control_->AccessibleFocus();
        if (item < 0)
            return S_FALSE;
        *focus = ChildVariant(item);
        return S_OK;
    });
}

HRESULT TControlAccessible::get_accSelection(VARIANT* selection)
{
    if (!selection)
        return E_POINTER;
    VariantInit(selection);
    return Answer(ChildVariant(CHILDID_SELF), [](int) { return S_FALSE; });
}

HRESULT TControlAccessible::get_accDefaultAction(VARIANT child, BSTR* action)
{
    if (!action)
        return E_POINTER;
    *action = nullptr;
    return Answer(child, [&](int item) { return AnswerText(control_->Describe(item).defaultAction, action); });
}

HRESULT TControlAccessible::accSelect(long flags, VARIANT child)
{
    return Answer(child, [&](int item) -> HRESULT {
        if (flags != SELFLAG_TAKEFOCUS)
            return E_INVALIDARG;
        return control_->TakeAccessibleFocus(item) ? S_OK : S_FALSE;
    });
}

HRESULT TControlAccessible::accLocation(long* left, long* top, long* width, long* height, VARIANT child)
{
    if (!left || !top || !width || !height)
        return E_POINTER;
    *left = *top = *width = *height = 0;
    return Answer(child, [&](int item) -> HRESULT {
        const RECT area = control_->AccessibleScreenRect(item);
        *left = area.left;
        *top = area.top;
        *width = area.right - area.left;
        *height = area.bottom - area.top;
        return S_OK;
    });
}

HRESULT TControlAccessible::accNavigate(long direction, VARIANT start, VARIANT* end)
{
    if (!end)
        return E_POINTER;
    VariantInit(end);
    return Answer(start, [&](int item) -> HRESULT {
        const int items = control_->AccessibleItems();
        int target = 0;
        if (item == 0 && direction == NAVDIR_FIRSTCHILD)
            target = 1;
        else if (item == 0 && direction == NAVDIR_LASTCHILD)
            target = items;
        else if (item > 0 && (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN))
            target = item + 1;
        else if (item > 0 && (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP))
            target = item - 1;
        else
            return E_NOTIMPL;
        if (target < 1 || target > items)
            return S_FALSE;
        *end = ChildVariant(target);
        return S_OK;
    });
}

HRESULT TControlAccessible::accHitTest(long x, long y, VARIANT* child)
{
    if (!child)
        return E_POINTER;
    VariantInit(child);
    return Answer(ChildVariant(CHILDID_SELF), [&](int) -> HRESULT {
        const int item = control_->AccessibleItemAtScreen({x, y});
        if (item < 0)
            return S_FALSE;
        *child = ChildVariant(item);
        return S_OK;
    });
}

HRESULT TControlAccessible::accDoDefaultAction(VARIANT child)
{
    return Answer(child, [&](int item) -> HRESULT {
        if (control_->Describe(item).defaultAction.empty())
            return DISP_E_MEMBERNOTFOUND;
        control_->PostAccessibleAction(item);
        return S_OK;
    });
}

// The parent's client area.

THostAccessible::~THostAccessible()
{
    if (system_)
        system_->Release();
}

void THostAccessible::Disconnect()
{
    host_ = nullptr;
    if (system_)
        std::exchange(system_, nullptr)->Release();
}

long THostAccessible::SystemChildren() const
{
    long count = 0;
    return SUCCEEDED(system_->get_accChildCount(&count)) ? count : 0;
}

AccessibleElement* THostAccessible::ControlOf(const VARIANT& child) const
{
    if (!IsChildId(child))
        return nullptr;
    const long index = child.lVal - SystemChildren() - 1;
    const std::vector<AccessibleElement*> controls = host_->AccessibleElements();
    return index >= 0 && index < static_cast<long>(controls.size()) ? controls[static_cast<std::size_t>(index)]
                                                                     : nullptr;
}

// Asks the system's object about itself and the window's children, and each
// control's object about a control.
template <typename Call>
HRESULT THostAccessible::Route(const VARIANT& child, Call call)
{
    return Guarded([&]() -> HRESULT {
        if (!host_)
            return CO_E_OBJNOTCONNECTED;
        if (!IsChildId(child) || child.lVal <= SystemChildren())
            return call(system_, child);
        AccessibleElement* control = ControlOf(child);
        if (!control)
            return E_INVALIDARG;
        IAccessible* object = control->NewAccessibleReference();
        const HRESULT result = call(object, ChildVariant(CHILDID_SELF));
        object->Release();
        return result;
    });
}

HRESULT THostAccessible::get_accParent(IDispatch** parent)
{
    if (!parent)
        return E_POINTER;
    *parent = nullptr;
    return Route(ChildVariant(CHILDID_SELF), [&](IAccessible* target, VARIANT) { return target->get_accParent(parent); });
}

HRESULT THostAccessible::get_accChildCount(long* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return Guarded([&]() -> HRESULT {
        if (!host_)
            return CO_E_OBJNOTCONNECTED;
        *count = SystemChildren() + static_cast<long>(host_->AccessibleElements().size());
        return S_OK;
    });
}

// The system's object lists the child windows; it hands them out through
// its enumeration, which every system answers.
HRESULT THostAccessible::get_accChild(VARIANT child, IDispatch** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    return Guarded([&]() -> HRESULT {
        if (!host_)
            return CO_E_OBJNOTCONNECTED;
        if (!IsChildId(child) || child.lVal < 1)
            return E_INVALIDARG;
        if (child.lVal > SystemChildren()) {
            AccessibleElement* control = ControlOf(child);
            if (!control)
                return E_INVALIDARG;
            *object = control->NewAccessibleReference();
            return S_OK;
        }
        VARIANT found;
        VariantInit(&found);
        long got = 0;
        if (FAILED(AccessibleChildren(system_, child.lVal - 1, 1, &found, &got)) || got != 1)
            return E_INVALIDARG;
        if (found.vt != VT_DISPATCH) {
            VariantClear(&found);
            return S_FALSE;
        }
        *object = found.pdispVal;
        return S_OK;
    });
}

HRESULT THostAccessible::get_accName(VARIANT child, BSTR* name)
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accName(id, name); });
}

HRESULT THostAccessible::get_accValue(VARIANT child, BSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = nullptr;
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accValue(id, value); });
}

HRESULT THostAccessible::get_accDescription(VARIANT child, BSTR* description)
{
    if (!description)
        return E_POINTER;
    *description = nullptr;
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accDescription(id, description); });
}

HRESULT THostAccessible::get_accRole(VARIANT child, VARIANT* role)
{
    if (!role)
        return E_POINTER;
    VariantInit(role);
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accRole(id, role); });
}

HRESULT THostAccessible::get_accState(VARIANT child, VARIANT* state)
{
    if (!state)
        return E_POINTER;
    VariantInit(state);
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accState(id, state); });
}

HRESULT THostAccessible::get_accHelp(VARIANT child, BSTR* help)
{
    if (!help)
        return E_POINTER;
    *help = nullptr;
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accHelp(id, help); });
}

HRESULT THostAccessible::get_accHelpTopic(BSTR* file, VARIANT child, long* topic)
{
    if (!file || !topic)
        return E_POINTER;
    *file = nullptr;
    *topic = 0;
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accHelpTopic(file, id, topic); });
}

HRESULT THostAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut)
{
    if (!shortcut)
        return E_POINTER;
    *shortcut = nullptr;
    return Route(child,
                 [&](IAccessible* target, VARIANT id) { return target->get_accKeyboardShortcut(id, shortcut); });
}

// While a control holds the focus, the answer is its object.
HRESULT THostAccessible::get_accFocus(VARIANT* focus)
{
    if (!focus)
        return E_POINTER;
    VariantInit(focus);
    return Guarded([&]() -> HRESULT {
        if (!host_)
            return CO_E_OBJNOTCONNECTED;
        AccessibleElement* control = host_->FocusedElement();
        if (!control)
            return system_->get_accFocus(focus);
        focus->vt = VT_DISPATCH;
        focus->pdispVal = control->NewAccessibleReference();
        return S_OK;
    });
}

HRESULT THostAccessible::get_accSelection(VARIANT* selection)
{
    if (!selection)
        return E_POINTER;
    VariantInit(selection);
    return Route(ChildVariant(CHILDID_SELF),
                 [&](IAccessible* target, VARIANT) { return target->get_accSelection(selection); });
}

HRESULT THostAccessible::get_accDefaultAction(VARIANT child, BSTR* action)
{
    if (!action)
        return E_POINTER;
    *action = nullptr;
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->get_accDefaultAction(id, action); });
}

HRESULT THostAccessible::accSelect(long flags, VARIANT child)
{
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->accSelect(flags, id); });
}

HRESULT THostAccessible::accLocation(long* left, long* top, long* width, long* height, VARIANT child)
{
    if (!left || !top || !width || !height)
        return E_POINTER;
    *left = *top = *width = *height = 0;
    return Route(child,
                 [&](IAccessible* target, VARIANT id) { return target->accLocation(left, top, width, height, id); });
}

HRESULT THostAccessible::accNavigate(long direction, VARIANT start, VARIANT* end)
{
    if (!end)
        return E_POINTER;
    VariantInit(end);
    return Route(start, [&](IAccessible* target, VARIANT id) { return target->accNavigate(direction, id, end); });
}

HRESULT THostAccessible::accHitTest(long x, long y, VARIANT* child)
{
    if (!child)
        return E_POINTER;
    VariantInit(child);
    return Guarded([&]() -> HRESULT {
        if (!host_)
            return CO_E_OBJNOTCONNECTED;
        const std::vector<AccessibleElement*> controls = host_->AccessibleElements();
        for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
            if ((*it)->AccessibleItemAtScreen({x, y}) < 0)
                continue;
            child->vt = VT_DISPATCH;
            child->pdispVal = (*it)->NewAccessibleReference();
            return S_OK;
        }
        return system_->accHitTest(x, y, child);
    });
}

HRESULT THostAccessible::accDoDefaultAction(VARIANT child)
{
    return Route(child, [&](IAccessible* target, VARIANT id) { return target->accDoDefaultAction(id); });
}
