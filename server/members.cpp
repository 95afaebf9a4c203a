// The table's accessors and the early-bound slots, generated from the table
// at compile time: each slot gets a function of exactly the signature its
// member declares, which hands its arguments on as variants.
#include "server/member_table.hpp"
#include "server/object.hpp"

#include <array>
#include <type_traits>
#include <utility>

namespace quillpost::server {

namespace {

template <VARTYPE T> struct CType;
template <> struct CType<VT_EMPTY> { using type = void; };  // no result
template <> struct CType<VT_BSTR> { using type = BSTR; };
template <> struct CType<VT_I2> { using type = SHORT; };
template <> struct CType<VT_I4> { using type = LONG; };
template <> struct CType<VT_R4> { using type = FLOAT; };
template <> struct CType<VT_DATE> { using type = DATE; };
template <> struct CType<VT_BOOL> { using type = VARIANT_BOOL; };
template <> struct CType<VT_VARIANT> { using type = VARIANT; };
template <> struct CType<VT_DISPATCH> { using type = IDispatch*; };
template <> struct CType<VT_UNKNOWN> { using type = IUnknown*; };

template <const ClassInfo& C, std::size_t S, std::size_t I>
constexpr const Param& ParamOf() {
    return C.members[S].params[I];
}
template <const ClassInfo& C, std::size_t S, std::size_t I>
using ParamType = std::conditional_t<ParamOf<C, S, I>().byRef,
                                     typename CType<ParamOf<C, S, I>().type>::type*,
                                     typename CType<ParamOf<C, S, I>().type>::type>;

// A borrowed variant over one argument as the slot received it.
template <VARTYPE T, bool ByRef, class A>
VARIANT AsVariant(A value) {
    VARIANT v;
    VariantInit(&v);
    if constexpr (ByRef) {
        V_VT(&v) = static_cast<VARTYPE>(T | VT_BYREF);
        V_BYREF(&v) = value;
    } else {
        V_VT(&v) = T;
        if constexpr (T == VT_BSTR) V_BSTR(&v) = value;
        else if constexpr (T == VT_I2) V_I2(&v) = value;
        else if constexpr (T == VT_I4) V_I4(&v) = value;
        else if constexpr (T == VT_R4) V_R4(&v) = value;
        else if constexpr (T == VT_DATE) V_DATE(&v) = value;
        else if constexpr (T == VT_BOOL) V_BOOL(&v) = value;
        else V_DISPATCH(&v) = value;
    }
    return v;
}

template <const ClassInfo& C, std::size_t S, class Indexes>
struct Slot;

template <const ClassInfo& C, std::size_t S, std::size_t... I>
struct Slot<C, S, std::index_sequence<I...>> {
    static constexpr VARTYPE kResult = C.members[S].result;

    static HRESULT Forward(void* self, std::array<VARIANT, sizeof...(I) + 1>& args, void* out) {
        return dual::CallSlot(self, S, args.data(), sizeof...(I), out);
    }
    static HRESULT STDMETHODCALLTYPE WithResult(void* self, ParamType<C, S, I>... a,
                                                typename CType<kResult>::type* out) {
        std::array<VARIANT, sizeof...(I) + 1> args{AsVariant<ParamOf<C, S, I>().type, ParamOf<C, S, I>().byRef>(a)...};
        return Forward(self, args, out);
    }
    static HRESULT STDMETHODCALLTYPE WithoutResult(void* self, ParamType<C, S, I>... a) {
        std::array<VARIANT, sizeof...(I) + 1> args{AsVariant<ParamOf<C, S, I>().type, ParamOf<C, S, I>().byRef>(a)...};
        return Forward(self, args, nullptr);
    }
    static const void* Pointer() {
        if constexpr (kResult == VT_EMPTY) return reinterpret_cast<const void*>(&WithoutResult);
        else return reinterpret_cast<const void*>(&WithResult);
    }
};

template <const ClassInfo& C, std::size_t... S>
const void* const* BuildVtable(std::index_sequence<S...>) {
    static const void* const table[] = {
        reinterpret_cast<const void*>(&dual::QueryInterface),
        reinterpret_cast<const void*>(&dual::AddRef),
        reinterpret_cast<const void*>(&dual::Release),
        reinterpret_cast<const void*>(&dual::GetTypeInfoCount),
        reinterpret_cast<const void*>(&dual::GetTypeInfo),
        reinterpret_cast<const void*>(&dual::GetIDsOfNames),
        reinterpret_cast<const void*>(&dual::Invoke),
        Slot<C, S, std::make_index_sequence<C.members[S].params.size()>>::Pointer()...};
    static_assert(sizeof table / sizeof table[0] == kSlotsOfIDispatch + sizeof...(S));
    return table;
}

template <const ClassInfo& C>
const void* const* Vtable() {
    return BuildVtable<C>(std::make_index_sequence<C.members.size()>());
}

}  // namespace

const LibraryInfo& Library() { return table::kLibrary; }

const ClassInfo* ClassByClsid(const GUID& clsid) {
    for (const ClassInfo* info : table::kClasses)
        if (info->clsid == clsid) return info;
    return nullptr;
}

const ClassInfo* ClassOfObject(const Dispatch& object) {
    for (const ClassInfo* info : table::kClasses)
        if (*info->type == typeid(object)) return info;
    return nullptr;
}

namespace {

template <std::size_t... I>
const void* const* VtableAt(std::size_t index, std::index_sequence<I...>) {
    static const void* const* const tables[] = {Vtable<*table::kClasses[I]>()...};
    return tables[index];
}

}  // namespace

const void* const* DualVtable(const ClassInfo& info) {
    constexpr std::size_t count = std::size(table::kClasses);
    for (std::size_t i = 0; i < count; ++i)
        if (table::kClasses[i] == &info) return VtableAt(i, std::make_index_sequence<count>());
    return nullptr;
}

}  // namespace quillpost::server
