// The frame index as another program reads it: python3's XML parser, attribute order, number
// and time formats, and saves that survive at every moment.

#include "recording/frame_index.h"
#include "recording_test_support.h"

#include <clocale>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

std::string c_locale_time(time_t time) {
    char text[128];
    std::strftime(text, sizeof text, "%c", std::localtime(&time));
    return text;
}

class FrameIndexTest : public testing::Test {
protected:
    scratch_folder folder;
    std::string index_path = folder.path() + "/data.idx";
};

TEST_F(FrameIndexTest, AttributesComeInOrderWithTheirFormats) {
    {
        FrameIndex index;
        index.set_path(wxString::FromUTF8(index_path));
        TrackPosition p(42);
        p.abs = 123456.789;
        p.km = 12;
        p.m = 345.6;
        p.time = 1714566605;
        index.add(wxString::FromUTF8("123456-1_0012_км.avi"), 7, p);
        p.time = -1;
        p.km = -3;
        p.m = -0.25;
        index.add("b.avi", 8, p);
    }
    const auto frames = parse_index(index_path);
    ASSERT_EQ(frames.size(), 2u);
    const std::vector<std::pair<std::string, std::string>> first = {
        {"file", "123456-1_0012_км.avi"},   {"frame_in_file", "7"}, {"frame", "42"},
        {"abscoord", "123456.789000"},      {"km", "12"},           {"m", "345.600000"},
        {"time", c_locale_time(1714566605)}};
    EXPECT_EQ(frames[0].attributes, first);
    EXPECT_EQ(frames[1]["time"], "");
    EXPECT_EQ(frames[1]["km"], "-3");
    EXPECT_EQ(frames[1]["m"], "-0.250000");

    // One element per line, two spaces per level, as the toolkit's writer lays it out.
    const std::string text = read_file_text(index_path);
    EXPECT_NE(text.find("\n<section>\n  <frame file=\"123456-1_0012_км.avi\" frame_in_file=\"7\""),
              std::string::npos)
        << text;
}

TEST_F(FrameIndexTest, FramesKeepTheOrderOfWritingAcrossFiles) {
    {
        FrameIndex index;
        index.set_path(wxString::FromUTF8(index_path));
        for (int i = 0; i < 3; ++i)
            index.add("first.avi", i, position_at(i, 12, 10.0 * i));
        index.add("second.avi", 0, position_at(3, 13, 0));
        EXPECT_EQ(index.frames(), 4u);
    }
    const auto frames = parse_index(index_path);
    ASSERT_EQ(frames.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[i]["file"], "first.avi");
        EXPECT_EQ(frames[i]["frame_in_file"], std::to_string(i));
        EXPECT_EQ(frames[i]["frame"], std::to_string(i));
    }
    EXPECT_EQ(frames[3]["file"], "second.avi");
    EXPECT_EQ(frames[3]["frame_in_file"], "0");
    EXPECT_EQ(frames[3]["km"], "13");
}

TEST_F(FrameIndexTest, ATripWithoutFramesHasAnEmptySection) {
    {
        FrameIndex index;
        index.set_path(wxString::FromUTF8(index_path));
    }
    EXPECT_TRUE(parse_index(index_path).empty());
    const std::string text = read_file_text(index_path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u) << text;
    EXPECT_NE(text.find("<section/>"), std::string::npos) << text;
}

TEST_F(FrameIndexTest, FileNamesAreEscapedAsXmlRequires) {
    const std::string awkward = "a&b <c> \"d\" 'e' Перегон.png";
    {
        FrameIndex index;
        index.set_path(wxString::FromUTF8(index_path));
        index.add(wxString::FromUTF8(awkward), 0, position_at(0, 1, 2));
    }
    const auto frames = parse_index(index_path);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]["file"], awkward);
}

TEST_F(FrameIndexTest, NumbersKeepAFullStopUnderACommaLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    {
        FrameIndex index;
        index.set_path(wxString::FromUTF8(index_path));
        index.add("a.png", 0, position_at(0, 1, 2.5));
    }
    std::setlocale(LC_NUMERIC, previous.c_str());
    const auto frames = parse_index(index_path);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]["m"], "2.500000");
    EXPECT_EQ(frames[0]["abscoord"], "1002.500000");
}

TEST_F(FrameIndexTest, SavesWhileFramesComeOnceTheIntervalHasPassed) {
    FrameIndex index;
    index.set_path(wxString::FromUTF8(index_path));
    index.set_save_interval(std::chrono::hours(1));
    index.add("a.png", 0, position_at(0, 1, 0));
    EXPECT_FALSE(std::filesystem::exists(index_path)) << "saved before the interval passed";

    index.set_save_interval(std::chrono::milliseconds(0));
    for (int i = 1; i <= 3; ++i) {
        index.add("a.png", 0, position_at(i, 1, i));
        EXPECT_EQ(parse_index(index_path).size(), static_cast<size_t>(i + 1));
    }
    EXPECT_EQ(scratch_folder::entries(folder.path()), std::vector<std::string>{"data.idx"})
        << "a temporary file was left behind";
}

TEST_F(FrameIndexTest, SavesInPlaceWriteTheBytesOfOneWholeSave) {
    // File names of every length move the records' ends through every place of a memory
    // page, the ends of pages included.
    const auto record = [](FrameIndex& index, int i) {
        TrackPosition p = position_at(i, i / 7, i % 1000);
        p.time = 1714566605 + i;
        return index.add(wxString::Format("f%s.avi", std::string(i % 97, 'x')), i % 11, p);
    };
    constexpr int frames = 1200;
    scratch_folder whole_folder;
    const std::string whole_path = whole_folder.path() + "/data.idx";
    {
        FrameIndex whole;
        whole.set_path(wxString::FromUTF8(whole_path));
        whole.set_save_interval(std::chrono::hours(1));
        for (int i = 0; i < frames; ++i)
            record(whole, i);
    }
    const std::string expected = read_file_text(whole_path);
    const std::string closing = "</section>\n";

    FrameIndex index;
    index.set_path(wxString::FromUTF8(index_path));
    index.set_save_interval(std::chrono::milliseconds(0));
    int held_back = 0;
    for (int i = 0; i < frames; ++i) {
        ASSERT_TRUE(record(index, i));
        // Saved at every frame: the newest record at most waits for the next save.
        const std::string text = read_file_text(index_path);
        ASSERT_GE(text.size(), closing.size());
        const size_t records_end = text.size() - closing.size();
        ASSERT_EQ(text.substr(records_end), closing) << "after frame " << i;
        ASSERT_EQ(text.compare(0, records_end, expected, 0, records_end), 0) << "after frame " << i;
        const std::string next = "<frame file=\"f" + std::string(i % 97, 'x') + ".avi\"";
        if (text.find(next, records_end - next.size() - 200) == std::string::npos)
            ++held_back;
    }
    EXPECT_TRUE(index.close());
    EXPECT_EQ(read_file_text(index_path), expected);
    // The ends of pages were met, and each time one record waited for the next frame.
    EXPECT_GT(held_back, 0);
    EXPECT_LT(held_back, frames / 50);
    EXPECT_EQ(parse_index(index_path).size(), static_cast<size_t>(frames));
}

TEST_F(FrameIndexTest, AFailedSaveKeepsThePreviousIndexAndIsTriedAgain) {
    FrameIndex index;
    index.set_path(wxString::FromUTF8(index_path));
    index.set_save_interval(std::chrono::hours(1));
    index.add("a.png", 0, position_at(0, 1, 0));
    ASSERT_TRUE(index.save());
    EXPECT_FALSE(index.failing());

    // The index is taken away (a disk pulled out and put back): saves fail meanwhile.
    const std::string away = folder.path() + "/away.idx";
    std::filesystem::rename(index_path, away);
    std::filesystem::create_directory(index_path);
    index.add("b.png", 0, position_at(1, 1, 0));
    EXPECT_FALSE(index.save());
    EXPECT_TRUE(index.failing());
    index.add("c.png", 0, position_at(2, 1, 0));
    EXPECT_FALSE(index.save());

    std::filesystem::remove(index_path);
    std::filesystem::rename(away, index_path);
    EXPECT_EQ(parse_index(index_path).size(), 1u);
    EXPECT_TRUE(index.save());
    EXPECT_FALSE(index.failing());
    const auto frames = parse_index(index_path);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2]["file"], "c.png");
}

TEST_F(FrameIndexTest, AnIndexChangedBehindItsBackIsLeftAlone) {
    FrameIndex index;
    index.set_path(wxString::FromUTF8(index_path));
    index.set_save_interval(std::chrono::hours(1));
    index.add("a.png", 0, position_at(0, 1, 0));
    ASSERT_TRUE(index.save());
    // Someone else writes a shorter file of that name: appending to it would corrupt it.
    std::ofstream(index_path, std::ios::binary) << "<?xml version=\"1.0\"?>\n<other/>\n";
    index.add("b.png", 0, position_at(1, 1, 0));
    EXPECT_FALSE(index.save());
    EXPECT_EQ(read_file_text(index_path), "<?xml version=\"1.0\"?>\n<other/>\n");
}

TEST_F(FrameIndexTest, WhatACutSaveLeftBehindTheSectionIsDroppedByTheNextSave) {
    FrameIndex index;
    index.set_path(wxString::FromUTF8(index_path));
    index.set_save_interval(std::chrono::hours(1));
    index.add("a.png", 0, position_at(0, 1, 0));
    ASSERT_TRUE(index.save());
    const std::string saved = read_file_text(index_path);
    // As a save killed while it staged the next records leaves it: blanks and processing
    // instructions after the root, which readers pass over.
    std::ofstream(index_path, std::ios::binary | std::ios::app)
        << "<?k   half-written records  <?z ?>";
    ASSERT_EQ(parse_index(index_path).size(), 1u);
    index.add("b.png", 0, position_at(1, 1, 0));
    ASSERT_TRUE(index.save());
    const std::string text = read_file_text(index_path);
    EXPECT_EQ(text.substr(0, saved.size() - 11), saved.substr(0, saved.size() - 11));
    EXPECT_EQ(text.substr(text.size() - 11), "</section>\n");
    EXPECT_EQ(text.find("<?k"), std::string::npos);
    EXPECT_EQ(parse_index(index_path).size(), 2u);
}

} // namespace
