// The automation face of the component as one table: the library, its seven
// classes with their dual interfaces, every member in slot order with its
// dispatch identifier, parameters, result and the call that serves it, and
// the priority enumeration. Name lookup, invocation, argument conversion,
// type information and registration all read this table.
#pragma once

#include "server/automation.hpp"

#include <quillpost/variant.hpp>

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <typeinfo>

namespace quillpost::server {

enum class Kind : std::uint8_t { Method = INVOKE_FUNC, Get = INVOKE_PROPERTYGET, Put = INVOKE_PROPERTYPUT };

struct Param {
    const char* name;
    VARTYPE type;  // VT_BSTR, VT_I2, VT_I4, VT_R4, VT_DATE, VT_BOOL, VT_VARIANT or VT_DISPATCH
    bool byRef;
    bool optional;
};

struct ClassInfo;

// Serves one slot: the arguments arrive converted to the declared types, in
// declaration order (a missing optional one as the missing value); the
// result is converted to the declared result type afterwards.
using Call = Variant (*)(Dispatch& self, std::span<const Variant> args);

struct Member {
    const char* name;
    Kind kind;
    DISPID id;
    std::span<const Param> params;  // a put's value is its last parameter
    VARTYPE result;                 // VT_EMPTY for none
    // The class of an object result; for NewEnum, the class of the items it
    // walks.
    const ClassInfo* resultClass;
    Call call;
};

struct ClassInfo {
    const char* name;           // "Message": the class and, after "Quillpost.", its program identifier
    const char* interfaceName;  // "_Message"
    GUID iid;
    GUID clsid;
    std::span<const Member> members;  // in slot order
    const std::type_info* type;       // the C++ class an object of it wraps
    std::shared_ptr<Dispatch> (*create)();
};

struct EnumValue {
    const char* name;
    std::int32_t value;
};

struct LibraryInfo {
    const char* name;
    GUID libid;
    WORD majorVersion;
    WORD minorVersion;
    LCID lcid;
    std::span<const ClassInfo* const> classes;
    const char* enumName;
    GUID enumGuid;
    std::span<const EnumValue> enumValues;
};

inline constexpr const char* kErrorSource = "Quillpost";
inline constexpr std::uint32_t kSlotsOfIDispatch = 7;

const LibraryInfo& Library();
const ClassInfo* ClassByClsid(const GUID& clsid);
// The class whose objects wrap this C++ object; null for foreign objects.
const ClassInfo* ClassOfObject(const Dispatch& object);
// The early-bound table of function pointers of a class's dual interface:
// the seven of IDispatch, then one per member.
const void* const* DualVtable(const ClassInfo& info);

}  // namespace quillpost::server
