// The pane "Поездки" over trips recorded in the test: the list with a broken index, a jump to a
// typed place compared with ffmpeg's decoding of that frame, the keys, a missing file, and marks
// made with F9's command while both cameras record.

#include "app/kestrel.h"
#include "app/kestrel_frame.h"
#include "camera/camera_screen.h"
#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_jpeg.h"
#include "review/frame_view.h"
#include "review/trip_browser.h"
#include "tests/app/app_test_support.h"
#include "tests/support/gui_test.h"
#include "trip_format/csv_line.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <wx/button.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using app_test::utf8;
using test_support::pump_events_until;

namespace {

constexpr int video_frames = 60;
const cv::Size picture_size(640, 480);

// Frame i of the video trip: number 1000 + i, 5 m apart from km 126 + 600.
TrackPosition video_position(int i) {
    TrackPosition position(1000 + i);
    position.km = 126;
    position.m = 600 + 5.0 * i;
    position.abs = 126000 + position.m;
    return position;
}

// Records a trip with the recorder's own writer and gives its folder a fixed name.
template <typename Writer, typename... Arguments>
fs::path record_trip(const std::string& home, const char* folder_name, int frames,
                     Arguments... arguments) {
    {
        Writer writer(arguments...);
        if (!writer.open(wxString::FromUTF8(home + "/scratch")))
            throw std::runtime_error("the trip folder was not made");
        for (int i = 0; i < frames; ++i)
            writer.write(media::video_frame::from_rgb(test_support::camera_like_picture(
                             picture_size.width, picture_size.height, i, 4.0)),
                         video_position(i));
        writer.close();
    }
    const fs::path made = app_test::trip_folders(home + "/scratch").front();
    const fs::path named = fs::path(home) / fs::u8path(folder_name);
    fs::rename(made, named);
    return named;
}

// Frame `place` of the video decoded by ffmpeg, as 8-bit RGB.
cv::Mat ffmpeg_frame(const fs::path& video, int place) {
    const std::string command = "ffmpeg -v error -i '" + video.string() + "' -vf 'select=eq(n\\," +
                                std::to_string(place) +
                                ")' -vframes 1 -f rawvideo -pix_fmt rgb24 -";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    cv::Mat rgb(picture_size, CV_8UC3);
    const size_t got = pipe == nullptr ? 0 : std::fread(rgb.data, 1, rgb.total() * 3, pipe);
    if (pipe != nullptr)
        ::pclose(pipe);
    return got == rgb.total() * 3 ? rgb : cv::Mat();
}

// Mean difference per channel between what the pane shows and ffmpeg's frame at that size.
double difference_to(const cv::Mat& shown, const cv::Mat& decoded) {
    cv::Mat scaled;
    cv::resize(decoded, scaled, shown.size(), 0, 0, cv::INTER_AREA);
    return cv::norm(shown, scaled, cv::NORM_L1) / static_cast<double>(shown.total() * 3);
}

trip_browser* open_browser(kestrel_frame& frame) {
    app_test::send_command(frame, ID_TRIPS);
    auto* const browser =
        dynamic_cast<trip_browser*>(frame.panes().GetPane(utf8("Поездки")).window);
    // The picture is fitted to the area the docking manager gives it once laid out.
    if (browser != nullptr) {
        pump_events_until([&] { return browser->picture().GetClientSize().x > 100; });
        // The list is read on the pane's worker.
        pump_events_until([&] { return !browser->busy(); });
    }
    return browser;
}

void select_trip(trip_browser& browser, long row) {
    browser.trip_list()->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                                      wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    test_support::pump_pending_events();
    pump_events_until([&] { return !browser.busy(); });
}

void press(trip_browser& browser, int key_code) {
    wxKeyEvent key(wxEVT_CHAR_HOOK);
    key.m_keyCode = key_code;
    key.SetEventObject(&browser);
    browser.GetEventHandler()->ProcessEvent(key);
}

void type_place(trip_browser& browser, const char* text) {
    browser.place_field()->ChangeValue(utf8(text));
    wxCommandEvent enter(wxEVT_TEXT_ENTER, browser.place_field()->GetId());
    enter.SetEventObject(browser.place_field());
    browser.place_field()->GetEventHandler()->ProcessEvent(enter);
}

size_t record_of(const trip_browser& browser) {
    return browser.current_record().value_or(static_cast<size_t>(-1));
}

class trip_browser_pane : public testing::Test {
protected:
    void TearDown() override {
        if (frame != nullptr)
            test_support::destroy_window(frame);
    }

    kestrel_frame& start(std::vector<std::pair<std::string, std::string>> values) {
        values.emplace_back("dpp_port", "/dev/kestrel-test-no-such-port");
        values.emplace_back("write_path", home.path());
        app_test::write_settings(home.path(), values);
        frame = start_main_window();
        if (frame == nullptr)
            throw std::runtime_error("the main window did not start");
        pump_events_until([&] { return frame->IsShownOnScreen(); });
        test_support::pump_pending_events();
        return *frame;
    }

    test_support::temporary_home home;
    test_support::message_box_catcher boxes;
    kestrel_frame* frame = nullptr;
};

TEST_F(trip_browser_pane, lists_trips_jumps_to_a_place_steps_with_keys_and_notes_missing_files) {
    fs::create_directories(home.path() + "/scratch");
    // XVID keeps a key frame every 12 frames: km 126 + 740 is frame 28, four past a key frame.
    const fs::path video_trip =
        record_trip<video_file_writer_avi>(home.path(), "2026.01.02 10.00.00[Котел]", video_frames,
                                           wxString("XVID"), utf8("Котел"), utf8("Вся поездка"));
    const fs::path still_trip = record_trip<video_file_writer_jpeg>(
        home.path(), "2026.01.02 11.00.00[Дизель]", 4, utf8("Дизель"), wxString("%frame_%km-%m"));
    const fs::path broken_trip = fs::path(home.path()) / fs::u8path("2026.01.02 12.00.00[Котел]");
    fs::create_directories(home.path() + "/office");
    // The two recorded trips have a verified office copy; the broken one came later and has not.
    const std::string offload = test_support::run_command(
        test_support::shell_quoted(test_support::tool_path("trips/kestrel-trips")) + " --root " +
        test_support::shell_quoted(home.path()) + " offload " +
        test_support::shell_quoted(home.path() + "/office") + " 2>&1");
    ASSERT_NE(offload.find("2 copied"), std::string::npos) << offload;
    fs::create_directory(broken_trip);
    std::ofstream(broken_trip / "data.idx") << "<section><frame file=";

    kestrel_frame& window = start({{"format_subs", "%frame %km:%m"}});
    trip_browser* const browser = open_browser(window);
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(open_browser(window), browser) << "the command again brings the same pane";
    wxListCtrl& list = *browser->trip_list();
    ASSERT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.GetItemText(0), utf8("2026.01.02 12.00.00[Котел]"));
    EXPECT_TRUE(list.GetItemText(0, 7).StartsWith(utf8("data.idx не читается")))
        << list.GetItemText(0, 7);
    EXPECT_EQ(list.GetItemTextColour(0), *wxRED);
    EXPECT_EQ(list.GetItemText(1, 1), utf8("Дизель"));
    EXPECT_EQ(list.GetItemText(2, 2), "2026.01.02 10:00:00");
    EXPECT_EQ(list.GetItemText(2, 3), "60");
    EXPECT_EQ(list.GetItemText(2, 4), "126+600");
    EXPECT_EQ(list.GetItemText(2, 5), "126+895");
    EXPECT_EQ(list.GetItemText(2, 6), "1");
    EXPECT_TRUE(list.GetItemText(2, 7).empty());
    EXPECT_TRUE(list.GetItemText(0, 8).empty()) << "no copy";
    for (const long row : {1L, 2L})
        EXPECT_TRUE(list.GetItemText(row, 8).StartsWith(utf8("проверена "))) << row;

    select_trip(*browser, 0);
    EXPECT_FALSE(browser->current_record());
    EXPECT_FALSE(browser->note().empty());

    select_trip(*browser, 2);
    ASSERT_EQ(browser->index().records().size(), static_cast<size_t>(video_frames));
    type_place(*browser, "126+740");
    ASSERT_EQ(record_of(*browser), 28u);
    EXPECT_EQ(browser->subtitle(), "00001028 0126:740");
    const cv::Mat shown = browser->picture().shown().clone();
    ASSERT_FALSE(shown.empty());
    const fs::path video = test_support::files_with_extension(video_trip.string(), ".avi").at(0);
    const double to_frame = difference_to(shown, ffmpeg_frame(video, 28));
    EXPECT_LT(to_frame, 8.0);
    EXPECT_GT(difference_to(shown, ffmpeg_frame(video, 27)), to_frame + 2.0);
    EXPECT_GT(difference_to(shown, ffmpeg_frame(video, 29)), to_frame + 2.0);
    test_support::pump_events_for(300ms);
    EXPECT_TRUE(app_test::save_screenshot(app_test::artifacts_folder() + "/trip_browser.png"));

    type_place(*browser, "126 893");
    EXPECT_EQ(record_of(*browser), 59u);
    type_place(*browser, "126741.2");
    EXPECT_EQ(record_of(*browser), 28u);
    type_place(*browser, "км");
    EXPECT_TRUE(browser->note().StartsWith(utf8("Место не распознано"))) << browser->note();
    EXPECT_EQ(record_of(*browser), 28u);

    press(*browser, WXK_RIGHT);
    EXPECT_EQ(record_of(*browser), 29u);
    press(*browser, WXK_LEFT);
    press(*browser, WXK_LEFT);
    EXPECT_EQ(record_of(*browser), 27u);
    press(*browser, WXK_PAGEDOWN); // 100 m at 5 m a frame
    EXPECT_EQ(record_of(*browser), 47u);
    press(*browser, WXK_PAGEUP);
    EXPECT_EQ(record_of(*browser), 27u);
    press(*browser, WXK_END);
    EXPECT_EQ(record_of(*browser), 59u);
    EXPECT_EQ(browser->subtitle(), "00001059 0126:895");
    press(*browser, WXK_HOME);
    EXPECT_EQ(record_of(*browser), 0u);
    EXPECT_FALSE(browser->picture().shown().empty());

    // A still trip with one image gone: that frame shows a note, the others their picture.
    const auto stills = test_support::files_with_extension(still_trip.string(), ".jpeg");
    ASSERT_EQ(stills.size(), 4u);
    fs::remove(stills[1]);
    select_trip(*browser, 1);
    EXPECT_EQ(record_of(*browser), 0u);
    EXPECT_FALSE(browser->picture().shown().empty());
    press(*browser, WXK_RIGHT);
    EXPECT_EQ(record_of(*browser), 1u);
    EXPECT_TRUE(browser->picture().shown().empty());
    EXPECT_TRUE(browser->note().StartsWith(utf8("Кадр 1001 не показать"))) << browser->note();
    press(*browser, WXK_RIGHT);
    EXPECT_FALSE(browser->picture().shown().empty());
    EXPECT_TRUE(browser->note().empty());

    // The button exports the open trip's index beside it and says so in the journal.
    EXPECT_FALSE(fs::exists(still_trip / "data.csv"));
    wxCommandEvent click(wxEVT_BUTTON);
    browser->export_button_control()->GetEventHandler()->ProcessEvent(click);
    const std::string csv = test_support::read_file_bytes((still_trip / "data.csv").string());
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5) << csv;
    EXPECT_EQ(
        app_test::rows_starting(app_test::journal_rows(window), utf8("Индекс поездки выгружен: "))
            .size(),
        1u);

    // The video file gone while its trip is open.
    select_trip(*browser, 2);
    fs::remove(video);
    press(*browser, WXK_END);
    EXPECT_TRUE(browser->note().StartsWith(utf8("Кадр 1059 не показать"))) << browser->note();
    EXPECT_TRUE(boxes.dialogs().empty());
}

TEST_F(trip_browser_pane, marks_of_both_cameras_reach_journal_and_trips_and_are_jumped_to) {
    const app_test::tool_process boiler_camera = app_test::test_camera("smpte");
    const app_test::tool_process diesel_camera = app_test::test_camera("ball");
    const app_test::tool_process simulator = app_test::coordinate_simulator();
    kestrel_frame& window = start({{"coordinate_server_port", simulator.address()},
                                   {"front_camera_rtsp_address", boiler_camera.address()},
                                   {"back_camera_rtsp_address", diesel_camera.address()},
                                   {"write_format", "AVI"},
                                   {"codec", "MJPEG"},
                                   {"write_interval", "0"},
                                   {"format_subs", "%frame|%km|%m|%abs"}});
    app_test::send_command(window, ID_MARK);
    app_test::send_command(window, ID_BOILER_CAMERA);
    app_test::send_command(window, ID_DIESEL_CAMERA);
    camera_screen* const boiler = app_test::camera_pane(window, utf8("Котел"));
    camera_screen* const diesel = app_test::camera_pane(window, utf8("Дизель"));
    ASSERT_NE(boiler, nullptr);
    ASSERT_NE(diesel, nullptr);
    ASSERT_TRUE(pump_events_until(
        [&] { return boiler->written_count() >= 10 && diesel->written_count() >= 10; }, 60s));
    app_test::send_command(window, ID_MARK);
    const std::vector<fs::path> trips = {fs::u8path(boiler->trip_folder().utf8_string()),
                                         fs::u8path(diesel->trip_folder().utf8_string())};
    const auto rows = app_test::journal_rows(window);
    EXPECT_EQ(app_test::rows_starting(rows, utf8("Отметка не записана: ни одна камера")).size(),
              1u);
    const auto mark_rows = app_test::rows_starting(rows, utf8("Отметка: "));
    ASSERT_EQ(mark_rows.size(), 2u);

    std::vector<int> marked_frames;
    for (size_t camera = 0; camera < 2; ++camera) {
        std::ifstream marks(trips[camera] / "marks.csv");
        std::string header;
        std::string line;
        std::string extra;
        ASSERT_TRUE(std::getline(marks, header)) << trips[camera];
        EXPECT_EQ(header, "frame,abs,km,m,time,text");
        ASSERT_TRUE(std::getline(marks, line));
        EXPECT_FALSE(std::getline(marks, extra)) << "one mark, one line";
        const auto fields = csv_line::split(line);
        ASSERT_EQ(fields.size(), 6u) << line;
        // The subtitle text is that frame's position: the same numbers as the line's fields.
        const wxString text = wxString::FromUTF8(fields[5].c_str());
        EXPECT_EQ(mark_rows[camera].text, utf8("Отметка: ") + text);
        marked_frames.push_back(std::stoi(fields[0]));
        EXPECT_TRUE(text.StartsWith(
            wxString::Format("%08d|%04d|", marked_frames.back(), std::stoi(fields[2]))))
            << text << " / " << line;
        EXPECT_TRUE(text.EndsWith(wxString::Format("|%0.2f", std::stod(fields[1])))) << text;
    }

    for (camera_screen* const screen : {boiler, diesel})
        window.panes().ClosePane(window.panes().GetPane(screen));
    window.panes().Update();
    test_support::pump_pending_events();

    trip_browser* const browser = open_browser(window);
    ASSERT_NE(browser, nullptr);
    ASSERT_EQ(browser->trips().size(), 2u);
    for (long row = 0; row < 2; ++row) {
        select_trip(*browser, row);
        const size_t camera = browser->trips()[row].folder == trips[0] ? 0 : 1;
        ASSERT_EQ(browser->marks().size(), 1u);
        ASSERT_EQ(browser->mark_list()->GetCount(), 1u);
        browser->mark_list()->SetSelection(0);
        wxCommandEvent chosen(wxEVT_LISTBOX, browser->mark_list()->GetId());
        chosen.SetInt(0);
        chosen.SetEventObject(browser->mark_list());
        browser->mark_list()->GetEventHandler()->ProcessEvent(chosen);
        ASSERT_TRUE(browser->current_record());
        EXPECT_EQ(browser->index().records()[*browser->current_record()].frame,
                  marked_frames[camera]);
        EXPECT_FALSE(browser->picture().shown().empty()) << browser->note();
    }
}

} // namespace
