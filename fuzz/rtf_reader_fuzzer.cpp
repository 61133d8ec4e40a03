// The RTF reader on any bytes as a help text: whatever it gives must be valid UTF-8, since the
// help window hands it to the toolkit as such.
#include "app/rtf_reader.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/valid_utf8.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto doc = app::ReadRtf(bytes, &error);
    if (!doc) {
        fuzz::Check(!error.empty(), "a refused text says why");
        return 0;
    }
    for (const app::RtfParagraph& paragraph : doc->paragraphs) {
        for (const app::RtfRun& run : paragraph.runs) {
            fuzz::Check(IsValidUtf8(run.text), "a run is valid UTF-8", run.text);
            fuzz::Check(run.fontSizeHalfPoints > 0, "a font size is positive");
        }
    }
    fuzz::Check(IsValidUtf8(doc->PlainText()), "the plain text is valid UTF-8");
    return 0;
}
