// The test procedures' traffic through the window: a reading is the window's whole reading pass
// (the pass shows it, logs its failures and, recording, writes its record), the supply and the
// signal level go straight to the adapter. Any failed transaction re-arms the adapter search, as
// everywhere in the window, and so ends the procedure as a lost link.
#pragma once

#include "ProcedureTraffic.h"

class TMainForm;

class TWindowTraffic : public Procedures::TProcedureTraffic {
public:
    explicit TWindowTraffic(TMainForm& form) : form_(form) {}
    Procedures::TReading TakeReading() override;
    Procedures::TTrafficResult SwitchSupply(bool on) override;
    bool HasSignalLevel() const override;
    Procedures::TRegisterValue ReadSignalLevel() override;

private:
    TMainForm& form_;
};
