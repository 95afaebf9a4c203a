// The registry-export file as the registry stand-in reads it: the input is
// the file, and the keys the component opens (and a few others) are read
// through RegistryKey, as every caller does.
#include "fuzz_check.hpp"

#include "platform/registry.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace {

using quillpost::RegistryKey;
using quillpost::RegistryRoot;

// One file per process, named in QUILLPOST_REGISTRY once and rewritten for
// every input; the media-type table is a fixed one of our own, so that an
// extension the input does not name is answered the same on every machine.
class RegistryFile {
public:
    RegistryFile() {
        const char* dir = std::getenv("TMPDIR");
        const std::string base = (dir != nullptr && *dir != '\0' ? std::string(dir) : std::string("/tmp")) + "/qp-fuzz-registry-XXXXXX";
        registry_ = Create(base, "");
        mediaTypes_ = Create(base, "text/plain txt log\n# a comment\nimage/png png\n");
        setenv("QUILLPOST_REGISTRY", registry_.c_str(), 1);
        setenv("QUILLPOST_MIME_TYPES", mediaTypes_.c_str(), 1);
    }
    ~RegistryFile() {
        unlink(registry_.c_str());
        unlink(mediaTypes_.c_str());
    }
    void Write(const std::uint8_t* data, std::size_t size) const {
        const int fd = open(registry_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        QP_FUZZ_CHECK(fd >= 0);
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = write(fd, data + done, size - done);
            QP_FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    }

private:
    static std::string Create(std::string name, std::string_view content) {
        const int fd = mkstemp(name.data());
        QP_FUZZ_CHECK(fd >= 0);
        QP_FUZZ_CHECK(write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()));
        close(fd);
        return name;
    }
    std::string registry_, mediaTypes_;
};

// Every way of reading a value agrees with what QueryValue says of it.
void CheckValue(const RegistryKey& key, std::string_view name) {
    std::uint32_t type = 0, size = 0;  // the type may be any number hex(N) names
    const std::int32_t status = key.QueryValue(name, type, size);
    QP_FUZZ_CHECK(status == quillpost::kRegSuccess || status == quillpost::kRegFileNotFound);
    std::string data;
    if (status != quillpost::kRegSuccess) {
        QP_FUZZ_CHECK(key.ReadValue(name, 1 << 20, data) == quillpost::kRegFileNotFound && data.empty());
        return;
    }
    QP_FUZZ_CHECK(key.ReadValue(name, size, data) == quillpost::kRegSuccess && data.size() == size);
    if (size > 0) QP_FUZZ_CHECK(key.ReadValue(name, size - 1, data) == quillpost::kRegMoreData && data.empty());
    std::uint32_t number = 0;
    QP_FUZZ_CHECK(key.ReadDword(name, number) == (size <= 4 ? quillpost::kRegSuccess : quillpost::kRegMoreData));
}

struct KeyToOpen {
    RegistryRoot root;
    std::string_view path;
};
constexpr KeyToOpen kKeys[] = {
    {RegistryRoot::LocalMachine, "SOFTWARE\\Brackenfold\\Quillpost"},
    {RegistryRoot::ClassesRoot, ".log"},
    {RegistryRoot::ClassesRoot, ".png"},
    {RegistryRoot::CurrentUser, "Software\\A\\\\B\\"},
    {RegistryRoot::Users, ""},
};
constexpr std::string_view kValueNames[] = {"RequireLocalSender", "Content Type", "@", "", "A"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const RegistryFile file;
    file.Write(data, size);
    for (const auto& [root, path] : kKeys) {
        RegistryKey key;
        const std::int32_t status = key.Open(root, path);
        QP_FUZZ_CHECK(status == quillpost::kRegSuccess || status == quillpost::kRegFileNotFound);
        QP_FUZZ_CHECK(key.IsOpen() == (status == quillpost::kRegSuccess));
        if (path.empty()) QP_FUZZ_CHECK(key.IsOpen());  // a root always opens
        if (!key.IsOpen()) continue;
        for (const auto name : kValueNames) CheckValue(key, name);
        QP_FUZZ_CHECK(key.Close() == quillpost::kRegSuccess && !key.IsOpen());
    }
    return 0;
}
