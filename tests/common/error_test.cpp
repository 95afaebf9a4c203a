#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <gtest/gtest.h>

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
