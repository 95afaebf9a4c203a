// The data section of a message on its way to the server: everything
// between the data command and the end-of-data line, header block included.
#pragma once

#include "smtp/session.hpp"

#include <string>
#include <string_view>

namespace quillpost {

// What the writers of a message's content write to.
class DataSink {
public:
    virtual ~DataSink() = default;
    // Takes one piece of the data section, as it is.
    virtual void Write(std::string_view text) = 0;
};

// The data section over a session. RFC 5321 4.5.2: a line that begins with a
// period gets a second one, so that no line of the content can end the data
// early; the server takes the extra period away again. Every line is looked
// at, the header lines as much as the bodies.
class DataStream final : public DataSink {
public:
    // The session must have had its data command accepted.
    explicit DataStream(Session& session) : session_(session) {}

    // Each piece goes to the session as one text (one trace entry).
    void Write(std::string_view text) override;
    // Ends the data section with the end-of-data line and waits for the
    // server to accept the message.
    void End();

private:
    Session& session_;
    bool atLineStart_ = true;
    std::string stuffed_;  // a piece with its periods doubled
};

}  // namespace quillpost
