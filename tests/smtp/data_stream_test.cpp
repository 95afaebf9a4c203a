// The data section on its way to the server: every line that begins with a
// period gets a second one, header lines as much as bodies, and the data
// ends with the lone period.
#include "smtp/data_stream.hpp"

#include "tests/support/scripted_peer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillpost {
namespace {

using test::ScriptedPeer;

TEST(DataStream, DoublesEveryLeadingPeriodAndEndsWithTheLonePeriod) {
    struct Case {
        std::vector<std::string> pieces;
        std::string wire;  // what reaches the server before the end-of-data line
    };
    const std::vector<Case> cases = {
        {{".X-Tag: 1\r\n", "Subject: a\r\n"}, "..X-Tag: 1\r\nSubject: a\r\n"},
        {{"Hello\r\n", ".hidden\r\n", ".\r\n"}, "Hello\r\n..hidden\r\n..\r\n"},
        {{"a\r\n.b\r\n.c\r\nd.\r\n"}, "a\r\n..b\r\n..c\r\nd.\r\n"},
        {{"no break", ".stays"}, "no break.stays"},
        {{"line\r\n", "", ".next\r\n"}, "line\r\n..next\r\n"},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer;
        peer.ReadUntil("\r\n.\r\n").Send("250 queued\r\n").Hold();
        peer.Start();
        Trace trace;
        Session session(5, trace);
        session.Open("127.0.0.1", peer.port());
        DataStream data(session);
        for (const std::string& piece : c.pieces) data.Write(piece);
        data.End();
        EXPECT_EQ(peer.Received(), c.wire + "\r\n.\r\n") << c.pieces.front();
    }
}

TEST(Reply, LinesDropTheCodeAndTheSeparator) {
    const Reply reply{"250-mail.example\r\n250-SIZE 1000\r\n250 8BITMIME\r\n"};
    EXPECT_EQ(reply.Lines(), (std::vector<std::string_view>{"mail.example", "SIZE 1000", "8BITMIME"}));
    struct Case {
        std::string text;
        bool is250;
    };
    for (const Case& c : std::vector<Case>{{"250 ok\r\n", true}, {"250-a\r\n250 b\r\n", true}, {"250\r\n", true},
                                           {"250", true}, {"2500 ok\r\n", false}, {"220 hi\r\n", false}})
        EXPECT_EQ(Reply{c.text}.Is("250"), c.is250) << c.text;
}

}  // namespace
}  // namespace quillpost
