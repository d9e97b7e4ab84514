#include "common/AccessibleTree.h"

namespace {

VARIANT ChildId(long id)
{
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

template <typename Call>
std::wstring Text(Call call)
{
    BSTR text = nullptr;
    const HRESULT result = call(&text);
    std::wstring kept = SUCCEEDED(result) && text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return kept;
}

template <typename Call>
long Number(Call call)
{
    VARIANT value;
    VariantInit(&value);
    const HRESULT result = call(&value);
    const long number = SUCCEEDED(result) && value.vt == VT_I4 ? value.lVal : 0;
    VariantClear(&value);
    return number;
}

AccessibleNode Read(IAccessible* object, long child, int depth)
{
    AccessibleNode node;
    object->AddRef();
    node.object.reset(object);
    node.child = child;
    node.depth = depth;
    const VARIANT id = ChildId(child);
    node.name = Text([&](BSTR* text) { return object->get_accName(id, text); });
    node.value = Text([&](BSTR* text) { return object->get_accValue(id, text); });
    node.defaultAction = Text([&](BSTR* text) { return object->get_accDefaultAction(id, text); });
    node.role = Number([&](VARIANT* number) { return object->get_accRole(id, number); });
    node.state = Number([&](VARIANT* number) { return object->get_accState(id, number); });
    return node;
}

void Walk(IAccessible* object, int depth, std::size_t limit, std::vector<AccessibleNode>& tree);

// A child window's object. Wine's system object of a window answers
// nothing but its window (measured: E_NOTIMPL for the rest), so a reader
// goes on with that window's client object, as it does from a focus event.
void WalkChild(IAccessible* object, int depth, std::size_t limit, std::vector<AccessibleNode>& tree)
{
    VARIANT role;
    VariantInit(&role);
    const VARIANT self = ChildId(CHILDID_SELF);
    HWND window = nullptr;
    if (SUCCEEDED(object->get_accRole(self, &role)) || FAILED(WindowFromAccessibleObject(object, &window)) || !window) {
        VariantClear(&role);
        Walk(object, depth, limit, tree);
        return;
    }
    IAccessible* client = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&client))) ||
        !client)
        return;
    Walk(client, depth, limit, tree);
    client->Release();
}

void Walk(IAccessible* object, int depth, std::size_t limit, std::vector<AccessibleNode>& tree)
{
    tree.push_back(Read(object, CHILDID_SELF, depth));
    long count = 0;
    if (FAILED(object->get_accChildCount(&count)) || count <= 0)
        return;
    std::vector<VARIANT> children(static_cast<std::size_t>(count));
    long got = 0;
    if (FAILED(AccessibleChildren(object, 0, count, children.data(), &got)))
        return;
    for (long i = 0; i < got; ++i) {
        VARIANT& child = children[static_cast<std::size_t>(i)];
        if (tree.size() < limit) {
            if (child.vt == VT_DISPATCH && child.pdispVal) {
                IAccessible* inner = nullptr;
                if (SUCCEEDED(child.pdispVal->QueryInterface(__uuidof(IAccessible), reinterpret_cast<void**>(&inner)))) {
                    WalkChild(inner, depth + 1, limit, tree);
                    inner->Release();
                }
            } else if (child.vt == VT_I4) {
                tree.push_back(Read(object, child.lVal, depth + 1));
            }
        }
        VariantClear(&child);
    }
}

} // namespace

VARIANT AccessibleNode::Id() const
{
    return ChildId(child);
}

RECT AccessibleNode::Location() const
{
    long left = 0, top = 0, width = 0, height = 0;
    object.get()->accLocation(&left, &top, &width, &height, Id());
    return {left, top, left + width, top + height};
}

std::vector<AccessibleNode> AccessibleTreeOf(HWND window, std::size_t limit)
{
    std::vector<AccessibleNode> tree;
    IAccessible* client = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&client))) ||
        !client)
        return tree;
    Walk(client, 0, limit, tree);
    client->Release();
    return tree;
}

const AccessibleNode* FindAccessible(const std::vector<AccessibleNode>& tree, long role, std::wstring_view name)
{
    for (const AccessibleNode& node : tree)
        if (node.role == role && node.name.find(name) != std::wstring::npos)
            return &node;
    return nullptr;
}
