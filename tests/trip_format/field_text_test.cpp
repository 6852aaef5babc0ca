// Numbers and times in the forms a trip's files write them, read back by the other side.

#include "trip_format/field_text.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <wx/datetime.h>

namespace {

TEST(record_time, reads_back_as_the_index_writes_it_and_unknown_stays_unknown) {
    const int64_t moment = 1767348000; // 2026-01-02, a winter date: no summer time to mislead
    const std::string written = record_time_text(moment);
    EXPECT_EQ(
        written,
        wxDateTime(static_cast<time_t>(moment)).Format(wxDefaultDateTimeFormat).utf8_string());
    EXPECT_EQ(record_time_seconds(written), moment) << written;
    EXPECT_EQ(record_time_text(-1), "");
    EXPECT_EQ(record_time_seconds(""), std::nullopt);
    EXPECT_EQ(record_time_seconds("вчера"), std::nullopt);
    EXPECT_EQ(record_time_seconds(written + " and more"), std::nullopt)
        << "the whole text or nothing";
}

TEST(number_fields, six_decimals_with_a_full_stop_and_whole_fields_only) {
    EXPECT_EQ(six_decimals(126740.5), "126740.500000");
    EXPECT_EQ(six_decimals(-0.25), "-0.250000");
    double value = 0.0;
    EXPECT_TRUE(parse_field("126740.500000", value));
    EXPECT_DOUBLE_EQ(value, 126740.5);
    int32_t whole = 0;
    EXPECT_TRUE(parse_field("-17", whole));
    EXPECT_EQ(whole, -17);
    EXPECT_FALSE(parse_field("", value));
    EXPECT_FALSE(parse_field("12x", whole)) << "something left over";
    EXPECT_FALSE(parse_field(" 12", whole));
    EXPECT_FALSE(parse_field("99999999999", whole)) << "out of range";
}

} // namespace
