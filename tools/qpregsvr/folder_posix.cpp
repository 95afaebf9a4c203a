#include "folder.hpp"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace quillpost::tools {

bool MakeFolders(const std::string& path, std::string& reason) {
    if (path.empty()) return true;
    // Each prefix that ends before a slash, then the whole path.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string folder = path.substr(0, end);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
            reason = "cannot create " + folder + ": " + std::strerror(errno);
            return false;
        }
        if (end == std::string::npos) break;
    }
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = path + " is not a folder";
        return false;
    }
    return true;
}

}  // namespace quillpost::tools
