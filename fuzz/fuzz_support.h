// What the fuzz targets share: a failed cross-check that stops the run with its reason, and a
// scratch file for the entry points that read a path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

namespace fuzz {

// libFuzzer keeps the input of a run that aborts, so a broken promise is reported as a crash.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "cross-check failed: %s %s\n", what, detail.c_str());
    std::abort();
}

inline void Check(bool ok, const char* what, const std::string& detail = {}) {
    if (!ok) {
        Fail(what, detail);
    }
}

// A file of this process in memory (/dev/shm) where there is one: a fuzz run writes it
// hundreds of thousands of times.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& name) {
        std::error_code error;
        std::filesystem::path folder = "/dev/shm";
        if (!std::filesystem::is_directory(folder, error)) {
            folder = std::filesystem::temp_directory_path();
        }
        path_ = folder / ("quorvane-fuzz-" + std::to_string(::getpid()) + "-" + name);
    }
    ~ScratchFile() {
        std::error_code error;
        std::filesystem::remove(path_, error);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::filesystem::path& Write(std::string_view bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path_;
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Chunk sizes drawn from the input itself, so a failing input replays the same split.
class SplitSizes {
public:
    explicit SplitSizes(std::uint64_t seed) : state_(seed | 1) {}
    std::size_t Next(std::size_t most) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return 1 + static_cast<std::size_t>(state_ % most);
    }

private:
    std::uint64_t state_;
};

inline std::uint64_t HashOf(std::string_view bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (const char c : bytes) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return h;
}

} // namespace fuzz
