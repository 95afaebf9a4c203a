// The directory service through the system's directory-service interfaces
// (ADSI). The web server's configuration is reached through its provider,
// "IIS://"; on a machine without that provider no path binds, and a removal
// run visits nothing.
#include "uninstall/machine_directory.hpp"

#include <windows.h>
#include <oleauto.h>
#include <activeds.h>

#include <climits>
#include <new>
#include <utility>

namespace quillpost::uninst {

namespace {

// The references handed out are the interface pointers themselves.
template <typename Interface, typename Ref>
Interface* Pointer(Ref ref) {
    return reinterpret_cast<Interface*>(static_cast<std::uintptr_t>(ref));
}

template <typename Ref, typename Interface>
Ref RefTo(Interface* pointer) {
    return static_cast<Ref>(reinterpret_cast<std::uintptr_t>(pointer));
}

// A string of the object library, freed on every way out of a scope.
class Bstr {
public:
    explicit Bstr(BSTR text = nullptr) : text_(text) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return text_; }
    BSTR* out() { return &text_; }

private:
    BSTR text_;
};

// A value read from the directory, cleared on every way out of a scope.
class ClearedVariant {
public:
    ClearedVariant() { VariantInit(&value_); }
    ~ClearedVariant() { VariantClear(&value_); }
    ClearedVariant(const ClearedVariant&) = delete;
    ClearedVariant& operator=(const ClearedVariant&) = delete;

    VARIANT* get() { return &value_; }

private:
    VARIANT value_;
};

// 8-bit text of the system code page as a string of the object library; null
// when it is not valid text of that code page or memory runs out.
BSTR ToBstr(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    const int length = static_cast<int>(text.size());
    if (length == 0) return SysAllocStringLen(L"", 0);
    const int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wide <= 0) return nullptr;
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
    if (out == nullptr) return nullptr;
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, out, wide) != wide) {
        SysFreeString(out);
        return nullptr;
    }
    return out;
}

// A string of the object library as 8-bit text of the system code page. A
// character the code page lacks becomes a look-alike or the default
// character: a root path composed from such a name binds nothing, or the
// root of another site, which loses the same directory in its own turn.
std::optional<std::string> FromBstr(BSTR text) {
    const UINT length = SysStringLen(text);
    if (length == 0) return std::string();
    if (length > static_cast<UINT>(INT_MAX)) return std::nullopt;
    const int wide = static_cast<int>(length);
    const int size = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::nullopt;
    std::string out(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, wide, out.data(), size, nullptr, nullptr) != size) return std::nullopt;
    return out;
}

class AdsiDirectory final : public DirectoryService {
public:
    AdsiDirectory() = default;
    AdsiDirectory(const AdsiDirectory&) = delete;
    AdsiDirectory& operator=(const AdsiDirectory&) = delete;

    // The run initialises the object library before each bind; every
    // initialisation that succeeded, "already initialised" included, is
    // undone once here, after the run has given back all it obtained.
    ~AdsiDirectory() override {
        for (; initialised_ > 0; --initialised_) ::CoUninitialize();
    }

    bool CoInitialize() override {
        // S_OK and S_FALSE both succeed; a thread already in the
        // multithreaded apartment gives RPC_E_CHANGED_MODE, a failure.
        if (FAILED(::CoInitialize(nullptr))) return false;
        ++initialised_;
        return true;
    }

    ContainerRef ADsGetObject(std::string_view path) override {
        const Bstr widePath(ToBstr(path));
        if (widePath.get() == nullptr) return {};
        IADsContainer* container = nullptr;
        if (FAILED(::ADsGetObject(widePath.get(), IID_IADsContainer, reinterpret_cast<void**>(&container)))) {
            return {};
        }
        return RefTo<ContainerRef>(container);
    }

    EnumeratorRef ADsBuildEnumerator(ContainerRef container) override {
        IEnumVARIANT* enumerator = nullptr;
        if (FAILED(::ADsBuildEnumerator(Pointer<IADsContainer>(container), &enumerator))) return {};
        return RefTo<EnumeratorRef>(enumerator);
    }

    EnumerateStep ADsEnumerateNext(EnumeratorRef enumerator) override {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        const HRESULT result = ::ADsEnumerateNext(Pointer<IEnumVARIANT>(enumerator), 1, &item, &fetched);
        EnumerateStep step;
        if (SUCCEEDED(result) && fetched == 0) {
            step.ok = true;
        } else if (SUCCEEDED(result) && V_VT(&item) == VT_DISPATCH && V_DISPATCH(&item) != nullptr) {
            // The item's reference passes to the caller as the child.
            step = {true, 1, RefTo<ChildRef>(V_DISPATCH(&item))};
            return step;
        }
        // A failed step, the end, or an item that is not an object: whatever
        // the item holds is given back here.
        VariantClear(&item);
        return step;
    }

    DirObjectRef QueryDirectoryObject(ChildRef child) override {
        IADs* object = nullptr;
        if (FAILED(Pointer<IDispatch>(child)->QueryInterface(IID_IADs, reinterpret_cast<void**>(&object)))) {
            return {};
        }
        return RefTo<DirObjectRef>(object);
    }

    std::optional<std::string> GetName(DirObjectRef object) override {
        Bstr name;
        if (FAILED(Pointer<IADs>(object)->get_Name(name.out()))) return std::nullopt;
        return FromBstr(name.get());
    }

    std::optional<PropertyValue> Get(DirObjectRef object, std::string_view property) override {
        const Bstr name(ToBstr(property));
        if (name.get() == nullptr) return std::nullopt;
        ClearedVariant value;
        if (FAILED(Pointer<IADs>(object)->Get(name.get(), value.get()))) return std::nullopt;

        PropertyValue result;
        BSTR text = nullptr;
        if (V_VT(value.get()) == VT_BSTR) {
            result.kind = PropertyValue::Kind::String;
            text = V_BSTR(value.get());
        } else if (V_VT(value.get()) == (VT_BSTR | VT_BYREF)) {
            result.kind = PropertyValue::Kind::StringByReference;
            text = V_BSTRREF(value.get()) != nullptr ? *V_BSTRREF(value.get()) : nullptr;
        } else {
            return result;
        }
        auto converted = FromBstr(text);
        if (!converted) return std::nullopt;
        result.text = std::move(*converted);
        return result;
    }

    bool Delete(ContainerRef container, std::string_view className,
                std::string_view relativeName) override {
        const Bstr wideClass(ToBstr(className));
        const Bstr wideName(ToBstr(relativeName));
        if (wideClass.get() == nullptr || wideName.get() == nullptr) return false;
        return SUCCEEDED(Pointer<IADsContainer>(container)->Delete(wideClass.get(), wideName.get()));
    }

    void ADsFreeEnumerator(EnumeratorRef enumerator) noexcept override {
        if (enumerator != EnumeratorRef{}) ::ADsFreeEnumerator(Pointer<IEnumVARIANT>(enumerator));
    }

    void Release(ContainerRef container) noexcept override { GiveBack(Pointer<IADsContainer>(container)); }
    void Release(ChildRef child) noexcept override { GiveBack(Pointer<IDispatch>(child)); }
    void Release(DirObjectRef object) noexcept override { GiveBack(Pointer<IADs>(object)); }

private:
    static void GiveBack(IUnknown* reference) noexcept {
        if (reference != nullptr) reference->Release();
    }

    unsigned initialised_ = 0;
};

}  // namespace

std::unique_ptr<DirectoryService> MachineDirectory() noexcept {
    return std::unique_ptr<DirectoryService>(new (std::nothrow) AdsiDirectory);
}

}  // namespace quillpost::uninst
