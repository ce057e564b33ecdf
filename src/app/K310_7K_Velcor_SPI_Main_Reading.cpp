// The reading cycle: "Read Position" and "Read constantly".
#include "K310_7K_Velcor_SPI_Main.h"

void TMainForm::btnReadEncoderClick() {}

void TMainForm::cbReadEncConstantlyClick() {}

void TMainForm::seDelayBetweenReadingsChange() {
    CycReadWait = seDelayBetweenReadings->value();
}
