// Between the platform's VARIANT and the component's Variant, and from any
// value to a member's declared type by the automation rules of Variant.
#pragma once

#include "server/automation.hpp"
#include "server/members.hpp"

#include <quillpost/variant.hpp>

namespace quillpost::server {

// DISP_E_BADVARTYPE for a variant of a shape that no conversion reads: a
// by-reference variant that refers to another by-reference variant (or to
// itself), or VT_VARIANT not by reference; else S_OK. The platform's
// conversion follows a reference one level and no further.
HRESULT CheckVarType(const VARIANT& value);
// The variant to read: `value`, or the one it refers to; null for a shape
// that CheckVarType refuses and for a null reference.
const VARIANT* Referent(const VARIANT& value);

// A by-reference variant is followed one level (see Referent). An object of
// ours gives the C++ object it wraps; any other object is wrapped so that the
// component can call it by name. Raises 13 for a kind the component has no
// use for (arrays, records) and for a variant that Referent refuses.
Variant FromVariant(const VARIANT& value);

// Fills `out` (which holds nothing to release) with a copy of `value`. An
// object becomes an automation object of its class (`hint` is the class of
// an enumerator's items); a foreign object goes back as itself.
HRESULT ToVariant(const Variant& value, VARIANT& out, const ClassInfo* hint = nullptr);

// `value` converted to a declared type: VT_BSTR, VT_I2, VT_I4, VT_R4, VT_DATE,
// VT_BOOL, VT_DISPATCH, or VT_VARIANT (as it is). Raises 6 when the number
// does not fit, 13 (or 94, 424) when it cannot be converted.
Variant Coerce(const Variant& value, VARTYPE type);

// The platform's text of a component text, and back.
BSTR NewBstr(std::string_view text);
std::string TextOfBstr(const OLECHAR* text, UINT length);

}  // namespace quillpost::server
