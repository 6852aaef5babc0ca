#include "position/track_position.h"

#include <ctime>
#include <gtest/gtest.h>
#include <utility>

namespace {

position_fix sample_fix() {
    position_fix fix;
    fix.server_value = -7;
    fix.abs = 123456.5;
    fix.km = 123;
    fix.m = 456.5;
    fix.dir = "240101";
    fix.way = "2";
    fix.pch = "\xCF\xD7-12"; // "ПЧ-12" in Windows-1251
    fix.peregon = "A - B";
    return fix;
}

void expect_default_texts(const TrackPosition& position) {
    EXPECT_EQ(position.dir, "000000");
    EXPECT_EQ(position.way, "0");
    EXPECT_EQ(position.pch, "0");
    EXPECT_EQ(position.peregon, "0");
}

TEST(track_position, defaults_and_no_fix_record_differ_only_in_frame_and_time) {
    const std::time_t before = std::time(nullptr);
    const TrackPosition defaults;
    const TrackPosition no_fix(42);
    const std::time_t after = std::time(nullptr);

    for (const TrackPosition* position : {&defaults, &no_fix}) {
        EXPECT_GE(position->time, before);
        EXPECT_LE(position->time, after);
        EXPECT_EQ(position->server_value, 0);
        EXPECT_EQ(position->abs, 0.0);
        EXPECT_EQ(position->km, 0);
        EXPECT_EQ(position->m, 0.0);
        EXPECT_FALSE(position->has_fix);
        expect_default_texts(*position);
    }
    EXPECT_EQ(defaults.frame, 0);
    EXPECT_EQ(no_fix.frame, 42);
}

TEST(track_position, fix_record_takes_every_decoded_field) {
    const TrackPosition position(9, sample_fix());
    EXPECT_EQ(position.frame, 9);
    EXPECT_EQ(position.server_value, -7);
    EXPECT_EQ(position.abs, 123456.5);
    EXPECT_EQ(position.km, 123);
    EXPECT_EQ(position.m, 456.5);
    EXPECT_EQ(position.dir, "240101");
    EXPECT_EQ(position.way, "2");
    EXPECT_EQ(position.pch, "\xCF\xD7-12");
    EXPECT_EQ(position.peregon, "A - B");
    EXPECT_TRUE(position.has_fix);
}

TEST(track_position, copies_share_nothing) {
    TrackPosition origin(3, sample_fix());
    const TrackPosition queued = origin;
    TrackPosition assigned;
    assigned = origin;

    origin.frame = 4;
    origin.abs = 1.0;
    origin.pch[0] = 'X';
    origin.peregon += " changed";

    for (const TrackPosition* copy : {&queued, static_cast<const TrackPosition*>(&assigned)}) {
        EXPECT_EQ(copy->frame, 3);
        EXPECT_EQ(copy->abs, 123456.5);
        EXPECT_EQ(copy->pch, "\xCF\xD7-12");
        EXPECT_EQ(copy->peregon, "A - B");
    }
}

TEST(track_position, move_takes_texts_and_leaves_source_texts_empty) {
    TrackPosition source(5, sample_fix());
    const TrackPosition moved(std::move(source));
    EXPECT_EQ(moved.frame, 5);
    EXPECT_EQ(moved.abs, 123456.5);
    EXPECT_EQ(moved.dir, "240101");
    EXPECT_EQ(moved.peregon, "A - B");
    EXPECT_TRUE(moved.has_fix);
    // The moved-from record keeps its numbers but has empty texts, not the default ones.
    EXPECT_EQ(source.frame, 5);
    EXPECT_EQ(source.km, 123);
    EXPECT_TRUE(source.dir.empty());
    EXPECT_TRUE(source.way.empty());
    EXPECT_TRUE(source.pch.empty());
    EXPECT_TRUE(source.peregon.empty());

    TrackPosition target(1, sample_fix());
    TrackPosition defaults;
    target = std::move(defaults);
    expect_default_texts(target);
    EXPECT_EQ(target.frame, 0);
    EXPECT_FALSE(target.has_fix);
    EXPECT_TRUE(defaults.dir.empty());
    EXPECT_TRUE(defaults.peregon.empty());
}

} // namespace
