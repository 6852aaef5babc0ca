// Template expansion: the worked examples, number formats and the consequences of replacing
// the placeholders one after another in a fixed order.

#include "position/track_position.h"

#include <gtest/gtest.h>

namespace {

TrackPosition example() {
    TrackPosition p;
    p.frame = 42;
    p.abs = 123456.789;
    p.km = 12;
    p.m = 345.6;
    p.dir = "123456";
    p.way = "1";
    p.pch = "7";
    p.peregon = "2";
    return p;
}

std::string expand(const TrackPosition& p, const char* pattern) {
    return p.expand(wxString::FromUTF8(pattern)).utf8_string();
}

TEST(Expand, WorkedExamples) {
    const TrackPosition p = example();
    EXPECT_EQ(expand(p, "%frame_%dir-%way_%km-%m"), "00000042_123456-1_0012-346");
    EXPECT_EQ(expand(p, "%dir-%way %km:%m [%peregon]"), "123456-1 0012:346 [2]");
    EXPECT_EQ(expand(p, "%dir-%way_%km_км"), "123456-1_0012_км");
    EXPECT_EQ(expand(p, "%dir-%way_ПЧ-%pch"), "123456-1_ПЧ-7");
    EXPECT_EQ(expand(p, "%abs"), "123456.79");
    EXPECT_EQ(expand(p, "%pch%peregon"), "72");
}

TEST(Expand, TextWithoutPlaceholdersComesBackUnchanged) {
    const TrackPosition p = example();
    EXPECT_EQ(expand(p, ""), "");
    EXPECT_EQ(expand(p, "Котел: запись"), "Котел: запись");
    EXPECT_EQ(expand(p, "%s %Y %x %% %KM %M %FRAME %"), "%s %Y %x %% %KM %M %FRAME %");
}

TEST(Expand, NumbersArePaddedButNeverCut) {
    TrackPosition p = example();
    p.km = -3;
    p.frame = -5;
    EXPECT_EQ(expand(p, "%km %frame"), "-003 -0000005");
    p.km = 12345;
    p.frame = 123456789;
    EXPECT_EQ(expand(p, "%km %frame"), "12345 123456789");
    p.km = -2147483647 - 1;
    EXPECT_EQ(expand(p, "%km"), "-2147483648");
}

TEST(Expand, MetresAreRoundedWithoutCarryIntoTheKilometre) {
    TrackPosition p = example();
    p.m = 999.6;
    EXPECT_EQ(expand(p, "%km:%m"), "0012:1000");
    p.m = 345.4;
    EXPECT_EQ(expand(p, "%m"), "345");
    p.abs = -0.004;
    EXPECT_EQ(expand(p, "%abs"), "-0.00");
}

TEST(Expand, EveryOccurrenceIsReplaced) {
    const TrackPosition p = example();
    EXPECT_EQ(expand(p, "%km%km %m/%m %frame%frame"), "00120012 346/346 0000004200000042");
}

TEST(Expand, KilometreGoesBeforeMetreSoItsLetterIsNeverRead) {
    const TrackPosition p = example();
    EXPECT_EQ(expand(p, "%kmm"), "0012m");
    EXPECT_EQ(expand(p, "%%km"), "%0012");
    EXPECT_EQ(expand(p, "%mm"), "346m");
    EXPECT_EQ(expand(p, "%Y.%m.%d"), "%Y.346.%d");
    EXPECT_EQ(expand(p, "%%m"), "%346");
}

TEST(Expand, ValuesAreSearchedByLaterStepsOnly) {
    TrackPosition p = example();
    p.dir = "%way";
    p.pch = "%m";
    p.peregon = "%km %m %dir";
    EXPECT_EQ(expand(p, "%dir|%pch|%peregon"), "1|346|%km %m %dir");

    // A value is not searched again by its own step, nor by the steps before it.
    p = example();
    p.way = "%way%frame%abs";
    EXPECT_EQ(expand(p, "%way"), "%way%frame%abs");

    // Template text and an inserted value can meet to form a later placeholder.
    p = example();
    p.dir = "%";
    EXPECT_EQ(expand(p, "%dirway"), "1");
    p.dir = "%k";
    EXPECT_EQ(expand(p, "%dirm"), "0012");
}

TEST(Expand, DefaultRecordAndEmptyTexts) {
    const TrackPosition defaults;
    EXPECT_EQ(expand(defaults, "%frame_%dir-%way_%km-%m"), "00000000_000000-0_0000-0");
    EXPECT_EQ(expand(defaults, "%dir-%way_%pch-%peregon"), "000000-0_0-0");

    TrackPosition empty = example();
    empty.dir.clear();
    empty.way.clear();
    EXPECT_EQ(expand(empty, "%dir-%way"), "-");
}

TEST(Expand, ServerTextsReachTheResultAsTheyWereSent) {
    TrackPosition p = example();
    p.peregon = "Москва-Тверь";
    p.dir = "A/B:C\\D";
    EXPECT_EQ(expand(p, "%dir [%peregon]"), "A/B:C\\D [Москва-Тверь]");
    // The server's own machine sends Windows-1251: "Пч" as two bytes.
    p.pch = "\xcf\xf7";
    EXPECT_EQ(expand(p, "%pch"), "Пч");
}

} // namespace
