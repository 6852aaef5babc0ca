#pragma once
// Carries std::wcerr (error rows) into the journal pane.

#include "journal/ui_redirector.h"

class ui_redirector_cerr : public ui_redirector {
public:
    explicit ui_redirector_cerr(log_viewer* view);
};
