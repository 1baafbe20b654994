// Runs a fuzz target's entry function, built without libFuzzer, over files
// and directories (walked recursively, in name order). Each input sits in a
// heap block of exactly its size, so that a read past it is a sanitizer
// report. Notes (*.md) and hidden files are skipped. Fails when no input is
// found, so that a wrong path cannot pass unnoticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool isInput(const fs::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] != '.' && p.extension() != ".md";
}

void collect(const fs::path& p, std::vector<fs::path>& out) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        for (fs::recursive_directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec) && isInput(it->path())) out.push_back(it->path());
    } else if (fs::is_regular_file(p, ec)) {
        out.push_back(p);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) collect(argv[i], inputs);
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no input found\n");
        return 1;
    }
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read %s\n", p.c_str());
            return 1;
        }
        // Printed first: a crash below names its input.
        std::fprintf(stderr, "replay %s (%zu bytes)\n", p.c_str(), bytes.size());
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    }
    std::fprintf(stderr, "replay: %zu inputs\n", inputs.size());
    return 0;
}
