// The dual objects through IDispatch: names, identifiers, property puts and
// gets, conversions, default members, enumeration and error statuses.
#include "tests/server/automation_client.hpp"

#include "server/members.hpp"

#include <quillpost/detail/date.hpp>

#include <gtest/gtest.h>

#include <cstring>

using namespace quillpost;
using namespace quillpost::test;

namespace {

const server::ClassInfo& ClassNamed(const std::string& name) {
    for (const auto* info : server::Library().classes)
        if (name == info->name) return *info;
    throw std::runtime_error("no class " + name);
}

struct Object {
    IDispatch* d;
    explicit Object(const std::string& cls) : d(Create(ClassNamed(cls).clsid)) {}
    explicit Object(IDispatch* from) : d(from) {}
    ~Object() {
        if (d) d->Release();
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
};

// The object a get returned, with its own reference.
IDispatch* Take(Outcome& out) {
    EXPECT_EQ(V_VT(&out.result.v), VT_DISPATCH);
    IDispatch* d = V_DISPATCH(&out.result.v);
    V_VT(&out.result.v) = VT_EMPTY;
    return d;
}

struct NameCase {
    const char* cls;
    const char* name;
    DISPID id;
};

TEST(Dispatch, EveryMemberNameFindsItsIdentifierInAnyLetterCase) {
    const NameCase cases[] = {
        {"Message", "send", 0x6003001D},         {"Message", "SEND", 0x6003001D},
        {"Message", "Attachments", 0x68030012},  {"Message", "DateTime", 0x68030011},
        {"Message", "ConfirmReading", 0x68030010}, {"Message", "subject", 0},
        {"Message", "Server", 0x6803000F},       {"Message", "Port", 0x6803000E},
        {"Message", "Priority", 0x6803000D},     {"Message", "TextBody", 0x6803000C},
        {"Message", "HtmlBody", 0x6803000B},     {"Message", "FromName", 0x6803000A},
        {"Message", "FromAddress", 0x68030009},  {"Message", "Application", 0x68030008},
        {"Message", "TimeOut", 0x68030007},      {"Message", "TraceFile", 0x68030006},
        {"Message", "Organization", 0x68030005}, {"Message", "Recipients", 0x68030004},
        {"Message", "CCs", 0x68030003},          {"Message", "BCCs", 0x68030002},
        {"Message", "ReplyTos", 0x68030001},     {"Message", "ExtraHeaders", 0x68030000},
        {"Message", "CheckSender", 0x60030022},  {"Message", "OnStartPage", 0x60030024},
        {"Recipients", "Add", 0x60030001},       {"Recipients", "Remove", 0x60030002},
        {"Recipients", "Clear", 0x60030003},     {"Recipients", "Count", 0x68030000},
        {"Recipients", "Item", 0},               {"Recipients", "NewEnum", -4},
        {"Recipient", "Name", 0x68030000},       {"Recipient", "Address", 0},
        {"Headers", "Add", 0x60030001},          {"Headers", "Remove", 0x60030003},
        {"Headers", "Clear", 0x60030004},        {"Headers", "Count", 0x68030000},
        {"Headers", "Item", 0},                  {"Headers", "NewEnum", -4},
        {"Header", "Name", 0},                   {"Header", "Value", 0x68030000},
        {"Header", "Parse", 0x60030001},         {"Attachments", "Add", 0x60030001},
        {"Attachments", "Remove", 0x60030002},   {"Attachments", "Clear", 0x60030003},
        {"Attachments", "Count", 0x68030000},    {"Attachments", "Item", 0},
        {"Attachments", "NewEnum", -4},          {"Attachment", "FileName", 0},
    };
    for (const auto& c : cases) {
        Object o(c.cls);
        ASSERT_NE(o.d, nullptr) << c.cls;
        EXPECT_EQ(IdOf(o.d, c.name), c.id) << c.cls << "." << c.name;
    }
    Object m("Message");
    EXPECT_EQ(IdOf(m.d, "Sendx"), DISPID_UNKNOWN);
}

TEST(Dispatch, PropertiesRoundTripThroughPutAndGetByIdentifier) {
    struct Case {
        const char* name;
        Var (*value)();
        const char* text;  // the get's value as text
        VARTYPE type;
    };
    const Case cases[] = {
        {"Subject", [] { return Var::Text("Hello"); }, "Hello", VT_BSTR},
        {"Server", [] { return Var::Text("mx.example"); }, "mx.example", VT_BSTR},
        {"Port", [] { return Var::Text("2525"); }, "2525", VT_I4},
        {"Priority", [] { return Var::R8(2.4); }, "2", VT_I2},
        {"TimeOut", [] { return Var::I4(12); }, "12", VT_R4},
        {"ConfirmReading", [] { return Var::I4(7); }, "True", VT_BOOL},
        {"FromAddress", [] { return Var::Text("a@b.example"); }, "a@b.example", VT_BSTR},
        {"FromName", [] { return Var::I2(42); }, "42", VT_BSTR},
        {"Organization", [] { return Var::Text("Ünïcode"); }, "Ünïcode", VT_BSTR},
        {"DateTime", [] { return Var::R8(45000.5); }, "2023-03-15 12:00:00", VT_DATE},
    };
    for (const auto& c : cases) {
        Object m("Message");
        Outcome put = Put(m.d, c.name, c.value());
        ASSERT_EQ(put.hr, S_OK) << c.name;
        Outcome got = Get(m.d, c.name);
        ASSERT_EQ(got.hr, S_OK) << c.name;
        EXPECT_EQ(V_VT(&got.result.v), c.type) << c.name;
        Var asText;
        // The value read back, as text, through a Recipient's Address put.
        Object r("Recipient");
        ASSERT_EQ(Put(r.d, "Address", std::move(got.result)).hr, S_OK);
        EXPECT_EQ(Get(r.d, "Address").result.text(), c.text) << c.name;
    }
}

TEST(Dispatch, StatusesOfWrongCalls) {
    struct Case {
        const char* what;
        std::string cls;
        std::string name;
        WORD flags;
        std::vector<Var> (*args)();
        HRESULT expected;
        UINT argError;  // ~0u: not set
    };
    const Case cases[] = {
        {"put on a read-only property", "Message", "Recipients", DISPATCH_PROPERTYPUT,
         [] { std::vector<Var> a; a.push_back(Var::I4(1)); return a; }, DISP_E_MEMBERNOTFOUND, ~0u},
        {"too many arguments", "Message", "Server", DISPATCH_PROPERTYGET,
         [] { std::vector<Var> a; a.push_back(Var::I4(1)); return a; }, DISP_E_BADPARAMCOUNT, ~0u},
        {"required argument left out", "Recipients", "Add", DISPATCH_METHOD,
         [] { return std::vector<Var>{}; }, DISP_E_PARAMNOTOPTIONAL, ~0u},
        {"required text as the missing value", "Message", "CheckSender", DISPATCH_METHOD,
         [] { std::vector<Var> a; a.push_back(Var::Missing()); return a; }, DISP_E_PARAMNOTOPTIONAL, ~0u},
        {"text that is no number", "Message", "Port", DISPATCH_PROPERTYPUT,
         [] { std::vector<Var> a; a.push_back(Var::Text("abc")); return a; }, DISP_E_TYPEMISMATCH, 0},
        {"null where text is needed", "Message", "Subject", DISPATCH_PROPERTYPUT,
         [] { std::vector<Var> a; a.push_back(Var::Null()); return a; }, DISP_E_TYPEMISMATCH, 0},
        {"32-bit overflow", "Message", "Port", DISPATCH_PROPERTYPUT,
         [] { std::vector<Var> a; a.push_back(Var::R8(3e9)); return a; }, DISP_E_OVERFLOW, 0},
        {"16-bit overflow", "Message", "Priority", DISPATCH_PROPERTYPUT,
         [] { std::vector<Var> a; a.push_back(Var::I4(40000)); return a; }, DISP_E_OVERFLOW, 0},
        {"float overflow", "Message", "TimeOut", DISPATCH_PROPERTYPUT,
         [] { std::vector<Var> a; a.push_back(Var::R8(1e300)); return a; }, DISP_E_OVERFLOW, 0},
        {"object required", "Message", "OnStartPage", DISPATCH_METHOD,
         [] { std::vector<Var> a; a.push_back(Var::I4(1)); return a; }, DISP_E_TYPEMISMATCH, 0},
        {"a method called as a put", "Message", "send", DISPATCH_PROPERTYPUT,
         [] { std::vector<Var> a; a.push_back(Var::I4(1)); return a; }, DISP_E_MEMBERNOTFOUND, ~0u},
    };
    for (const auto& c : cases) {
        Object o(c.cls);
        Outcome out = Call(o.d, IdOf(o.d, c.name), c.flags, c.args());
        EXPECT_EQ(out.hr, c.expected) << c.what;
        EXPECT_EQ(out.argError, c.argError) << c.what;
    }
    Object m("Message");
    EXPECT_EQ(Call(m.d, 0x12345, DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);
}

TEST(Dispatch, ComponentErrorsArriveAsExceptionWithNumberSourceAndDescription) {
    struct Case {
        const char* cls;
        const char* name;
        WORD flags;
        Var (*arg)();
        std::int32_t scode;
        const char* description;
    };
    const Case cases[] = {
        {"Message", "Priority", DISPATCH_PROPERTYPUT, [] { return Var::I4(9); }, static_cast<std::int32_t>(0x800A2706), "Invalid Priority setting."},
        {"Message", "Port", DISPATCH_PROPERTYPUT, [] { return Var::I4(70000); }, static_cast<std::int32_t>(0x800A0006), "Overflow"},
        {"Recipients", "Add", DISPATCH_METHOD, [] { return Var::Text(""); }, static_cast<std::int32_t>(0x800A270B), "Recipient address can not be blank"},
        {"Recipients", "Add", DISPATCH_METHOD, [] { return Var::Missing(); }, static_cast<std::int32_t>(0x800A270B), "Recipient address can not be blank"},
        {"Message", "CheckSender", DISPATCH_METHOD, [] { return Var::Text(""); }, static_cast<std::int32_t>(0x800A2707), "FromAddress can not be blank"},
        {"Recipients", "Item", DISPATCH_PROPERTYGET, [] { return Var::I4(1); }, static_cast<std::int32_t>(0x800A0009), "Subscript out of range"},
    };
    for (const auto& c : cases) {
        Object o(c.cls);
        std::vector<Var> args;
        args.push_back(c.arg());
        Outcome out = Call(o.d, IdOf(o.d, c.name), c.flags, std::move(args));
        EXPECT_EQ(out.hr, DISP_E_EXCEPTION) << c.name;
        EXPECT_EQ(out.exception.scode, c.scode) << c.name;
        EXPECT_EQ(out.exception.wCode, 0) << c.name;
        EXPECT_EQ(out.source(), "Quillpost") << c.name;
        EXPECT_EQ(out.description(), c.description) << c.name;
    }
}

// Variants that a case lays out itself, at fixed addresses so that they can
// refer to each other; text in them is released afterwards.
struct Layout {
    VARIANT args[3];  // rgvarg: the last argument first
    VARIANT other;    // what a reference may point at
    std::vector<DISPID> named;
    IID riid = IID_NULL;
    Layout() {
        for (auto& a : args) VariantInit(&a);
        VariantInit(&other);
    }
    ~Layout() {
        for (auto& a : args)
            if (!(V_VT(&a) & VT_BYREF)) VariantClear(&a);
        VariantClear(&other);
    }
    static void Text(VARIANT& v, const char16_t* text) {
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocString(text);
    }
    static void Ref(VARIANT& v, VARIANT& target) {
        V_VT(&v) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(&v) = &target;
    }
};

TEST(Dispatch, InvokeRefusesWhatThePlatformRefuses) {
    struct Case {
        const char* what;
        const char* cls;
        const char* member;
        WORD flags;
        UINT count;
        void (*lay)(Layout&);
        HRESULT expected;
        UINT argError;  // ~0u: not set
    };
    const Case cases[] = {
        {"a reference to itself", "Recipients", "Add", DISPATCH_METHOD, 1,
         [](Layout& l) { Layout::Ref(l.args[0], l.args[0]); }, DISP_E_BADVARTYPE, 0},
        {"a reference to a reference", "Recipients", "Add", DISPATCH_METHOD, 1,
         [](Layout& l) {
             Layout::Ref(l.args[0], l.other);
             Layout::Ref(l.other, l.args[1]);
             Layout::Text(l.args[1], u"a@x");
         }, DISP_E_BADVARTYPE, 0},
        {"a reference to a value", "Recipients", "Add", DISPATCH_METHOD, 1,
         [](Layout& l) {
             Layout::Ref(l.args[0], l.other);
             Layout::Text(l.other, u"a@x");
         }, S_OK, ~0u},
        {"a put by reference of text", "Message", "Subject", DISPATCH_PROPERTYPUTREF, 1,
         [](Layout& l) {
             Layout::Text(l.args[0], u"Hi");
             l.named = {DISPID_PROPERTYPUT};
         }, DISP_E_MEMBERNOTFOUND, ~0u},
        {"an interface identifier that is not IID_NULL", "Message", "Subject", DISPATCH_PROPERTYGET, 0,
         [](Layout& l) { l.riid = IID_IDispatch; }, DISP_E_UNKNOWNINTERFACE, ~0u},
        {"a parameter given by position and by name", "Recipients", "Add", DISPATCH_METHOD, 2,
         [](Layout& l) {
             Layout::Text(l.args[0], u"b@x");  // vAddress:=
             Layout::Text(l.args[1], u"a@x");  // first by position
             l.named = {0};
         }, DISP_E_PARAMNOTFOUND, 0},
        {"the same name twice", "Recipients", "Add", DISPATCH_METHOD, 2,
         [](Layout& l) {
             Layout::Text(l.args[0], u"N");
             Layout::Text(l.args[1], u"M");
             l.named = {1, 1};
         }, DISP_E_PARAMNOTFOUND, 1},
        {"names in any order", "Recipients", "Add", DISPATCH_METHOD, 2,
         [](Layout& l) {
             Layout::Text(l.args[0], u"N");
             Layout::Text(l.args[1], u"a@x");
             l.named = {1, 0};
         }, S_OK, ~0u},
        {"a decimal where a number is", "Message", "Port", DISPATCH_PROPERTYPUT, 1,
         [](Layout& l) {
             const unsigned char decimal[16] = {0, 0, 1, 0, 0, 0, 0, 0, 0xA6, 0x62, 0, 0, 0, 0, 0, 0};  // 2525.4
             std::memcpy(&l.args[0], decimal, sizeof decimal);
             V_VT(&l.args[0]) = VT_DECIMAL;
             l.named = {DISPID_PROPERTYPUT};
         }, S_OK, ~0u},
        {"date text", "Message", "DateTime", DISPATCH_PROPERTYPUT, 1,
         [](Layout& l) {
             Layout::Text(l.args[0], u"2024-03-01 10:00:00");
             l.named = {DISPID_PROPERTYPUT};
         }, S_OK, ~0u},
    };
    for (const auto& c : cases) {
        Object o(c.cls);
        Layout l;
        c.lay(l);
        DISPPARAMS params{l.args, l.named.data(), c.count, static_cast<UINT>(l.named.size())};
        Outcome out;
        out.hr = o.d->Invoke(IdOf(o.d, c.member), l.riid, 0x409, c.flags, &params, &out.result.v, &out.exception,
                             &out.argError);
        EXPECT_EQ(out.hr, c.expected) << c.what;
        EXPECT_EQ(out.argError, c.argError) << c.what;
    }
}

TEST(Dispatch, DecimalsDateTextAndLoneSurrogatesArriveAsThePlatformConvertsThem) {
    Object m("Message");
    Var decimal;
    const unsigned char bytes[16] = {0, 0, 1, 0x80, 0, 0, 0, 0, 0xA6, 0x62, 0, 0, 0, 0, 0, 0};  // -2525.4
    std::memcpy(&decimal.v, bytes, sizeof bytes);
    V_VT(&decimal.v) = VT_DECIMAL;
    ASSERT_EQ(Put(m.d, "TimeOut", std::move(decimal)).hr, S_OK);
    Outcome timeOut = Get(m.d, "TimeOut");
    EXPECT_FLOAT_EQ(V_R4(&timeOut.result.v), -2525.4f);
    ASSERT_EQ(Put(m.d, "DateTime", Var::Text("3/1/2024 10:00 PM")).hr, S_OK);
    Outcome date = Get(m.d, "DateTime");
    EXPECT_EQ(V_DATE(&date.result.v), MakeDate({2024, 3, 1, 22, 0, 0, 0}));
    Var lone;  // half of a surrogate pair cannot become UTF-8: U+FFFD stands for it
    V_VT(&lone.v) = VT_BSTR;
    V_BSTR(&lone.v) = SysAllocStringLen(u"a\xD800z", 3);
    ASSERT_EQ(Put(m.d, "Subject", std::move(lone)).hr, S_OK);
    EXPECT_EQ(Get(m.d, "Subject").result.text(), "a\uFFFDz");
}

// The description of the thread's error information, taken; "" when none.
std::string TakeThreadError() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return "";
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    std::string text = server::Utf16ToUtf8({description, SysStringLen(description)});
    SysFreeString(description);
    return text;
}

TEST(Dispatch, EveryFailureSetsItsOwnErrorInformation) {
    Object m("Message");
    Var nine = Var::I4(9);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&nine.v, &put, 1, 1};
    // Late-bound without an exception block: the record still tells.
    EXPECT_EQ(m.d->Invoke(IdOf(m.d, "Priority"), IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                          nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(TakeThreadError(), "Invalid Priority setting.");
    EXPECT_EQ(Put(m.d, "Port", Var::Text("abc")).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(TakeThreadError(), "Type mismatch");
    EXPECT_EQ(Call(m.d, 0x12345, DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(TakeThreadError(), "Object doesn't support this property or method");
    // Early-bound: a null result pointer after a failed call replaces its record.
    auto** table = *reinterpret_cast<void***>(m.d);
    const auto putPriority = reinterpret_cast<HRESULT (*)(IDispatch*, SHORT)>(table[7 + 12]);
    const auto getPriority = reinterpret_cast<HRESULT (*)(IDispatch*, SHORT*)>(table[7 + 13]);
    EXPECT_EQ(putPriority(m.d, 6), static_cast<HRESULT>(0x800A2706));
    EXPECT_EQ(getPriority(m.d, nullptr), E_POINTER);
    EXPECT_EQ(TakeThreadError(), "Invalid procedure call or argument");
}

TEST(Dispatch, DefaultMembersAndACollectionCalledWithAnIndex) {
    Object m("Message");
    ASSERT_EQ(Put(m.d, "Subject", Var::Text("Greetings")).hr, S_OK);
    EXPECT_EQ(Call(m.d, DISPID_VALUE, DISPATCH_PROPERTYGET).result.text(), "Greetings");

    Outcome list = Get(m.d, "Recipients");
    Object recipients(Take(list));
    Var address = Var::Text("ann@example.org");
    std::vector<Var> add;
    add.push_back(Var::Ref(address));  // by reference, as script hosts pass it
    ASSERT_EQ(Call(recipients.d, IdOf(recipients.d, "Add"), DISPATCH_METHOD, std::move(add)).hr, S_OK);

    // m.Recipients(1): the extra argument goes to the collection's Item.
    std::vector<Var> index;
    index.push_back(Var::I4(1));
    Outcome first = Get(m.d, "Recipients", std::move(index));
    ASSERT_EQ(first.hr, S_OK);
    Object recipient(Take(first));
    EXPECT_EQ(Call(recipient.d, DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD).result.text(), "ann@example.org");
    // Add with one argument left the name as the component sets it for a missing one.
    EXPECT_EQ(Get(recipient.d, "Name").hr, S_OK);
    // m.Recipients(2) is out of range, reported as the collection's error.
    std::vector<Var> beyond;
    beyond.push_back(Var::I4(2));
    EXPECT_EQ(Get(m.d, "Recipients", std::move(beyond)).exception.scode, static_cast<std::int32_t>(0x800A0009));
}

TEST(Dispatch, EnumeratorWalksSkipsResetsAndClones) {
    Object list("Recipients");
    for (const char* a : {"a@x", "b@x", "c@x"}) {
        std::vector<Var> args;
        args.push_back(Var::Text(a));
        ASSERT_EQ(Call(list.d, 0x60030001, DISPATCH_METHOD, std::move(args)).hr, S_OK);
    }
    Outcome e = Call(list.d, DISPID_NEWENUM, DISPATCH_PROPERTYGET);
    ASSERT_EQ(V_VT(&e.result.v), VT_UNKNOWN);
    IEnumVARIANT* items = nullptr;
    ASSERT_EQ(V_UNKNOWN(&e.result.v)->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items)), S_OK);
    const auto next = [](IEnumVARIANT* en, ULONG count, std::vector<std::string>& got) {
        std::vector<VARIANT> out(count);
        ULONG fetched = 99;
        const HRESULT hr = en->Next(count, out.data(), &fetched);
        for (ULONG i = 0; i < fetched; ++i) {
            got.push_back(Call(V_DISPATCH(&out[i]), DISPID_VALUE, DISPATCH_PROPERTYGET).result.text());
            VariantClear(&out[i]);
        }
        return hr;
    };
    std::vector<std::string> got;
    EXPECT_EQ(next(items, 2, got), S_OK);
    IEnumVARIANT* copy = nullptr;
    ASSERT_EQ(items->Clone(&copy), S_OK);
    EXPECT_EQ(next(items, 5, got), S_FALSE);
    EXPECT_EQ(got, (std::vector<std::string>{"a@x", "b@x", "c@x"}));
    got.clear();
    EXPECT_EQ(next(copy, 1, got), S_OK);  // the clone kept its place
    EXPECT_EQ(copy->Reset(), S_OK);
    EXPECT_EQ(copy->Skip(2), S_OK);
    EXPECT_EQ(copy->Skip(2), S_FALSE);
    EXPECT_EQ(got, (std::vector<std::string>{"c@x"}));
    copy->Release();
    items->Release();
}

TEST(Dispatch, EarlyBoundSlotReachesTheSameCodeAndSetsErrorInformation) {
    Object m("Message");
    // _Message slot 7 + 12: Priority put (SHORT); slot 7 + 13: its get.
    using PutShort = HRESULT (*)(IDispatch*, SHORT);
    using GetShort = HRESULT (*)(IDispatch*, SHORT*);
    auto** table = *reinterpret_cast<void***>(m.d);
    const auto put = reinterpret_cast<PutShort>(table[7 + 12]);
    const auto get = reinterpret_cast<GetShort>(table[7 + 13]);
    EXPECT_EQ(put(m.d, 4), S_OK);
    SHORT value = 0;
    EXPECT_EQ(get(m.d, &value), S_OK);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(put(m.d, 6), static_cast<HRESULT>(0x800A2706));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR description = nullptr, source = nullptr;
    info->GetDescription(&description);
    info->GetSource(&source);
    EXPECT_EQ(server::Utf16ToUtf8({description, SysStringLen(description)}), "Invalid Priority setting.");
    EXPECT_EQ(server::Utf16ToUtf8({source, SysStringLen(source)}), "Quillpost");
    SysFreeString(description);
    SysFreeString(source);
    info->Release();
    ISupportErrorInfo* support = nullptr;
    ASSERT_EQ(m.d->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(ClassNamed("Message").iid), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
    support->Release();
}

TEST(Dispatch, LibraryMayUnloadOnlyWhenNoObjectOrLockRemains) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(ClassNamed("Header").clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IDispatch* header = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&header)), S_OK);
    factory->LockServer(1);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    header->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the lock remains
    ASSERT_EQ(DllGetClassObject(ClassNamed("Header").clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(0);
    factory->LockServer(0);  // once too often: the count stays at zero
    factory->LockServer(1);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);  // the new lock holds
    ASSERT_EQ(DllGetClassObject(ClassNamed("Header").clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(0);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    const CLSID unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(DllGetClassObject(unknown, IID_IClassFactory, reinterpret_cast<void**>(&factory)), CLASS_E_CLASSNOTAVAILABLE);
}

}  // namespace
