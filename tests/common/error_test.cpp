#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quillpost;

TEST(ErrorTable, SharedNumbersKeepTheirOwnDescriptions) {
    EXPECT_EQ(error_info(Err::BlankHeaderName).number, 9997);
    EXPECT_EQ(error_info(Err::SendTimeout).number, 9997);
    EXPECT_NE(error_info(Err::BlankHeaderName).description, error_info(Err::SendTimeout).description);
}

TEST(ErrorTable, DetailIsAppendedToTheFixedText) {
    const Error e = make_error(Err::UnexpectedResponse, "bogus");
    EXPECT_EQ(e.number(), 9999);
    EXPECT_EQ(e.description(), "Unexpected response from server: bogus");
    EXPECT_STREQ(e.what(), "Unexpected response from server: bogus");
}

TEST(ErrorTable, RaiseThrowsTheOneExceptionType) {
    try {
        raise(Err::DuplicateKey);
        FAIL();
    } catch (const std::exception& e) {
        const auto* error = dynamic_cast<const Error*>(&e);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->number(), 457);
        EXPECT_EQ(error->description(), "This key is already associated with an element of this collection");
    }
}

TEST(ErrorFromCurrentException, TurnsAnythingThrownIntoANumberedError) {
    struct Case {
        std::function<void()> thrower;
        std::int32_t number;
        std::string description;
    };
    const std::vector<Case> cases = {
        {[] { throw quillpost::Error(9550, "denied"); }, 9550, "denied"},
        {[] { throw quillpost::Error(0, "odd"); }, 51, "Internal error: error 0: odd"},
        {[] { throw std::bad_alloc(); }, 7, "Out of memory"},
        {[] { throw std::runtime_error("broken"); }, 51, "Internal error: broken"},
        {[] { throw 42; }, 51, "Internal error: an exception of unknown type"},
    };
    for (const Case& c : cases) {
        try {
            c.thrower();
        } catch (...) {
            const quillpost::Error e = quillpost::ErrorFromCurrentException();
            EXPECT_EQ(e.number(), c.number);
            EXPECT_EQ(e.description(), c.description);
        }
    }
}
