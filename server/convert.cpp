#include "server/convert.hpp"

#include "server/object.hpp"
#include "server/text16.hpp"

#include <quillpost/detail/errors.hpp>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quillpost::server {

BSTR NewBstr(std::string_view text) {
    const OleText wide = Utf8ToUtf16(text);
    BSTR out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!out) raise(Err::OutOfMemory);
    return out;
}

std::string TextOfBstr(const OLECHAR* text, UINT length) {
    return text ? Utf16ToUtf8(OleView(text, length)) : std::string();
}

namespace {

Variant ObjectOf(IUnknown* object) {
    if (!object) return Variant(std::shared_ptr<Dispatch>());
    if (auto ours = TargetOf(object)) return Variant(std::move(ours));
    IDispatch* dispatch = nullptr;
    if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) || !dispatch)
        raise(Err::TypeMismatch);
    auto wrapped = WrapForeign(dispatch);
    dispatch->Release();
    return Variant(std::move(wrapped));
}

// A value of type `vt` at `p` (the union of a variant, or what a by-reference
// variant points at).
template <class T>
const T& At(const void* p) {
    return *static_cast<const T*>(p);
}

// A DECIMAL: a 96-bit unsigned integer (Hi32, then Lo64), its sign and a
// power of ten (0 to 28) that divides it. Read by its layout (wReserved,
// scale, sign, Hi32, Lo64), which is the same on every platform.
double DecimalValue(const void* p) {
    const auto* bytes = static_cast<const unsigned char*>(p);
    const unsigned scale = bytes[2];
    const bool negative = (bytes[3] & 0x80) != 0;
    std::uint32_t high = 0;
    std::uint64_t low = 0;
    std::memcpy(&high, bytes + 4, sizeof high);
    std::memcpy(&low, bytes + 8, sizeof low);
    if (scale > 28) raise(Err::TypeMismatch);
    long double value = static_cast<long double>(high) * 18446744073709551616.0L + static_cast<long double>(low);
    for (unsigned i = 0; i < scale; ++i) value /= 10;
    return static_cast<double>(negative ? -value : value);
}

Variant FromValue(VARTYPE vt, const void* p) {
    switch (vt) {
    case VT_EMPTY: return {};
    case VT_NULL: return Variant::null();
    case VT_I2: return At<SHORT>(p);
    case VT_I4: case VT_INT: return At<LONG>(p);
    case VT_R4: return At<FLOAT>(p);
    case VT_R8: return At<DOUBLE>(p);
    case VT_DATE: return Variant::date(At<DATE>(p));
    case VT_BOOL: return At<VARIANT_BOOL>(p) != 0;
    case VT_ERROR: return Variant::error(At<SCODE>(p));
    case VT_I1: return static_cast<std::int32_t>(At<signed char>(p));
    case VT_UI1: return static_cast<std::int32_t>(At<BYTE>(p));
    case VT_UI2: return static_cast<std::int32_t>(At<USHORT>(p));
    case VT_UI4: case VT_UINT: return At<ULONG>(p);
    case VT_I8: return At<LONGLONG>(p);
    case VT_UI8: return At<ULONGLONG>(p);
    case VT_CY: return static_cast<double>(At<LONGLONG>(p)) / 10000.0;
    case VT_DECIMAL: return DecimalValue(p);
    case VT_BSTR: {
        const BSTR text = At<BSTR>(p);
        return TextOfBstr(text, SysStringLen(text));
    }
    case VT_DISPATCH: return ObjectOf(At<IDispatch*>(p));
    case VT_UNKNOWN: return ObjectOf(At<IUnknown*>(p));
    default: raise(Err::TypeMismatch);
    }
}

}  // namespace

HRESULT CheckVarType(const VARIANT& value) {
    if (V_VT(&value) == VT_VARIANT) return DISP_E_BADVARTYPE;
    const VARIANT* inner = V_VT(&value) == (VT_VARIANT | VT_BYREF) ? V_VARIANTREF(&value) : nullptr;
    return inner && (V_VT(inner) & VT_BYREF || V_VT(inner) == VT_VARIANT) ? DISP_E_BADVARTYPE : S_OK;
}

const VARIANT* Referent(const VARIANT& value) {
    if (FAILED(CheckVarType(value))) return nullptr;
    return V_VT(&value) == (VT_VARIANT | VT_BYREF) ? V_VARIANTREF(&value) : &value;
}

Variant FromVariant(const VARIANT& value) {
    const VARIANT* v = Referent(value);
    if (!v) raise(Err::TypeMismatch);
    if (V_VT(v) & VT_BYREF) {
        const VARTYPE vt = static_cast<VARTYPE>(V_VT(v) & ~VT_BYREF);
        if (!V_BYREF(v)) raise(Err::TypeMismatch);
        return FromValue(vt, V_BYREF(v));
    }
    // A DECIMAL fills the whole variant; its first field overlays the type.
    if (V_VT(v) == VT_DECIMAL) return FromValue(VT_DECIMAL, v);
    return FromValue(V_VT(v), &v->n1.n2.n3);
}

HRESULT ToVariant(const Variant& value, VARIANT& out, const ClassInfo* hint) {
    VariantInit(&out);
    switch (value.type()) {
    case VarType::Empty: return S_OK;
    case VarType::Null: V_VT(&out) = VT_NULL; return S_OK;
    case VarType::Int16: V_VT(&out) = VT_I2; V_I2(&out) = static_cast<SHORT>(value.ToInt32()); return S_OK;
    case VarType::Int32: V_VT(&out) = VT_I4; V_I4(&out) = value.ToInt32(); return S_OK;
    case VarType::Float32: V_VT(&out) = VT_R4; V_R4(&out) = static_cast<FLOAT>(value.ToDouble()); return S_OK;
    case VarType::Float64: V_VT(&out) = VT_R8; V_R8(&out) = value.ToDouble(); return S_OK;
    case VarType::Boolean: V_VT(&out) = VT_BOOL; V_BOOL(&out) = value.ToBool() ? VARIANT_TRUE : VARIANT_FALSE; return S_OK;
    case VarType::Date: V_VT(&out) = VT_DATE; V_DATE(&out) = value.date_value(); return S_OK;
    case VarType::ErrorCode: V_VT(&out) = VT_ERROR; V_ERROR(&out) = value.error_code(); return S_OK;
    case VarType::Text: V_BSTR(&out) = NewBstr(value.text()); V_VT(&out) = VT_BSTR; return S_OK;
    case VarType::Object: break;
    }
    const std::shared_ptr<Dispatch> object = value.ToObject();
    if (IDispatch* foreign = ForeignOf(*object)) {
        foreign->AddRef();
        V_VT(&out) = VT_DISPATCH;
        V_DISPATCH(&out) = foreign;
        return S_OK;
    }
    if (auto items = std::dynamic_pointer_cast<Enumerator>(object)) {
        V_VT(&out) = VT_UNKNOWN;
        V_UNKNOWN(&out) = NewEnumerator(std::move(items), hint);
        return S_OK;
    }
    const ClassInfo* info = ClassOfObject(*object);
    if (!info) return DISP_E_TYPEMISMATCH;  // an object of the component with no automation class
    V_VT(&out) = VT_DISPATCH;
    V_DISPATCH(&out) = NewObject(*info, object);
    return S_OK;
}

Variant Coerce(const Variant& value, VARTYPE type) {
    switch (type) {
    case VT_BSTR:
        return value.is_text() ? value : Variant(value.ToText());
    case VT_I4:
        return value.ToInt32();
    case VT_I2: {
        const std::int32_t n = value.ToInt32();
        if (n < std::numeric_limits<std::int16_t>::min() || n > std::numeric_limits<std::int16_t>::max())
            raise(Err::Overflow);
        return static_cast<std::int16_t>(n);
    }
    case VT_R4: {
        const double d = value.ToDouble();
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) raise(Err::Overflow);
        return static_cast<float>(d);
    }
    case VT_R8:
        return value.ToDouble();
    case VT_DATE:
        return Variant::date(value.ToDate());
    case VT_BOOL:
        return value.ToBool();
    case VT_DISPATCH:
        return Variant(value.ToObject());
    default:
        return value;
    }
}

}  // namespace quillpost::server
