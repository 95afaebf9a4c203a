// IDispatch::Invoke of the automation objects with the argument blocks a
// client could build: any member, flags and interface identifier; up to
// three arguments of any kind, among them references to values, to other
// arguments, to themselves and to other references; named arguments that
// name a parameter, the put's value, nothing, or one parameter twice. Invoke
// must answer every block with one of its statuses, never hang or crash,
// refuse a reference to a reference, and fill the exception block of a
// component error.
#include "fuzz_check.hpp"

#include "server/automation.hpp"
#include "server/members.hpp"
#include "server/text16.hpp"

#include <array>
#include <cstring>
#include <string_view>

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object);

namespace {

using namespace quillpost::server;

// The input, one byte at a time; zeros once it is used up.
struct Bytes {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t Next() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
};

IDispatch* Create(const ClassInfo& info) {
    IClassFactory* factory = nullptr;
    if (FAILED(DllGetClassObject(info.clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
    IDispatch* object = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
    factory->Release();
    return object;
}

constexpr std::array<std::u16string_view, 6> kTexts{u"", u"a@x", u"2024-03-01 10:00:00", u"12", u"abc", u"3/1/24 7 PM"};

// The variants of one call at fixed addresses, so that they can refer to
// each other; what they own is released with them.
struct Block {
    std::array<VARIANT, 3> args;
    std::array<VARIANT, 2> spare;  // what references to references pass through
    BSTR text = nullptr;           // behind a VT_BSTR | VT_BYREF argument
    std::array<DISPID, 3> named{};
    bool nested = false;  // some argument refers to a reference
    Block() {
        for (auto& v : args) VariantInit(&v);
        for (auto& v : spare) VariantInit(&v);
    }
    ~Block() {
        for (auto& v : args) VariantClear(&v);
        for (auto& v : spare) VariantClear(&v);
        SysFreeString(text);
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    static void Ref(VARIANT& v, VARIANT& target) {
        V_VT(&v) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(&v) = &target;
    }
    static void Text(VARIANT& v, std::uint8_t pick) {
        const std::u16string_view text = kTexts[pick % kTexts.size()];
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }

    // A value that no reference leads on from.
    void Value(VARIANT& v, std::uint8_t shape, std::uint8_t payload) {
        switch (shape % 8) {
        case 0: break;  // empty
        case 1: V_VT(&v) = VT_NULL; break;
        case 2: V_VT(&v) = VT_I4; V_I4(&v) = static_cast<LONG>(payload) * 1000 - 5000; break;
        case 3: V_VT(&v) = VT_R8; V_R8(&v) = payload * 1.5e3 - 1e5; break;
        case 4: Text(v, payload); break;
        case 5: V_VT(&v) = VT_ERROR; V_ERROR(&v) = DISP_E_PARAMNOTFOUND; break;
        case 6: V_VT(&v) = VT_DATE; V_DATE(&v) = payload * 400.0 - 1000.0; break;
        case 7: {  // a decimal of up to 16 bits, scale 0 to 31 (above 28 is invalid)
            unsigned char decimal[16] = {};
            decimal[2] = static_cast<unsigned char>(payload % 32);
            decimal[3] = payload & 0x80;
            decimal[8] = payload;
            decimal[9] = static_cast<unsigned char>(payload ^ 0x5A);
            std::memcpy(&v, decimal, sizeof decimal);
            V_VT(&v) = VT_DECIMAL;
            break;
        }
        }
    }

    void Argument(std::size_t i, UINT count, std::uint8_t shape, std::uint8_t payload) {
        VARIANT& v = args[i];
        switch (shape >> 4) {
        case 1:  // a reference to an argument, perhaps itself
            Ref(v, args[payload % count]);
            break;
        case 2:  // a reference to a reference to an argument or to a value
            Ref(v, spare[0]);
            if (payload & 1) {
                Ref(spare[0], args[payload / 2 % count]);
            } else {
                Ref(spare[0], spare[1]);
                Spare(payload / 2, payload);
            }
            nested = true;
            break;
        case 3:  // a reference to a value
            Ref(v, spare[1]);
            Spare(shape, payload);
            break;
        case 4:  // text by reference
            if (!text) text = SysAllocString(u"b@x");
            V_VT(&v) = VT_BSTR | VT_BYREF;
            V_BYREF(&v) = &text;
            break;
        case 5:  // a null reference
            V_VT(&v) = static_cast<VARTYPE>((payload & 1 ? VT_VARIANT : VT_I4) | VT_BYREF);
            V_BYREF(&v) = nullptr;
            break;
        case 6:  // a variant that holds a variant without a reference: no such thing
            V_VT(&v) = VT_VARIANT;
            nested = true;
            break;
        default:
            Value(v, shape, payload);
        }
    }

    // The value that references lead to; a new one replaces the old.
    void Spare(std::uint8_t shape, std::uint8_t payload) {
        VariantClear(&spare[1]);
        Value(spare[1], shape, payload);
    }
};

bool KnownStatus(HRESULT hr) {
    constexpr HRESULT kKnown[] = {S_OK, DISP_E_EXCEPTION, DISP_E_MEMBERNOTFOUND, DISP_E_TYPEMISMATCH,
                                  DISP_E_OVERFLOW, DISP_E_PARAMNOTOPTIONAL, DISP_E_BADPARAMCOUNT,
                                  DISP_E_PARAMNOTFOUND, DISP_E_BADVARTYPE, DISP_E_UNKNOWNINTERFACE, E_INVALIDARG};
    for (HRESULT known : kKnown)
        if (hr == known) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in{data, size};
    const auto& classes = Library().classes;
    const ClassInfo& info = *classes[in.Next() % classes.size()];
    const Member& member = info.members[in.Next() % info.members.size()];
    if (std::string_view(member.name) == "send") return 0;  // would reach for a mail server
    const std::uint8_t how = in.Next();
    const WORD flags = how & 0x0F;
    const IID riid = how & 0x10 ? IID_IDispatch : IID_NULL;
    const UINT count = in.Next() % 4;
    const UINT named = count ? in.Next() % (count + 1) : 0;

    Block block;
    for (UINT i = 0; i < count; ++i) {
        const std::uint8_t shape = in.Next();
        block.Argument(i, count, shape, in.Next());
    }
    bool repeated = false;
    for (UINT k = 0; k < named; ++k) {
        const std::uint8_t pick = in.Next();
        block.named[k] = pick < 0xF0 ? pick % 4 : static_cast<DISPID>(static_cast<std::int8_t>(pick));
        for (UINT j = 0; j < k; ++j) repeated = repeated || block.named[j] == block.named[k];
    }

    IDispatch* object = Create(info);
    QP_FUZZ_CHECK(object);
    DISPPARAMS params{count ? block.args.data() : nullptr, named ? block.named.data() : nullptr, count, named};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT argError = 0;
    const HRESULT hr = object->Invoke(member.id, riid, 0x409, flags, &params, &result, &exception, &argError);
    QP_FUZZ_CHECK(KnownStatus(hr));
    QP_FUZZ_CHECK(!(block.nested && hr == S_OK));
    QP_FUZZ_CHECK(!(repeated && hr == S_OK));
    QP_FUZZ_CHECK(!(riid == IID_IDispatch && hr != DISP_E_UNKNOWNINTERFACE));
    if (hr == DISP_E_EXCEPTION) {
        QP_FUZZ_CHECK((static_cast<std::uint32_t>(exception.scode) & 0xFFFF0000u) == 0x800A0000u);
        QP_FUZZ_CHECK(Utf16ToUtf8({exception.bstrSource, SysStringLen(exception.bstrSource)}) == "Quillpost");
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&result);
    object->Release();
    return 0;
}
