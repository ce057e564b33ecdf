// The Self-Calibration page.
#include "K310_7K_Velcor_SPI_Main.h"

// Shows the encoder's calibration arc and time-out when the page comes into view.
void TMainForm::SelfCalibrationRefresh() {}
