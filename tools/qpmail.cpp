// qpmail: sends one message from the command line through the component.
#include "dry_run.hpp"
#include "process.hpp"
#include "progress.hpp"
#include "qpmail_options.hpp"
#include "sendmail_mode.hpp"

#include "mailer/dkim.hpp"
#include "transport/tls.hpp"

#include <quillpost/detail/errors.hpp>
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

// The error's line, then what to try about it when qpmail knows.
int Fail(const Error& e) {
    std::cerr << qpmail::ErrorLine(e.number(), e.description()) << "\n";
    if (const std::string_view hint = qpmail::HintFor(e.number()); !hint.empty())
        std::cerr << "qpmail: hint: " << hint << "\n";
    std::cerr.flush();
    return qpmail::kExitFailed;
}

// The errors of the file layer: the send's only file of its own is the trace.
bool IsFileError(const Error& e) {
    for (const Err id : {Err::FileNotFound, Err::PathNotFound, Err::PermissionDenied, Err::PathFileAccessError})
        if (e.number() == error_info(id).number) return true;
    return false;
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

bool IsSendTimeout(const Error& e) {
    const Error timeout = make_error(Err::SendTimeout);
    return e.number() == timeout.number() && e.description() == timeout.description();
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

    // A password or token that others can read is no secret; the send goes
    // on, since refusing would break scripts that have always worked.
    for (const std::string& path : options->secretFiles)
        if (qpmail::OthersMayRead(path))
            std::cerr << "qpmail: warning: " << path
                      << " can be read by other users; keep it readable by its owner only" << std::endl;

    Message& message = *options->message;
    // A refresh token that the endpoint replaced is kept even when the send
    // fails after the token was got: the old one may be spent.
    const auto keepRefreshToken = [&]() -> std::optional<Error> {
        try {
            qpmail::KeepRefreshToken(*options);
        } catch (...) {
            return ErrorFromCurrentException();
        }
        return std::nullopt;
    };
    // The conversation's lines, for -v and to tell where a time-out came.
    qpmail::ConversationSteps steps;
    const bool verbose = options->verbose;
    message.ListenToTrace([&steps, verbose](std::string_view line) {
        steps.Line(line);
        if (!verbose) return;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        std::cerr << line << '\n';
        std::cerr.flush();
    });
    try {
        std::optional<qpmail::ProgressLine> progress;
        if (!options->quiet && !options->verbose && qpmail::StandardErrorIsTerminal()) {
            const std::uint64_t total = AttachmentBytes(message);
            if (total > 0) progress.emplace(stderr, total);
        }
        if (options->dryRun) {
            qpmail::WriteDataSection(message, std::cout);
            return std::cout ? qpmail::kExitAccepted : qpmail::kExitFailed;
        }
        message.send();
    } catch (...) {
        const Error error = ErrorFromCurrentException();
        if (const auto kept = keepRefreshToken()) Fail(*kept);
        // The trace file is opened before the first line of the send: a file
        // error with no line written is the trace file's, named as given.
        if (!steps.Started() && !message.TraceFile().empty() && IsFileError(error))
            return Fail(Error(error.number(), error.description() + ": " + message.TraceFile()));
        return Fail(qpmail::WithServer(error, message.Server(), message.Port(), steps.Step(IsSendTimeout(error))));
    }
    if (const auto kept = keepRefreshToken()) return Fail(*kept);
    return qpmail::kExitAccepted;
}

}  // namespace

int main(int argc, char** argv) {
    // A server that drops the connection must end in an error report.
    qpmail::ReportBrokenConnectionsAsErrors();
    std::vector<std::string> args(argv + 1, argv + argc);
    // Run as sendmail (a link named qpmail-sendmail), or asked to act as one.
    const std::string_view program = argc > 0 ? argv[0] : "qpmail";
    if (sendmail::IsSendmailName(program)) {
        const auto slash = program.find_last_of("/\\");
        return sendmail::Run(slash == std::string_view::npos ? program : program.substr(slash + 1), args, std::cin);
    }
    if (!args.empty() && args.front() == "--sendmail") {
        args.erase(args.begin());
        return sendmail::Run("qpmail", args, std::cin);
    }
    return Run(args);
}
