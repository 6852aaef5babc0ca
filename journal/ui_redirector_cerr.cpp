#include "journal/ui_redirector_cerr.h"

#include <iostream>

ui_redirector_cerr::ui_redirector_cerr(log_viewer* view) : ui_redirector(std::wcerr, view) {}
