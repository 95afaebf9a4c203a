// The qpmail command line: the input split at NUL bytes into arguments, and
// the address and port readers on the whole input. A command line may be
// refused (UsageError) and the component may refuse a value
// (quillpost::Error); anything else escapes as a finding.
#include "fuzz_check.hpp"

#include "qpmail_options.hpp"

#include <quillpost/error.hpp>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

void CheckSplitAddress(std::string_view text) {
    try {
        const auto mail = quillpost::qpmail::SplitAddress(text);
        QP_FUZZ_CHECK(mail.address.find_first_of("<>") == std::string::npos);
        QP_FUZZ_CHECK(text.find('<') == std::string_view::npos
                          ? mail.address == text && !mail.name
                          : text.find("<" + mail.address + ">") != std::string_view::npos);
        if (mail.name) QP_FUZZ_CHECK(!mail.name->empty());
    } catch (const quillpost::qpmail::UsageError&) {
    }
}

void CheckParsePort(std::string_view text) {
    try {
        const std::int32_t port = quillpost::qpmail::ParsePort(text);
        QP_FUZZ_CHECK(port != 0 && port >= -32768 && port <= 32767);
        // The number given, leading zeros aside, is the port kept in 16 bits.
        std::string_view digits = text;
        while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
        QP_FUZZ_CHECK(std::to_string(static_cast<std::uint16_t>(port)) == digits);
    } catch (const quillpost::qpmail::UsageError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckSplitAddress(input);
    CheckParsePort(input);

    // A path with a slash could name a device that never ends (--text
    // /dev/zero); names without one stay in the working folder.
    if (input.find('/') != std::string_view::npos) return 0;
    std::vector<std::string> args;
    for (std::size_t begin = 0;;) {
        const std::size_t end = input.find('\0', begin);
        args.emplace_back(input.substr(begin, end - begin));
        if (end == std::string_view::npos) break;
        begin = end + 1;
    }
    std::istringstream standardInput("Body read from standard input.\r\n");
    try {
        const auto options = quillpost::qpmail::ParseArguments(args, standardInput);
        QP_FUZZ_CHECK((options.help || options.version) == (options.message == nullptr));
    } catch (const quillpost::qpmail::UsageError&) {
    } catch (const quillpost::Error&) {
    }
    return 0;
}
