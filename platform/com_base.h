#pragma once
// Components: reference-counted objects reached through interfaces, the way
// the control and its hosts talk to each other.
//
// This is the small part of the component model that our control and hosts
// need, nothing more: interface query by id, reference counting, a dispatch
// interface for scripting calls by DISPID, a property bag for persistence,
// object safety, class factories, and the host services a control may ask its
// site for. Every call returns an HRESULT; nothing throws.
//
// Threading: an object belongs to the thread that created it (apartment
// model); only AddRef and Release may be called from other threads.

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

// --- results -----------------------------------------------------------------

using HRESULT = std::int32_t;

constexpr HRESULT MakeHResult(std::uint32_t bits) {
    return static_cast<HRESULT>(bits);
}
constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT SELFREG_E_TYPELIB = MakeHResult(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201);
inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHResult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHResult(0x80020003);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHResult(0x80020006);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHResult(0x8002000E);

// --- identifiers -------------------------------------------------------------

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

namespace guid_detail {
consteval int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    throw "not a hexadecimal digit";  // compile-time diagnostic only
}
consteval std::uint32_t Hex(const char* s, int digits) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i)
        v = (v << 4) | static_cast<std::uint32_t>(HexDigit(s[i]));
    return v;
}
}  // namespace guid_detail

// A compile-time identifier from "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
consteval Guid MakeGuid(const char (&t)[37]) {
    using guid_detail::Hex;
    if (t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
        throw "malformed identifier";
    Guid g;
    g.data1 = Hex(t, 8);
    g.data2 = static_cast<std::uint16_t>(Hex(t + 9, 4));
    g.data3 = static_cast<std::uint16_t>(Hex(t + 14, 4));
    g.data4[0] = static_cast<std::uint8_t>(Hex(t + 19, 2));
    g.data4[1] = static_cast<std::uint8_t>(Hex(t + 21, 2));
    for (int i = 0; i < 6; ++i)
        g.data4[2 + i] = static_cast<std::uint8_t>(Hex(t + 24 + 2 * i, 2));
    return g;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case: the form the
// registry file holds.
std::string GuidToString(const Guid& g);
// Reads that form, with or without braces, in either case.
std::optional<Guid> GuidFromString(std::string_view text);

// Interface ids of the interfaces below.
inline constexpr Guid IID_IUnknown = MakeGuid("1C8E5153-B9D3-4579-9884-1450643F6956");
inline constexpr Guid IID_IDispatch = MakeGuid("031884E9-90DF-4FE8-9130-D15EDC054731");
inline constexpr Guid IID_IClassFactory = MakeGuid("799E91FC-1EEC-4454-9F0A-11B8907DB0C7");
inline constexpr Guid IID_IPropertyBag = MakeGuid("B9AC2032-E27A-4DA4-89E0-24234E6001E0");
inline constexpr Guid IID_IPersistPropertyBag = MakeGuid("CEC4A3C6-542A-4596-B418-10C977CB2373");
inline constexpr Guid IID_IObjectSafety = MakeGuid("0FD1DC32-ACD5-4C04-85F2-8A097980C25D");
inline constexpr Guid IID_IServiceProvider = MakeGuid("DAE92B38-7EF6-41FC-9ECF-8214AA746C1C");
inline constexpr Guid IID_IWebBrowser = MakeGuid("F2768E2E-7A99-40C2-99CB-1D53A1F8B198");
inline constexpr Guid IID_IEmbeddedControl = MakeGuid("3566550E-3D7F-44AD-9B43-91BD71F2338F");
inline constexpr Guid IID_IPropertyPage = MakeGuid("B3D4174D-50E4-4EED-9AC5-20084B875500");
// The service under which a hosting web browser offers itself to a control.
inline constexpr Guid SID_SWebBrowserApp = MakeGuid("A3E0E893-FAD3-4686-A86F-9BC3E6A0AEA3");

// --- the base interface ------------------------------------------------------

class IUnknown {
public:
    // On success *out holds an added reference; on failure it is null.
    virtual HRESULT QueryInterface(const Guid& iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

// Releases a held interface pointer and clears it.
template <typename T>
void SafeRelease(T*& p) {
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

// Reference counting for an object with one or more interfaces: the count
// starts at 0 (the creator's QueryInterface takes the first reference) and
// the last Release calls FinalRelease, which by default deletes the object.
class RefCount {
public:
    std::uint32_t Add() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    // The count after the release; 0 means the caller must finish the object.
    std::uint32_t Drop() { return m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    std::uint32_t Count() const { return m_refs.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint32_t> m_refs{0};
};

// --- scripting ---------------------------------------------------------------

using DISPID = std::int32_t;

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_ABOUTBOX = -552;

// Invoke flags.
enum : std::uint16_t {
    DISPATCH_METHOD = 1,
    DISPATCH_PROPERTYGET = 2,
    DISPATCH_PROPERTYPUT = 4,
};

// The values a script call carries: nothing, a UTF-16 string, a boolean or a
// 32-bit integer.
struct Variant {
    enum class Type { Empty, String, Bool, Int32 };
    Type type = Type::Empty;
    std::u16string str;
    bool boolVal = false;
    std::int32_t intVal = 0;

    static Variant String(std::u16string s) {
        Variant v;
        v.type = Type::String;
        v.str = std::move(s);
        return v;
    }
    static Variant Bool(bool b) {
        Variant v;
        v.type = Type::Bool;
        v.boolVal = b;
        return v;
    }
    static Variant Int32(std::int32_t i) {
        Variant v;
        v.type = Type::Int32;
        v.intVal = i;
        return v;
    }
    friend bool operator==(const Variant&, const Variant&) = default;
};

class IDispatch : public IUnknown {
public:
    // Names to DISPIDs; names match without regard to ASCII case. Unknown
    // names get DISPID_UNKNOWN and the call returns DISP_E_UNKNOWNNAME.
    virtual HRESULT GetIDsOfNames(const std::u16string* names, std::size_t count, DISPID* ids) = 0;
    // flags: DISPATCH_METHOD, DISPATCH_PROPERTYGET (result in *result) or
    // DISPATCH_PROPERTYPUT (the value in args[0]). result may be null.
    virtual HRESULT Invoke(DISPID id, std::uint16_t flags, const Variant* args,
                           std::size_t argCount, Variant* result) = 0;

protected:
    ~IDispatch() = default;
};

// --- persistence -------------------------------------------------------------

class IPropertyBag : public IUnknown {
public:
    // E_INVALIDARG when the bag has no value of that name.
    virtual HRESULT Read(std::u16string_view name, Variant* value) = 0;
    virtual HRESULT Write(std::u16string_view name, const Variant& value) = 0;

protected:
    ~IPropertyBag() = default;
};

class IPersistPropertyBag : public IUnknown {
public:
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* bag) = 0;
    virtual HRESULT Save(IPropertyBag* bag) = 0;

protected:
    ~IPersistPropertyBag() = default;
};

// A property bag held in memory; hosts persist it wherever they like.
class MemoryPropertyBag final : public IPropertyBag {
public:
    static MemoryPropertyBag* Create();  // one reference held by the caller

    HRESULT QueryInterface(const Guid& iid, void** out) override;
    std::uint32_t AddRef() override { return m_refs.Add(); }
    std::uint32_t Release() override;
    HRESULT Read(std::u16string_view name, Variant* value) override;
    HRESULT Write(std::u16string_view name, const Variant& value) override;

    const std::map<std::u16string, Variant, std::less<>>& Values() const { return m_values; }

private:
    MemoryPropertyBag() = default;
    ~MemoryPropertyBag() = default;
    RefCount m_refs;
    std::map<std::u16string, Variant, std::less<>> m_values;
};

// --- object safety -----------------------------------------------------------

enum : std::uint32_t {
    INTERFACESAFE_FOR_UNTRUSTED_CALLER = 1,
    INTERFACESAFE_FOR_UNTRUSTED_DATA = 2,
};

class IObjectSafety : public IUnknown {
public:
    virtual HRESULT GetInterfaceSafetyOptions(const Guid& iid, std::uint32_t* supported,
                                              std::uint32_t* enabled) = 0;
    virtual HRESULT SetInterfaceSafetyOptions(const Guid& iid, std::uint32_t mask,
                                              std::uint32_t enabled) = 0;

protected:
    ~IObjectSafety() = default;
};

// --- creation ----------------------------------------------------------------

class IClassFactory : public IUnknown {
public:
    // outer must be null (no aggregation: CLASS_E_NOAGGREGATION).
    virtual HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
    virtual HRESULT LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

// The entry points every component library exports (extern "C").
using DllGetClassObjectFn = HRESULT (*)(const Guid* clsid, const Guid* iid, void** out);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();

// --- hosting -----------------------------------------------------------------

// What a host may offer the control it embeds, looked up by service id.
class IServiceProvider : public IUnknown {
public:
    virtual HRESULT QueryService(const Guid& service, const Guid& iid, void** out) = 0;

protected:
    ~IServiceProvider() = default;
};

// A web browser hosting a control in one of its pages.
class IWebBrowser : public IUnknown {
public:
    // The browser's top-level window.
    virtual HRESULT GetHwnd(HWND* hwnd) = 0;
    virtual HRESULT PutAddressBar(bool visible) = 0;
    virtual HRESULT PutMenuBar(bool visible) = 0;
    virtual HRESULT PutToolBar(bool visible) = 0;

protected:
    ~IWebBrowser() = default;
};

struct ControlRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
};

// How a host embeds a windowed control.
class IEmbeddedControl : public IUnknown {
public:
    // The host's site, asked for IServiceProvider during window creation.
    // Optional; null clears it. Call before CreateControlWindow.
    virtual HRESULT SetClientSite(IUnknown* site) = 0;
    // Creates the control's window as a child of parent (a Window's handle).
    // An empty rect lets the control take its own natural size. E_FAIL when
    // window creation fails; the control then has no window.
    virtual HRESULT CreateControlWindow(HWND parent, const ControlRect& rect, HWND* hwnd) = 0;

protected:
    ~IEmbeddedControl() = default;
};

// A property page: a caption and a page window shown in a host's sheet.
class IPropertyPage : public IUnknown {
public:
    virtual HRESULT GetCaption(std::u16string* caption) = 0;
    // Creates the page window as a child of parent; null hwnd when none.
    virtual HRESULT Activate(HWND parent, HWND* hwnd) = 0;
    virtual HRESULT Deactivate() = 0;

protected:
    ~IPropertyPage() = default;
};
