#pragma once
// The path-sensor reader: a detached thread that reads the sensor's serial line one byte at a
// time and posts every reading, and the one failure that ends it, to its owner as thread
// events:
//   dpp_value_event  text "ДПП[4]: %d" or "ДПП[7]: %d", the reading as GetExtraLong();
//   dpp_error_event  text of the failure ("open: ...", "set_option: ...", "close: ...",
//                    "Ошибка COM [n]"); posted once, as the thread ends, and never after it.
//
// Stopping. A detached thread deletes itself when it ends, and on wxGTK Delete() on a detached
// thread neither waits for it nor runs its destructor (the thread runs it itself, after Entry),
// so a pointer to the thread may dangle at any moment: a reader that has failed may already be
// gone while its error event still waits in the queue. The owner therefore never keeps a
// pointer to the thread; it keeps the dpp_stop_handle that start() returns. The reader's end
// and the owner's stop meet under the handle's lock, whatever order events are handled in.
//
//   auto dpp = dpp_thread::start(this, port_name); // in the constructor, after Bind
//   dpp->stop();                                    // in the destructor, before anything goes
//
// stop() makes the reader's I/O loop return and waits until the thread object has been
// destroyed; after it returns no more events are posted to the owner, so the owner may go.
// It returns at once when the reader has already ended, and may be called more than once.

#include "position/dpp_frame_recogniser.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/error_code.hpp>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <wx/event.h>
#include <wx/string.h>
#include <wx/thread.h>

wxDECLARE_EVENT(dpp_value_event, wxThreadEvent);
wxDECLARE_EVENT(dpp_error_event, wxThreadEvent);

// What the owner keeps of a running reader. Thread-safe.
class dpp_stop_handle {
public:
    // Ends the reader and waits until its thread object is gone. Safe after the reader has
    // ended on its own, and safe to repeat.
    void stop();

    // True once the reader's thread object has been destroyed.
    bool has_ended();

private:
    friend class dpp_thread;

    void mark_ended();

    std::mutex lock;                       // guards io and ended
    std::condition_variable gone;          // signalled when ended becomes true
    boost::asio::io_context* io = nullptr; // the reader's loop while the reader exists
    bool ended = false;
};

class dpp_thread : public wxThread {
public:
    // Creates the reader for the port named as the settings name it ("COM1", or a device path)
    // and runs it. If the thread cannot be started, one dpp_error_event says so and the
    // returned handle has already ended.
    static std::shared_ptr<dpp_stop_handle> start(wxEvtHandler* owner, const wxString& port_name);

    ~dpp_thread() override;

protected:
    ExitCode Entry() override;

private:
    dpp_thread(wxEvtHandler* owner, const wxString& port_name);

    void open_and_configure();
    void read_next_byte();
    void on_read(const boost::system::error_code& error, size_t transferred);
    void post_reading(const dpp_reading& reading);
    void post_error(const wxString& text);

    boost::asio::io_context io;
    boost::asio::serial_port port;
    wxEvtHandler* const owner; // destination of every event; not owned
    dpp_frame_recogniser recogniser;
    const wxString device_name;
    uint8_t in_byte = 0;
    const std::shared_ptr<dpp_stop_handle> handle;
};
