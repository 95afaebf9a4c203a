// Writes the type library's IDL to the file named on the command line.
#include "server/idl_text.hpp"

#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::ofstream out(argv[1], std::ios::binary);
    out << quillpost::server::LibraryIdl();
    out.close();
    return out ? 0 : 1;
}
