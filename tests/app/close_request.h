#pragma once
// Closing a top-level window of another process as its close button does.

namespace test_support {

// Sends the window the window-manager protocol's WM_DELETE_WINDOW message, which is what the
// window manager sends when the operator clicks the window's close button. False when the X
// display cannot be reached.
bool send_close_request(unsigned long window_id);

} // namespace test_support
