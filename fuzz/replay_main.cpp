// SPDX-License-Identifier: GPL-2.0-or-later

// A main for the fuzz targets without libFuzzer: runs LLVMFuzzerTestOneInput
// once over each file named on the command line, or over every file of each
// folder named there (in name order). Fails when it ran nothing, so that a
// missing corpus cannot pass. Prints nothing unless something fails.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Defined by the targets that need a set-up; null otherwise.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool run_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // A distinct heap block of exactly the input's size, as libFuzzer gives.
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    input.shrink_to_fit();
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);

    int ran = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code error;
        if (!fs::is_directory(arg, error)) {
            if (!run_file(arg))
                return 1;
            ++ran;
            continue;
        }
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(arg, error)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            if (!run_file(file))
                return 1;
            ++ran;
        }
    }
    if (ran == 0) {
        std::fprintf(stderr, "replay: no input files\n");
        return 1;
    }
    return 0;
}
