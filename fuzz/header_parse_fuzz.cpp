// Header::Parse on any line a caller or a qpmail --header might hand it.
#include "fuzz_check.hpp"

#include <quillpost/collections.hpp>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    quillpost::Header header;
    header.Name("before");
    if (header.Parse(line)) {
        QP_FUZZ_CHECK(header.Name() + ": " + header.Value() == line);
        // The split is at the first separator.
        QP_FUZZ_CHECK(header.Name().find(": ") == std::string::npos);
    } else {
        QP_FUZZ_CHECK(line.find(": ") == std::string::npos);
        QP_FUZZ_CHECK(header.Value() == line && header.Name() == "before");
    }
    return 0;
}
