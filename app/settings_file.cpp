#include "app/settings_file.h"

#include "encoding/number_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
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

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    std::filesystem::path temporary = path;
    temporary += ".new";
    std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
    if (!file) {
        return fail(temporary.string() + ": " + std::strerror(errno));
    }
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    int savedErrno = errno;
    ok = ok && std::fflush(file) == 0;
    if (ok) {
#ifdef _WIN32
        ok = _commit(_fileno(file)) == 0;
#else
        ok = fsync(fileno(file)) == 0;
#endif
    }
    if (!ok) {
        savedErrno = errno;
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return fail(temporary.string() + ": " + std::strerror(savedErrno));
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return fail(path.string() + ": " + ec.message());
    }
    return true;
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
