#include "platform/local_time.hpp"
#include "tests/support/error_of.hpp"

#include <quillpost/message.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace quillpost;
using quillpost::test::ErrorNumberOf;

TEST(MessageDefaults, NewMessageReadsBackTheDefaults) {
    Message m;
    EXPECT_EQ(m.Subject(), "[no subject]");
    EXPECT_EQ(m.Server(), "mail");
    EXPECT_EQ(m.Port(), 25);
    EXPECT_EQ(m.TimeOut(), 50.0f);
    EXPECT_EQ(m.Priority(), 0);
    EXPECT_FALSE(m.ConfirmReading());
    EXPECT_EQ(m.Application(), "Quillpost 1.0");
    EXPECT_EQ(m.FromName(), "");
    EXPECT_EQ(m.FromAddress(), "");
    EXPECT_EQ(m.TextBody(), "");
    EXPECT_EQ(m.HtmlBody(), "");
    EXPECT_EQ(m.Organization(), "");
    EXPECT_EQ(m.TraceFile(), "");
    EXPECT_EQ(Variant(std::make_shared<Message>()).ToText(), "[no subject]");  // default member
}

TEST(MessageDefaults, DateTimeIsTheCreationMomentAndStaysPut) {
    const double before = LocalNow();
    Message m;
    const double after = LocalNow();
    EXPECT_GE(m.DateTime(), before);
    EXPECT_LE(m.DateTime(), after);
    const double first = m.DateTime();
    EXPECT_EQ(m.DateTime(), first);
    m.DateTime(45000.5);
    EXPECT_EQ(m.DateTime(), 45000.5);
}

TEST(MessageFromAddress, FillsAnEmptyFromNameOnly) {
    Message m;
    m.FromAddress("a@example.com");
    EXPECT_EQ(m.FromName(), "a@example.com");
    m.FromAddress("b@example.com");
    EXPECT_EQ(m.FromName(), "a@example.com");
    EXPECT_EQ(m.FromAddress(), "b@example.com");
    m.FromName("");
    m.FromAddress("c@example.com");
    EXPECT_EQ(m.FromName(), "c@example.com");
    m.FromName("Ann");
    EXPECT_EQ(m.FromName(), "Ann");
}

TEST(MessagePriority, AcceptsTheEnumerationOnly) {
    Message m;
    m.Priority(QP_PRIORITY_LOWEST);
    EXPECT_EQ(m.Priority(), 5);
    for (int bad : {6, -1, 65536 + 3}) {
        try {
            m.Priority(bad);
            FAIL() << bad;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), 9990);
            EXPECT_EQ(e.description(), "Invalid Priority setting.");
        }
        EXPECT_EQ(m.Priority(), 5);
    }
}

TEST(MessagePort, IsNarrowedTo16BitsWithOverflowOutside) {
    Message m;
    m.Port(32767);
    EXPECT_EQ(m.Port(), 32767);
    try {
        m.Port(32768);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 6);
        EXPECT_EQ(e.description(), "Overflow");
    }
    EXPECT_EQ(m.Port(), 32767);
    m.Port(-1);
    EXPECT_EQ(m.Port(), -1);
    m.Port(-32768);
    EXPECT_EQ(m.Port(), -32768);
    EXPECT_EQ(ErrorNumberOf([&] { m.Port(-32769); }), 6);
    EXPECT_EQ(m.Port(), -32768);
}

TEST(MessageProperties, PlainStoresKeepValuesExactly) {
    Message m;
    m.Subject("");
    m.Server("");
    m.TimeOut(-3.5f);
    m.Subject("line\r\nbreak");
    m.ConfirmReading(true);
    EXPECT_EQ(m.Subject(), "line\r\nbreak");
    EXPECT_EQ(m.Server(), "");
    EXPECT_EQ(m.TimeOut(), -3.5f);
    EXPECT_TRUE(m.ConfirmReading());
}

TEST(MessageCollections, AreCreatedOnceAndSharedAfterwards) {
    Message m;
    auto first = m.Recipients();
    first->Add("a@example.com");
    EXPECT_EQ(m.Recipients()->Count(), 1);
    EXPECT_EQ(m.Recipients().get(), first.get());
    EXPECT_NE(m.CCs().get(), m.BCCs().get());
    EXPECT_NE(m.BCCs().get(), m.ReplyTos().get());
    EXPECT_NE(m.ReplyTos().get(), m.Recipients().get());
    EXPECT_EQ(m.ExtraHeaders().get(), m.ExtraHeaders().get());
    EXPECT_EQ(m.Attachments().get(), m.Attachments().get());
}

TEST(MessageCollections, OutliveTheMessageWhileHeld) {
    std::shared_ptr<Recipients> held;
    {
        auto m = std::make_shared<Message>();
        held = m->CCs();
        held->Add("c@example.com");
    }
    EXPECT_EQ(held->Count(), 1);
    EXPECT_EQ(held->Item(1)->Address(), "c@example.com");
}

TEST(MessagePut, RefusesDatesAndTimeOutsThatNoWaitOrDateLineCanUse) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    for (const double date : {nan, inf, -inf, -657435.0, 2958466.0, 2958465.99999999, 1e300}) {
        Message m;
        const double before = m.DateTime();
        EXPECT_EQ(ErrorNumberOf([&] { m.DateTime(date); }), 5) << date;
        EXPECT_EQ(m.DateTime(), before);
    }
    for (const double date : {-657434.0, 2958465.5, 0.0, -1.25}) {
        Message m;
        m.DateTime(date);
        EXPECT_EQ(m.DateTime(), date);
    }
    Message m;
    EXPECT_EQ(ErrorNumberOf([&] { m.TimeOut(std::nanf("")); }), 5);
    EXPECT_EQ(m.TimeOut(), 50.0f);
}
