// Object identity: every read of a property or an item hands out the same
// automation object while a client holds one, and no object outlives its
// last reference because of that.
#include "tests/server/automation_client.hpp"

#include "server/members.hpp"

#include <gtest/gtest.h>

using namespace quillpost;
using namespace quillpost::test;

namespace {

IDispatch* NewMessage() {
    return Create(server::Library().classes[0]->clsid);
}

// The object a call returned, with its own reference (null for any other result).
IDispatch* Read(IDispatch* d, DISPID id, std::vector<Var> args = {}) {
    Outcome out = Call(d, id, DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args));
    if (out.hr != S_OK || V_VT(&out.result.v) != VT_DISPATCH) return nullptr;
    IDispatch* object = V_DISPATCH(&out.result.v);
    V_VT(&out.result.v) = VT_EMPTY;
    return object;
}

std::vector<Var> One(Var v) {
    std::vector<Var> args;
    args.push_back(std::move(v));
    return args;
}
std::vector<Var> Two(Var a, Var b) {
    std::vector<Var> args = One(std::move(a));
    args.push_back(std::move(b));
    return args;
}

TEST(Identity, TwoReadsGiveTheSameObjectWhileOneIsHeld) {
    IDispatch* m = NewMessage();
    ASSERT_NE(m, nullptr);
    IDispatch* recipients = Read(m, 0x68030004);
    IDispatch* again = Read(m, 0x68030004);
    ASSERT_NE(recipients, nullptr);
    EXPECT_EQ(recipients, again);
    IDispatch* ccs = Read(m, 0x68030003);
    EXPECT_NE(ccs, recipients);  // another collection, another object
    for (IDispatch* d : {ccs, again, recipients}) d->Release();

    // Items: Item(1) twice, m.Recipients(1), and the enumerator's first item.
    recipients = Read(m, 0x68030004);
    ASSERT_EQ(Call(recipients, 0x60030001, DISPATCH_METHOD, One(Var::Text("ann@example.org"))).hr, S_OK);
    IDispatch* item = Read(recipients, DISPID_VALUE, One(Var::I4(1)));
    IDispatch* item2 = Read(recipients, DISPID_VALUE, One(Var::I4(1)));
    IDispatch* viaMessage = Read(m, 0x68030004, One(Var::I4(1)));
    EXPECT_EQ(item, item2);
    EXPECT_EQ(item, viaMessage);
    Outcome e = Call(recipients, DISPID_NEWENUM, DISPATCH_PROPERTYGET);
    IEnumVARIANT* items = nullptr;
    ASSERT_EQ(V_UNKNOWN(&e.result.v)->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items)), S_OK);
    VARIANT first;
    VariantInit(&first);
    ASSERT_EQ(items->Next(1, &first, nullptr), S_OK);
    EXPECT_EQ(V_DISPATCH(&first), item);
    VariantClear(&first);
    items->Release();
    for (IDispatch* d : {item, item2, viaMessage, recipients}) d->Release();
    m->Release();
}

TEST(Identity, AnObjectLeavesWithItsLastReferenceAndTheNextReadStillSeesTheContents) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    IDispatch* m = NewMessage();
    IDispatch* headers = Read(m, 0x68030000);
    ASSERT_EQ(Call(headers, 0x60030001, DISPATCH_METHOD, Two(Var::Text("X-A"), Var::Text("1"))).hr, S_OK);
    headers->Release();
    headers = Read(m, 0x68030000);
    Outcome count = Call(headers, 0x68030000, DISPATCH_PROPERTYGET);
    EXPECT_EQ(V_I4(&count.result.v), 1);
    headers->Release();
    m->Release();
    // Nothing is kept alive by the table of objects handed out.
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
