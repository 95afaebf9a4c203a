// Runs a fuzz target once on every file it is given, or on every file of the
// folders it is given: the regular build replays the seed corpus and the
// crash inputs found so far without libFuzzer, so a fault that came back
// fails the test suite. A target that finds a fault aborts; returning from
// here means every input passed.
#include "fuzz_check.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void AddInputs(const fs::path& path, std::vector<fs::path>& inputs) {
    if (!fs::is_directory(path)) {
        inputs.push_back(path);
        return;
    }
    for (const auto& entry : fs::directory_iterator(path)) {
        // Dot files keep empty folders in git; they are no inputs.
        if (entry.is_regular_file() && !entry.path().filename().string().starts_with('.'))
            inputs.push_back(entry.path());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!fs::exists(argv[i])) {
            std::cerr << argv[i] << ": no such file or folder\n";
            return 1;
        }
        AddInputs(argv[i], inputs);
    }
    if (inputs.empty()) {
        std::cerr << "no inputs to replay\n";
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in.good() && !in.eof()) {
            std::cerr << path.string() << ": cannot be read\n";
            return 1;
        }
        std::cerr << "replaying " << path.string() << "\n";
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::cout << inputs.size() << " inputs replayed\n";
    return 0;
}
