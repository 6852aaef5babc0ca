// The harness itself: other groups' window tests rely on these guarantees.

#include "tests/support/gui_test.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>

namespace {

TEST(test_support, thread_events_are_handled_while_pumping) {
    auto* const frame = new wxFrame(nullptr, wxID_ANY, "events");
    int received = 0;
    frame->Bind(wxEVT_THREAD, [&](wxThreadEvent& event) { received += event.GetInt(); });
    std::thread worker([frame] {
        for (int i = 0; i < 3; ++i) {
            auto* const event = new wxThreadEvent(wxEVT_THREAD);
            event->SetInt(1);
            wxQueueEvent(frame, event);
        }
    });
    worker.join();
    EXPECT_TRUE(test_support::pump_events_until([&] { return received == 3; }));
    test_support::destroy_window(frame);
    EXPECT_EQ(wxTopLevelWindows.Find(frame), nullptr);
}

TEST(test_support, message_boxes_are_recorded_and_answered) {
    test_support::message_box_catcher boxes(wxID_CANCEL);
    const int answer =
        wxMessageBox(wxString::FromUTF8("Текст"), wxString::FromUTF8("Заголовок"), wxOK | wxCANCEL);
    EXPECT_EQ(answer, wxCANCEL);
    boxes.set_return_code(wxID_OK);
    EXPECT_EQ(wxMessageBox("second", "caption", wxOK | wxCANCEL), wxOK);
    ASSERT_EQ(boxes.dialogs().size(), 2u);
    EXPECT_EQ(boxes.dialogs()[0].caption, wxString::FromUTF8("Заголовок"));
    EXPECT_EQ(boxes.dialogs()[0].message, wxString::FromUTF8("Текст"));
    EXPECT_EQ(boxes.dialogs()[1].message, "second");
}

TEST(test_support, log_messages_are_recorded_and_the_target_restored) {
    wxLog* const before = wxLog::GetActiveTarget();
    {
        test_support::log_catcher log;
        wxLogError("first %d", 1);
        wxLogWarning("second");
        ASSERT_EQ(log.messages().size(), 2u);
        EXPECT_EQ(log.messages()[0].level, wxLOG_Error);
        EXPECT_EQ(log.messages()[0].text, "first 1");
        EXPECT_EQ(log.messages()[1].level, wxLOG_Warning);
    }
    EXPECT_EQ(wxLog::GetActiveTarget(), before);
}

TEST(test_support, temporary_home_is_seen_by_the_toolkit_and_cleaned_up) {
    const std::string before = std::getenv("HOME") ? std::getenv("HOME") : "";
    std::string folder;
    {
        test_support::temporary_home home;
        folder = home.path();
        EXPECT_EQ(wxFileName::GetHomeDir(), wxString::FromUTF8(folder));
        std::filesystem::create_directories(folder + "/a/b");
        std::ofstream(folder + "/a/b/file.txt") << "Привет";
        EXPECT_EQ(test_support::read_file_utf8(folder + "/a/b/file.txt"),
                  wxString::FromUTF8("Привет"));
        std::filesystem::permissions(folder + "/a/b", std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_exec);
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(std::string(std::getenv("HOME") ? std::getenv("HOME") : ""), before);
}

} // namespace
