// Counted UTF-16 strings and variants, as the platform's automation runtime
// hands them out: a 32-bit byte count before the characters and a NUL after.
#include "server/automation.hpp"

#include <cstdlib>
#include <cstring>

namespace {

BSTR AllocBytes(const void* data, std::size_t bytes) {
    if (bytes > 0xFFFFFFF0u) return nullptr;
    auto* block = static_cast<char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR) + 1));
    if (!block) return nullptr;
    const auto count = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &count, sizeof count);
    char* text = block + sizeof count;
    if (data) std::memcpy(text, data, bytes);
    std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
    return reinterpret_cast<BSTR>(text);
}

std::uint32_t ByteCount(BSTR text) {
    std::uint32_t count = 0;
    std::memcpy(&count, reinterpret_cast<const char*>(text) - sizeof count, sizeof count);
    return count;
}

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    return AllocBytes(text, std::size_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    UINT length = 0;
    while (text[length]) ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text) std::free(reinterpret_cast<char*>(text) - sizeof(std::uint32_t));
}

UINT SysStringByteLen(BSTR text) { return text ? ByteCount(text) : 0; }

UINT SysStringLen(BSTR text) { return text ? ByteCount(text) / sizeof(OLECHAR) : 0; }

void VariantInit(VARIANTARG* value) {
    std::memset(value, 0, sizeof *value);
    V_VT(value) = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* value) {
    if (!value) return E_INVALIDARG;
    if (!V_ISBYREF(value)) {
        switch (V_VT(value)) {
        case VT_BSTR:
            SysFreeString(V_BSTR(value));
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (V_UNKNOWN(value)) V_UNKNOWN(value)->Release();
            break;
        default:
            if (V_VT(value) & VT_ARRAY) return DISP_E_BADVARTYPE;  // arrays are never handed out here
            break;
        }
    }
    V_VT(value) = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* target, const VARIANTARG* source) {
    if (!target || !source) return E_INVALIDARG;
    if (target == source) return S_OK;
    if ((V_VT(source) & VT_ARRAY) && !V_ISBYREF(source)) return DISP_E_BADVARTYPE;
    const HRESULT cleared = VariantClear(target);
    if (FAILED(cleared)) return cleared;
    std::memcpy(target, source, sizeof *target);
    if (V_ISBYREF(source)) return S_OK;
    if (V_VT(source) == VT_BSTR && V_BSTR(source)) {
        V_BSTR(target) = SysAllocStringLen(V_BSTR(source), SysStringLen(V_BSTR(source)));
        if (!V_BSTR(target)) {
            V_VT(target) = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
    } else if ((V_VT(source) == VT_DISPATCH || V_VT(source) == VT_UNKNOWN) && V_UNKNOWN(source)) {
        V_UNKNOWN(target)->AddRef();
    }
    return S_OK;
}

}  // extern "C"
