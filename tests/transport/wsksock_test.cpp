// Name resolution, the socket error table and the mapping of the platform's
// errors onto it.
#include "transport/wsksock.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <set>
#include <thread>

namespace quillpost {
namespace {

TEST(SocketErrorText, GivesTheTextOfEveryCodeOfTheTable) {
    EXPECT_EQ(SocketErrorText(10004), "Interrupted system call.");
    EXPECT_EQ(SocketErrorText(10013), "Permission Denied.");
    EXPECT_EQ(SocketErrorText(10014), "Bad Address.");
    EXPECT_EQ(SocketErrorText(10022), "Invalid Argument.");
    EXPECT_EQ(SocketErrorText(10035), "Operation would block.");
    EXPECT_EQ(SocketErrorText(10038), "Socket operation on nonsocket.");
    EXPECT_EQ(SocketErrorText(10047), "Address family not supported by protocol family.");
    EXPECT_EQ(SocketErrorText(10049), "Can't assign requested address.");
    EXPECT_EQ(SocketErrorText(10059), "Too many references: can't splice.");
    EXPECT_EQ(SocketErrorText(10061), "Connection refused.");
    EXPECT_EQ(SocketErrorText(10071), "Too many levels of remote in path.");
    EXPECT_EQ(SocketErrorText(10091), "Network subsystem is unusable.");
    EXPECT_EQ(SocketErrorText(10092), "Winsock DLL cannot support this application.");
    EXPECT_EQ(SocketErrorText(10093), "Winsock not initialized.");
    EXPECT_EQ(SocketErrorText(10101), "Disconnect.");
    EXPECT_EQ(SocketErrorText(11001), "Host not found.");
    EXPECT_EQ(SocketErrorText(11002), "Nonauthoritative host not found.");
    EXPECT_EQ(SocketErrorText(11003), "Nonrecoverable error.");
    EXPECT_EQ(SocketErrorText(11004), "Valid name, no data record of requested type.");
}

TEST(SocketErrorText, HasFiftyOneRowsAndNothingElse) {
    const auto table = SocketErrorTable();
    ASSERT_EQ(table.size(), 51u);
    std::set<std::int32_t> codes;
    for (const auto& row : table) {
        EXPECT_TRUE(codes.insert(row.code).second) << row.code << " appears twice";
        EXPECT_FALSE(row.text.empty()) << row.code;
        EXPECT_EQ(row.text.back(), '.') << row.code;
        EXPECT_EQ(SocketErrorText(row.code), row.text);
    }
    int listed = 0;
    for (std::int32_t code = -1; code <= 11010; ++code) {
        if (codes.count(code) != 0) {
            ++listed;
            continue;
        }
        EXPECT_EQ(SocketErrorText(code), "") << code;
    }
    EXPECT_EQ(listed, 51);
}

TEST(SocketErrorText, LeavesTheGapsOfTheTableEmpty) {
    EXPECT_EQ(SocketErrorText(0), "");
    EXPECT_EQ(SocketErrorText(10100), "");
    EXPECT_EQ(SocketErrorText(10072), "");
    EXPECT_EQ(SocketErrorText(10090), "");
    EXPECT_EQ(SocketErrorText(10094), "");
    EXPECT_EQ(SocketErrorText(11000), "");
    EXPECT_EQ(SocketErrorText(11005), "");
    EXPECT_EQ(SocketErrorText(-10061), "");
}

TEST(SocketErrorMapping, TranslatesPlatformErrorsByMeaning) {
    EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(SocketErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(SocketErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(SocketErrorFromErrno(EBADF), 10038);
    EXPECT_EQ(SocketErrorFromErrno(ENOTSOCK), 10038);
    EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(SocketErrorFromErrno(EINTR), 10004);
    EXPECT_EQ(SocketErrorFromErrno(EMFILE), 10024);
    EXPECT_EQ(SocketErrorFromErrno(ENOBUFS), 10055);
    EXPECT_EQ(SocketErrorFromErrno(EADDRNOTAVAIL), 10049);
    EXPECT_EQ(SocketErrorFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(SocketErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(SocketErrorFromErrno(EINPROGRESS), 10036);
}

TEST(SocketErrorMapping, EveryMappedErrnoLandsOnACodeWithAText) {
    for (int err = 1; err < 200; ++err) {
        const std::int32_t code = SocketErrorFromErrno(err);
        if (code != 0) {
            EXPECT_NE(SocketErrorText(code), "") << "errno " << err;
        }
    }
}

TEST(SocketErrorMapping, GivesNoCodeForErrorsWithoutACounterpart) {
    EXPECT_EQ(SocketErrorFromErrno(0), 0);
    EXPECT_EQ(SocketErrorFromErrno(ENOENT), 0);
    EXPECT_EQ(SocketErrorFromErrno(EIO), 0);
}

TEST(SocketErrorMapping, TranslatesNameLookupFailures) {
    EXPECT_EQ(SocketErrorFromLookup(0, 0), 0);
    EXPECT_EQ(SocketErrorFromLookup(EAI_NONAME, 0), 11001);
    EXPECT_EQ(SocketErrorFromLookup(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(SocketErrorFromLookup(EAI_FAIL, 0), 11003);
    EXPECT_EQ(SocketErrorFromLookup(EAI_NODATA, 0), 11004);
    EXPECT_EQ(SocketErrorFromLookup(EAI_ADDRFAMILY, 0), 11004);
    EXPECT_EQ(SocketErrorFromLookup(EAI_MEMORY, 0), 10055);
    EXPECT_EQ(SocketErrorFromLookup(EAI_SYSTEM, EMFILE), 10024);
}

TEST(ResolveHost, TakesADottedAddressAsItIs) {
    in_addr expected{};
    ASSERT_EQ(::inet_pton(AF_INET, "192.0.2.10", &expected), 1);
    EXPECT_EQ(ResolveHost("192.0.2.10"), expected.s_addr);
    EXPECT_EQ(LastSocketError(), 0);
}

TEST(ResolveHost, LooksUpANameAndGivesItsFirstAddress) {
    EXPECT_EQ(ResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(LastSocketError(), 0);
}

TEST(ResolveHost, GivesMinusOneForAnUnknownHostAndRecordsWhy) {
    EXPECT_EQ(ResolveHost(""), 0xFFFFFFFFu);
    EXPECT_EQ(LastSocketError(), 11001);

    // A real lookup: which of the lookup codes depends on the resolver.
    EXPECT_EQ(ResolveHost("no-such-host.invalid"), 0xFFFFFFFFu);
    EXPECT_GE(LastSocketError(), 11001);
    EXPECT_LE(LastSocketError(), 11004);
}

TEST(ResolveHost, CannotUseTheAllOnesAddress) {
    // The parser's answer equals its failure value, and the lookup that
    // follows finds that very address: -1 with nothing recorded.
    EXPECT_EQ(ResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(LastSocketError(), 0);
}

TEST(LastSocketError, BelongsToTheCallingThread) {
    RecordErrno(ECONNREFUSED);
    std::int32_t seenElsewhere = -1;
    std::thread([&] {
        seenElsewhere = LastSocketError();
        RecordErrno(ETIMEDOUT);
    }).join();
    EXPECT_EQ(seenElsewhere, 0);
    EXPECT_EQ(LastSocketError(), 10061);
}

}  // namespace
}  // namespace quillpost
