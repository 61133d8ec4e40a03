#include "app/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include "support/full_disk.h"
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using namespace app;

namespace {

class SettingsFolder : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("quorvane-settings-" +
                  std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        path = folder / SettingsFileName;
    }
    void TearDown() override { fs::remove_all(folder); }

    void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string read() { return contents(path); }
    static std::string contents(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static int entries(const fs::path& dir) {
        int count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) {
            ++count;
        }
        return count;
    }

    fs::path folder;
    fs::path path;
};

} // namespace

TEST_F(SettingsFolder, DefaultsAreSeventeenCrLfLines) {
    ASSERT_TRUE(WriteSettingsFile(path, DefaultSettingsLines("/opt/q"), nullptr));
    EXPECT_EQ(read(), "/opt/q\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0000.000\r\n0000.000\r\n0000.000\r\n"
                      "1000\r\n500\r\n800\r\n20\r\n533.33\r\n57150\r\n0\r\n");
}

TEST_F(SettingsFolder, ReadKeepsLinesExactlyAndAcceptsAnyLineEnd) {
    write("C:\\cnc\r\n1 \r\n\r\n1\n0\r1\r\n0\r\n0000.000\r\n\xe9t\xe9\r\n");
    const SettingsReadResult r = ReadSettingsFile(path);
    ASSERT_EQ(r.status, SettingsReadResult::Read);
    const std::vector<std::string> expected = {"C:\\cnc", "1 ", "",         "1",        "0",
                                               "1",       "0",  "0000.000", "\xe9t\xe9"};
    EXPECT_EQ(r.lines, expected);
    EXPECT_FALSE(IsCheckedLine(r.lines[1]));
    EXPECT_TRUE(IsCheckedLine(r.lines[3]));
}

TEST_F(SettingsFolder, LastLineWithoutItsEndStillCountsAndExtraLinesAreIgnored) {
    write("a\r\nb");
    EXPECT_EQ(ReadSettingsFile(path).lines, (std::vector<std::string>{"a", "b"}));
    std::string many;
    for (int i = 0; i < 20; ++i) {
        many += std::to_string(i) + "\r\n";
    }
    write(many);
    const auto lines = ReadSettingsFile(path).lines;
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines.back(), "16");
}

TEST_F(SettingsFolder, MissingAndUnreadableAreToldApart) {
    EXPECT_EQ(ReadSettingsFile(path).status, SettingsReadResult::Missing);
    fs::create_directory(path); // a folder where the file should be cannot be read
    const SettingsReadResult r = ReadSettingsFile(path);
    EXPECT_EQ(r.status, SettingsReadResult::Unreadable);
}

#ifndef _WIN32
TEST_F(SettingsFolder, FailedWriteLeavesTheOldFileWhole) {
    write("old settings\r\n");
    std::string error;
    {
        // The disk fills up part of the way through the new text: the old file must survive.
        const FullDisk full;
        EXPECT_FALSE(WriteSettingsFile(path, DefaultSettingsLines("/x"), &error));
    }
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(read(), "old settings\r\n");
    EXPECT_EQ(entries(folder), 1); // the part-written temporary file is gone
}

#endif

TEST_F(SettingsFolder, WriteReplacesTheFileAndLeavesNoSibling) {
    write("old\r\n");
    ASSERT_TRUE(WriteSettingsFile(path, DefaultSettingsLines("/y"), nullptr));
    EXPECT_EQ(ReadSettingsFile(path).lines.size(), 17u);
    EXPECT_EQ(entries(folder), 1);
}

#ifndef _WIN32
TEST_F(SettingsFolder, LinkPlantedWhereTheTemporaryFileGoesIsNeverFollowed) {
    write("old\r\n");
    const fs::path victim = folder / "victim";
    std::ofstream(victim, std::ios::binary) << "precious";
    fs::path planted = path;
    planted += ".new";
    fs::create_symlink(victim, planted);
    ASSERT_TRUE(WriteSettingsFile(path, DefaultSettingsLines("/v"), nullptr));
    EXPECT_EQ(contents(victim), "precious");
    EXPECT_EQ(ReadSettingsFile(path).lines.size(), 17u);
}

TEST_F(SettingsFolder, TheFilesModeIsKeptAndANewFileFollowsTheUmask) {
    for (const fs::perms mode : {fs::perms(0444), fs::perms(0640)}) {
        write("old\r\n");
        fs::permissions(path, mode);
        ASSERT_TRUE(WriteSettingsFile(path, DefaultSettingsLines("/m"), nullptr));
        EXPECT_EQ(fs::status(path).permissions(), mode);
        EXPECT_EQ(ReadSettingsFile(path).lines.size(), 17u);
        fs::remove(path);
    }
    const mode_t umaskBefore = ::umask(027);
    const bool written = WriteSettingsFile(path, DefaultSettingsLines("/m"), nullptr);
    ::umask(umaskBefore);
    ASSERT_TRUE(written);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
}

TEST_F(SettingsFolder, LinkedFileIsWrittenThroughToItsTargetAndStaysALink) {
    fs::create_directories(folder / "store" / "deeper");
    const fs::path target = folder / "store" / "deeper" / "real.cfg";
    std::ofstream(target, std::ios::binary) << "old\r\n";
    fs::create_symlink("deeper/real.cfg", folder / "store" / "middle.cfg"); // relative links
    fs::create_symlink("store/middle.cfg", path);
    ASSERT_TRUE(WriteSettingsFile(path, DefaultSettingsLines("/l"), nullptr));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_TRUE(fs::is_symlink(folder / "store" / "middle.cfg"));
    EXPECT_EQ(contents(target), SettingsFileText(DefaultSettingsLines("/l")));
    EXPECT_EQ(entries(target.parent_path()), 1);

    fs::remove(target); // a link to a file not there yet creates it
    ASSERT_TRUE(WriteSettingsFile(path, DefaultSettingsLines("/n"), nullptr));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(contents(target), SettingsFileText(DefaultSettingsLines("/n")));
}

TEST_F(SettingsFolder, LinkThatLoopsIsAFailedWrite) {
    fs::create_symlink(SettingsFileName, path);
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(path, DefaultSettingsLines("/o"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_symlink(path));
}

#endif

TEST_F(SettingsFolder, LongFilesAreReadInPartWithAWarningThatNamesTheLine) {
    const auto numbered = [](int from, int to) {
        std::string text;
        for (int i = from; i <= to; ++i) {
            text += std::to_string(i) + "\r\n";
        }
        return text;
    };
    const std::string tooLong(SettingsFileLimitBytes, 'x');
    const struct {
        std::string text;
        std::size_t lines;
        const char* warning;
    } cases[] = {
        {numbered(1, 17), 17, ""},
        {numbered(1, 18), 17,
         "quorvane.cfg has 18 lines; only the first 17 hold settings, so line 18 was not read."},
        {numbered(1, 40), 17,
         "quorvane.cfg has 40 lines; only the first 17 hold settings, so lines 18 to 40 were "
         "not read."},
        {numbered(1, 17) + tooLong, 17,
         "quorvane.cfg is larger than 64 KiB; only its first 17 lines were read, nothing from "
         "line 18 on."},
        {numbered(1, 2) + tooLong + "\r\n4\r\n", 2,
         "quorvane.cfg is larger than 64 KiB and line 3 does not end within its first 64 KiB; "
         "lines 3 to 17 were not read and take the values of a new settings file."},
        {numbered(1, 16) + tooLong, 16,
         "quorvane.cfg is larger than 64 KiB and line 17 does not end within its first 64 KiB; "
         "line 17 was not read and takes the value of a new settings file."},
        {tooLong, 1, ""}, // exactly at the limit, the last line without its end
        {tooLong + "x", 0,
         "quorvane.cfg is larger than 64 KiB and line 1 does not end within its first 64 KiB; "
         "lines 1 to 17 were not read and take the values of a new settings file."},
    };
    for (const auto& c : cases) {
        write(c.text);
        const SettingsReadResult r = ReadSettingsFile(path);
        EXPECT_EQ(r.status, SettingsReadResult::Read);
        EXPECT_EQ(r.lines.size(), c.lines) << c.warning;
        EXPECT_EQ(r.warning, c.warning);
    }
}

#ifndef _WIN32
TEST(SettingsFile, AnEndlessFileIsReadOnlyUpToTheLimit) {
    const SettingsReadResult r = ReadSettingsFile("/dev/zero");
    EXPECT_EQ(r.status, SettingsReadResult::Read);
    EXPECT_NE(r.warning.find("larger than 64 KiB"), std::string::npos) << r.warning;
}
#endif

TEST_F(SettingsFolder, LineBreakInAnyLineIsRefusedAndTheOldFileKept) {
    write("old settings\r\n");
    for (const char* lineBreak : {"\n", "\r", "\r\n"}) {
        for (int line : {LastFolderLine, GotoYLine, DisableLimitsLine}) {
            SettingsLines lines = DefaultSettingsLines("/w");
            lines[static_cast<std::size_t>(line)] += std::string(lineBreak) + "20";
            std::string error;
            EXPECT_FALSE(WriteSettingsFile(path, lines, &error));
            EXPECT_EQ(error, "line " + std::to_string(line + 1) +
                                 " holds a line break, which would shift every later line");
            EXPECT_EQ(read(), "old settings\r\n");
        }
    }
    EXPECT_TRUE(HoldsLineBreak("a\rb"));
    EXPECT_FALSE(HoldsLineBreak("/home/op/parts"));
}

TEST(SettingsFile, WriteIntoAMissingFolderFailsWithAReason) {
    std::string error;
    EXPECT_FALSE(WriteSettingsFile("/nonexistent-quorvane-folder/quorvane.cfg",
                                   DefaultSettingsLines("/"), &error));
    EXPECT_NE(error.find("nonexistent-quorvane-folder"), std::string::npos);
}

TEST(PwDelay, ComputedFromPulsesPerMm) {
    EXPECT_EQ(PwDelayFromPulsesPerMm("533.333"), "57150");
    EXPECT_EQ(PwDelayFromPulsesPerMm("533.33"), "57150.3214707592");
    EXPECT_EQ(PwDelayFromPulsesPerMm("1000"), "30479.98095");
    EXPECT_EQ(PwDelayFromPulsesPerMm("266.6665"), "114300");
    EXPECT_EQ(PwDelayFromPulsesPerMm(" 533.333 "), "57150");
}

TEST(PwDelay, NoValueForTextsThatAreNoNumberOrZero) {
    for (const char* text : {"", "abc", "533,33", "0", "-0", "0.0", "1e999", "5 33"}) {
        EXPECT_FALSE(PwDelayFromPulsesPerMm(text).has_value()) << text;
    }
    EXPECT_EQ(PwDelayFromPulsesPerMm("-533.333"), "-57150");
}

TEST(DataFolder, FallsBackOnlyWhenTheProgramFolderCannotBeWritten) {
    EXPECT_EQ(ChooseDataFolder("/opt/q", true, "/home/u/.config/Quorvane").folder, "/opt/q");
    const DataFolderChoice fallback = ChooseDataFolder("/opt/q", false, "/home/u/.config/Quorvane");
    EXPECT_TRUE(fallback.usesFallback);
    EXPECT_EQ(fallback.folder, "/home/u/.config/Quorvane");
    EXPECT_FALSE(ChooseDataFolder("/opt/q", false, "").usesFallback);
}
