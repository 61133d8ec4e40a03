#include "app/settings_file.h"

#include "encoding/number_text.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace app {

SettingsLines DefaultSettingsLines(const std::string& programDirectory) {
    return {programDirectory, "0",    "0",   "0",   "0",  "0",      "0",     "0000.000", "0000.000",
            "0000.000",       "1000", "500", "800", "20", "533.33", "57150", "0"};
}

namespace {

std::string lineRange(std::size_t first, std::size_t last, const char* one, const char* many) {
    return first == last ? "line " + std::to_string(first) + one
                         : "lines " + std::to_string(first) + " to " + std::to_string(last) + many;
}

// What a file read in part leaves out; empty when it was read whole. `lineCount` counts the
// lines that end (or, without a cut, the last one that does not) within what was read.
std::string partWarning(const std::string& name, std::size_t lineCount, bool cut) {
    const std::size_t all = SettingsLineCount;
    if (!cut) {
        return lineCount <= all ? std::string()
                                : name + " has " + std::to_string(lineCount) +
                                      " lines; only the first 17 hold settings, so " +
                                      lineRange(all + 1, lineCount, " was", " were") + " not read.";
    }
    if (lineCount >= all) {
        return name + " is larger than 64 KiB; only its first 17 lines were read, nothing from "
                      "line 18 on.";
    }
    return name + " is larger than 64 KiB and line " + std::to_string(lineCount + 1) +
           " does not end within its first 64 KiB; " +
           lineRange(lineCount + 1, all, " was not read and takes the value",
                     " were not read and take the values") +
           " of a new settings file.";
}

} // namespace

SettingsReadResult ReadSettingsFile(const std::filesystem::path& path) {
    SettingsReadResult result;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        result.status = SettingsReadResult::Missing;
        return result;
    }
    if (std::filesystem::is_directory(path, ec)) {
        result.status = SettingsReadResult::Unreadable;
        result.error = "it is a folder, not a file";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.status = SettingsReadResult::Unreadable;
        result.error = std::strerror(errno);
        return result;
    }
    // One byte past the limit tells a larger file apart without reading any more of it.
    std::string text(SettingsFileLimitBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        result.status = SettingsReadResult::Unreadable;
        result.error = "read error";
        return result;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    const bool cut = text.size() > SettingsFileLimitBytes;
    if (cut) {
        text.resize(SettingsFileLimitBytes);
    }
    result.status = SettingsReadResult::Read;
    std::size_t lineCount = 0;
    std::string line;
    bool pending = false; // characters seen since the last line end
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            if (lineCount++ < SettingsLineCount) {
                result.lines.push_back(line);
            }
            line.clear();
            pending = false;
        } else {
            if (lineCount < SettingsLineCount) {
                line.push_back(c);
            }
            pending = true;
        }
    }
    // A last line without its CR LF still counts, unless the limit cut it off.
    if (pending && !cut && lineCount++ < SettingsLineCount) {
        result.lines.push_back(line);
    }
    result.warning = partWarning(path.filename().string(), lineCount, cut);
    return result;
}

std::string SettingsFileText(const SettingsLines& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

bool SettingsFileHolds(const std::filesystem::path& path, const SettingsLines& lines) {
    const std::string expected = SettingsFileText(lines);
    std::ifstream in(path, std::ios::binary);
    // One byte more than expected is enough to tell a longer file apart.
    std::string found(expected.size() + 1, '\0');
    in.read(found.data(), static_cast<std::streamsize>(found.size()));
    if (in.bad()) {
        return false;
    }
    found.resize(static_cast<std::size_t>(in.gcount()));
    return found == expected;
}

namespace {

bool failWith(std::string* error, const std::string& why) {
    if (error) {
        *error = why;
    }
    return false;
}

// The file a path stands for: links are followed to their last target, which need not exist
// yet, so that a linked settings file is written where it lives and the link stays a link.
bool followLinks(std::filesystem::path& path, std::string* error) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(path, ec)) {
            return true;
        }
        const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) {
            return failWith(error, path.string() + ": " + ec.message());
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return failWith(error, path.string() + ": " + std::strerror(ELOOP));
}

long processId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<long>(getpid());
#endif
}

// Names only need to differ between attempts and between programs writing at once; the
// exclusive creation is what keeps an existing file (or a planted link) from being used.
std::string temporarySuffix() {
    static std::atomic<unsigned> attempts{0};
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned long long mixed = ticks * 0x9E3779B97F4A7C15ull ^
                                     (static_cast<unsigned long long>(processId()) << 20) ^
                                     attempts.fetch_add(1);
    char text[24];
    std::snprintf(text, sizeof text, ".new-%08llx", mixed & 0xFFFFFFFFull);
    return text;
}

#ifndef _WIN32

// A new file beside the target that nothing else can have opened or linked: created
// exclusively, never through a link, with the target's mode (a read-only file stays
// read-only) or, for a first file, the mode the umask gives.
int createTemporary(const std::filesystem::path& target, std::filesystem::path& temporary) {
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = target;
        temporary += temporarySuffix();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return -1;
        }
    }
    struct stat old {};
    if (fd >= 0 && ::stat(target.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) {
        const int savedErrno = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        errno = savedErrno;
        return -1;
    }
    return fd;
}

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            errno = n == 0 ? EIO : errno;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The rename is only lasting once the folder itself is on disk. By then the new text is in
// place, so a folder that cannot be synced (some file systems refuse) is not a failed save.
void syncFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool replaceTarget(const std::filesystem::path& target, std::string_view content,
                   std::string* error) {
    std::filesystem::path temporary;
    const int fd = createTemporary(target, temporary);
    if (fd < 0) {
        return failWith(error, temporary.string() + ": " + std::strerror(errno));
    }
    bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return failWith(error, temporary.string() + ": " + std::strerror(savedErrno));
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        savedErrno = errno;
        ::unlink(temporary.c_str());
        return failWith(error, target.string() + ": " + std::strerror(savedErrno));
    }
    syncFolder(target.parent_path());
    return true;
}

#else

// Without POSIX calls: an exclusive create ("x") and a flushed, committed write; the rename
// replaces the target.
bool replaceTarget(const std::filesystem::path& target, std::string_view content,
                   std::string* error) {
    std::filesystem::path temporary;
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < 100 && !file; ++attempt) {
        temporary = target;
        temporary += temporarySuffix();
        file = _wfopen(temporary.c_str(), L"wbx");
        if (!file && errno != EEXIST) {
            break;
        }
    }
    if (!file) {
        return failWith(error, temporary.string() + ": " + std::strerror(errno));
    }
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size() &&
              std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
    int savedErrno = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    std::error_code ec;
    if (ok) {
        std::filesystem::rename(temporary, target, ec);
    }
    if (!ok || ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return failWith(error, ok ? target.string() + ": " + ec.message()
                                  : temporary.string() + ": " + std::strerror(savedErrno));
    }
    return true;
}

#endif

} // namespace

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           std::string* error) {
    std::filesystem::path target = path;
    return followLinks(target, error) && replaceTarget(target, content, error);
}

bool WriteSettingsFile(const std::filesystem::path& path, const SettingsLines& lines,
                       std::string* error) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (HoldsLineBreak(lines[i])) {
            if (error) {
                *error = "line " + std::to_string(i + 1) +
                         " holds a line break, which would shift every later line";
            }
            return false;
        }
    }
    return ReplaceFileAtomically(path, SettingsFileText(lines), error);
}

std::optional<std::string> PwDelayFromPulsesPerMm(std::string_view pulsesPerMm) {
    const std::optional<double> p = encoding::NumberOf(pulsesPerMm);
    if (!p || *p == 0.0) {
        return std::nullopt;
    }
    // r = p / 0.5208330078125 is the pulses per mm in board units of 1024; rounding it to 15
    // significant digits first makes 533.333 give exactly 1024 and so a PW delay of 57150.
    const double raw = *p / 0.5208330078125;
    if (!std::isfinite(raw)) {
        return std::nullopt;
    }
    const double r = encoding::NumberOf(encoding::FormatSignificant(raw, 15)).value_or(0.0);
    if (r == 0.0) {
        return std::nullopt;
    }
    const double q = 58521600.0 / r; // 57150 x 1024
    if (!std::isfinite(q)) {
        return std::nullopt;
    }
    return encoding::FormatSignificant(q, 15);
}

DataFolderChoice ChooseDataFolder(const std::filesystem::path& programDirectory,
                                  bool programDirectoryWritable,
                                  const std::filesystem::path& fallbackDirectory) {
    if (programDirectoryWritable || fallbackDirectory.empty()) {
        return {programDirectory, false};
    }
    return {fallbackDirectory, true};
}

} // namespace app
