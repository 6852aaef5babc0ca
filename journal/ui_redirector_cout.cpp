#include "journal/ui_redirector_cout.h"

#include <iostream>

ui_redirector_cout::ui_redirector_cout(log_viewer* view) : ui_redirector(std::wcout, view) {}
