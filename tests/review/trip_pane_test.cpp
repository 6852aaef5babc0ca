// The trip pane's reading, playback and pictures: a 100,000-record trip opens while the GUI keeps
// ticking, marks written while a trip is open reach its list, playback at the recorded pace runs
// to either end and Space starts and stops it, both cameras of a run follow one place, earlier
// passes of the place are listed and shown, and "Снимок" saves what the pane shows.

#include "app/kestrel.h"
#include "app/kestrel_frame.h"
#include "recording/video_file_writer_avi.h"
#include "review/frame_view.h"
#include "review/loaded_trip.h"
#include "review/playback_timeline.h"
#include "review/trip_browser.h"
#include "review/trip_picture_panel.h"
#include "tests/app/app_test_support.h"
#include "tests/support/gui_test.h"
#include "trip_format/trip_marks.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/timer.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using app_test::utf8;
using test_support::pump_events_until;

namespace {

const cv::Size picture_size(320, 240);
// 2026-01-02 10:00:00 UTC: the runs' clock.
constexpr int64_t run_start = 1767348000;

// One frame of a test trip: where, when, and which picture.
struct trip_frame {
    double abs = 0.0;
    int64_t time = 0;
};

TrackPosition position_of(int number, const trip_frame& frame) {
    TrackPosition position(number);
    position.abs = frame.abs;
    position.km = static_cast<int32_t>(frame.abs / 1000);
    position.m = frame.abs - position.km * 1000.0;
    position.time = frame.time;
    position.dir = "1";
    position.way = "2";
    position.pch = "5";
    position.peregon = utf8("Аз-Бук").utf8_string();
    position.has_fix = true;
    return position;
}

// Records the frames as one MJPEG trip of `camera` with the recorder's own writer, in the
// folder name given; `seed` tells one trip's pictures from another's.
fs::path record_trip(const std::string& home, const std::string& folder_name, const char* camera,
                     const std::vector<trip_frame>& frames, int seed) {
    const std::string scratch = home + "/scratch";
    fs::create_directories(scratch);
    {
        video_file_writer_avi writer(wxString("MJPEG"), utf8(camera), utf8("Вся поездка"));
        if (!writer.open(wxString::FromUTF8(scratch)))
            throw std::runtime_error("the trip folder was not made");
        for (size_t i = 0; i < frames.size(); ++i)
            writer.write(
                media::video_frame::from_rgb(test_support::camera_like_picture(
                    picture_size.width, picture_size.height, seed + static_cast<int>(i), 4.0)),
                position_of(1000 + static_cast<int>(i), frames[i]));
        writer.close();
    }
    const fs::path made = app_test::trip_folders(scratch).front();
    const fs::path named = fs::path(home) / fs::u8path(folder_name);
    fs::rename(made, named);
    return named;
}

// `count` frames 5 m apart from `first_abs` (backwards when `step` is negative), `per_second`
// frames in each second from `start`.
std::vector<trip_frame> run_frames(int count, double first_abs, double step, int64_t start,
                                   int per_second) {
    std::vector<trip_frame> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back({first_abs + step * i, start + i / per_second});
    return frames;
}

bool idle(const trip_browser& browser) {
    return pump_events_until([&] { return !browser.busy(); }, 60s);
}

void select_row(wxListCtrl& list, long row) {
    list.SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                      wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    test_support::pump_pending_events();
}

long row_of(const trip_browser& browser, const fs::path& folder) {
    for (size_t row = 0; row < browser.trips().size(); ++row)
        if (browser.trips()[row].folder == folder)
            return static_cast<long>(row);
    return -1;
}

void press(trip_browser& browser, int key_code) {
    wxKeyEvent key(wxEVT_CHAR_HOOK);
    key.m_keyCode = key_code;
    key.SetEventObject(&browser);
    browser.GetEventHandler()->ProcessEvent(key);
}

double abs_shown(const trip_picture_panel& panel) {
    return panel.trip()->index.records().at(panel.current_record().value()).abs;
}

class trip_pane : public testing::Test {
protected:
    void TearDown() override {
        if (frame != nullptr)
            test_support::destroy_window(frame);
        for (const auto& box : boxes.dialogs())
            ADD_FAILURE() << "unexpected message: " << box.message.utf8_string();
    }

    kestrel_frame& start() {
        app_test::write_settings(home.path(),
                                 {{"dpp_port", "/dev/kestrel-test-no-such-port"},
                                  {"write_path", home.path()},
                                  {"format_subs", "%frame %dir-%way %km:%m [%peregon]"}});
        frame = start_main_window();
        if (frame == nullptr)
            throw std::runtime_error("the main window did not start");
        pump_events_until([&] { return frame->IsShownOnScreen(); });
        return *frame;
    }

    trip_browser& open_browser() {
        app_test::send_command(*frame, ID_TRIPS);
        auto* const browser =
            dynamic_cast<trip_browser*>(frame->panes().GetPane(utf8("Поездки")).window);
        if (browser == nullptr)
            throw std::runtime_error("no trip pane");
        pump_events_until([&] { return browser->picture().GetClientSize().x > 50; });
        return *browser;
    }

    // Opens the trip and waits until it (and its pair) is shown.
    void open(trip_browser& browser, const fs::path& folder) {
        const long row = row_of(browser, folder);
        ASSERT_GE(row, 0) << folder;
        select_row(*browser.trip_list(), row);
        ASSERT_TRUE(idle(browser));
        ASSERT_TRUE(browser.lead_picture().trip());
        ASSERT_EQ(browser.lead_picture().trip()->folder, folder);
    }

    test_support::temporary_home home;
    test_support::message_box_catcher boxes;
    kestrel_frame* frame = nullptr;
};

TEST(playback_pace, frames_of_a_second_share_it_pauses_are_shortened_unknown_times_take_25_fps) {
    // Four frames in second 0, two in second 1, one in second 2, a 60 s stop, then two more.
    const playback_timeline timeline({100, 100, 100, 100, 101, 101, 102, 162, 162});
    ASSERT_EQ(timeline.size(), 9u);
    const std::vector<int64_t> expected = {0, 250, 500, 750, 1000, 1500, 2000, 4000, 4500};
    for (size_t record = 0; record < expected.size(); ++record)
        EXPECT_EQ(timeline.position_of(record), expected[record]) << record;
    EXPECT_EQ(timeline.record_at(-5), 0u);
    EXPECT_EQ(timeline.record_at(499), 1u);
    EXPECT_EQ(timeline.record_at(500), 2u);
    EXPECT_EQ(timeline.record_at(1000000), 8u);

    const playback_timeline untimed({-1, -1, -1, 50, 49});
    EXPECT_EQ(untimed.position_of(1), playback_timeline::nominal_step_ms);
    EXPECT_EQ(untimed.position_of(4), 4 * playback_timeline::nominal_step_ms)
        << "time running back takes the nominal pace";
    EXPECT_EQ(playback_timeline().record_at(10), 0u);
}

TEST_F(trip_pane, a_trip_of_100000_records_opens_while_the_gui_keeps_ticking) {
    constexpr int video_frames = 24;
    constexpr int records = 100000;
    const fs::path trip = record_trip(home.path(), "2026.01.02 10.00.00[Котел]", "Котел",
                                      run_frames(video_frames, 126000, 5, run_start, 4), 1);
    const std::string video =
        fs::path(test_support::files_with_extension(trip.string(), ".avi").at(0))
            .filename()
            .string();
    {
        // The same few frames listed again and again: an index as long as a day's trip, laid out
        // as the recorder writes it (written here directly: the recorder's one save of 100,000
        // records crawls in a sanitizer build).
        std::ofstream index(trip / "data.idx", std::ios::binary | std::ios::trunc);
        index << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<section>\n";
        for (int i = 0; i < records; ++i) {
            const TrackPosition at = position_of(i, {100000.0 + i, run_start + i / 25});
            index << wxString::Format(
                         "  <frame file=\"%s\" frame_in_file=\"%d\" frame=\"%d\" "
                         "abscoord=\"%f\" km=\"%d\" m=\"%f\" time=\"%s\"/>\n",
                         wxString::FromUTF8(video), i % video_frames, i, at.abs, at.km, at.m,
                         wxDateTime(static_cast<time_t>(at.time)).Format(wxDefaultDateTimeFormat))
                         .utf8_string();
        }
        index << "</section>\n";
        ASSERT_TRUE(index.good());
    }

    start();
    // Ticking from when the pane stands: its list (the catalogue reading that index) and the
    // trip's opening both come while the probe runs.
    trip_browser& browser = open_browser();
    test_support::gui_tick_probe probe;
    probe.Start(20);
    ASSERT_TRUE(idle(browser));
    ASSERT_EQ(browser.trips().size(), 1u) << browser.note();
    EXPECT_EQ(browser.trips()[0].frames, static_cast<size_t>(records));
    open(browser, trip);
    probe.Stop();
    EXPECT_LT(probe.longest_gap(), test_support::gui_answer_bound);
    EXPECT_EQ(browser.index().records().size(), static_cast<size_t>(records));
    EXPECT_FALSE(browser.picture().shown().empty()) << browser.note();
    press(browser, WXK_END);
    EXPECT_EQ(browser.current_record(), static_cast<size_t>(records - 1));
    EXPECT_FALSE(browser.picture().shown().empty()) << browser.note();
}

TEST_F(trip_pane, marks_written_while_a_trip_is_open_reach_its_list) {
    const fs::path trip = record_trip(home.path(), "2026.01.02 10.00.00[Котел]", "Котел",
                                      run_frames(20, 126600, 5, run_start, 5), 1);
    start();
    trip_browser& browser = open_browser();
    ASSERT_TRUE(idle(browser));
    open(browser, trip);
    EXPECT_EQ(browser.mark_list()->GetCount(), 0u);

    // As F9 writes them while the camera records.
    ASSERT_TRUE(trip_marks::append(trip, position_of(1007, {126635, run_start + 1}), "first"));
    ASSERT_TRUE(pump_events_until([&] { return browser.mark_list()->GetCount() == 1; }));
    ASSERT_TRUE(trip_marks::append(trip, position_of(1012, {126660, run_start + 2}), "second"));
    ASSERT_TRUE(pump_events_until([&] { return browser.mark_list()->GetCount() == 2; }));
    EXPECT_TRUE(browser.mark_list()->GetString(1).EndsWith("second"));
    browser.go_to_mark(1);
    EXPECT_EQ(browser.current_record(), 12u);
}

TEST_F(trip_pane, playback_runs_at_the_recorded_pace_to_either_end_and_space_starts_and_stops) {
    // 40 frames, 20 a second: two seconds of playback, half a second at four times the pace.
    const fs::path trip = record_trip(home.path(), "2026.01.02 10.00.00[Котел]", "Котел",
                                      run_frames(40, 126600, 5, run_start, 20), 1);
    kestrel_frame& window = start();
    trip_browser& browser = open_browser();
    ASSERT_TRUE(idle(browser));
    open(browser, trip);
    ASSERT_EQ(browser.index().records().size(), 40u);

    press(browser, WXK_SPACE);
    EXPECT_TRUE(browser.playing());
    ASSERT_TRUE(pump_events_until([&] { return browser.current_record() >= size_t{3}; }));
    press(browser, WXK_SPACE);
    EXPECT_FALSE(browser.playing());
    const size_t paused_at = browser.current_record().value();
    test_support::pump_events_for(200ms);
    EXPECT_EQ(browser.current_record(), paused_at) << "a pause holds the frame";

    // Forward to the end, where playback stops by itself; every step goes on, never back.
    std::vector<size_t> seen;
    browser.play(1);
    ASSERT_TRUE(pump_events_until([&] {
        seen.push_back(browser.current_record().value());
        return !browser.playing();
    }));
    EXPECT_EQ(browser.current_record(), 39u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_FALSE(browser.picture().shown().empty());

    browser.set_fast(true);
    seen.clear();
    browser.play(-1);
    ASSERT_TRUE(pump_events_until([&] {
        seen.push_back(browser.current_record().value());
        return !browser.playing();
    }));
    EXPECT_EQ(browser.current_record(), 0u);
    EXPECT_TRUE(std::is_sorted(seen.rbegin(), seen.rend()));

    // A snapshot that cannot be written says so in red and leaves nothing behind.
    std::ofstream(fs::path(home.path()) / "snapshots") << "not a folder";
    EXPECT_TRUE(browser.take_snapshot().empty());
    const auto rows = app_test::journal_rows(window);
    const auto failed = app_test::rows_starting(rows, utf8("Не удается сохранить снимок"));
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(failed[0].error);
    EXPECT_TRUE(app_test::rows_starting(rows, utf8("Снимок: ")).empty());
}

TEST_F(trip_pane, both_cameras_of_a_run_follow_one_place_earlier_passes_are_listed_and_saved) {
    // This run: both cameras, km 126+600 onwards. An earlier run the other way over the same
    // place, and one that never came near it.
    const auto now_frames = run_frames(60, 126600, 5, run_start, 5);
    const fs::path boiler =
        record_trip(home.path(), "2026.01.02 10.00.00[Котел]", "Котел", now_frames, 1);
    const fs::path diesel =
        record_trip(home.path(), "2026.01.02 10.00.01[Дизель]", "Дизель", now_frames, 500);
    const fs::path earlier =
        record_trip(home.path(), "2025.12.01 09.00.00[Дизель]", "Дизель",
                    run_frames(60, 126900, -5, run_start - 86400 * 32, 5), 900);
    record_trip(home.path(), "2025.11.01 09.00.00[Котел]", "Котел",
                run_frames(20, 200000, 5, run_start - 86400 * 62, 5), 1300);

    kestrel_frame& window = start();
    trip_browser& browser = open_browser();
    ASSERT_TRUE(idle(browser));
    ASSERT_EQ(browser.trips().size(), 4u);
    open(browser, boiler);
    ASSERT_TRUE(browser.paired_shown());
    EXPECT_EQ(browser.paired_picture().trip()->folder, diesel);

    browser.go_to_place(utf8("126+740"));
    EXPECT_EQ(browser.current_record(), 28u);
    EXPECT_EQ(browser.subtitle(), utf8("00001028 1-2 0126:740 [Аз-Бук]"));
    EXPECT_DOUBLE_EQ(abs_shown(browser.paired_picture()), 126740.0);
    press(browser, WXK_RIGHT);
    EXPECT_DOUBLE_EQ(abs_shown(browser.paired_picture()), 126745.0);

    // Then and now: the earlier run passed here the other way, seen by the other camera.
    ASSERT_TRUE(pump_events_until([&] { return !browser.earlier_passes().empty(); }));
    ASSERT_TRUE(idle(browser));
    ASSERT_EQ(browser.earlier_passes().size(), 1u);
    EXPECT_EQ(browser.earlier_passes()[0].trip.folder, earlier);
    EXPECT_EQ(browser.earlier_list()->GetItemCount(), 1);
    select_row(*browser.earlier_list(), 0);
    ASSERT_TRUE(idle(browser));
    ASSERT_TRUE(browser.earlier_shown());
    EXPECT_DOUBLE_EQ(abs_shown(browser.earlier_picture()), 126745.0);
    EXPECT_FALSE(browser.earlier_picture().picture().shown().empty());
    press(browser, WXK_PAGEDOWN);
    EXPECT_DOUBLE_EQ(abs_shown(browser.earlier_picture()), abs_shown(browser.lead_picture()))
        << "the earlier pass follows the place";

    test_support::pump_events_for(300ms);
    EXPECT_TRUE(app_test::save_screenshot(app_test::artifacts_folder() + "/trip_pane.png"));

    // The snapshot: the three pictures side by side with their lines, and a journal row.
    wxCommandEvent click(wxEVT_BUTTON);
    browser.snapshot_button_control()->GetEventHandler()->ProcessEvent(click);
    const auto files =
        test_support::files_with_extension((fs::path(home.path()) / "snapshots").string(), ".png");
    ASSERT_EQ(files.size(), 1u);
    const fs::path saved = files[0];
    const cv::Mat png = cv::imread(saved.string(), cv::IMREAD_COLOR);
    ASSERT_FALSE(png.empty());
    cv::imwrite(app_test::artifacts_folder() + "/trip_pane_snapshot.png", png);
    EXPECT_GE(png.cols, 3 * picture_size.width);
    EXPECT_GT(png.rows, picture_size.height);
    const auto rows = app_test::rows_starting(app_test::journal_rows(window), utf8("Снимок: "));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].text.EndsWith(wxString::FromUTF8(saved.filename().string().c_str())));
    // Its first picture is the lead's frame, between the caption and the subtitle lines.
    const cv::Mat lead_rgb = browser.lead_picture().picture().full_picture();
    cv::Mat lead_bgr;
    cv::cvtColor(lead_rgb, lead_bgr, cv::COLOR_RGB2BGR);
    double best = 1e9;
    for (int top = 0; top + picture_size.height <= png.rows; ++top) {
        const cv::Mat part = png(cv::Rect(0, top, picture_size.width, picture_size.height));
        best = std::min(best, cv::norm(part, lead_bgr, cv::NORM_L1) /
                                  static_cast<double>(part.total() * 3));
    }
    EXPECT_LT(best, 2.0);
}

TEST_F(trip_pane, an_earlier_pass_chosen_just_before_the_place_moves_is_still_shown) {
    const fs::path boiler = record_trip(home.path(), "2026.01.02 10.00.00[Котел]", "Котел",
                                        run_frames(60, 126600, 5, run_start, 5), 1);
    // Two earlier runs the other way over the same place.
    record_trip(home.path(), "2025.12.01 09.00.00[Дизель]", "Дизель",
                run_frames(60, 126900, -5, run_start - 86400 * 32, 5), 900);
    record_trip(home.path(), "2025.11.01 09.00.00[Дизель]", "Дизель",
                run_frames(60, 126900, -5, run_start - 86400 * 62, 5), 1300);
    start();
    trip_browser& browser = open_browser();
    ASSERT_TRUE(idle(browser));
    open(browser, boiler);
    browser.go_to_place(utf8("126+740"));
    ASSERT_TRUE(pump_events_until([&] { return browser.earlier_passes().size() == 2; }));
    ASSERT_TRUE(idle(browser));
    browser.choose_earlier_pass(0);
    ASSERT_TRUE(idle(browser));
    ASSERT_TRUE(browser.earlier_shown());

    // The other pass is chosen and the place moves on before anything is handled: by then its
    // trip has been read and the lookup for the new place is due. The lookup must not throw
    // the chosen pass away, nor leave the picture on the pass shown before.
    const fs::path chosen = browser.earlier_passes()[1].trip.folder;
    browser.choose_earlier_pass(1);
    ASSERT_TRUE(browser.go_to_place(utf8("126+745")));
    std::this_thread::sleep_for(600ms);
    ASSERT_TRUE(idle(browser));
    test_support::pump_events_for(300ms);
    ASSERT_TRUE(idle(browser));
    ASSERT_TRUE(browser.earlier_shown());
    EXPECT_EQ(browser.earlier_picture().trip()->folder, chosen);
    EXPECT_DOUBLE_EQ(abs_shown(browser.earlier_picture()), 126745.0);

    // Chosen again, the pass shown stays as it is and nothing is read.
    browser.choose_earlier_pass(1);
    EXPECT_FALSE(browser.busy());
    EXPECT_EQ(browser.earlier_picture().trip()->folder, chosen);
}

} // namespace
