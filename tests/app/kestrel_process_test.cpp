// The real program started as a child process with its own HOME and locale.

#include "app/kestrel.h"
#include "tests/app/app_test_support.h"
#include "tests/app/close_request.h"
#include "tests/support/child_process.h"
#include "tests/support/gui_test.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The only journal file in the log folder, or an empty path.
fs::path journal_in(const fs::path& log) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(log, ignored))
        if (entry.path().extension() == ".html")
            return entry.path();
    return {};
}

std::string wait_for_journal_row(const fs::path& log, const std::string& text) {
    std::string journal;
    test_support::pump_events_until(
        [&] {
            journal = test_support::read_file_bytes(journal_in(log).string());
            return journal.find(text) != std::string::npos;
        },
        30s);
    return journal;
}

// X window ids of the child's windows whose title matches the pattern (xdotool regex).
std::string windows_of(pid_t pid, const std::string& title_pattern) {
    return test_support::run_command("xdotool search --all --pid " + std::to_string(pid) +
                                     " --name '" + title_pattern + "' 2>/dev/null");
}

// The ids of the child's windows that are on screen.
std::string visible_windows_of(pid_t pid) {
    return test_support::run_command("xdotool search --all --onlyvisible --pid " +
                                     std::to_string(pid) + " '' 2>/dev/null");
}

// What the child prints on standard output up to its end or its first empty line.
std::string all_output(test_support::child_process& program) {
    std::string text;
    for (std::string line = program.read_line(); !line.empty(); line = program.read_line())
        text += line + "\n";
    return text;
}

// The lines GLib-based toolkits print for their warnings and assertion failures, e.g.
// "(kestrel:123): Gtk-CRITICAL **: 10:00:00.000: gtk_...: assertion '...' failed".
std::string toolkit_warnings(const std::string& errors) {
    std::string found;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);)
        if (line.find("-CRITICAL **") != std::string::npos ||
            line.find("-WARNING **") != std::string::npos)
            found += line + "\n";
    return found;
}

// No display at all, as over ssh: the answers must not need one.
const std::vector<std::pair<std::string, std::string>> no_display{{"DISPLAY", ""},
                                                                  {"WAYLAND_DISPLAY", ""}};

TEST(kestrel_process, version_and_help_answer_on_stdout_without_a_display) {
    test_support::child_process version(KESTREL_EXECUTABLE, {"--version"}, no_display,
                                        {true, false});
    EXPECT_EQ(all_output(version), "kestrel " KESTREL_VERSION "\n");
    EXPECT_EQ(version.wait_for_exit(30s), 0);

    for (const char* const option : {"--help", "-h"}) {
        test_support::child_process help(KESTREL_EXECUTABLE, {option}, no_display, {true, false});
        const std::string text = all_output(help);
        EXPECT_NE(text.find("Usage: kestrel"), std::string::npos) << text;
        EXPECT_NE(text.find("--version"), std::string::npos) << text;
        EXPECT_NE(text.find("--open"), std::string::npos) << text;
        EXPECT_NE(text.find(u8"front or Котел, back or Дизель"), std::string::npos) << text;
        EXPECT_EQ(help.wait_for_exit(30s), 0) << option;
    }
}

TEST(kestrel_process, an_unknown_option_is_refused_and_no_window_opens) {
    test_support::temporary_home home;
    test_support::child_process program(KESTREL_EXECUTABLE, {"--record-all"},
                                        {{"HOME", home.path()}}, {true, true});
    EXPECT_EQ(all_output(program), "");
    const std::optional<int> code = program.wait_for_exit(30s);
    ASSERT_TRUE(code.has_value());
    EXPECT_GT(*code, 0);
    EXPECT_FALSE(fs::exists(fs::path(home.path()) / "Meridian5"));
}

TEST(kestrel_process, a_normal_start_and_shutdown_leave_no_toolkit_warning_on_stderr) {
    test_support::temporary_home home;
    const std::string errors_file = home.path() + "/stderr.txt";
    // The shell replaces itself with the program, so the child is the program itself.
    test_support::child_process program(
        "/bin/sh", {"-c", "exec \"$0\" 2>\"$1\"", KESTREL_EXECUTABLE, errors_file},
        {{"HOME", home.path()}});
    // The coordinate server's row is the last of the start; nothing listens on its port here.
    wait_for_journal_row(fs::path(home.path()) / "Meridian5" / "log",
                         u8"соединиться с сервером координат");
    std::string windows;
    ASSERT_TRUE(test_support::pump_events_until(
        [&] { return !(windows = visible_windows_of(program.pid())).empty(); }, 30s));
    const unsigned long main_window = std::stoul(windows.substr(0, windows.find('\n')));

    // The operator clicks the window's close button.
    ASSERT_TRUE(test_support::send_close_request(main_window));
    EXPECT_EQ(program.wait_for_exit(30s), 0);
    const std::string errors = test_support::read_file_bytes(errors_file);
    EXPECT_EQ(toolkit_warnings(errors), "") << errors;
}

TEST(kestrel_process,
     an_impossible_journal_folder_shows_the_box_and_the_process_ends_with_failure) {
    test_support::temporary_home home;
    fs::create_directories(fs::path(home.path()) / "Meridian5");
    std::ofstream(fs::path(home.path()) / "Meridian5" / "log") << "not a folder";

    test_support::child_process program(KESTREL_EXECUTABLE, {}, {{"HOME", home.path()}});
    std::string box;
    ASSERT_TRUE(test_support::pump_events_until(
        [&] {
            box = windows_of(program.pid(), "^C\\+\\+ exception$");
            return !box.empty() || !program.running();
        },
        30s));
    ASSERT_FALSE(box.empty()) << "the program ended without its box";
    EXPECT_TRUE(program.running()) << "the box must wait for the operator";

    // The operator presses Enter on the box.
    const std::string window = box.substr(0, box.find('\n'));
    test_support::run_command("xdotool windowactivate --sync " + window + " key Return");
    const std::optional<int> code = program.wait_for_exit(30s);
    ASSERT_TRUE(code.has_value()) << "the process stayed behind without a window";
    EXPECT_GT(*code, 0) << "a failed start must end with a failure code, not 0 or a signal";
    EXPECT_FALSE(fs::exists(fs::path(home.path()) / "Meridian5" / "config"));
}

TEST(kestrel_process, cyrillic_rows_survive_the_c_locale) {
    test_support::temporary_home home;
    const fs::path meridian = fs::path(home.path()) / "Meridian5";
    fs::create_directories(meridian);
    std::ofstream(meridian / "config") << "not a folder";

    test_support::child_process program(KESTREL_EXECUTABLE, {},
                                        {{"HOME", home.path()}, {"LANG", "C"}, {"LC_ALL", "C"}});
    const std::string journal = wait_for_journal_row(meridian / "log", u8"Компьютер: ");

    const std::string time = R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)";
    const std::regex expected(
        "<html>\n<table>\n<tbody>\n"
        "<tr>\n<td>" +
        time +
        "</td>\n<td> <font color='red'>Не удается создать папку с файлами "
        "настройки \\[" +
        std::regex_replace((meridian / "config").string(), std::regex(R"([.^$|()\[\]{}*+?\\])"),
                           R"(\$&)") +
        "\\]</font></td>\n</tr>\n"
        "<tr>\n<td>" +
        time +
        "</td>\n<td> <font color='blue'>Начало работы. Версия: 669</font></td>\n</tr>\n"
        "<tr>\n<td>" +
        time +
        "</td>\n<td> <font color='blue'>OpenCV [^<]+</font></td>\n</tr>\n"
        "<tr>\n<td>" +
        time +
        "</td>\n<td> <font color='blue'>wxWidgets [^<]+</font></td>\n</tr>\n"
        "<tr>\n<td>" +
        time + "</td>\n<td> <font color='blue'>Компьютер: [^<]+</font></td>\n</tr>\n" +
        // the position sources' rows may already follow
        "(<tr>\n<td>" + time + "</td>\n<td> <font color='(red|blue)'>[^<]+</font></td>\n</tr>\n)*");
    EXPECT_TRUE(std::regex_match(journal, expected)) << journal;
    EXPECT_TRUE(program.running());
}

// The real program recording: two test cameras, a coordinate simulator that moves the car 50 m
// per answer (a new file every 20 frames under "1 километр"), every frame recorded as AVI.
class recording_program : public testing::Test {
protected:
    void SetUp() override {
        app_test::write_settings(home.path(), {{"front_camera_rtsp_address", boiler.address()},
                                               {"back_camera_rtsp_address", diesel.address()},
                                               {"coordinate_server_port", simulator.address()},
                                               {"dpp_port", "/dev/kestrel-test-no-such-port"},
                                               {"write_path", home.path()},
                                               {"write_format", "AVI"},
                                               {"codec", "MJPEG"},
                                               {"write_interval", "0"},
                                               {"video_write_policy", "1 километр"}});
        program.emplace(KESTREL_EXECUTABLE, std::vector<std::string>{},
                        std::vector<std::pair<std::string, std::string>>{{"HOME", home.path()}});
        wait_for_journal_row(log_folder(), u8"Сервер координат: ");
    }

    fs::path log_folder() const { return fs::path(home.path()) / "Meridian5" / "log"; }

    // Opens a camera as the operator does from the keyboard: F10 opens the menu bar, the
    // second menu is "Камеры", its first items "Котел" and "Дизель".
    void open_camera(int item, const std::string& url) {
        const std::string window = main_window();
        ASSERT_FALSE(window.empty()) << "no main window";
        std::string keys = "F10 Right";
        for (int i = 0; i < item; ++i)
            keys += " Down";
        test_support::run_command("xdotool windowactivate --sync " + window + " 2>/dev/null; " +
                                  "xdotool key --delay 150 " + keys + " Return");
        const std::string row = u8"Камера: " + url;
        EXPECT_NE(wait_for_journal_row(log_folder(), row).find(row), std::string::npos);
    }

    // The X window of the main window, found by its title. The journal's first rows come while
    // the window is still being made, so it may take a moment to appear.
    std::string main_window() const {
        std::string found;
        test_support::pump_events_until(
            [&] {
                std::istringstream ids(test_support::run_command("xdotool search --all --pid " +
                                                                 std::to_string(program->pid()) +
                                                                 " 2>/dev/null"));
                for (std::string id; ids >> id;)
                    if (test_support::run_command("xdotool getwindowname " + id) ==
                        u8"Обзорное видео\n")
                        found = id;
                return !found.empty();
            },
            10s);
        return found;
    }

    // Waits until every open camera has written files of a few kilometres.
    void record_a_while(size_t cameras) {
        test_support::pump_events_until(
            [&] {
                const auto folders = app_test::trip_folders(home.path());
                return folders.size() == cameras &&
                       std::all_of(folders.begin(), folders.end(), [](const std::string& folder) {
                           return test_support::files_with_extension(folder, ".avi").size() >= 3;
                       });
            },
            60s);
    }

    test_support::temporary_home home;
    const app_test::tool_process boiler = app_test::test_camera("smpte");
    const app_test::tool_process diesel = app_test::test_camera("ball");
    const app_test::tool_process simulator = app_test::tool_process(
        "coordsim/kestrel-coordsim", {"--quiet", "--port", "0", "--step", "50"});
    std::optional<test_support::child_process> program;
};

TEST(kestrel_command_line, open_takes_its_names_out_of_the_arguments_in_any_of_its_forms) {
    std::vector<std::string> given = {"kestrel", "--open",      u8" Котел , roof",
                                      "--sync",  "--open=back", "--open"};
    std::vector<char*> argv;
    for (std::string& argument : given)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(given.size());
    const std::vector<wxString> names = take_cameras_to_open(argc, argv.data());
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], wxString::FromUTF8("Котел"));
    EXPECT_EQ(names[1], "roof");
    EXPECT_EQ(names[2], "back");
    // The toolkit keeps its own options, and refuses a trailing option without names.
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[1], "--sync");
    EXPECT_STREQ(argv[2], "--open");
    EXPECT_EQ(argv[3], nullptr);

    EXPECT_EQ(camera_named("FRONT"), wxString::FromUTF8("Котел"));
    EXPECT_EQ(camera_named(wxString::FromUTF8("Дизель")), wxString::FromUTF8("Дизель"));
    EXPECT_EQ(camera_named("back"), wxString::FromUTF8("Дизель"));
    EXPECT_FALSE(camera_named("roof"));
}

// Where the window with that title is on the X screen (inside the window manager's frame),
// from xwininfo; empty when there is none.
std::optional<wxRect> window_place(const std::string& title) {
    const std::string tree = test_support::run_command("xwininfo -root -tree");
    const std::regex line(
        "\"" + title +
        "\": \\([^)]*\\)  ([0-9]+)x([0-9]+)\\+-?[0-9]+\\+-?[0-9]+  \\+(-?[0-9]+)\\+(-?[0-9]+)");
    std::smatch found;
    if (!std::regex_search(tree, found, line))
        return std::nullopt;
    return wxRect(std::stoi(found[3]), std::stoi(found[4]), std::stoi(found[1]),
                  std::stoi(found[2]));
}

TEST_F(recording_program, open_starts_the_named_cameras_without_a_menu_click) {
    // The program of the fixture runs without options; this one is started with them.
    program.reset();
    test_support::temporary_home own_home;
    fs::create_directories(fs::path(own_home.path()) / "Meridian5" / "config");
    fs::copy_file(app_test::settings_path(home.path()), app_test::settings_path(own_home.path()));
    test_support::child_process started(
        KESTREL_EXECUTABLE, {"--open", u8"Котел,крыша", "--open=back"},
        {{"HOME", own_home.path()}, {"LANG", "C"}, {"LC_ALL", "C"}});
    const fs::path log = fs::path(own_home.path()) / "Meridian5" / "log";
    for (const std::string& url : {boiler.address(), diesel.address()}) {
        const std::string row = u8"Камера: " + url;
        EXPECT_NE(wait_for_journal_row(log, row).find(row), std::string::npos);
    }
    const auto rows = app_test::journal_rows(journal_in(log).string());
    const auto unknown = app_test::rows_starting(rows, wxString::FromUTF8("Неизвестная камера"));
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown.front().text, wxString::FromUTF8("Неизвестная камера в --open: крыша"));
    EXPECT_TRUE(unknown.front().error);
    EXPECT_TRUE(started.running()) << "an unknown name does not stop the program";
    // Both panes side by side below the main window's menu bar (at least 20 pixels high in any
    // theme), neither covering the other, as the window manager placed them.
    std::optional<wxRect> main_window;
    std::optional<wxRect> panes[2];
    ASSERT_TRUE(test_support::pump_events_until(
        [&] {
            main_window = window_place(u8"Обзорное видео");
            panes[0] = window_place(u8"Котел");
            panes[1] = window_place(u8"Дизель");
            return main_window && panes[0] && panes[1];
        },
        20s));
    for (const auto& pane : panes)
        EXPECT_GE(pane->y, main_window->y + 20)
            << "a pane at " << pane->x << "," << pane->y << " covers the menu bar of the window at "
            << main_window->x << "," << main_window->y;
    EXPECT_EQ(panes[0]->y, panes[1]->y);
    EXPECT_FALSE(panes[0]->Intersects(*panes[1]));
    started.signal(SIGTERM);
    EXPECT_EQ(started.wait_for_exit(30s), 0);
}

// The length of the video as its header gives it: "N/A" for a file never finished.
std::string video_duration(const std::string& path) {
    std::string text =
        test_support::run_command("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                  test_support::shell_quoted(path));
    return text.substr(0, text.find('\n'));
}

TEST_F(recording_program, a_termination_signal_closes_it_as_the_exit_command_does) {
    open_camera(1, boiler.address());
    open_camera(2, diesel.address());
    record_a_while(2);

    const auto signalled = std::chrono::steady_clock::now();
    program->signal(SIGTERM);
    const std::optional<int> code = program->wait_for_exit(30s);
    ASSERT_TRUE(code.has_value()) << "still running after the signal";
    std::cout << "ended "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - signalled)
                     .count()
              << " ms after the signal\n";
    EXPECT_EQ(*code, 0);

    const auto rows = app_test::journal_rows(journal_in(log_folder()).string());
    EXPECT_EQ(app_test::rows_starting(rows, wxString::FromUTF8("Принято ")).size(), 2u);
    EXPECT_EQ(app_test::rows_starting(rows, wxString::FromUTF8("Записано ")).size(), 2u);
    const auto folders = app_test::trip_folders(home.path());
    ASSERT_EQ(folders.size(), 2u);
    for (const std::string& folder : folders) {
        std::map<std::string, long> indexed;
        for (const auto& record : app_test::read_index(folder + "/data.idx"))
            ++indexed[record.file];
        const auto videos = test_support::files_with_extension(folder, ".avi");
        EXPECT_GE(videos.size(), 3u) << folder;
        EXPECT_EQ(indexed.size(), videos.size()) << folder;
        for (const std::string& video : videos) {
            const std::string duration = video_duration(video);
            EXPECT_TRUE(!duration.empty() && std::isdigit(static_cast<unsigned char>(duration[0])))
                << video << " is not finished: duration " << duration;
            EXPECT_EQ(indexed[fs::path(video).filename().string()],
                      app_test::count_video_frames(video))
                << video;
        }
    }
}

TEST_F(recording_program, a_second_signal_while_it_closes_ends_it_at_once) {
    open_camera(1, boiler.address());
    record_a_while(1);
    // Two different signals: the same one twice may arrive as one. Both pending at once are
    // taken in the system's order, so either may be the second.
    program->signal(SIGTERM);
    program->signal(SIGINT);
    const std::optional<int> code = program->wait_for_exit(30s);
    ASSERT_TRUE(code.has_value());
    EXPECT_TRUE(*code == 128 + SIGINT || *code == 128 + SIGTERM)
        << "ended by the second signal with its own exit status, not " << *code;
}

} // namespace
