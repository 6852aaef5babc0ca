#include "position/dpp_thread.h"

#include "platform/paths.h"
#include "platform/text.h"

#include <boost/asio/read.hpp>
#include <boost/system/system_error.hpp>
#include <exception>

wxDEFINE_EVENT(dpp_value_event, wxThreadEvent);
wxDEFINE_EVENT(dpp_error_event, wxThreadEvent);

void dpp_stop_handle::stop() {
    std::unique_lock<std::mutex> guard(lock);
    if (io != nullptr)
        io->stop();
    gone.wait(guard, [this] { return ended; });
}

bool dpp_stop_handle::has_ended() {
    const std::lock_guard<std::mutex> guard(lock);
    return ended;
}

void dpp_stop_handle::mark_ended() {
    const std::lock_guard<std::mutex> guard(lock);
    io = nullptr;
    ended = true;
    gone.notify_all();
}

std::shared_ptr<dpp_stop_handle> dpp_thread::start(wxEvtHandler* owner, const wxString& port_name) {
    auto* thread = new dpp_thread(owner, port_name);
    std::shared_ptr<dpp_stop_handle> handle = thread->handle;
    if (thread->Run() != wxTHREAD_NO_ERROR) {
        // A detached thread that never ran does not delete itself.
        thread->post_error("thread: cannot start the reader");
        delete thread;
    }
    return handle;
}

dpp_thread::dpp_thread(wxEvtHandler* owner, const wxString& port_name)
    : wxThread(wxTHREAD_DETACHED), port(io), owner(owner),
      device_name(platform::serial_device_path(port_name)),
      handle(std::make_shared<dpp_stop_handle>()) {
    handle->io = &io;
}

dpp_thread::~dpp_thread() {
    // First of all, before io goes: a stop() that finds the reader still there may use io.
    handle->mark_ended();
}

wxThread::ExitCode dpp_thread::Entry() {
    try {
        open_and_configure();
        read_next_byte();
        io.run();
        if (port.is_open())
            port.close();
        return 0;
    } catch (const boost::system::system_error& failure) {
        post_error(platform::from_narrow(failure.what()));
    } catch (const std::exception& failure) {
        post_error(platform::from_narrow(failure.what()));
    }
    return reinterpret_cast<ExitCode>(-1);
}

void dpp_thread::open_and_configure() {
    using boost::asio::serial_port_base;
    port.open(platform::to_narrow(device_name));
    port.set_option(serial_port_base::baud_rate(115200));
    port.set_option(serial_port_base::flow_control(serial_port_base::flow_control::none));
    port.set_option(serial_port_base::parity(serial_port_base::parity::none));
    port.set_option(serial_port_base::character_size(8));
    port.set_option(serial_port_base::stop_bits(serial_port_base::stop_bits::one));
}

void dpp_thread::read_next_byte() {
    boost::asio::async_read(port, boost::asio::buffer(&in_byte, 1),
                            [this](const boost::system::error_code& error, size_t transferred) {
                                on_read(error, transferred);
                            });
}

void dpp_thread::on_read(const boost::system::error_code& error, size_t transferred) {
    if (error) {
        // No further read: io runs out of work, Entry closes the port and the thread ends.
        post_error(wxString::Format(wxString::FromUTF8("Ошибка COM [%i]"), error.value()));
        return;
    }
    if (transferred == 1) {
        for (const dpp_reading& reading : recogniser.push(in_byte))
            post_reading(reading);
    }
    read_next_byte();
}

void dpp_thread::post_reading(const dpp_reading& reading) {
    auto* event = new wxThreadEvent(dpp_value_event, wxID_ANY);
    event->SetString(
        wxString::Format(wxString::FromUTF8("ДПП[%d]: %d"), reading.frame_length, reading.value));
    event->SetExtraLong(reading.value);
    wxQueueEvent(owner, event);
}

void dpp_thread::post_error(const wxString& text) {
    auto* event = new wxThreadEvent(dpp_error_event, wxID_ANY);
    event->SetString(text);
    wxQueueEvent(owner, event);
}
