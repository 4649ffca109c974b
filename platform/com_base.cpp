#include "platform/com_base.h"

#include <cstdio>

std::string GuidToString(const Guid& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1,
                  g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                  g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool ReadHex(std::string_view s, std::size_t at, int digits, std::uint32_t* out) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexValue(s[at + static_cast<std::size_t>(i)]);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    *out = v;
    return true;
}

}  // namespace

std::optional<Guid> GuidFromString(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, 36);
    }
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
        return std::nullopt;
    }
    Guid g;
    std::uint32_t v = 0;
    if (!ReadHex(text, 0, 8, &g.data1))
        return std::nullopt;
    if (!ReadHex(text, 9, 4, &v))
        return std::nullopt;
    g.data2 = static_cast<std::uint16_t>(v);
    if (!ReadHex(text, 14, 4, &v))
        return std::nullopt;
    g.data3 = static_cast<std::uint16_t>(v);
    const std::size_t bytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, bytePos[i], 2, &v))
            return std::nullopt;
        g.data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

// --- MemoryPropertyBag -------------------------------------------------------

MemoryPropertyBag* MemoryPropertyBag::Create() {
    auto* bag = new MemoryPropertyBag;
    bag->AddRef();
    return bag;
}

HRESULT MemoryPropertyBag::QueryInterface(const Guid& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPropertyBag) {
        *out = static_cast<IPropertyBag*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

std::uint32_t MemoryPropertyBag::Release() {
    const std::uint32_t left = m_refs.Drop();
    if (left == 0)
        delete this;
    return left;
}

HRESULT MemoryPropertyBag::Read(std::u16string_view name, Variant* value) {
    if (value == nullptr)
        return E_POINTER;
    auto it = m_values.find(name);
    if (it == m_values.end())
        return E_INVALIDARG;
    *value = it->second;
    return S_OK;
}

HRESULT MemoryPropertyBag::Write(std::u16string_view name, const Variant& value) {
    m_values.insert_or_assign(std::u16string(name), value);
    return S_OK;
}
