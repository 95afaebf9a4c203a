// qpmail: sends one message from the command line through the component.
#include "dry_run.hpp"
#include "process.hpp"
#include "progress.hpp"
#include "qpmail_options.hpp"

#include "mailer/dkim.hpp"
#include "transport/tls.hpp"

#include <quillpost/error.hpp>
#include <quillpost/message.hpp>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

using namespace quillpost;

namespace {

int Fail(const Error& e) {
    std::cerr << qpmail::ErrorLine(e.number(), e.description()) << std::endl;
    return qpmail::kExitFailed;
}

// The bytes of every attachment, for the progress line; a file whose size
// cannot be read counts 0 (the send itself reports what is wrong with it).
std::uint64_t AttachmentBytes(Message& message) {
    std::uint64_t total = 0;
    for (const auto& attachment : *message.Attachments()) {
        std::error_code error;
        const auto size = std::filesystem::file_size(attachment->FileName(), error);
        if (!error) total += size;
    }
    return total;
}

int Show(const std::string& text, int status) {
    std::cout << text;
    std::cout.flush();
    return std::cout ? status : qpmail::kExitFailed;
}

int Run(const std::vector<std::string>& args) {
    // Someone who types the name alone wants to know how to use it; a script
    // that forgot its arguments must still fail.
    if (args.empty()) return Show(qpmail::UsageText(), qpmail::kExitUsage);
    std::optional<qpmail::Options> options;
    try {
        options = qpmail::ParseArguments(args, std::cin);
    } catch (const qpmail::UsageError& e) {
        std::cerr << "qpmail: " << e.what() << "\nTry 'qpmail --help' for more information." << std::endl;
        return qpmail::kExitUsage;
    } catch (...) {
        return Fail(ErrorFromCurrentException());
    }
    if (options->help) return Show(qpmail::UsageText(), qpmail::kExitAccepted);
    if (options->version) return Show(qpmail::VersionText(TlsLibraryVersion()), qpmail::kExitAccepted);
    if (options->dkimRecordKey) {
        try {
            return Show(DkimRecord(LoadDkimKey(*options->dkimRecordKey)) + "\n", qpmail::kExitAccepted);
        } catch (...) {
            return Fail(ErrorFromCurrentException());
        }
    }

    Message& message = *options->message;
    try {
        std::optional<qpmail::ProgressLine> progress;
        if (!options->quiet && qpmail::StandardErrorIsTerminal()) {
            const std::uint64_t total = AttachmentBytes(message);
            if (total > 0) progress.emplace(stderr, total);
        }
        if (options->dryRun) {
            qpmail::WriteDataSection(message, std::cout);
            return std::cout ? qpmail::kExitAccepted : qpmail::kExitFailed;
        }
        message.send();
        return qpmail::kExitAccepted;
    } catch (...) {
        return Fail(qpmail::WithServer(ErrorFromCurrentException(), message.Server(), message.Port()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A server that drops the connection must end in an error report.
    qpmail::ReportBrokenConnectionsAsErrors();
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
