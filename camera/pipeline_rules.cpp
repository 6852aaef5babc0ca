#include "camera/pipeline_rules.h"

#include "media/stream_reader.h"
#include "platform/text.h"

#include <algorithm>
#include <cmath>

bool write_step_selector::select(double abs) {
    if (std::fabs(abs - last_written) < interval)
        return false;
    last_written = abs;
    return true;
}

TrackPosition frame_numbering::position_for(const exchange_result& result) {
    const auto number = static_cast<int32_t>(fix_count);
    switch (result.status) {
    case exchange_result::outcome::fix:
        ++fix_count;
        return TrackPosition(number, result.fix);
    case exchange_result::outcome::no_fix:
    case exchange_result::outcome::not_connected:
        break;
    }
    return TrackPosition(number);
}

bool queue_budget::admit(std::size_t bytes) {
    last_admitted = bytes <= limit && used <= limit - bytes;
    if (last_admitted) {
        used += bytes;
        peak = std::max(peak, used);
    } else
        ++dropped;
    return last_admitted;
}

void queue_budget::release(std::size_t bytes) {
    used = bytes < used ? used - bytes : 0;
}

long queue_budget::take_finished_drops(bool finished) {
    if (dropped == 0 || (!last_admitted && !finished))
        return 0;
    const long episode = dropped;
    dropped = 0;
    return episode;
}

bool copies_camera_stream(bool hard_subs, long write_interval, const wxString& write_format,
                          const wxString& codec) {
    return !hard_subs && write_interval == 0 && write_format.IsSameAs("AVI", false) &&
           codec.IsSameAs("h264", false);
}

std::string mask_url_password(const std::string& url) {
    // The last "@" ends the user part even when the password holds "/" or "@" unescaped: a
    // journal row may over-mask an odd path, but never shows a password.
    const auto scheme_end = url.find("://");
    const auto user_begin = scheme_end == std::string::npos ? 0 : scheme_end + 3;
    const auto at = url.rfind('@');
    if (at == std::string::npos || at < user_begin)
        return url;
    const auto colon = url.find(':', user_begin);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

namespace {

wxString with_url(const char* format_utf8, const std::string& url) {
    return wxString::Format(wxString::FromUTF8(format_utf8),
                            platform::from_narrow(mask_url_password(url)));
}

} // namespace

wxString camera_opened_row(const std::string& url, double fps, double fourcc, double width,
                           double height) {
    return wxString::Format(wxString::FromUTF8("Камера: %s fps: %0.0f codec: %d size: %dx%d"),
                            platform::from_narrow(mask_url_password(url)), fps,
                            static_cast<int>(fourcc), static_cast<int>(width),
                            static_cast<int>(height));
}

wxString coordinate_server_row(const wxString& address, const wxString& port) {
    return wxString::Format(wxString::FromUTF8("Сервер координат: %s:%s"), address, port);
}

wxString camera_failed_row(const std::string& url) {
    return with_url("Не удалось подключить камеру: %s", url);
}

wxString camera_failure_reason_row(media::open_failure reason, const std::string& detail,
                                   int timeout_seconds) {
    const auto row = [](const char* text) {
        return wxString::FromUTF8("Причина: ") + wxString::FromUTF8(text);
    };
    switch (reason) {
    case media::open_failure::login_refused:
        return row("камера не приняла имя пользователя или пароль (401)");
    case media::open_failure::not_found:
        return row("у камеры нет потока по этому пути (404)");
    case media::open_failure::connection_refused:
        return row("камера отказала в соединении: по этому адресу и порту никто не ждет");
    case media::open_failure::no_answer:
        return wxString::Format(wxString::FromUTF8("Причина: камера не ответила за %d с"),
                                timeout_seconds);
    case media::open_failure::none:
    case media::open_failure::other:
        break;
    }
    return row("камера не отдала видеопоток") + " (" + wxString::FromUTF8(detail) + ")";
}

wxString camera_lost_row(const std::string& url) {
    return with_url("Потеряна связь с камерой: %s", url);
}

wxString frames_dropped_row(long frames) {
    return wxString::Format(wxString::FromUTF8("Очередь записи переполнена: пропущено %ld кадров"),
                            frames);
}

wxString frames_received_row(int32_t frames, int32_t seconds) {
    const int32_t rate = seconds > 0 ? frames / seconds : 0;
    return wxString::Format(wxString::FromUTF8("Принято %d кадров за %d c, [%d fps]"), frames,
                            seconds, rate);
}

wxString frames_written_row(int32_t frames) {
    return wxString::Format(wxString::FromUTF8("Записано %d кадров."), frames);
}

int subtitle_top(int subs_position, int area_height, int text_height) {
    return subs_position == 0 ? 10 : area_height - text_height - 10;
}
