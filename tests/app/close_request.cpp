#include "tests/app/close_request.h"

#include <X11/Xlib.h>
#include <memory>

namespace test_support {

bool send_close_request(const unsigned long window_id) {
    const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    if (!display)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_id;
    event.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] =
        static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    // Closing the display flushes the request.
    return XSendEvent(display.get(), window_id, False, NoEventMask, &event) != 0;
}

} // namespace test_support
