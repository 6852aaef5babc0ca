// A camera that accepts the connection and never streams (silent, or answering 503) beside the
// real test camera: the panes appear at once, the GUI keeps answering, the other camera records
// without a gap and either pane closes at once.

#include "camera/camera_screen.h"
#include "pipeline_fixtures.h"
#include "position/coord_client.h"
#include "tests/support/gui_test.h"
#include "tests/support/rtsp_stand_in.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/timer.h>

using namespace std::chrono_literals;
using test_support::pump_events_until;
using test_support::rtsp_stand_in;

namespace {

using clock_type = std::chrono::steady_clock;

using test_support::gui_answer_bound;

const wxString boiler = wxString::FromUTF8("Котел");
const wxString diesel = wxString::FromUTF8("Дизель");

// The GUI probe that also watches the live camera's frame count.
class gui_probe : public test_support::gui_tick_probe {
public:
    void watch(const camera_screen* screen) { live = screen; }
    std::chrono::milliseconds longest_without_frame() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(frameless);
    }

private:
    void on_tick(clock::time_point now) override {
        if (live == nullptr || live->received_count() == 0)
            return;
        if (live->received_count() != frames_seen) {
            frames_seen = live->received_count();
            last_frame = now;
        } else if (last_frame != clock::time_point()) {
            frameless = std::max(frameless, now - last_frame);
        }
    }

    const camera_screen* live = nullptr;
    int32_t frames_seen = 0;
    clock::time_point last_frame;
    clock::duration frameless{};
};

std::chrono::milliseconds time_to_close(camera_screen* screen) {
    const auto start = clock_type::now();
    // A panel is destroyed at once, threads stopped and journal written.
    screen->Destroy();
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start);
}

class dead_camera : public ::testing::TestWithParam<rtsp_stand_in::behaviour> {
protected:
    void SetUp() override {
        for (wxFrame*& frame : frames) {
            frame = new wxFrame(nullptr, wxID_ANY, "camera");
            frame->SetClientSize(320, 240);
            frame->Show();
        }
    }
    void TearDown() override {
        for (wxFrame* frame : frames)
            test_support::destroy_window(frame);
        for (const auto& box : boxes.dialogs())
            ADD_FAILURE() << "unexpected message: " << box.message.utf8_string();
    }

    camera_screen* open_screen(wxFrame* frame, wxConfigBase* settings, const wxString& name) {
        auto* screen = new camera_screen(frame, &coord, settings, name);
        screen->SetSize(frame->GetClientSize());
        return screen;
    }

    std::string live_trip_folder() const {
        for (const auto& folder : folders_in(home.path()))
            if (folder.find(u8"[Котел]") != std::string::npos)
                return folder;
        return {};
    }

    test_support::message_box_catcher boxes;
    test_support::temporary_home home;
    journal_capture journal;
    coord_client coord;
    wxFrame* frames[2] = {nullptr, nullptr};
};

} // namespace

TEST_P(dead_camera, gui_answers_other_camera_records_without_a_gap_and_panes_close_at_once) {
    test_camera camera({"--size", "320x240"});
    coordinate_simulator simulator({"--step", "1", "--start", "1000"});
    ASSERT_TRUE(coord.connect("127.0.0.1", simulator.port()));
    rtsp_stand_in stand_in(GetParam());
    const auto settings = make_settings({{"front_camera_rtsp_address", camera.url()},
                                         {"back_camera_rtsp_address", stand_in.url()},
                                         {"write_interval", "0"},
                                         {"write_format", "AVI"},
                                         {"codec", "MJPEG"},
                                         {"hard_subs", "0"},
                                         {"write_path", home.path()}});
    gui_probe probe;
    probe.Start(20);
    test_support::pump_events_for(200ms);

    const auto opening = clock_type::now();
    camera_screen* live = open_screen(frames[0], settings.get(), boiler);
    camera_screen* dead = open_screen(frames[1], settings.get(), diesel);
    EXPECT_LT(clock_type::now() - opening, gui_answer_bound) << "both panes appear without waiting";
    probe.watch(live);

    // Long enough for a silent camera's first opening to time out and the next one to start;
    // a refusing camera is tried every 2 s meanwhile.
    EXPECT_TRUE(pump_events_until([&] { return stand_in.connections() >= 2; }, 20s))
        << "attempts: " << stand_in.connections();
    test_support::pump_events_for(1s);
    probe.Stop();
    EXPECT_LT(probe.longest_gap(), gui_answer_bound)
        << "the GUI thread was held up until " << probe.longest_gap_ended(opening).count()
        << " ms after the panes opened";
    EXPECT_LT(probe.longest_without_frame(), 1s) << "the live camera stalled";
    const auto failures = journal.rows_with(L"Не удалось подключить камеру: " +
                                            wxString(stand_in.url()).ToStdWstring());
    ASSERT_EQ(failures.size(), 1u) << "one row however many attempts";
    EXPECT_TRUE(failures.front().error);
    EXPECT_LE(stand_in.connections(), GetParam() == rtsp_stand_in::behaviour::silent ? 2 : 6)
        << "attempts are spaced, not back to back";

    // The silent camera is in the middle of an opening now.
    EXPECT_LT(time_to_close(dead), 1s);
    const int32_t received = live->received_count();
    EXPECT_TRUE(pump_events_until([&] { return live->received_count() >= received + 10; }, 10s));
    const int32_t received_total = live->received_count();
    const auto open_for = clock_type::now() - opening;
    EXPECT_LT(time_to_close(live), 1s);
    test_support::pump_pending_events();

    // The camera sends 25 frames a second; a stall of seconds would show here.
    const double seconds = std::chrono::duration<double>(open_for).count();
    EXPECT_GE(received_total / seconds, 15.0) << received_total << " frames in " << seconds;
    const std::string folder = live_trip_folder();
    ASSERT_FALSE(folder.empty());
    const auto index = read_index(folder + "/data.idx");
    ASSERT_GE(static_cast<int32_t>(index.size()), received_total);
    for (std::size_t i = 0; i < index.size(); ++i) {
        ASSERT_EQ(index[i].frame, static_cast<long>(i)) << "a gap in the frame numbers";
        ASSERT_EQ(index[i].frame_in_file, static_cast<long>(i));
    }
    const auto videos = test_support::files_with_extension(folder, ".avi");
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_EQ(count_video_frames(videos.front()), static_cast<long>(index.size()));
    EXPECT_EQ(journal.rows_with(L"Камера: " + wxString(camera.url()).ToStdWstring()).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(silent_and_refusing, dead_camera,
                         ::testing::Values(rtsp_stand_in::behaviour::silent,
                                           rtsp_stand_in::behaviour::unavailable),
                         [](const auto& info) {
                             return info.param == rtsp_stand_in::behaviour::silent ? "silent"
                                                                                   : "refusing";
                         });
