#include <quillpost/cgi_context.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>

#include <cstdlib>

namespace quillpost {

namespace {

class CgiRequest : public Dispatch {
public:
    Variant Invoke(std::string_view name, CallKind kind, std::span<const Variant> args) override {
        if (!EqualsFolded(name, "ServerVariables") || kind == CallKind::PropertyPut)
            return Dispatch::Invoke(name, kind, args);
        if (args.size() != 1) raise(Err::WrongArgumentCount);
        // A variable the server did not set reads as the empty text.
        const char* value = std::getenv(args[0].ToText().c_str());
        return Variant(std::string(value ? value : ""));
    }
};

class CgiScriptingContext : public Dispatch {
public:
    Variant Invoke(std::string_view name, CallKind kind, std::span<const Variant> args) override {
        if (!EqualsFolded(name, "Request") || kind == CallKind::PropertyPut)
            return Dispatch::Invoke(name, kind, args);
        if (!args.empty()) raise(Err::WrongArgumentCount);
        return Variant(request_);
    }

private:
    std::shared_ptr<CgiRequest> request_ = std::make_shared<CgiRequest>();
};

}  // namespace

std::shared_ptr<Dispatch> MakeCgiScriptingContext() { return std::make_shared<CgiScriptingContext>(); }

}  // namespace quillpost
