// A program outside the tree, built against the installed package.
#include <quillpost/quillpost.hpp>

#include <iostream>

int main() {
    auto message = std::make_shared<quillpost::Message>();
    message->Recipients()->Add("a@example.com", "Ann");
    try {
        message->Priority(7);
    } catch (const quillpost::Error& e) {
        std::cout << message->Recipients()->Count() << " " << message->Subject() << " " << e.number() << "\n";
        return 0;
    }
    return 1;
}
