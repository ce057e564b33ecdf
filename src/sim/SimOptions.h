// Start-up options of the simulator, shared by k310-sim and the workbench's --simulate, with the
// parser of the compact "PRESET[,OPTION=VALUE...]" form.
#pragma once

#include "SimVariant.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

constexpr const char* kDefaultPreset = "t1";

struct SimOptions {
    std::string preset = kDefaultPreset;
    int64_t positionSt = 0;     // single-turn counts of the shaft
    int64_t positionMt = 0;     // turn count
    double rotateDegPerS = 0.0; // shaft speed
    double noiseCounts = 0.0;   // standard deviation of the reading, in counts
    bool wireTiming = false;    // delay replies by their time on a 115200 8N1 wire
    bool usbFrames = false;     // deliver replies on 1 ms USB frame boundaries
    bool powerOn = false;       // supply on from the start
    double timeScale = 1.0;     // simulated seconds per real second
    double selfCalSeconds = 3.0;
    AdapterIdentity adapter;
};

// "t5", "t1mt,rotate=30,noise=2,wire-timing=1", ",noise=1" (default preset). Options: position=ST[:MT],
// rotate=DEG_PER_S, noise=COUNTS, wire-timing=0|1, usb-frames=0|1, power-on=0|1, time-scale=X,
// selfcal-seconds=S, adapter-version=TEXT, adapter-serial=TEXT, adapter-revision=N.
// False with the reason in `error` for an unknown preset, option or value.
bool ParseSimOptions(std::string_view text, SimOptions& out, std::string& error);

// One option by name and value, as both the compact form and k310-sim's flags use them.
bool ApplySimOption(std::string_view name, std::string_view value, SimOptions& out, std::string& error);

// "ST" or "ST:MT"; both may be negative.
bool ParsePosition(std::string_view text, int64_t& st, int64_t& mt);

} // namespace sim
