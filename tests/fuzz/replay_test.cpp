// Runs a fuzz target in CI without a fuzzing engine: every seed file of the target's corpus, then a fixed
// number of deterministic mutations of them (bit flips, truncations, splices, repeated bytes). Under the
// sanitizer build this catches the crashes a real fuzzer would find first.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Under AddressSanitizer no input may have a parser (or a library under it) ask for more than 1 GB in one
// block: hostile files that size buffers from their headers show up here even where the system would hand
// out the untouched memory. The environment's ASAN_OPTIONS still apply on top.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=1024";
}

namespace {

std::vector<std::string> readCorpus(const std::string& folder) {
    std::vector<std::string> seeds;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream file(folder + "/" + entry->d_name, std::ios::binary);
            std::stringstream text;
            text << file.rdbuf();
            seeds.push_back(text.str());
        }
        closedir(dir);
    }
    if (seeds.empty()) seeds.push_back({});
    return seeds;
}

std::string mutate(const std::string& seed, const std::vector<std::string>& all, std::mt19937& random) {
    std::string data = seed;
    int steps = 1 + static_cast<int>(random() % 4);
    for (int s = 0; s < steps; ++s) {
        size_t at = data.empty() ? 0 : random() % data.size();
        switch (random() % 6) {
            case 0:
                if (!data.empty()) data[at] = static_cast<char>(data[at] ^ (1 << (random() % 8)));
                break;
            case 1:
                data.resize(at);
                break;
            case 2:
                data.insert(at, std::string(1 + random() % 64, static_cast<char>(random())));
                break;
            case 3: {
                const std::string& other = all[random() % all.size()];
                size_t from = other.empty() ? 0 : random() % other.size();
                data.insert(at, other.substr(from, random() % 256));
                break;
            }
            case 4:
                if (!data.empty()) data.erase(at, random() % 32);
                break;
            default:
                if (!data.empty()) data[at] = "\0\n\r[]=;\"'%\xff\x80"[random() % 12];
                break;
        }
    }
    return data;
}

TEST(FuzzReplay, SeedsAndMutations) {
    std::vector<std::string> seeds = readCorpus(QM_FUZZ_CORPUS);
    for (const std::string& seed : seeds)
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
    std::mt19937 random(20261208);
    for (int i = 0; i < QM_FUZZ_RUNS; ++i) {
        std::string data = mutate(seeds[random() % seeds.size()], seeds, random);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
}

}  // namespace
