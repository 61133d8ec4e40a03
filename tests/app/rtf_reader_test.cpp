#include "app/rtf_reader.h"
#include "support/valid_utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

using app::ReadRtf;

TEST(RtfReader, ParagraphsAndCharacterFormatting) {
    const auto doc = ReadRtf(R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0\fs22 Plain {\b bold}\par
{\i italic} and \ul under\ulnone  done\par
\b on\b0  off {\fs32 big}\par})");
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->paragraphs.size(), 3u);
    const auto& first = doc->paragraphs[0].runs;
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].text, "Plain ");
    EXPECT_FALSE(first[0].bold);
    EXPECT_EQ(first[0].fontSizeHalfPoints, 22);
    EXPECT_EQ(first[1].text, "bold");
    EXPECT_TRUE(first[1].bold);
    const auto& second = doc->paragraphs[1].runs;
    EXPECT_TRUE(second[0].italic);
    EXPECT_EQ(second[1].text, " and ");
    EXPECT_TRUE(second[2].underline);
    EXPECT_EQ(second[2].text, "under");
    EXPECT_FALSE(second[3].underline);
    EXPECT_EQ(second[3].text, " done"); // the blank after \ulnone ends the word, the next is text
    EXPECT_EQ(doc->paragraphs[2].runs.back().fontSizeHalfPoints, 32);
    EXPECT_EQ(doc->PlainText(), "Plain bold\nitalic and under done\non off big");
}

TEST(RtfReader, SkipsTablesInfoPicturesAndUnknownDestinations) {
    const auto doc = ReadRtf(
        R"({\rtf1{\fonttbl{\f0 Arial;}{\f1 Courier;}}{\colortbl;\red255\green0\blue0;})"
        R"({\stylesheet{\s0 Normal;}}{\info{\title T}{\author A}})"
        R"({\*\generator Writer;}{\pict\pngblip 89504e47}Shown{\*\unknown hidden} text\par})");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->PlainText(), "Shown text");
}

TEST(RtfReader, EscapesTabsAndSpecialCharacters) {
    const auto doc =
        ReadRtf(R"({\rtf1\ansi a\tab b \'e9\'80 \{x\} \\ \u8364?\uc2\u937 ab c\emdash d\line e})");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->PlainText(),
              "a\tb \xc3\xa9\xe2\x82\xac {x} \\ \xe2\x82\xac\xce\xa9 c\xe2\x80\x94"
              "d\ne");
}

TEST(RtfReader, NegativeUnicodeAndLineEndsInTheFile) {
    const auto doc = ReadRtf("{\\rtf1 one\r\ntwo \\u-3913?\\\r\nthree}");
    ASSERT_TRUE(doc);
    // \u-3913 is U+F0B7; a backslash before a line end is a paragraph mark.
    EXPECT_EQ(doc->PlainText(), "onetwo \xef\x82\xb7\nthree");
}

TEST(RtfReader, RefusesTextThatIsNotRtfAndSurvivesBrokenInput) {
    std::string error;
    EXPECT_FALSE(ReadRtf("Hello", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadRtf(""));
    // Unbalanced braces and a trailing backslash must not crash or hang.
    for (const char* broken : {"{\\rtf1 {{{ a", "{\\rtf1 }}} b}", "{\\rtf1 c\\", "{\\rtf1 \\'",
                               "{\\rtf1 \\u", "{\\rtf1 \\fs999999999999 x}"}) {
        EXPECT_TRUE(ReadRtf(broken)) << broken;
    }
}

TEST(RtfReader, TheShippedHelpTextReads) {
    std::ifstream in(QUORVANE_SOURCE_DIR "/resources/help.rtf", std::ios::binary);
    ASSERT_TRUE(in);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto doc = ReadRtf(bytes);
    ASSERT_TRUE(doc);
    const std::string text = doc->PlainText();
    for (const char* topic :
         {"Plot Window", "Gcode", "Position", "Run Controls", "Jog Controls", "Feed Rates MM/Min",
          "Status", "Simulate", "Emergency Stop", "Pulses per MM"}) {
        EXPECT_NE(text.find(topic), std::string::npos) << topic;
    }
    EXPECT_EQ(text.find("fonttbl"), std::string::npos);
    EXPECT_EQ(text.find("Arial"), std::string::npos);
}

TEST(RtfReader, UnicodeEscapesOutsideSixteenBitsOrUnpairedBecomeTheReplacementCharacter) {
    const std::string replacement = "\xef\xbf\xbd";
    struct Case {
        const char* rtf;
        std::string text;
    };
    for (const Case& c : {
             Case{"{\\rtf1 a\\u9999999?b}", "a" + replacement + "b"},
             {"{\\rtf1 a\\u55296?b}", "a" + replacement + "b"}, // a high surrogate alone
             {"{\\rtf1 a\\u-70000?b}", "a" + replacement + "b"},
             {"{\\rtf1 a\\u56832?b}", "a" + replacement + "b"}, // a low surrogate alone
             {"{\\rtf1 \\u55357?\\par x}", replacement + "\nx"},
             {"{\\rtf1 \\u-10179?\\u-8704?}", "\xf0\x9f\x98\x80"}, // U+1F600 as a pair
             {"{\\rtf1 \\u55357?\\u55357?\\u56832?}", replacement + "\xf0\x9f\x98\x80"},
             {"{\\rtf1 \\u-32768?\\u32767?}", "\xe8\x80\x80\xe7\xbf\xbf"}, // the signed range
         }) {
        const auto doc = ReadRtf(c.rtf);
        ASSERT_TRUE(doc) << c.rtf;
        EXPECT_EQ(doc->PlainText(), c.text) << c.rtf;
    }
    // Every escape from -99999 to 99999 gives valid UTF-8.
    std::string all = "{\\rtf1 ";
    for (int n = -99999; n <= 99999; ++n) {
        all += "\\u" + std::to_string(n) + "?";
    }
    const auto doc = ReadRtf(all + "}");
    ASSERT_TRUE(doc);
    EXPECT_TRUE(IsValidUtf8(doc->PlainText()));
}
