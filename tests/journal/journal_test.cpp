// The journal pane and file fed through the wide standard streams.

#include "journal/journal.h"
#include "journal/log_viewer.h"
#include "tests/support/gui_test.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <regex>
#include <string>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/sizer.h>

namespace {

// A frame with a journal pane writing into a temporary folder.
class journal_test : public testing::Test {
protected:
    void SetUp() override {
        frame = new wxFrame(nullptr, wxID_ANY, "journal", wxDefaultPosition, wxSize(800, 600));
        file_name = wxFileName(wxString::FromUTF8(home.path()), "journal.html");
        view = new log_viewer(frame, file_name);
        auto* const sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(view, 1, wxEXPAND);
        frame->SetSizer(sizer);
        frame->Show();
        ASSERT_TRUE(
            test_support::pump_events_until([this] { return view->GetClientSize().y > 100; }));
    }

    void TearDown() override { test_support::destroy_window(frame); }

    std::string file_text() const {
        return test_support::read_file_bytes(file_name.GetFullPath().utf8_string());
    }

    test_support::temporary_home home;
    wxFrame* frame = nullptr;
    log_viewer* view = nullptr;
    wxFileName file_name;
};

const std::string row_time = R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)";

TEST_F(journal_test, rows_of_both_kinds_reach_file_and_pane_in_call_order) {
    log_info(wxString::FromUTF8("первая строка"));
    log_error("second");
    log_info("third");

    const std::regex expected("<html>\n<table>\n<tbody>\n"
                              "<tr>\n<td>" +
                              row_time +
                              "</td>\n<td> <font color='blue'>первая строка</font></td>\n</tr>\n"
                              "<tr>\n<td>" +
                              row_time +
                              "</td>\n<td> <font color='red'>second</font></td>\n</tr>\n"
                              "<tr>\n<td>" +
                              row_time +
                              "</td>\n<td> <font color='blue'>third</font></td>\n</tr>\n");
    const std::string text = file_text();
    EXPECT_TRUE(std::regex_match(text, expected)) << text;

    const wxString shown = view->ToText();
    const int first = shown.Find(wxString::FromUTF8("первая строка"));
    const int second = shown.Find("second");
    const int third = shown.Find("third");
    ASSERT_NE(first, wxNOT_FOUND) << shown;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_EQ(view->page_source(), wxString::FromUTF8(text));
}

TEST_F(journal_test, markup_in_a_message_is_shown_as_text_and_escaped_in_the_file) {
    log_info("a <b>bold</b> & co");
    EXPECT_NE(file_text().find("<font color='blue'>a &lt;b&gt;bold&lt;/b&gt; &amp; co</font>"),
              std::string::npos)
        << file_text();
    EXPECT_NE(view->ToText().Find("a <b>bold</b> & co"), wxNOT_FOUND) << view->ToText();
}

TEST_F(journal_test, every_row_is_complete_in_the_file_when_the_call_returns) {
    for (int i = 0; i < 200; ++i) {
        log_error(wxString::Format("row %d", i));
        const std::string text = file_text();
        ASSERT_EQ(text.substr(text.size() - 6), "</tr>\n") << i;
        ASSERT_NE(text.find(wxString::Format("row %d<", i).utf8_string()), std::string::npos);
    }
    // Rows beyond one block of cells are shown too, the last one included.
    EXPECT_NE(view->ToText().Find("row 199"), wxNOT_FOUND);
    EXPECT_NE(view->ToText().Find("row 0"), wxNOT_FOUND);
}

TEST_F(journal_test, a_new_row_keeps_the_place_the_operator_scrolled_to) {
    for (int i = 0; i < 100; ++i)
        log_info(wxString::Format("row %d", i));
    test_support::pump_pending_events();
    view->Scroll(0, 10);
    int x = 0;
    int before = 0;
    view->GetViewStart(&x, &before);
    ASSERT_GT(before, 0) << "the page must be long enough to scroll";
    log_error("one more");
    int after = 0;
    view->GetViewStart(&x, &after);
    EXPECT_EQ(after, before);
}

TEST_F(journal_test, a_view_left_at_the_newest_row_follows_new_rows) {
    for (int i = 0; i < 100; ++i)
        log_info(wxString::Format("row %d", i));
    test_support::pump_pending_events();
    int x = 0;
    int first = 0;
    view->GetViewStart(&x, &first);
    EXPECT_GT(first, 0) << "the newest rows must be in view, not the first ones";
    for (int i = 0; i < 20; ++i)
        log_info(wxString::Format("later %d", i));
    test_support::pump_pending_events();
    int later = 0;
    view->GetViewStart(&x, &later);
    EXPECT_GT(later, first);
}

TEST_F(journal_test, rows_after_the_page_was_set_anew_are_shown) {
    for (int i = 0; i < 3; ++i)
        log_info(wxString::Format("before %d", i));
    view->SetPage("<html><body>cleared</body></html>");
    log_info("after reset");
    test_support::pump_pending_events();
    EXPECT_NE(view->ToText().Find("after reset"), wxNOT_FOUND) << view->ToText();
    EXPECT_EQ(view->ToText().Find("before"), wxNOT_FOUND);
}

TEST_F(journal_test, characters_outside_the_narrow_range_reach_the_file_as_utf8) {
    log_info(wxString(L"\u2116 \u20ac \U0001F682"));
    EXPECT_NE(file_text().find("№ € \xF0\x9F\x9A\x82"), std::string::npos) << file_text();
    log_info("after");
    EXPECT_NE(file_text().find("after"), std::string::npos);
}

TEST(journal_streams, a_reader_never_finds_half_a_row_and_closing_loses_none) {
    test_support::temporary_home home;
    auto* const frame = new wxFrame(nullptr, wxID_ANY, "journal");
    new log_viewer(frame, wxFileName(wxString::FromUTF8(home.path()), "j.html"));
    const std::string file = home.path() + "/j.html";
    const std::string head = "<html>\n<table>\n<tbody>\n";
    ASSERT_EQ(test_support::read_file_bytes(file), head);

    // Another writer's row arriving line by line, as a slow stream would deliver it.
    std::wcout << L"<tr>" << std::endl << L"<td>05.12.2026 10:00:00</td>" << std::endl;
    EXPECT_EQ(test_support::read_file_bytes(file), head);
    std::wcout << L"<td>whole</td>" << std::endl << L"</tr>" << std::endl;
    const std::string row = "<tr>\n<td>05.12.2026 10:00:00</td>\n<td>whole</td>\n</tr>\n";
    EXPECT_EQ(test_support::read_file_bytes(file), head + row);

    std::wcout << L"<tr>" << std::endl << L"<td>cut short";
    test_support::destroy_window(frame);
    EXPECT_EQ(test_support::read_file_bytes(file), head + row + "<tr>\n<td>cut short");
}

TEST(journal_streams, a_closed_pane_gives_the_streams_their_buffers_back) {
    test_support::temporary_home home;
    std::wstreambuf* const cout_before = std::wcout.rdbuf();
    std::wstreambuf* const cerr_before = std::wcerr.rdbuf();
    auto* const frame = new wxFrame(nullptr, wxID_ANY, "journal");
    new log_viewer(frame, wxFileName(wxString::FromUTF8(home.path()), "j.html"));
    EXPECT_NE(std::wcout.rdbuf(), cout_before);
    EXPECT_NE(std::wcerr.rdbuf(), cerr_before);
    test_support::destroy_window(frame);
    EXPECT_EQ(std::wcout.rdbuf(), cout_before);
    EXPECT_EQ(std::wcerr.rdbuf(), cerr_before);
}

TEST(journal_streams, a_file_that_cannot_be_opened_leaves_the_pane_working) {
    test_support::temporary_home home;
    auto* const frame = new wxFrame(nullptr, wxID_ANY, "journal");
    const wxFileName impossible(wxString::FromUTF8(home.path() + "/missing/folder"), "j.html");
    auto* const view = new log_viewer(frame, impossible);
    log_error("still shown");
    EXPECT_NE(view->ToText().Find("still shown"), wxNOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/missing"));
    test_support::destroy_window(frame);
}

} // namespace
