// Marks the main window busy while an operation runs, so a timer completion
// that would load or release the image set waits for its next tick.
#pragma once

#include "app/frm_main.h"

class BusyScope {
public:
    explicit BusyScope(frmMain& window) : window_(window) { ++window_.busy_; }
    ~BusyScope() {
        if (--window_.busy_ == 0) emit window_.operationEnded();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    frmMain& window_;
};
