// A reader for the small part of RTF a help text uses: paragraphs, bold, italic, underline,
// font size, tabs, \'xx and \uN escapes. Font, colour, style, information and picture groups,
// and every other destination marked \*, are skipped. The result is plain data the help window
// turns into rich text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

struct RtfRun {
    std::string text; // UTF-8; a tab stays '\t', a line break inside a paragraph is '\n'
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int fontSizeHalfPoints = 24; // RTF counts font sizes in half points
};

struct RtfParagraph {
    std::vector<RtfRun> runs;
};

struct RtfDocument {
    std::vector<RtfParagraph> paragraphs;
    std::string PlainText() const; // paragraphs joined with '\n', for tests and searching
};

// Reads an RTF text (8-bit bytes, Windows-1252 for \'xx). No document when the text does not
// start with "{\rtf"; `error` then says why.
std::optional<RtfDocument> ReadRtf(std::string_view bytes, std::string* error = nullptr);

} // namespace app
