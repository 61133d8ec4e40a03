// The RTF reader on any bytes as a help text: whatever it gives must be valid UTF-8, since the
// help window hands it to the toolkit as such.
#include "app/rtf_reader.h"
#include "fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool IsValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80                 ? 1
                              : c >= 0xC2 && c <= 0xDF ? 2
                              : c >= 0xE0 && c <= 0xEF ? 3
                              : c >= 0xF0 && c <= 0xF4 ? 4
                                                       : 0;
        if (n == 0 || i + n > s.size()) {
            return false;
        }
        std::uint32_t cp = n == 1 ? c : c & (0x7Fu >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (d & 0x3Fu);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n;
    }
    return true;
}

} // namespace

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
