// Message boxes that show nothing and answer every question yes: a benchmark has nobody at the
// window. Header-only, so every window benchmark can have it on any system.
#pragma once

#include "Dialogs.h"

namespace bench {

class SilentDialogs : public TDialogs {
public:
    void information(const QString&) override {}
    void warning(const QString&) override {}
    void error(const QString&) override {}
    bool question(const QString&) override { return true; }
    void questionSound() override {}
    void setBusyCursor(bool) override {}
};

} // namespace bench
