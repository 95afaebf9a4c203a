// Every step of the conversation against every way a server can misbehave
// there: the error the caller sees, that send returns only for an accepted
// message, how the trace ends, and that nothing is written after the point
// of failure.
#include "tests/mailer/hostile_server.hpp"
#include "tests/support/error_of.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/message.hpp>

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace quillpost;
using namespace quillpost::test;

namespace {

// Each write of the client as the trace records it ("> " and the text, then
// the trace's line break) and as it appears on the wire, in the order of
// the conversation; the body is known by its first header line.
struct Milestone {
    Write write;
    std::string traced;
    std::string wire;
};

const Milestone kMilestones[] = {
    {Write::Helo, "> HELO quillpost.localdomain\r\n\r\n", "HELO quillpost.localdomain\r\n"},
    {Write::MailFrom, std::string("> MAIL FROM: <") + kFrom + ">\r\n\r\n", std::string("MAIL FROM: <") + kFrom + ">\r\n"},
    {Write::RcptTo, std::string("> RCPT TO: <") + kTo + ">\r\n\r\n", std::string("RCPT TO: <") + kTo + ">\r\n"},
    {Write::DataCommand, "> data\r\n\r\n", "data\r\n"},
    {Write::Body, "> Date: ", "Date: "},
    {Write::EndOfData, "> .\r\n\r\n", "\r\n.\r\n"},
    {Write::Quit, "> quit\r\n\r\n", "quit\r\n"},
};

// The trace line written just before the error line, where it is certain.
std::string LineBeforeError(std::int32_t number, Fault fault, bool quit) {
    switch (number) {
    case 9997: return "+ Waiting to send\r\n";
    case 9998: return fault == Fault::Unfinished ? "< " + ShownReply(fault) + "\r\n" : "+ Finished waiting\r\n";
    case 10054: return {};  // the failing write may come after any line of the body
    default: return "< " + ShownReply(fault) + "\r\n" + (quit ? "> quit\r\n\r\n" : "");
    }
}

class HostileServerTest : public ::testing::TestWithParam<std::tuple<Step, Fault>> {};

TEST_P(HostileServerTest, FailsWhereTheServerMisbehavesAndWritesNothingAfter) {
    const auto [step, fault] = GetParam();
    const Outcome expected = OutcomeOf(step, fault);
    const bool quit = QuitsAfterRefusal(step, fault);
    const std::string description = DescriptionOf(expected.number, fault);

    TempDir dir;
    const std::string tracePath = dir.file("trace.log");
    ScriptedPeer peer(kPeerBuffer, kPeerBuffer);
    PlayHostile(peer, step, fault);
    peer.Start();

    auto message = std::make_shared<Message>();
    message->Server("127.0.0.1");
    message->Port(peer.port());
    // Short, so that every stall and close costs about a second.
    message->TimeOut(0.5f);
    message->FromAddress(kFrom);
    message->Recipients()->Add(kTo);
    message->TextBody(BodyFor(step));
    message->TraceFile(tracePath);

    const Error e = ErrorOf([&] { message->send(); });
    ASSERT_TRUE(peer.Finished());
    const std::string trace = TempDir::read(tracePath);
    const std::string wire = peer.Received();
    std::string problems;
    for (const std::string& p : peer.Problems()) problems += "\n  server: " + p;
    SCOPED_TRACE("what the server met:" + (problems.empty() ? std::string(" no problem") : problems));

    EXPECT_EQ(e.number(), expected.number);
    EXPECT_EQ(e.description(), description);
    // The message counts as sent exactly when the server accepted its end.
    const std::size_t end = trace.find("> .\r\n\r\n");
    const bool endAccepted = end != std::string::npos && trace.find("< 250 queued\r\n", end) != std::string::npos;
    EXPECT_EQ(e.number() == 0, endAccepted);

    if (expected.number == 0) {
        EXPECT_TRUE(trace.ends_with("> quit\r\n\r\n")) << trace.substr(trace.size() - std::min<std::size_t>(trace.size(), 300));
        EXPECT_EQ(trace.find("+ Error "), std::string::npos);
        EXPECT_EQ(trace.find("+ Ignored "), std::string::npos);
    } else {
        const std::string tail = LineBeforeError(expected.number, fault, quit) + "+ Error " +
                                 std::to_string(expected.number) + ": " + description + "\r\n";
        EXPECT_TRUE(trace.ends_with(tail)) << trace.substr(trace.size() - std::min<std::size_t>(trace.size(), 300));
    }

    // Every write up to the last one entitled is traced; none after it is
    // traced or reaches the server.
    for (const Milestone& m : kMilestones) {
        SCOPED_TRACE(m.wire);
        const bool entitled = m.write <= expected.last || (m.write == Write::Quit && quit);
        EXPECT_EQ(trace.find(m.traced) != std::string::npos, entitled);
        if (!entitled) {
            EXPECT_EQ(wire.find(m.wire), std::string::npos);
        }
    }
    if (expected.last == Write::Nothing) {
        EXPECT_EQ(wire, quit ? "quit\r\n" : "");
    }
}

std::string CellName(const ::testing::TestParamInfo<HostileServerTest::ParamType>& info) {
    return std::string(NameOf(std::get<0>(info.param))) + "_" + NameOf(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Matrix, HostileServerTest,
                         ::testing::Combine(::testing::Values(Step::BeforeGreeting, Step::AfterHelo, Step::AfterMailFrom,
                                                              Step::AfterRcptTo, Step::AfterData, Step::MidData,
                                                              Step::AfterEndOfData, Step::AtQuit),
                                            ::testing::Values(Fault::Close, Fault::Reset, Fault::Stall, Fault::NulBytes,
                                                              Fault::NoCode, Fault::NegativeCode, Fault::FourDigitCode,
                                                              Fault::EndlessLine, Fault::SecondReply, Fault::WrongCode,
                                                              Fault::Unfinished)),
                         CellName);

}  // namespace
