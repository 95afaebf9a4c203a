// A page context for pages run as CGI programs: hand it to
// Message::OnStartPage so that the sender check learns the web server's
// name. Its Request answers ServerVariables(NAME) from the process
// environment, where a CGI server puts SERVER_NAME and the other request
// variables.
#pragma once

#include <quillpost/variant.hpp>

#include <memory>

namespace quillpost {

// The scripting context: its one member, Request, gives the request object.
std::shared_ptr<Dispatch> MakeCgiScriptingContext();

}  // namespace quillpost
