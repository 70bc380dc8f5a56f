// A scratch file per fuzzer process: the readers under test take a path.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

inline const std::filesystem::path &ScratchDir()
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() /
                 ("korval-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        // Leaves nothing behind however the run ends (a crash skips this).
        std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
        return d;
    }();
    return dir;
}

inline void WriteBytes(const std::filesystem::path &p, std::string_view bytes)
{
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadBytes(const std::filesystem::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A failed property: abort, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)
