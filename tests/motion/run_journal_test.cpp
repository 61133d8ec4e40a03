// The run's journal without a window: the content hash, the text a journal is kept as, and
// when a resume is refused.
#include "motion/run_journal.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::uint64_t HashOf(std::string_view bytes, std::size_t piece) {
    motion::ContentHash hash;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        hash.Add(bytes.substr(at, piece));
    }
    return hash.Value();
}

TEST(ContentHash, EveryEditChangesItAndHowTheFileIsReadDoesNot) {
    std::mt19937 random(7);
    std::string file;
    for (int i = 0; i < 3000; ++i) {
        file += "G1 X" + std::to_string(random() % 1000) + " Y" + std::to_string(random() % 1000) +
                "\n";
    }
    const std::uint64_t whole = HashOf(file, file.size());
    for (const std::size_t piece : {1u, 3u, 7u, 8u, 4096u}) {
        EXPECT_EQ(HashOf(file, piece), whole) << piece;
    }
    for (int trial = 0; trial < 2000; ++trial) {
        std::string edited = file;
        const std::size_t at = random() % edited.size();
        switch (trial % 3) {
        case 0:
            edited[at] = static_cast<char>(edited[at] ^ (1 + random() % 255));
            break;
        case 1:
            edited.erase(at, 1);
            break;
        default:
            edited.insert(at, 1, '0');
        }
        ASSERT_NE(HashOf(edited, 4096), whole) << trial;
    }
    EXPECT_NE(HashOf(file + std::string(1, '\0'), 64), whole) << "a zero byte added";
    EXPECT_NE(HashOf("", 1), HashOf(std::string(8, '\0'), 8));
}

motion::RunJournal Sample() {
    motion::RunJournal j;
    j.gcodePath = "/home/op/parts/flange\\v2\nrev.nc";
    j.fileBytes = 123456;
    j.contentHash = 0xfedcba9876543210ull;
    j.pulsesPerMmText = "533.333";
    j.inverse = {true, false, true};
    j.arcToleranceMm = 0.002;
    j.rows = 900;
    j.lastAckedRow = 41;
    j.lastAckedLine = 57;
    j.positions = {"0012.500", "-0003.250", "-0001.000"};
    j.rowInFlight = 42;
    return j;
}

TEST(RunJournalText, ReadsBackWhatWasWrittenAndNothingCutShort) {
    const motion::RunJournal j = Sample();
    const std::string text = motion::JournalText(j);
    EXPECT_EQ(motion::ReadJournal(text), std::optional(j));
    motion::RunJournal fresh = j;
    fresh.lastAckedRow.reset();
    fresh.rowInFlight.reset();
    EXPECT_EQ(motion::ReadJournal(motion::JournalText(fresh)), std::optional(fresh));
    EXPECT_EQ(fresh.ResumeRow(), 0u);
    EXPECT_EQ(j.ResumeRow(), 42u);
    // A file written only in part, or by something else, is no resume point.
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        ASSERT_FALSE(motion::ReadJournal(text.substr(0, cut))) << cut;
    }
    for (const char* broken : {"hash zz\n", "acknowledged -1\n", "inverse 10\n", "colour red\n"}) {
        std::string bad = text;
        bad.insert(bad.find("end\n"), broken);
        EXPECT_FALSE(motion::ReadJournal(bad)) << broken;
    }
}

TEST(RunJournalResume, RefusedForAFileOrSettingThatChangedAndSaysWhy) {
    const motion::RunJournal j = Sample();
    const motion::ResumeCheck same{true,      j.fileBytes,     j.contentHash, j.pulsesPerMmText,
                                   j.inverse, j.arcToleranceMm};
    EXPECT_EQ(motion::ResumeRefusal(j, same), std::nullopt);
    struct Case {
        const char* name;
        void (*change)(motion::ResumeCheck&);
        const char* says;
    } cases[] = {
        {"gone", [](motion::ResumeCheck& c) { c.fileFound = false; }, "no longer there"},
        {"edited", [](motion::ResumeCheck& c) { c.contentHash ^= 1; }, "has changed"},
        {"grown", [](motion::ResumeCheck& c) { c.fileBytes += 1; }, "has changed"},
        {"pulses", [](motion::ResumeCheck& c) { c.pulsesPerMmText = "400"; }, "Pulses per MM"},
        {"inverse", [](motion::ResumeCheck& c) { c.inverse[1] = true; }, "Inverse"},
        {"arcs", [](motion::ResumeCheck& c) { c.arcToleranceMm = 0.01; }, "arc tolerance"},
    };
    for (const Case& c : cases) {
        motion::ResumeCheck now = same;
        c.change(now);
        const auto refusal = motion::ResumeRefusal(j, now);
        ASSERT_TRUE(refusal) << c.name;
        EXPECT_NE(refusal->find(c.says), std::string::npos) << *refusal;
    }
    const std::string offer = motion::ResumeOfferText(j);
    EXPECT_NE(offer.find("finished row 42 (line 57 of the file)"), std::string::npos) << offer;
    EXPECT_NE(offer.find("Row 43 was in flight"), std::string::npos) << offer;
    EXPECT_NE(offer.find("go on from row 43?"), std::string::npos) << offer;
}

} // namespace
