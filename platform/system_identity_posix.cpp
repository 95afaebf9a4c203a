#include "platform/system_identity.hpp"

#include <cerrno>
#include <sys/random.h>
#include <unistd.h>

#include <quillpost/detail/errors.hpp>

namespace quillpost {

std::string SystemRandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got = getrandom(bytes.data() + filled, count - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            raise(Err::InternalError, "the system's random source cannot be read");
        }
        filled += static_cast<std::size_t>(got);
    }
    return bytes;
}

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace quillpost
