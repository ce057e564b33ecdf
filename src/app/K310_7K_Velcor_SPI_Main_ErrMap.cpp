// The Error Map page: the encoder's 512 correction values, read one register at a time and
// drawn as a line.
#include "K310_7K_Velcor_SPI_Main.h"

#include "ChartView.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Tarvo_konstante.h"

#include <algorithm>

void TMainForm::btnReadErrMapClick() {
    TAdapterAction busy(*this);

    // The map is read in one run with nothing else on the line.
    cbReadEncConstantly->setChecked(false);
    ErrMapProgressBar->setVisible(true);
    ErrMapProgressBar->setMaximum(500);
    Series1->Clear();
    Dialogs().setBusyCursor(true);

    for (int i = 0; i < Tarvo_konstante::kErrorMapEntries; ++i) {
        int16_t value = 0;
        if (!K310_SPI_Velcor::ReadErrorMapEntry(i, value)) {
            // What was read stays on the chart and the bar shows how far it came; reading stays
            // off, so the failure is not buried under the next passes.
            AddLog(ProtocolErrorText());
            Dialogs().setBusyCursor(false);
            return;
        }
        Series1->AddXY(i, value);
        // The bar repaints itself at once whenever its drawing changes (a repaint for every
        // entry would paint the same bar some 20 times over and cost a quarter of the wire
        // time); the chart follows when the window next paints.
        ErrMapProgressBar->setValue(std::min(i, ErrMapProgressBar->maximum()));
    }

    Dialogs().setBusyCursor(false);
    ErrMapProgressBar->setVisible(false);
    cbReadEncConstantly->setChecked(true);
}
