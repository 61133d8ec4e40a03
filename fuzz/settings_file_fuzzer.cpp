// The settings reader on any bytes as quorvane.cfg, and every line it gives through the
// number texts the window reads settings with.
//
// Cross-checks: a file is read or refused with a reason; at most 17 lines, none holding a line end;
// the thousandths shortcuts against the general Format and NumberOf wherever they give a result;
// the PW delay computed from a pulses-per-mm text is itself a number text.
#include "app/settings_file.h"
#include "encoding/number_text.h"
#include "encoding/thousandths.h"
#include "fuzz/fuzz_support.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using fuzz::Check;

void CheckNumberText(std::string_view text) {
    const std::string formatted = encoding::Format(text);
    const std::optional<double> number = encoding::NumberOf(text);
    Check(number.has_value() == encoding::ReadsAsNumber(text), "ReadsAsNumber is NumberOf");
    if (number) {
        Check(encoding::ReadsAsNumber(formatted), "a formatted number reads as a number",
              std::string(text));
    } else {
        Check(formatted == text, "a text that is no number is kept as it is", std::string(text));
    }
    (void)encoding::Val(text);

    std::int64_t thousandths = 0;
    if (encoding::RoundedThousandthsOf(text, thousandths)) {
        Check(encoding::FormatThousandths(thousandths) == formatted,
              "rounded thousandths give Format's text", std::string(text));
    }
    if (encoding::ThousandthsOfFormatted(text, thousandths)) {
        Check(number && static_cast<double>(thousandths) / 1000.0 == *number,
              "formatted thousandths give NumberOf's number", std::string(text));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchFile file("quorvane.cfg");
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const app::SettingsReadResult read = app::ReadSettingsFile(file.Write(bytes));
    if (read.status != app::SettingsReadResult::Read) {
        Check(read.status == app::SettingsReadResult::Unreadable && !read.error.empty(),
              "an existing file is read or refused with a reason");
        return 0;
    }
    Check(read.lines.size() <= static_cast<std::size_t>(app::SettingsLineCount),
          "at most 17 lines");
    for (const std::string& line : read.lines) {
        Check(line.find_first_of("\r\n") == std::string::npos, "no line end inside a line");
        CheckNumberText(line);
        if (const std::optional<std::string> pwDelay = app::PwDelayFromPulsesPerMm(line)) {
            Check(encoding::ReadsAsNumber(*pwDelay), "the PW delay is a number text", *pwDelay);
        }
    }
    return 0;
}
