// Type information made from the member table.
#pragma once

#include "server/automation.hpp"
#include "server/members.hpp"

namespace quillpost::server {

// A new ITypeInfo of a class's dual interface, with one reference.
ITypeInfo* NewTypeInfo(const ClassInfo& info);

}  // namespace quillpost::server
