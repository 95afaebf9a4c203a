// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <string>
#include <string_view>

namespace quillpost::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Path of `name` inside the folder.
    std::string file(std::string_view name) const;
    // Writes `content` to `name` inside the folder and returns its path.
    std::string write(std::string_view name, std::string_view content) const;
    // Reads a whole file.
    static std::string read(const std::string& path);

private:
    std::string path_;
};

}  // namespace quillpost::test
