// An early-bound client of qpmailer.dll: calls the dual interfaces through
// their table slots, as a compiled client does, with the declarations widl
// writes from the build's quillpost.idl. Prints one line per step; the last
// line says the client ran to its end. The argument is the SMTP port.
#include <windows.h>
#include <oleauto.h>

#include "quillpost.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// One counted reference, released when it goes out of scope.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { if (p_) p_->Release(); }
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** out() { return &p_; }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    void** out_void() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const wchar_t* text = nullptr) : b_(text ? SysAllocString(text) : nullptr) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }
    BSTR get() const { return b_; }
    BSTR* out() { return &b_; }

private:
    BSTR b_;
};

unsigned long Hex(HRESULT hr) { return static_cast<unsigned long>(hr); }

// ASCII as is, anything else as U+XXXX, so that the transcript stays ASCII.
std::string Shown(BSTR text) {
    std::string out;
    for (UINT i = 0; text && i < SysStringLen(text); ++i) {
        if (text[i] >= 0x20 && text[i] < 0x7F) {
            out += static_cast<char>(text[i]);
            continue;
        }
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(text[i]));
        out += code;
    }
    return out;
}

// The status of a rejected put and the thread's error information.
void ShowError(const char* step, HRESULT hr) {
    std::printf("%s: 0x%08lX", step, Hex(hr));
    if (SUCCEEDED(hr)) {
        std::printf(" accepted\n");
        return;
    }
    Ref<IErrorInfo> info;
    if (GetErrorInfo(0, info.out()) != S_OK || !info.get()) {
        std::printf(" no error information\n");
        return;
    }
    Bstr description, source;
    info->GetDescription(description.out());
    info->GetSource(source.out());
    std::printf(" %s (from %s)\n", Shown(description.get()).c_str(), Shown(source.get()).c_str());
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

void ShowRecipient(const char* step, IDispatch* item) {
    Ref<_Recipient> recipient;
    HRESULT hr = item ? item->QueryInterface(IID__Recipient, recipient.out_void()) : E_POINTER;
    Bstr address, name;
    if (SUCCEEDED(hr)) hr = recipient->get_Address(address.out());
    if (SUCCEEDED(hr)) hr = recipient->get_Name(name.out());
    std::printf("%s: 0x%08lX %s [%s]\n", step, Hex(hr), Shown(address.get()).c_str(), Shown(name.get()).c_str());
}

void Run(long port) {
    Ref<_Message> m;
    HRESULT hr = CoCreateInstance(CLSID_Message, nullptr, CLSCTX_INPROC_SERVER, IID__Message, m.out_void());
    std::printf("create: 0x%08lX\n", Hex(hr));
    if (FAILED(hr)) return;

    const wchar_t* const subject = L"Caf\u00E9 at 5 \u20AC, early bound \U0001F4EC";
    hr = m->put_Subject(Bstr(subject).get());
    Bstr back;
    const HRESULT got = m->get_Subject(back.out());
    const bool same = back.get() && SysStringLen(back.get()) == std::wcslen(subject) &&
                      std::wmemcmp(back.get(), subject, std::wcslen(subject)) == 0;
    std::printf("Subject: put 0x%08lX get 0x%08lX [%s] %s\n", Hex(hr), Hex(got), Shown(back.get()).c_str(),
                same ? "identical" : "DIFFERENT");

    // Each get before its printf: the order in which arguments are evaluated
    // is unspecified.
    LONG portBack = 0;
    hr = m->put_Port(port);
    HRESULT read = m->get_Port(&portBack);
    std::printf("Port: put 0x%08lX get 0x%08lX %s\n", Hex(hr), Hex(read), portBack == port ? "as set" : "CHANGED");
    SHORT priority = 0;
    hr = m->put_Priority(5);
    read = m->get_Priority(&priority);
    std::printf("Priority: put 0x%08lX get 0x%08lX %d\n", Hex(hr), Hex(read), priority);
    FLOAT timeOut = 0;
    hr = m->put_TimeOut(7.5f);
    read = m->get_TimeOut(&timeOut);
    std::printf("TimeOut: put 0x%08lX get 0x%08lX %.2f\n", Hex(hr), Hex(read), double(timeOut));

    ShowError("Priority 9", m->put_Priority(9));
    read = m->get_Priority(&priority);
    std::printf("Priority after the rejected put: 0x%08lX %d\n", Hex(read), priority);
    ShowError("Port 40000", m->put_Port(40000));

    Ref<ISupportErrorInfo> support;
    hr = m->QueryInterface(IID_ISupportErrorInfo, support.out_void());
    const HRESULT ours = support.get() ? support->InterfaceSupportsErrorInfo(IID__Message) : E_POINTER;
    const HRESULT other = support.get() ? support->InterfaceSupportsErrorInfo(IID_IDispatch) : E_POINTER;
    std::printf("ISupportErrorInfo: 0x%08lX _Message 0x%08lX IDispatch 0x%08lX\n", Hex(hr), Hex(ours), Hex(other));

    Ref<_Recipients> recipients;
    std::printf("Recipients: 0x%08lX\n", Hex(m->get_Recipients(recipients.out())));
    if (!recipients.get()) return;
    VARIANT address = Text(L"early@example.com"), name = Text(L"Early Bound"), missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    std::printf("Add with a name: 0x%08lX\n", Hex(recipients->Add(&address, &name)));
    VariantClear(&address);
    address = Text(L"bare@example.com");
    std::printf("Add without a name: 0x%08lX\n", Hex(recipients->Add(&address, &missing)));
    VariantClear(&address);
    VariantClear(&name);
    LONG count = 0;
    hr = recipients->get_Count(&count);
    std::printf("Count: 0x%08lX %ld\n", Hex(hr), static_cast<long>(count));

    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = 2;
    {
        Ref<_Recipient> second;
        hr = recipients->get_Item(&index, second.out());
        std::printf("Item(2): 0x%08lX\n", Hex(hr));
        ShowRecipient("Item(2) is", second.get());
    }
    V_I4(&index) = 3;
    {
        Ref<_Recipient> none;
        ShowError("Item(3)", recipients->get_Item(&index, none.out()));
    }

    Ref<IUnknown> unknown;
    Ref<IEnumVARIANT> items;
    hr = recipients->get_NewEnum(unknown.out());
    if (SUCCEEDED(hr)) hr = unknown->QueryInterface(IID_IEnumVARIANT, items.out_void());
    std::printf("NewEnum: 0x%08lX\n", Hex(hr));
    for (int n = 1; items.get(); ++n) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        hr = items->Next(1, &item, &fetched);
        if (hr != S_OK) {
            std::printf("Next: 0x%08lX fetched %lu after %d items\n", Hex(hr), fetched, n - 1);
            break;
        }
        const std::string step = "item " + std::to_string(n);
        ShowRecipient(step.c_str(), V_VT(&item) == VT_DISPATCH ? V_DISPATCH(&item) : nullptr);
        VariantClear(&item);
    }

    m->put_Server(Bstr(L"127.0.0.1").get());
    m->put_FromAddress(Bstr(L"sender@example.com").get());
    m->put_TextBody(Bstr(L"Sent through the table slots.").get());
    std::printf("send: 0x%08lX\n", Hex(m->send()));
}

}  // namespace

// The library's own answer to "may you be unloaded?", asked directly.
HRESULT CanUnloadNow() {
    const HMODULE library = GetModuleHandleW(L"qpmailer.dll");
    const auto ask = library ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(library, "DllCanUnloadNow")))
                             : nullptr;
    return ask ? ask() : E_POINTER;
}

HRESULT Factory(Ref<IClassFactory>& factory) {
    return CoGetClassObject(CLSID_Recipient, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out_void());
}

// With every object released the library may go; a lock on a class factory
// holds it, and so does one live object (a factory is an object too).
void Unloading() {
    std::printf("DllCanUnloadNow, nothing alive: 0x%08lX\n", Hex(CanUnloadNow()));
    HRESULT hr = S_OK;
    {
        Ref<IClassFactory> factory;
        hr = Factory(factory);
        if (SUCCEEDED(hr)) hr = factory->LockServer(TRUE);
    }
    std::printf("locked, factory released: 0x%08lX, DllCanUnloadNow 0x%08lX\n", Hex(hr), Hex(CanUnloadNow()));
    Ref<IDispatch> object;
    {
        Ref<IClassFactory> factory;
        hr = Factory(factory);
        if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IDispatch, object.out_void());
        if (SUCCEEDED(hr)) hr = factory->LockServer(FALSE);
    }
    std::printf("unlocked, one object alive: 0x%08lX, DllCanUnloadNow 0x%08lX\n", Hex(hr), Hex(CanUnloadNow()));
    object.reset();
    std::printf("object released: DllCanUnloadNow 0x%08lX\n", Hex(CanUnloadNow()));
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    std::printf("CoInitialize: 0x%08lX\n", Hex(CoInitialize(nullptr)));
    Run(std::wcstol(argv[1], nullptr, 10));
    Unloading();
    CoUninitialize();
    std::printf("end of client\n");
    return 0;
}
