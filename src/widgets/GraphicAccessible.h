#pragma once
// The accessible objects (MSAA IAccessible, which UI Automation bridges) of
// windowless controls; own helper of GraphicControl.h.
//
// THostAccessible stands for the parent window's client area: it answers as
// the system's own client object of the window does, and lists each visible
// control after the window's child windows. TControlAccessible stands for
// one control; the control's items (a label's links) are its simple
// children, answered by index from what the control knows, so that a text
// with thousands of links costs no object per link. The objects see the
// controls and their host through the two interfaces below, which
// TGraphicControl and TGraphicHost implement.
//
// Both are reference-counted COM objects that a screen reader may hold
// after the window or the control is gone: Disconnect cuts them off, and
// every call after it fails with CO_E_OBJNOTCONNECTED. No exception leaves
// a method. Called on the parent window's thread (the system marshals other
// callers there).
#include <windows.h>
#include <oleacc.h>

#include <atomic>
#include <string>
#include <vector>

// What a control, or one of its items, tells assistive technology.
struct AccessibleDescription {
    long role = ROLE_SYSTEM_CLIENT;
    std::string name;
    std::string value;
    long state = 0; // STATE_SYSTEM_*
    std::string defaultAction;
    std::string keyboardShortcut;
};

// A control as its object sees it: item 0 is the control, items from 1 its
// simple children; places are on the screen.
class AccessibleElement {
public:
    virtual AccessibleDescription Describe(int item) const = 0;
    virtual int AccessibleItems() const = 0;
    // The item at a point; -1 when the point is outside the control.
    virtual int AccessibleItemAtScreen(POINT point) const = 0;
    virtual RECT AccessibleScreenRect(int item) const = 0;
    // The item that holds the keyboard focus; -1 for none.
    virtual int AccessibleFocus() const = 0;
    // False when the item takes no focus.
    virtual bool TakeAccessibleFocus(int item) = 0;
    // Runs the item's default action later, from the message loop.
    virtual void PostAccessibleAction(int item) = 0;
    // New references: the window's client object, and the control's own.
    virtual IAccessible* NewParentReference() = 0;
    virtual IAccessible* NewAccessibleReference() = 0;

protected:
    ~AccessibleElement() = default;
};

// The controls of a window's client area.
class AccessibleContainer {
public:
    // The visible controls, in order.
    virtual std::vector<AccessibleElement*> AccessibleElements() const = 0;
    // The control that holds the keyboard focus; null for none.
    virtual AccessibleElement* FocusedElement() const = 0;

protected:
    ~AccessibleContainer() = default;
};

// IUnknown and IDispatch of both objects: reference counting and no type information.
class AccessibleObjectBase : public IAccessible {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override;

    // The number of objects alive in the process, for tests that check
    // that answering creates no object per child.
    static long LiveObjects();

protected:
    AccessibleObjectBase();
    virtual ~AccessibleObjectBase();

private:
    std::atomic<ULONG> references_{1};
};

class TControlAccessible final : public AccessibleObjectBase {
public:
    // Created with one reference, the control's.
    explicit TControlAccessible(AccessibleElement& control) : control_(&control) {}
    void Disconnect() { control_ = nullptr; }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;

private:
    // The item a VARIANT names, or -1 when it names none of this control.
    int ItemOf(const VARIANT& child) const;
    template <typename Body>
    HRESULT Answer(const VARIANT& child, Body body);

    AccessibleElement* control_;
};

class THostAccessible final : public AccessibleObjectBase {
public:
    // Created with one reference, the host's; `system` is the system's
    // client object of the parent window (its reference is taken over).
    THostAccessible(AccessibleContainer& host, IAccessible* system) : host_(&host), system_(system) {}
    void Disconnect();

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;

private:
    ~THostAccessible() override;
    long SystemChildren() const;
    // The control a child id names after the window's children; null for none.
    AccessibleElement* ControlOf(const VARIANT& child) const;
    template <typename Call>
    HRESULT Route(const VARIANT& child, Call call);

    AccessibleContainer* host_;
    IAccessible* system_;
};
