// qpmail: sends one message from the command line through the component.
#include "process.hpp"
#include "qpmail_options.hpp"

#include <quillpost/error.hpp>
#include <quillpost/message.hpp>

#include <iostream>
#include <string>
#include <vector>

using namespace quillpost;

namespace {

int Fail(std::int32_t number, std::string_view description) {
    std::cerr << qpmail::ErrorLine(number, description) << std::endl;
    return qpmail::kExitFailed;
}

int Run(const std::vector<std::string>& args) {
    try {
        const qpmail::Options options = qpmail::ParseArguments(args, std::cin);
        if (options.help) {
            std::cout << qpmail::UsageText();
            std::cout.flush();
            return std::cout ? qpmail::kExitAccepted : qpmail::kExitFailed;
        }
        options.message->send();
        return qpmail::kExitAccepted;
    } catch (const qpmail::UsageError& e) {
        std::cerr << "qpmail: " << e.what() << "\nTry 'qpmail --help' for more information." << std::endl;
        return qpmail::kExitUsage;
    } catch (...) {
        const Error e = ErrorFromCurrentException();
        return Fail(e.number(), e.description());
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A server that drops the connection must end in an error report.
    qpmail::ReportBrokenConnectionsAsErrors();
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
