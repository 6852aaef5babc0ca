#pragma once
// Carries std::wcout (information rows) into the journal pane.

#include "journal/ui_redirector.h"

class ui_redirector_cout : public ui_redirector {
public:
    explicit ui_redirector_cout(log_viewer* view);
};
