// The live pane on the desktop as the operator sees it: a screenshot of the display (ImageMagick
// under X, grim under Wayland) holds the test camera's picture, compared pixel by pixel with the
// camera's own picture decoded by ffmpeg; a pane that was covered, or hidden and shown again,
// shows the picture at once although no new frame has come. The same program runs under Xvfb
// and under a headless Wayland compositor (scripts/wayland.sh).

#include "camera/camera_screen.h"
#include "pipeline_fixtures.h"
#include "position/coord_client.h"
#include "tests/support/gui_test.h"
#include "tests/support/scratch_folder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <wx/frame.h>

using namespace std::chrono_literals;
using test_support::pump_events_until;

namespace {

bool under_wayland() {
    const char* backend = std::getenv("GDK_BACKEND");
    return backend != nullptr && std::string(backend) == "wayland";
}

// The whole display as 8-bit RGB.
cv::Mat screenshot(const std::string& folder) {
    const std::string file = folder + "/screen.png";
    const std::string command =
        under_wayland() ? "grim '" + file + "'" : "import -window root '" + file + "'";
    if (std::system(command.c_str()) != 0)
        return cv::Mat();
    cv::Mat bgr = cv::imread(file, cv::IMREAD_COLOR);
    cv::Mat rgb;
    if (!bgr.empty())
        cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    return rgb;
}

// The colour bars below the camera's own time and frame overlays and above the bottom strip,
// whose noise field changes from frame to frame.
cv::Rect steady_part(cv::Size pane) {
    return {0, pane.height * 2 / 5, pane.width, pane.height * 34 / 100};
}

struct comparison {
    bool found = false;
    double matching_share = 0.0; // pixels within the tolerance in every channel
};

// Finds the camera's picture, scaled to the pane's size, on the screen and compares it pixel by
// pixel there. The pane scales with its own filter, so edges between bars may differ; flat areas
// must agree.
comparison compare_on_screen(const cv::Mat& screen, const cv::Mat& camera, cv::Size pane) {
    comparison result;
    if (screen.empty() || camera.empty() || pane.width > screen.cols || pane.height > screen.rows)
        return result;
    cv::Mat expected;
    cv::resize(camera, expected, pane, 0, 0, cv::INTER_AREA);
    const cv::Mat wanted = expected(steady_part(pane));
    cv::Mat scores;
    cv::matchTemplate(screen, wanted, scores, cv::TM_SQDIFF);
    cv::Point best;
    cv::minMaxLoc(scores, nullptr, nullptr, &best, nullptr);
    const cv::Mat shown = screen(cv::Rect(best, wanted.size()));
    cv::Mat difference;
    cv::absdiff(shown, wanted, difference);
    std::vector<cv::Mat> channels;
    cv::split(difference, channels);
    const cv::Mat worst = cv::max(cv::max(channels[0], channels[1]), channels[2]);
    // Within a few pixels of an edge between bars the two scalers' filters differ (the chroma
    // planes are half the size); everywhere else the pixels must agree.
    cv::Mat grey;
    cv::cvtColor(wanted, grey, cv::COLOR_RGB2GRAY);
    cv::Mat edges;
    cv::morphologyEx(grey, edges, cv::MORPH_GRADIENT, cv::Mat::ones(3, 3, CV_8U));
    cv::Mat near_edge;
    cv::dilate(edges > 12, near_edge, cv::Mat::ones(9, 9, CV_8U));
    const cv::Mat flat = near_edge == 0;
    constexpr int tolerance = 24;
    result.found = true;
    const int flat_pixels = cv::countNonZero(flat);
    result.matching_share =
        flat_pixels == 0
            ? 0.0
            : static_cast<double>(cv::countNonZero((worst <= tolerance) & flat)) / flat_pixels;
    return result;
}

class live_view : public ::testing::Test {
protected:
    void SetUp() override {
        frame = new wxFrame(nullptr, wxID_ANY, "live view");
        frame->SetClientSize(640, 480);
        frame->Show();
    }
    void TearDown() override {
        test_support::destroy_window(frame);
        for (const auto& box : boxes.dialogs())
            ADD_FAILURE() << "unexpected message: " << box.message.utf8_string();
    }

    // Lets the pane settle (the compositor may resize the window) and draw what it has.
    void settle() { test_support::pump_events_for(1500ms); }

    void expect_camera_picture(const cv::Mat& camera, const char* when) {
        const wxSize size = screen->GetClientSize();
        const comparison seen =
            compare_on_screen(screenshot(scratch.path()), camera, cv::Size(size.x, size.y));
        EXPECT_TRUE(seen.found) << when << ": no screenshot";
        EXPECT_GT(seen.matching_share, 0.98) << when << ": the pane of " << size.x << "x" << size.y
                                             << " does not show the camera's picture";
    }

    test_support::message_box_catcher boxes;
    test_support::temporary_home home;
    test_support::scratch_folder scratch{"live-view"};
    journal_capture journal;
    coord_client coord;
    wxFrame* frame = nullptr;
    camera_screen* screen = nullptr;
};

TEST_F(live_view, the_pane_shows_the_cameras_picture_and_repaints_when_uncovered) {
    // Still colour bars: any frame of the camera is the same picture below its overlays.
    test_camera camera({"--size", "320x240", "--pattern", "smpte", "--codec", "mjpeg"});
    // Nothing is recorded: without a coordinate server no frame is a write step away.
    const auto settings = make_settings({{"front_camera_rtsp_address", camera.url()},
                                         {"write_path", home.path()},
                                         {"write_format", "JPEG"},
                                         {"write_interval", "1000000"},
                                         {"show_subs", "0"}});
    screen = new camera_screen(frame, &coord, settings.get(), wxString::FromUTF8("Котел"));
    frame->Layout();
    ASSERT_TRUE(pump_events_until([&] { return screen->painted_count() >= 3; }, 30s))
        << "frames received: " << screen->received_count();
    const cv::Mat camera_picture =
        decoded_by_ffmpeg(camera.url(), 3, cv::Size(320, 240), "-rtsp_transport tcp");
    ASSERT_FALSE(camera_picture.empty());
    settle();
    expect_camera_picture(camera_picture, "live");

    // From here on no frame comes: whatever the pane shows it paints from what it has.
    camera.freeze();
    settle();
    const int received = screen->received_count();

    auto* cover = new wxFrame(nullptr, wxID_ANY, "cover", frame->GetScreenPosition(),
                              frame->GetSize(), wxBORDER_NONE | wxSTAY_ON_TOP);
    cover->SetBackgroundColour(*wxWHITE);
    cover->Show();
    settle();
    test_support::destroy_window(cover);
    settle();
    expect_camera_picture(camera_picture, "uncovered");

    frame->Hide();
    settle();
    frame->Show();
    settle();
    expect_camera_picture(camera_picture, "shown again");
    EXPECT_LE(screen->received_count(), received + 1) << "the camera was to stay frozen";

    camera.thaw();
    screen->Destroy();
    test_support::pump_pending_events();
}

} // namespace
