#include "settings/settings_store.h"

#include "platform/text.h"

#include <stdexcept>

#include <wx/utils.h>

const char default_camera_url[] = "rtsp://192.168.1.64//channel1";

using platform::utf8;

namespace {

const std::vector<const char*> write_formats = {"AVI", "PNG", "JPEG"};
const std::vector<const char*> codecs = {"MJPEG", "XVID", "DIVX", "h264", "h265"};
const std::vector<const char*> policies = {"Вся поездка", "1 километр", "5 километров",
                                           "10 километров", "Перегон", "Дистанция"};
const std::vector<const char*> positions = {"Вверху кадра", "Внизу кадра"};

wxString stored_text(const wxConfigBase& config, const wxString& name) {
    wxString text;
    config.Read(name, &text);
    return text.Strip(wxString::both);
}

} // namespace

const std::array<setting_key, 19>& all_settings() {
    static const std::array<setting_key, 19> table = {{
        {"front_camera_rtsp_address", setting_form::text, "Котел", "Камеры", default_camera_url, {}},
        {"back_camera_rtsp_address", setting_form::text, "Дизель", "Камеры", default_camera_url, {}},
        {"write_path", setting_form::text, "Каталог", "Запись", nullptr, {}},
        {"write_format", setting_form::choice_label, "Формат записи", "Запись", "PNG", write_formats},
        {"codec", setting_form::choice_label, "Кодек", "Запись", "XVID", codecs},
        {"write_interval", setting_form::integer, "Шаг записи (м)", "Запись", "10", {}},
        {"image_file_name_format", setting_form::text, "Формат имени файла (jpeg,png)", "Запись",
         "%frame_%dir-%way_%km-%m", {}},
        {"video_write_policy", setting_form::choice_label, "Запись видеофайла", "Запись",
         "Вся поездка", policies},
        {"show_subs", setting_form::boolean, "Показывать субтитры", "Субтитры", "1", {}},
        {"hard_subs", setting_form::boolean, "Встраивать субтитры", "Субтитры", "1", {}},
        {"subs_color", setting_form::colour, "Цвет", "Субтитры", "#0000FF", {}},
        {"subs_font", setting_form::font, "Шрифт", "Субтитры", "", {}},
        {"subs_position", setting_form::choice_value, "Расположение", "Субтитры", "0", positions},
        {"format_subs", setting_form::text, "Формат субтитров", "Субтитры",
         "%dir-%way %km:%m [%peregon]", {}},
        {"coordinate_server_address", setting_form::text, "Адрес", "Сервер координат", "127.0.0.1",
         {}},
        {"coordinate_server_port", setting_form::text, "Порт", "Сервер координат", "12500", {}},
        {"front_coordinate_offset", setting_form::floating, "Поправка координаты, котел (м)",
         "Координата", "0", {}},
        {"back_coordinate_offset", setting_form::floating, "Поправка координаты, дизель (м)",
         "Координата", "0", {}},
        {"dpp_port", setting_form::text, "Порт ДПП", "Координата", "COM1", {}},
    }};
    return table;
}

const setting_key& find_setting(const wxString& name) {
    for (const setting_key& key : all_settings())
        if (name == key.name)
            return key;
    throw std::invalid_argument("not a settings key: " + name.utf8_string());
}

wxString default_text(const setting_key& key) {
    if (key.fixed_default == nullptr)
        return wxGetUserHome(wxString());
    return utf8(key.fixed_default);
}

wxString read_text(const wxConfigBase& config, const wxString& name) {
    return config.Read(name, default_text(find_setting(name)));
}

long read_integer(const wxConfigBase& config, const wxString& name) {
    long value = 0;
    if (stored_text(config, name).ToLong(&value))
        return value;
    default_text(find_setting(name)).ToLong(&value);
    return value;
}

bool read_boolean(const wxConfigBase& config, const wxString& name) {
    return read_integer(config, name) != 0;
}

double read_floating(const wxConfigBase& config, const wxString& name) {
    const wxString text = stored_text(config, name);
    double value = 0.0;
    if (text.ToCDouble(&value) || text.ToDouble(&value))
        return value;
    default_text(find_setting(name)).ToCDouble(&value);
    return value;
}
