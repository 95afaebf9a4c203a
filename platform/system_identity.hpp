// What the system says about itself that mail needs: unpredictable bytes for
// identifiers nobody may guess, and the host's own name.
#pragma once

#include <cstddef>
#include <string>

namespace quillpost {

// `count` bytes from the system's cryptographic random source. Raises when the
// source cannot be read; never falls back to a weaker one.
std::string SystemRandomBytes(std::size_t count);

// The host's name as the system knows it (its fully qualified name where the
// system has one); "localhost" when it has none.
std::string LocalHostName();

}  // namespace quillpost
