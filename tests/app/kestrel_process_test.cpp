// The real program started as a child process with its own HOME and locale.

#include "tests/app/close_request.h"
#include "tests/support/child_process.h"
#include "tests/support/gui_test.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
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

} // namespace
