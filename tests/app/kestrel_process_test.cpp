// The real program started as a child process with its own HOME and locale.

#include "tests/support/child_process.h"
#include "tests/support/gui_test.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <string>

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
