// Logging in: what each mechanism puts on the wire, and that no secret in
// any form reaches the trace.
#include "smtp/sasl.hpp"
#include "smtp/session.hpp"

#include "tests/support/error_of.hpp"
#include "tests/support/scripted_peer.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/base64.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillpost {
namespace {

using test::RaisedBy;
using test::ScriptedPeer;
using test::TempDir;

TEST(Authenticate, EachMechanismSpeaksItsRfcAndTracesNoSecret) {
    struct Case {
        AuthMechanism mechanism;
        std::string secret;
        std::vector<std::string> serverLines;  // what the server says after the greeting, in turn
        std::string wire;                      // what the client sends
    };
    const std::string plain = Base64Text(std::string("\0ann\0pw-123", 11));
    const std::string bearer = Base64Text("user=ann\x01" "auth=Bearer tok-9\x01\x01");
    // RFC 2195 2: the challenge is answered with the user and the keyed digest.
    const std::string challenge = "<1896.697170952@postoffice.reston.mci.net>";
    const std::string cram = Base64Text("ann " + HmacMd5Hex("pw-123", challenge));
    const std::vector<Case> cases = {
        {AuthMechanism::Plain, "pw-123", {"235 ok\r\n"}, "AUTH PLAIN " + plain + "\r\n"},
        {AuthMechanism::Login, "pw-123", {"334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"},
         "AUTH LOGIN\r\n" + Base64Text("ann") + "\r\n" + Base64Text("pw-123") + "\r\n"},
        {AuthMechanism::XOAuth2, "tok-9", {"235 ok\r\n"}, "AUTH XOAUTH2 " + bearer + "\r\n"},
        {AuthMechanism::CramMd5, "pw-123", {"334 " + Base64Text(challenge) + "\r\n", "235 ok\r\n"},
         "AUTH CRAM-MD5\r\n" + cram + "\r\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ScriptedPeer peer;
        for (const std::string& line : c.serverLines) peer.ExpectLine().Send(line);
        peer.Hold();
        peer.Start();
        Trace trace;
        trace.Open(dir.file("trace.txt"));
        Session session(5, trace);
        session.Open("127.0.0.1", peer.port());
        session.Authenticate(c.mechanism, "ann", c.secret);
        trace.Close();
        EXPECT_EQ(peer.Received(), c.wire);
        const std::string traced = TempDir::read(dir.file("trace.txt"));
        for (const std::string& secret : {c.secret, Base64Text(c.secret), plain, bearer, cram})
            EXPECT_EQ(traced.find(secret), std::string::npos) << traced;
        EXPECT_NE(traced.find("****"), std::string::npos);
    }
}

TEST(Authenticate, ARefusedTokenIsAnsweredWithAnEmptyLineAndEndsInTheFinalReply) {
    struct Case {
        std::string challenge;  // after "334 "
        std::string description;
    };
    const std::string refusal = "5.7.8 Username and Password not accepted\r\n";
    const std::string bearer = Base64Text("user=ann\x01" "auth=Bearer tok-9\x01\x01");
    // RFC 7628 3.2.2 and its example in 4.3.
    const std::vector<Case> cases = {
        {Base64Text(R"({"status":"401","schemes":"bearer","scope":"https://mail.example.com/"})"),
         refusal + "XOAUTH2 status 401"},
        {Base64Text(R"({"schemes":"bearer"})"), refusal},
        {Base64Text("not JSON"), refusal},
    };
    for (const Case& c : cases) {
        ScriptedPeer peer;
        peer.ExpectLine().Send("334 " + c.challenge + "\r\n").ExpectLine().Send("535 " + refusal).Hold();
        peer.Start();
        Trace trace;
        Session session(5, trace);
        session.Open("127.0.0.1", peer.port());
        const Error e = RaisedBy([&] { session.Authenticate(AuthMechanism::XOAuth2, "ann", "tok-9"); });
        EXPECT_EQ(e.number(), 9535) << c.challenge;
        EXPECT_EQ(e.description(), c.description);
        EXPECT_EQ(peer.Received(), "AUTH XOAUTH2 " + bearer + "\r\n\r\n");
    }
}

TEST(Sasl, KeyedDigestAndBase64MatchTheirRfcs) {
    // RFC 2195 2's own example.
    EXPECT_EQ(HmacMd5Hex("tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
              "b913a602c7eda7a495b4e6e7334d3890");
    for (const std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"})
        EXPECT_EQ(Base64Decode(Base64Text(text)), text);
    EXPECT_EQ(Base64Text("foobar"), "Zm9vYmFy");  // RFC 4648 10
    EXPECT_EQ(Base64Decode("Zm9v\r\nYmE="), "fooba");
}

}  // namespace
}  // namespace quillpost
