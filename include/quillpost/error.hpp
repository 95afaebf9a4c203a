// The one exception type of Quillpost. Every failure of the component reaches
// the caller as an Error: a number and a description, nothing else. The
// numbers and their texts are listed in the README ("Errors").
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace quillpost {

class Error : public std::exception {
public:
    Error(std::int32_t number, std::string description);

    std::int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::int32_t number_;
    std::string description_;
};

// The exception being handled, as an Error: an Error as it is, running out of
// memory as 7 "Out of memory", anything else as 51 "Internal error: " with
// what it says. Call it only inside a catch block.
Error ErrorFromCurrentException();

}  // namespace quillpost
