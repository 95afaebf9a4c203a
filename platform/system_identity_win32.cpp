#include "platform/system_identity.hpp"

#include <quillpost/detail/errors.hpp>

#include <windows.h>
#include <bcrypt.h>

namespace quillpost {

std::string SystemRandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    if (count > 0 &&
        !BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data()),
                                        static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        raise(Err::InternalError, "the system's random source cannot be read");
    return bytes;
}

std::string LocalHostName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) || size == 0) return "localhost";
    return std::string(name, size);
}

}  // namespace quillpost
