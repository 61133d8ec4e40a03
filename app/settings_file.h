// The settings file: 17 lines of 8-bit text, each ending in CR LF, one value per line, the
// position of a line alone saying what it holds. Values are stored exactly as the fields show
// them; nothing is trimmed or validated here.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

inline constexpr const char* SettingsFileName = "quorvane.cfg";
inline constexpr int SettingsLineCount = 17;
// Seventeen short lines never come near this; a larger file is read only this far, so no file
// (nor a device given as one) decides how much memory reading it takes.
inline constexpr std::size_t SettingsFileLimitBytes = 64 * 1024;

// Line positions, 0-based (line 1 of the file is LastFolderLine).
enum SettingsLine : int {
    LastFolderLine = 0,
    InverseXLine,
    InverseYLine,
    InverseZLine,
    SimulateLine,       // Check2
    ScaleToFitLine,     // Check3
    OverrideLine,       // Check1
    GotoXLine,          // Text13
    GotoYLine,          // Text14
    GotoZLine,          // Text15
    TravelSpeedLine,    // Travspeed
    CutSpeedLine,       // cutspeed
    JogSpeedLine,       // jogspeeds
    SimulatorDelayLine, // Text16
    PulsesPerMmLine,    // setpulses
    PwDelayLine,        // pwm1
    DisableLimitsLine,  // Dlimits
};

using SettingsLines = std::array<std::string, SettingsLineCount>;

// The lines of a newly created file for a program directory.
SettingsLines DefaultSettingsLines(const std::string& programDirectory);

// A check-box line counts as checked only when it is exactly "1".
inline bool IsCheckedLine(std::string_view line) {
    return line == "1";
}
// A whole string, not a C text: assigning a C text to a line trips GCC 12's -Wrestrict at -O3.
inline std::string CheckBoxLine(bool checked) {
    return std::string(1, checked ? '1' : '0');
}

struct SettingsReadResult {
    enum Status { Read, Missing, Unreadable };
    Status status = Missing;
    // The lines found (CR LF, LF or a lone CR end a line), at most 17; a short file gives fewer.
    std::vector<std::string> lines;
    std::string error; // why an existing file could not be read
    // For a file read only in part (more than 17 lines, or larger than the limit): what was left
    // unread, from which line on, in the operator's words.
    std::string warning;
};

// Reads the file (up to the limit) before anything is applied, so that saves made while the
// values are applied cannot change what is read. A line cut off by the limit is not used.
SettingsReadResult ReadSettingsFile(const std::filesystem::path& path);

// A line break inside a value would end its line early and shift every line after it.
inline bool HoldsLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// The file text of 17 lines, each followed by CR LF.
std::string SettingsFileText(const SettingsLines& lines);

// Whether the file on disk now holds exactly these lines as the writer would write them. A file
// that cannot be read does not.
bool SettingsFileHolds(const std::filesystem::path& path, const SettingsLines& lines);

// Replaces the file atomically: the text goes to a new file of a unique name beside it, created
// exclusively and with the old file's mode, that is flushed to disk and then renamed over the
// old one, and the folder is synced; a crash or a full disk never leaves a truncated file. A
// linked file is replaced where the link leads, and the link stays.
// Returns false with a reason when the file could not be written, or when a line holds a line
// break; the old file is then intact.
bool WriteSettingsFile(const std::filesystem::path& path, const SettingsLines& lines,
                       std::string* error);

// The same atomic replacement for any small text file.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           std::string* error);

// The PW delay computed from the pulses-per-millimetre text, as the settings field shows it
// (plain decimal, at most 15 significant digits). No value for a text that is not a number, or
// for 0: the caller then leaves the field as it is.
std::optional<std::string> PwDelayFromPulsesPerMm(std::string_view pulsesPerMm);

// Where the settings file and the working copy of a loaded program live: the program
// directory, or the per-user folder when the program directory cannot be written.
struct DataFolderChoice {
    std::filesystem::path folder;
    bool usesFallback = false;
};
DataFolderChoice ChooseDataFolder(const std::filesystem::path& programDirectory,
                                  bool programDirectoryWritable,
                                  const std::filesystem::path& fallbackDirectory);

} // namespace app
