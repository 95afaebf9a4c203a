// Builds a message with the public API and prints its properties and lists.
#include <quillpost/quillpost.hpp>

#include <iostream>

using namespace quillpost;

int main() {
    try {
        auto message = std::make_shared<Message>();
        message->Server("127.0.0.1");
        message->FromAddress("ann@example.com");
        message->FromName("Ann Lee");
        message->Subject("Quarterly report");
        message->TextBody("Hello,\r\nthe report is attached.\r\n");
        message->Priority(QP_PRIORITY_HIGH);
        message->Recipients()->Add("bob@example.com", "Bob Smith");
        message->Recipients()->Add("carol@example.com");
        message->CCs()->Add("dave@example.com", "Dave");
        message->ExtraHeaders()->Add("X-Campaign", "winter");

        std::cout << "Subject:        " << message->Subject() << "\n"
                  << "Server:         " << message->Server() << ":" << message->Port() << "\n"
                  << "From:           " << message->FromName() << " <" << message->FromAddress() << ">\n"
                  << "Priority:       " << message->Priority() << "\n"
                  << "TimeOut:        " << Variant(message->TimeOut()).ToText() << "\n"
                  << "DateTime:       " << Variant::date(message->DateTime()).ToText() << "\n"
                  << "Application:    " << message->Application() << "\n";
        std::cout << "Recipients (" << message->Recipients()->Count() << "):\n";
        for (const auto& r : *message->Recipients())
            std::cout << "  " << r->Address() << (r->Name().empty() ? "" : "  (" + r->Name() + ")") << "\n";
        std::cout << "CCs (" << message->CCs()->Count() << "):\n";
        for (const auto& r : *message->CCs()) std::cout << "  " << r->Address() << "\n";
        std::cout << "ExtraHeaders (" << message->ExtraHeaders()->Count() << "):\n";
        for (const auto& h : *message->ExtraHeaders()) std::cout << "  " << h->Name() << ": " << h->Value() << "\n";
        std::cout << "Item(1) of Recipients by default member: "
                  << Variant(message->Recipients()->Item(1)).ToText() << "\n";
        try {
            message->Priority(9);
        } catch (const Error& e) {
            std::cout << "Priority(9) refused: error " << e.number() << ": " << e.description() << "\n";
        }
        return 0;
    } catch (const Error& e) {
        std::cerr << "error " << e.number() << ": " << e.description() << "\n";
        return 1;
    }
}
