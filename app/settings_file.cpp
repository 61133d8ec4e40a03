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
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.status = SettingsReadResult::Unreadable;
        result.error = "read error";
        return result;
    }
    result.status = SettingsReadResult::Read;
    std::string line;
    bool pending = false; // characters seen since the last line end
    for (std::size_t i = 0; i < text.size() && result.lines.size() < SettingsLineCount; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            result.lines.push_back(line);
            line.clear();
            pending = false;
        } else {
            line.push_back(c);
            pending = true;
        }
    }
    if (pending && result.lines.size() < SettingsLineCount) {
        result.lines.push_back(line); // a last line without its CR LF still counts
    }
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
