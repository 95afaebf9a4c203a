// What an action raises, for tests that look at the number or the whole
// error.
#pragma once

#include <quillpost/error.hpp>

#include <gtest/gtest.h>

#include <functional>

namespace quillpost::test {

// The error an action raises, or one numbered 0 when it raises none.
inline Error ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e;
    }
    return Error(0, "");
}

// The error an action raises; the test fails when it raises none.
inline Error RaisedBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no error was raised";
    return Error(0, "");
}

inline int ErrorNumberOf(const std::function<void()>& action) { return ErrorOf(action).number(); }

}  // namespace quillpost::test
