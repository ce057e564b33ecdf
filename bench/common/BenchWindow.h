// What the window benchmarks share: a quiet dialog seam, clocks and memory readings, and a window
// connected to the in-process simulator.
#pragma once

#include "Dialogs.h"
#include "K310Simulator.h"
#include "K310_7K_Velcor_SPI_Main.h"
#include "SilentDialogs.h"

#include <memory>

namespace bench {

double WallSeconds();
double ThreadCpuSeconds();
long ResidentBytes();
double LoadAverage();

// The simulator of `options` (k310-sim's option text), started; null with the reason printed.
std::unique_ptr<sim::K310Simulator> StartSimulator(const char* options);

// Options for a benchmark window: no real ports, `dialogs` for its message boxes.
TMainFormOptions WindowOptions(TDialogs& dialogs);

// Hands the simulator's port to `form` as the adapter and connects the encoder; false with the
// reason printed.
bool ConnectToSimulator(TMainForm& form, sim::K310Simulator& simulator);

} // namespace bench
