// Start-up options of the simulator, shared by k310-sim and the workbench's --simulate, with the
// parser of the compact "PRESET[,OPTION=VALUE...]" form.
#pragma once

#include "SimVariant.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

constexpr const char* kDefaultPreset = "t1";

// Ranges that the start-up options and the control commands share, so that both refuse alike.
// Beyond them a value has no meaning for the device (or only overflows its arithmetic).
constexpr double kMaxRotateDegPerS = 360000.0; // 1000 turns per second, far beyond any encoder
constexpr double kMinTimeScale = 0.001;
constexpr double kMaxTimeScale = 10000.0;
// SELF_CAL_TIMEOUT holds at most 255 s: a longer run would time out whatever the register says.
constexpr double kMaxSelfCalSeconds = 255.0;

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
    // The encoder's serial number and part number instead of the preset's (any bytes: a device is
    // outside input, and the workbench must store and show what it sends as it is). Empty: the
    // preset's.
    std::string encoderSerial;
    std::string partNumber;
    // Served on an in-process port instead of a pseudo-terminal: reached only through this
    // program's port API. Always so where the system has no pseudo-terminals (Windows).
    bool inProcess = false;
};

// "t5", "t1mt,rotate=30,noise=2,wire-timing=1", ",noise=1" (default preset). Options: position=ST[:MT],
// rotate=DEG_PER_S, noise=COUNTS, wire-timing=0|1, usb-frames=0|1, power-on=0|1, time-scale=X,
// selfcal-seconds=S, adapter-version=TEXT, adapter-serial=TEXT, adapter-revision=N,
// encoder-serial=TEXT, part-number=TEXT.
// False with the reason in `error` for an unknown preset, option or value, and for a position or
// noise outside the preset's range (CheckSimOptions).
bool ParseSimOptions(std::string_view text, SimOptions& out, std::string& error);

// One option by name and value, as both the compact form and k310-sim's flags use them. What
// depends on the preset, which may come later, is judged by CheckSimOptions once all are read.
bool ApplySimOption(std::string_view name, std::string_view value, SimOptions& out, std::string& error);

// How an option is named in an error: "position=5" (the compact form) or "--position 5" (flags).
enum class OptionSpelling { Compact, Flag };

// The options that depend on the preset, judged against it: the position (PositionProblem) and the
// noise (0 up to one turn's counts). False with the reason in `error`.
bool CheckSimOptions(const SimOptions& options, OptionSpelling spelling, std::string& error);

// "ST" or "ST:MT"; both may be negative (and are then judged by PositionProblem).
bool ParsePosition(std::string_view text, int64_t& st, int64_t& mt);

// Why `st` single-turn counts and `mt` turns are no position of `variant` ("" when they are one):
// the single-turn count is 0..counts per turn - 1, the turn count fits the encoder's turn counter
// (-32768..32767 on a multiturn encoder, 0 on a single-turn one). `shown` names the value as the
// user gave it ("--position 300000"); the text begins with it: "--position 300000 is outside
// 0..262143 for preset t1".
std::string PositionProblem(const EncoderVariant& variant, int64_t st, int64_t mt, const std::string& shown);

// Why `counts` is no noise for `variant` ("" when it is one): its standard deviation is 0 up to one
// turn's counts; more is no longer a reading with noise. Begins with `shown`, as PositionProblem.
std::string NoiseProblem(const EncoderVariant& variant, double counts, const std::string& shown);

// "ST" or "ST:MT" (the turn count only when it is not 0).
std::string PositionText(int64_t st, int64_t mt);
// A number as the user would write it: 2, 1.5, 1e+20.
std::string NumberText(double value);

} // namespace sim
