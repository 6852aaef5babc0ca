// Drives the real settings dialog over a real settings file in a temporary folder.

#include "settings/config_dialog.h"
#include "settings/settings_store.h"
#include "tests/support/gui_test.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/display.h>
#include <wx/fileconf.h>
#include <wx/image.h>
#include <wx/propgrid/propgrid.h>
#include <wx/utils.h>

namespace fs = std::filesystem;

namespace {

using key_values = std::vector<std::pair<std::string, std::string>>;

wxString utf8(const char* text) {
    return wxString::FromUTF8(text);
}

// The settings file as it lies on disk, key by key in file order, read without the toolkit.
key_values read_settings_file(const fs::path& path) {
    std::ifstream file(path);
    key_values entries;
    std::string line;
    while (std::getline(file, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return entries;
}

std::string file_text(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A toolkit assertion inside the dialog is a failure of the test, not a message box.
void fail_on_assertion(const wxString& file, int line, const wxString& function,
                       const wxString& condition, const wxString& message) {
    ADD_FAILURE() << "toolkit assertion " << condition.utf8_string() << " ("
                  << message.utf8_string() << ") in " << function.utf8_string() << " at "
                  << file.utf8_string() << ":" << line;
}

class settings_dialog_test : public testing::Test {
protected:
    void SetUp() override { previous_handler = wxSetAssertHandler(fail_on_assertion); }
    void TearDown() override { wxSetAssertHandler(previous_handler); }

    // Writes a settings file as an operator's earlier session would have left it.
    void prepare_file(const std::string& text) const { std::ofstream(file) << text; }

    std::unique_ptr<wxFileConfig> open_store() const {
        return std::make_unique<wxFileConfig>(wxString(), wxString(),
                                              wxString::FromUTF8(file.string()), wxString(),
                                              wxCONFIG_USE_LOCAL_FILE, wxConvUTF8);
    }

    // Shows the dialog modally; `operator_actions` runs inside its modal loop and must end it.
    static int run_modal(config_dialog& dialog,
                         std::function<void(config_dialog&)> operator_actions) {
        dialog.CallAfter([&dialog, operator_actions] { operator_actions(dialog); });
        return dialog.ShowModal();
    }

    static void press(config_dialog& dialog, int id) {
        auto* button = wxDynamicCast(dialog.FindWindow(id), wxButton);
        ASSERT_NE(button, nullptr);
        wxCommandEvent click(wxEVT_BUTTON, id);
        click.SetEventObject(button);
        button->ProcessWindowEvent(click);
    }

    static wxPropertyGrid& grid_of(config_dialog& dialog) {
        for (wxWindow* child : dialog.GetChildren())
            if (auto* grid = wxDynamicCast(child, wxPropertyGrid))
                return *grid;
        throw std::logic_error("the dialog has no property grid");
    }

    test_support::temporary_home home;
    const fs::path file = fs::path(home.path()) / ".kestrel";
    wxAssertHandler_t previous_handler = nullptr;
};

TEST_F(settings_dialog_test, shows_the_defaults_when_there_is_no_settings_file) {
    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    wxPropertyGrid& grid = grid_of(dialog);

    EXPECT_EQ(dialog.GetTitle(), utf8("Настройка программы"));
    EXPECT_EQ(dialog.FindWindow(wxID_OK)->GetLabel(), "Ok");
    EXPECT_EQ(dialog.FindWindow(wxID_CANCEL)->GetLabel(), utf8("Отмена"));
    const std::vector<std::pair<const char*, const char*>> shown = {
        {"front_camera_rtsp_address", default_camera_url},
        {"back_camera_rtsp_address", default_camera_url},
        {"write_format", "PNG"},
        {"codec", "XVID"},
        {"write_interval", "10"},
        {"image_file_name_format", "%frame_%dir-%way_%km-%m"},
        {"video_write_policy", "Вся поездка"},
        {"show_subs", "Да"},
        {"hard_subs", "Да"},
        {"subs_position", "Вверху кадра"},
        {"format_subs", "%dir-%way %km:%m [%peregon]"},
        {"coordinate_server_address", "127.0.0.1"},
        {"coordinate_server_port", "12500"},
        {"front_coordinate_offset", "0"},
        {"back_coordinate_offset", "0"},
        {"dpp_port", "COM1"},
    };
    for (const auto& [name, text] : shown)
        EXPECT_EQ(grid.GetProperty(name)->GetDisplayedString(), utf8(text)) << name;
    EXPECT_EQ(grid.GetProperty("write_path")->GetDisplayedString(),
              wxString::FromUTF8(home.path()));

    wxColour colour;
    colour << grid.GetPropertyValue("subs_color");
    EXPECT_EQ(colour, wxColour(0, 0, 255));
    wxFont font;
    font << grid.GetPropertyValue("subs_font");
    EXPECT_EQ(font.GetNativeFontInfoDesc(), wxFont(wxString()).GetNativeFontInfoDesc());

    EXPECT_EQ(grid.GetProperty("dpp_port")->GetParent()->GetLabel(), utf8("Координата"));
}

TEST_F(settings_dialog_test, lists_five_categories_and_nineteen_properties_in_order) {
    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    wxPropertyGrid& grid = grid_of(dialog);

    const std::vector<std::pair<const char*, std::vector<const char*>>> layout = {
        {"Камеры", {"Котел", "Дизель"}},
        {"Запись",
         {"Каталог", "Формат записи", "Кодек", "Шаг записи (м)", "Формат имени файла (jpeg,png)",
          "Запись видеофайла"}},
        {"Субтитры",
         {"Показывать субтитры", "Встраивать субтитры", "Цвет", "Шрифт", "Расположение",
          "Формат субтитров"}},
        {"Сервер координат", {"Адрес", "Порт"}},
        {"Координата",
         {"Поправка координаты, котел (м)", "Поправка координаты, дизель (м)", "Порт ДПП"}},
    };
    wxPGProperty* root = grid.GetRoot();
    ASSERT_EQ(root->GetChildCount(), layout.size());
    for (unsigned int c = 0; c < layout.size(); ++c) {
        wxPGProperty* category = root->Item(c);
        EXPECT_TRUE(category->IsCategory());
        EXPECT_EQ(category->GetLabel(), utf8(layout[c].first));
        const auto& labels = layout[c].second;
        ASSERT_EQ(category->GetChildCount(), labels.size()) << layout[c].first;
        for (unsigned int p = 0; p < labels.size(); ++p)
            EXPECT_EQ(category->Item(p)->GetLabel(), utf8(labels[p]));
    }
}

TEST_F(settings_dialog_test, ok_without_changes_writes_every_key_and_the_file_holds_them) {
    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    EXPECT_EQ(run_modal(dialog, [](config_dialog& d) { press(d, wxID_OK); }), wxID_OK);
    EXPECT_EQ(store->Read("subs_color", wxString()), "rgb(0, 0, 255)");
    store->Flush(false);

    const key_values expected = {
        {"front_camera_rtsp_address", default_camera_url},
        {"back_camera_rtsp_address", default_camera_url},
        {"write_path", home.path()},
        {"write_format", "PNG"},
        {"codec", "XVID"},
        {"write_interval", "10"},
        {"image_file_name_format", "%frame_%dir-%way_%km-%m"},
        {"video_write_policy", "Вся поездка"},
        {"show_subs", "1"},
        {"hard_subs", "1"},
        {"subs_color", "rgb(0, 0, 255)"},
        {"subs_font", wxFont(wxString()).GetNativeFontInfoDesc().utf8_string()},
        {"subs_position", "0"},
        {"format_subs", "%dir-%way %km:%m [%peregon]"},
        {"coordinate_server_address", "127.0.0.1"},
        {"coordinate_server_port", "12500"},
        {"front_coordinate_offset", "0"},
        {"back_coordinate_offset", "0"},
        {"dpp_port", "COM1"},
    };
    EXPECT_EQ(read_settings_file(file), expected);
}

TEST_F(settings_dialog_test, cancel_and_closing_write_nothing_even_after_edits) {
    const std::string before = "write_interval=25\ncodec=DIVX\n";
    prepare_file(before);
    const auto store = open_store();
    const auto edit_then = [](std::function<void(config_dialog&)> leave) {
        return [leave](config_dialog& d) {
            grid_of(d).ChangePropertyValue("write_interval", 40L);
            grid_of(d).ChangePropertyValue("codec", 4L);
            leave(d);
        };
    };
    {
        config_dialog dialog(nullptr, store.get());
        EXPECT_EQ(run_modal(dialog, edit_then([](config_dialog& d) { press(d, wxID_CANCEL); })),
                  wxID_CANCEL);
    }
    {
        config_dialog dialog(nullptr, store.get());
        EXPECT_EQ(run_modal(dialog, edit_then([](config_dialog& d) { d.Close(); })), wxID_CANCEL);
    }
    EXPECT_EQ(store->GetNumberOfEntries(), 2u);
    EXPECT_EQ(store->Read("write_interval", wxString()), "25");
    EXPECT_EQ(store->Read("codec", wxString()), "DIVX");
    store->Flush(false);
    EXPECT_EQ(file_text(file), before);
}

TEST_F(settings_dialog_test, a_stored_value_no_entry_has_opens_unchosen_and_is_written_back) {
    prepare_file("write_format=png\nvideo_write_policy=every station\nsubs_position=7\n"
                 "codec=h264\n");
    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    wxPropertyGrid& grid = grid_of(dialog);
    EXPECT_EQ(grid.GetProperty("write_format")->GetChoiceSelection(), wxNOT_FOUND);
    EXPECT_EQ(grid.GetProperty("video_write_policy")->GetChoiceSelection(), wxNOT_FOUND);
    EXPECT_EQ(grid.GetProperty("subs_position")->GetChoiceSelection(), wxNOT_FOUND);
    EXPECT_EQ(grid.GetPropertyValueAsString("codec"), "h264");

    EXPECT_EQ(run_modal(dialog, [](config_dialog& d) { press(d, wxID_OK); }), wxID_OK);
    EXPECT_EQ(store->Read("write_format", wxString()), "png");
    EXPECT_EQ(store->Read("video_write_policy", wxString()), "every station");
    EXPECT_EQ(store->Read("subs_position", wxString()), "7");
    EXPECT_EQ(store->Read("codec", wxString()), "h264");
}

TEST_F(settings_dialog_test, an_entry_chosen_for_an_unmatched_value_replaces_it) {
    prepare_file("write_format=png\nsubs_position=7\n");
    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    EXPECT_EQ(run_modal(dialog,
                        [](config_dialog& d) {
                            grid_of(d).ChangePropertyValue("write_format", 1L);
                            grid_of(d).ChangePropertyValue("subs_position", 1L);
                            press(d, wxID_OK);
                        }),
              wxID_OK);
    EXPECT_EQ(store->Read("write_format", wxString()), "PNG");
    EXPECT_EQ(store->Read("subs_position", wxString()), "1");
}

TEST_F(settings_dialog_test, edited_values_are_written_in_their_stored_forms) {
    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    const wxFont chosen_font(wxFontInfo(17).FaceName("DejaVu Sans").Bold());
    ASSERT_TRUE(chosen_font.IsOk());
    EXPECT_EQ(run_modal(dialog,
                        [&chosen_font](config_dialog& d) {
                            wxPropertyGrid& grid = grid_of(d);
                            grid.ChangePropertyValue("front_camera_rtsp_address",
                                                     utf8("rtsp://10.0.0.5/котел"));
                            grid.ChangePropertyValue("write_format", 2L);
                            grid.ChangePropertyValue("codec", 3L);
                            grid.ChangePropertyValue("write_interval", 25L);
                            grid.ChangePropertyValue("video_write_policy", 4L);
                            grid.ChangePropertyValue("show_subs", false);
                            wxVariant colour;
                            colour << wxColour(255, 128, 0);
                            grid.ChangePropertyValue("subs_color", colour);
                            wxVariant font;
                            font << chosen_font;
                            grid.ChangePropertyValue("subs_font", font);
                            grid.ChangePropertyValue("subs_position", 1L);
                            grid.ChangePropertyValue("front_coordinate_offset", 2.5);
                            grid.ChangePropertyValue("back_coordinate_offset", -0.75);
                            press(d, wxID_OK);
                        }),
              wxID_OK);

    EXPECT_EQ(store->Read("front_camera_rtsp_address", wxString()), utf8("rtsp://10.0.0.5/котел"));
    EXPECT_EQ(store->Read("write_format", wxString()), "JPEG");
    EXPECT_EQ(store->Read("codec", wxString()), "h264");
    EXPECT_EQ(store->Read("write_interval", wxString()), "25");
    EXPECT_EQ(store->Read("video_write_policy", wxString()), utf8("Перегон"));
    EXPECT_EQ(store->Read("show_subs", wxString()), "0");
    EXPECT_EQ(store->Read("hard_subs", wxString()), "1");
    EXPECT_EQ(store->Read("subs_color", wxString()), "rgb(255, 128, 0)");
    EXPECT_EQ(store->Read("subs_position", wxString()), "1");
    EXPECT_EQ(store->Read("front_coordinate_offset", wxString()), "2.5");
    EXPECT_EQ(store->Read("back_coordinate_offset", wxString()), "-0.75");

    const wxFont stored_font(store->Read("subs_font", wxString()));
    ASSERT_TRUE(stored_font.IsOk());
    EXPECT_EQ(stored_font.GetPointSize(), 17);
    EXPECT_EQ(stored_font.GetWeight(), wxFONTWEIGHT_BOLD);
    EXPECT_EQ(stored_font.GetFaceName(), "DejaVu Sans");

    // The readers see what the operator chose.
    EXPECT_EQ(read_integer(*store, "write_interval"), 25);
    EXPECT_FALSE(read_boolean(*store, "show_subs"));
    EXPECT_DOUBLE_EQ(read_floating(*store, "back_coordinate_offset"), -0.75);
    EXPECT_EQ(wxColour(read_text(*store, "subs_color")), wxColour(255, 128, 0));
}

TEST_F(settings_dialog_test, stored_values_open_as_they_are_and_survive_ok_unchanged) {
    const wxFont font(wxFontInfo(11).FaceName("DejaVu Sans").Italic());
    const key_values stored = {
        {"front_camera_rtsp_address", "rtsp://10.1.1.1/a"},
        {"back_camera_rtsp_address", "rtsp://10.1.1.2/b"},
        {"write_path", "/data/поездки"},
        {"write_format", "AVI"},
        {"codec", "MJPEG"},
        {"write_interval", "3"},
        {"image_file_name_format", "%km_%m"},
        {"video_write_policy", "Дистанция"},
        {"show_subs", "0"},
        {"hard_subs", "0"},
        {"subs_color", "rgb(10, 20, 30)"},
        {"subs_font", font.GetNativeFontInfoDesc().utf8_string()},
        {"subs_position", "1"},
        {"format_subs", "%abs"},
        {"coordinate_server_address", "coords.local"},
        {"coordinate_server_port", "12600"},
        {"front_coordinate_offset", "1.5"},
        {"back_coordinate_offset", "-12.25"},
        {"dpp_port", "/dev/ttyUSB0"},
    };
    std::string text;
    for (const auto& [key, value] : stored)
        text += key + "=" + value + "\n";
    prepare_file(text);

    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    wxPropertyGrid& grid = grid_of(dialog);
    EXPECT_EQ(grid.GetProperty("show_subs")->GetDisplayedString(), utf8("Нет"));
    EXPECT_EQ(grid.GetProperty("subs_position")->GetDisplayedString(), utf8("Внизу кадра"));
    EXPECT_EQ(grid.GetProperty("video_write_policy")->GetDisplayedString(), utf8("Дистанция"));

    EXPECT_EQ(run_modal(dialog, [](config_dialog& d) { press(d, wxID_OK); }), wxID_OK);
    store->Flush(false);
    EXPECT_EQ(read_settings_file(file), stored);
}

// The dialog's area of the screen as it is drawn now.
wxImage capture_from_screen(const wxRect& area) {
    wxBitmap bitmap(area.GetSize());
    {
        wxMemoryDC memory(bitmap);
        wxScreenDC screen;
        memory.Blit(0, 0, area.width, area.height, &screen, area.x, area.y);
    }
    return bitmap.ConvertToImage();
}

TEST_F(settings_dialog_test, screenshot_of_the_open_dialog) {
    const auto store = open_store();
    config_dialog dialog(nullptr, store.get());
    const wxSize display = wxGetDisplaySize();
    EXPECT_EQ(dialog.GetSize(), wxSize(display.x * 7 / 10, display.y * 7 / 10));

    bool grid_painted = false;
    grid_of(dialog).Bind(wxEVT_PAINT, [&grid_painted](wxPaintEvent& event) {
        grid_painted = true;
        event.Skip();
    });
    wxImage shot;
    EXPECT_EQ(run_modal(dialog,
                        [&](config_dialog& d) {
                            EXPECT_TRUE(test_support::pump_events_until(
                                [&grid_painted] { return grid_painted; }));
                            test_support::pump_pending_events();
                            shot = capture_from_screen(d.GetScreenRect());
                            press(d, wxID_CANCEL);
                        }),
              wxID_CANCEL);

    ASSERT_TRUE(shot.IsOk());
    // The grid's categories are drawn on a grey band: a picture that is all one colour means
    // nothing was captured.
    const unsigned char* pixels = shot.GetData();
    const size_t bytes = static_cast<size_t>(shot.GetWidth()) * shot.GetHeight() * 3;
    EXPECT_FALSE(
        std::all_of(pixels, pixels + bytes, [&](unsigned char b) { return b == pixels[0]; }));

    const char* artifacts = std::getenv("KESTREL_ARTIFACTS");
    const fs::path folder = artifacts != nullptr ? artifacts : KESTREL_TEST_BUILD_DIR;
    fs::create_directories(folder);
    wxImage::AddHandler(new wxPNGHandler);
    EXPECT_TRUE(shot.SaveFile(wxString::FromUTF8((folder / "config_dialog.png").string()),
                              wxBITMAP_TYPE_PNG));
}

} // namespace
