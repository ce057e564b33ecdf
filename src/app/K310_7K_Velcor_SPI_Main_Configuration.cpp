// The Configuration page.
#include "K310_7K_Velcor_SPI_Main.h"

// Shows the encoder's current offset, filter, error arc and preset when the page comes into view.
void TMainForm::ConfigurationRefresh() {}
