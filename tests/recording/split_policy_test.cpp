// Split decisions: when a video file ends and the next one begins.

#include "recording/split_policy.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>

namespace {

TrackPosition at(int km, const char* peregon = "0", const char* pch = "0") {
    TrackPosition p;
    p.has_fix = true;
    p.km = km;
    p.peregon = peregon;
    p.pch = pch;
    return p;
}

// Feeds the positions one by one, as the video writer does while a file is open, and returns
// the indices of the positions that start a new file.
std::vector<size_t> splits(const char* policy_text, const std::vector<TrackPosition>& trip) {
    split_policy policy(wxString::FromUTF8(policy_text));
    std::vector<size_t> starts;
    for (size_t i = 1; i < trip.size(); ++i)
        if (policy.split_between(trip[i - 1], trip[i]))
            starts.push_back(i);
    return starts;
}

using starts = std::vector<size_t>;

TEST(SplitPolicy, EveryKilometre) {
    EXPECT_EQ(splits("1 километр", {at(12), at(12), at(13), at(13), at(11), at(20)}),
              (starts{2, 4, 5}));
}

TEST(SplitPolicy, EveryFifthAndTenthChangeOfKilometre) {
    std::vector<TrackPosition> trip;
    for (int km = 1; km <= 21; ++km) {
        trip.push_back(at(km));
        trip.push_back(at(km));
    }
    // The change to km 6 is the fifth, to 11 the tenth; repeats of a kilometre count nothing.
    EXPECT_EQ(splits("5 километров", trip), (starts{10, 20, 30, 40}));
    EXPECT_EQ(splits("10 километров", trip), (starts{20, 40}));
    // A step back and a jump count one change each.
    EXPECT_EQ(splits("5 километров", {at(1), at(2), at(1), at(40), at(39), at(38), at(38)}),
              (starts{5}));
}

TEST(SplitPolicy, SectionAndDistanceIgnoreKilometres) {
    const std::vector<TrackPosition> trip = {at(1, "A", "7"), at(1, "B", "7"), at(2, "B", "7"),
                                             at(2, "B", "8"), at(2, "b", "8")};
    EXPECT_EQ(splits("Перегон", trip), (starts{1, 4}));
    EXPECT_EQ(splits("Дистанция", trip), (starts{3}));
}

TEST(SplitPolicy, WholeTripAndUnknownTextsNeverSplit) {
    const std::vector<TrackPosition> trip = {at(1, "A", "1"), at(2, "B", "2"), at(3, "C", "3")};
    for (const char* text : {"Вся поездка", "перегон", "1 Километр", "", "AVI"}) {
        EXPECT_TRUE(splits(text, trip).empty()) << text;
        EXPECT_EQ(split_policy(wxString::FromUTF8(text)).name_template(), "%dir-%way") << text;
    }
}

// Offers every frame of the trip as the video writer does, which opens the first file with
// the first frame and starts counting kilometres anew with each file; returns the indices of
// the frames that start a further file.
std::vector<size_t> splits_before(const char* policy_text, const std::vector<TrackPosition>& trip) {
    split_policy policy(wxString::FromUTF8(policy_text));
    std::vector<size_t> starts;
    for (size_t i = 0; i < trip.size(); ++i) {
        const bool split = policy.split_before(trip[i]);
        if (split && i > 0)
            starts.push_back(i);
        if (split || i == 0)
            policy.restart();
    }
    return starts;
}

TEST(SplitPolicy, FramesWithoutAFixNeverSplitAndAreNotCompared) {
    const TrackPosition no_fix(0);
    // The trip begins without a fix: the first fix starts a file named after its place. Later
    // no-fix frames (km 0, default texts) between fixes of one kilometre, section and distance
    // split nothing until a fix really differs from the last fix.
    const std::vector<TrackPosition> trip = {no_fix,           at(12, "A", "7"), no_fix,
                                             at(12, "A", "7"), no_fix,           no_fix,
                                             at(13, "A", "7"), no_fix,           at(13, "B", "8")};
    EXPECT_EQ(splits_before("1 километр", trip), (starts{1, 6}));
    EXPECT_EQ(splits_before("Перегон", trip), (starts{1, 8}));
    EXPECT_EQ(splits_before("Дистанция", trip), (starts{1, 8}));
    EXPECT_TRUE(splits_before("Вся поездка", trip).empty());

    // Changes of kilometre are counted between fixes only: km 1 to 6 with a no-fix frame after
    // each make five changes, the fifth at km 6.
    std::vector<TrackPosition> kilometres;
    for (int km = 1; km <= 6; ++km) {
        kilometres.push_back(at(km));
        kilometres.push_back(no_fix);
    }
    EXPECT_EQ(splits_before("5 километров", kilometres), (starts{10}));
}

} // namespace
