#include "app/rtf_reader.h"

#include <cstdint>
#include <cstdlib>

namespace app {
namespace {

constexpr std::uint32_t Replacement = 0xFFFD;

struct CharState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int fontSizeHalfPoints = 24;
    int unicodeSkip = 1;  // \ucN: characters that stand in for a \uN character
    bool skipped = false; // inside a group whose text is not shown
};

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
std::uint32_t fromWindows1252(unsigned char byte) {
    static const std::uint16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    if (byte >= 0x80 && byte < 0xA0) {
        return high[byte - 0x80];
    }
    return byte;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isSkippedDestination(std::string_view word) {
    static const std::string_view names[] = {"fonttbl",      "colortbl",  "stylesheet",
                                             "info",         "pict",      "header",
                                             "footer",       "headerl",   "headerr",
                                             "footerl",      "footerr",   "footnote",
                                             "object",       "listtable", "listoverridetable",
                                             "rsidtbl",      "generator", "xmlnstbl",
                                             "latentstyles", "themedata", "colorschememapping",
                                             "datastore",    "filetbl",   "revtbl",
                                             "pgdsctbl"};
    for (std::string_view name : names) {
        if (word == name) {
            return true;
        }
    }
    return false;
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    RtfDocument Read() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '{') {
                ++pos_;
                stack_.push_back(state_);
                groupStart_ = true;
                continue;
            }
            if (c == '}') {
                ++pos_;
                if (!stack_.empty()) {
                    state_ = stack_.back();
                    stack_.pop_back();
                }
                groupStart_ = false;
                continue;
            }
            if (c == '\\') {
                controlSymbolOrWord();
                groupStart_ = false;
                continue;
            }
            ++pos_;
            groupStart_ = false;
            if (c == '\r' || c == '\n') {
                continue; // line ends in the file are not text
            }
            if (pendingSkip_ > 0) {
                --pendingSkip_;
                continue;
            }
            appendCodePoint(fromWindows1252(static_cast<unsigned char>(c)));
        }
        flushSurrogate();
        if (!paragraph_.runs.empty()) {
            doc_.paragraphs.push_back(std::move(paragraph_));
        }
        return std::move(doc_);
    }

private:
    void controlSymbolOrWord() {
        ++pos_; // the backslash
        if (pos_ >= text_.size()) {
            return;
        }
        const char c = text_[pos_];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
            ++pos_;
            controlSymbol(c);
            return;
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() && ((text_[pos_] >= 'a' && text_[pos_] <= 'z') ||
                                       (text_[pos_] >= 'A' && text_[pos_] <= 'Z'))) {
            ++pos_;
        }
        const std::string_view word = text_.substr(start, pos_ - start);
        bool hasParam = false;
        long param = 0;
        if (pos_ < text_.size() &&
            (text_[pos_] == '-' || (text_[pos_] >= '0' && text_[pos_] <= '9'))) {
            const bool negative = text_[pos_] == '-';
            if (negative) {
                ++pos_;
            }
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
                if (param < 1000000) {
                    param = param * 10 + (text_[pos_] - '0');
                }
                ++pos_;
            }
            hasParam = true;
            if (negative) {
                param = -param;
            }
        }
        if (pos_ < text_.size() && text_[pos_] == ' ') {
            ++pos_; // the delimiter belongs to the control word
        }
        controlWord(word, hasParam, param);
    }

    void controlSymbol(char c) {
        switch (c) {
        case '\\':
        case '{':
        case '}':
            appendCodePoint(static_cast<unsigned char>(c));
            break;
        case '~':
            appendCodePoint(0xA0);
            break;
        case '_':
            appendCodePoint(0x2011);
            break;
        case '*':
            state_.skipped = true; // an optional destination: skipped unless we know it
            break;
        case '\'': {
            if (pos_ + 1 < text_.size()) {
                const int hi = hexValue(text_[pos_]);
                const int lo = hexValue(text_[pos_ + 1]);
                pos_ += 2;
                if (hi >= 0 && lo >= 0) {
                    if (pendingSkip_ > 0) {
                        --pendingSkip_;
                    } else {
                        appendCodePoint(fromWindows1252(static_cast<unsigned char>(hi * 16 + lo)));
                    }
                }
            }
            break;
        }
        case '\r':
        case '\n':
            endParagraph(); // a backslash before a line end is a paragraph mark
            break;
        default:
            break; // \- optional hyphen, \| and others show nothing
        }
    }

    void controlWord(std::string_view word, bool hasParam, long param) {
        if (groupStart_ && isSkippedDestination(word)) {
            state_.skipped = true;
            return;
        }
        const bool on = !hasParam || param != 0;
        if (word == "par") {
            endParagraph();
        } else if (word == "line") {
            appendCodePoint('\n');
        } else if (word == "tab") {
            appendCodePoint('\t');
        } else if (word == "b") {
            state_.bold = on;
        } else if (word == "i") {
            state_.italic = on;
        } else if (word == "ul") {
            state_.underline = on;
        } else if (word == "ulnone") {
            state_.underline = false;
        } else if (word == "fs" && hasParam && param > 0) {
            state_.fontSizeHalfPoints = static_cast<int>(param);
        } else if (word == "plain") {
            const bool skipped = state_.skipped;
            const int skip = state_.unicodeSkip;
            state_ = CharState{};
            state_.skipped = skipped;
            state_.unicodeSkip = skip;
        } else if (word == "uc" && hasParam && param >= 0) {
            state_.unicodeSkip = static_cast<int>(param);
        } else if (word == "u" && hasParam) {
            unicodeEscape(param);
            pendingSkip_ = state_.unicodeSkip;
        } else if (word == "emdash") {
            appendCodePoint(0x2014);
        } else if (word == "endash") {
            appendCodePoint(0x2013);
        } else if (word == "bullet") {
            appendCodePoint(0x2022);
        } else if (word == "lquote") {
            appendCodePoint(0x2018);
        } else if (word == "rquote") {
            appendCodePoint(0x2019);
        } else if (word == "ldblquote") {
            appendCodePoint(0x201C);
        } else if (word == "rdblquote") {
            appendCodePoint(0x201D);
        }
        // Every other control word (paragraph layout, fonts, colours) changes nothing we show.
    }

    // \uN is a signed 16-bit UTF-16 unit (a negative N stands for N + 65536); a character
    // beyond U+FFFF comes as a high and a low surrogate in turn. Anything that is not a unit,
    // and a surrogate without its partner, shows as U+FFFD, so the text is always valid UTF-8.
    void unicodeEscape(long param) {
        const long unit = param < 0 ? param + 65536 : param;
        if (unit < 0 || unit > 0xFFFF) {
            appendCodePoint(Replacement);
            return;
        }
        const auto u = static_cast<std::uint32_t>(unit);
        if (u >= 0xDC00 && u <= 0xDFFF && highSurrogate_ != 0) {
            const std::uint32_t high = highSurrogate_;
            highSurrogate_ = 0;
            appendCodePoint(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
            return;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            flushSurrogate();
            if (!state_.skipped) {
                highSurrogate_ = u;
            }
            return;
        }
        appendCodePoint(u >= 0xDC00 && u <= 0xDFFF ? Replacement : u);
    }

    void flushSurrogate() {
        if (highSurrogate_ != 0) {
            highSurrogate_ = 0;
            appendCodePoint(Replacement);
        }
    }

    void appendCodePoint(std::uint32_t cp) {
        if (state_.skipped) {
            return;
        }
        flushSurrogate();
        if (paragraph_.runs.empty() || !sameLook(paragraph_.runs.back())) {
            RtfRun run;
            run.bold = state_.bold;
            run.italic = state_.italic;
            run.underline = state_.underline;
            run.fontSizeHalfPoints = state_.fontSizeHalfPoints;
            paragraph_.runs.push_back(std::move(run));
        }
        appendUtf8(paragraph_.runs.back().text, cp);
    }

    bool sameLook(const RtfRun& run) const {
        return run.bold == state_.bold && run.italic == state_.italic &&
               run.underline == state_.underline &&
               run.fontSizeHalfPoints == state_.fontSizeHalfPoints;
    }

    void endParagraph() {
        if (state_.skipped) {
            return;
        }
        flushSurrogate();
        doc_.paragraphs.push_back(std::move(paragraph_));
        paragraph_ = RtfParagraph{};
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    CharState state_;
    std::vector<CharState> stack_;
    bool groupStart_ = false;
    int pendingSkip_ = 0;
    std::uint32_t highSurrogate_ = 0; // a \uN high surrogate waiting for its low one
    RtfParagraph paragraph_;
    RtfDocument doc_;
};

} // namespace

std::string RtfDocument::PlainText() const {
    std::string text;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        if (i > 0) {
            text.push_back('\n');
        }
        for (const RtfRun& run : paragraphs[i].runs) {
            text += run.text;
        }
    }
    return text;
}

std::optional<RtfDocument> ReadRtf(std::string_view bytes, std::string* error) {
    std::size_t start = 0;
    while (start < bytes.size() && (bytes[start] == ' ' || bytes[start] == '\r' ||
                                    bytes[start] == '\n' || bytes[start] == '\t')) {
        ++start;
    }
    if (bytes.substr(start, 5) != "{\\rtf") {
        if (error) {
            *error = "not an RTF text (it does not start with {\\rtf)";
        }
        return std::nullopt;
    }
    return Reader(bytes.substr(start)).Read();
}

} // namespace app
