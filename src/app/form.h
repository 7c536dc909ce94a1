// Window state as plain data: the windows' handlers change these, and the
// toolkit layer only shows them and forwards events.
#pragma once

#include <functional>
#include <string>

namespace zqd {

// A control's caption or text and its enabled flag.
struct Control {
    std::string Name;
    std::string Text;
    bool Enabled = true;
    bool Checked = false;  // a check box's state
};

struct Timer {
    int Interval = 0;  // ms
    bool Enabled = false;
};

// Base of the two windows: reports every text a handler writes, in the
// order it was written (the command-line tool prints them as they come).
class Form {
public:
    std::function<void(const Control&)> Changed;
    bool Unloaded = false;  // the window has been unloaded and is to close

protected:
    void Set(Control& control, std::string text) {
        control.Text = std::move(text);
        if (Changed) Changed(control);
    }
};

}  // namespace zqd
