// The Diagnostics page's own controls: the safety-margin reset, the choice of status word the
// reading shows, clearing the persistent status, and two protocol utilities. The page's values
// themselves are filled by the reading pass.
#include "K310_7K_Velcor_SPI_Main.h"

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Tarvo_konstante.h"

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Velcor = K310_SPI_Velcor;
namespace Layout = Tarvo_konstante;

} // namespace

void TMainForm::btnDecodingSafetyResetClick() {
    TAdapterAction busy(*this);
    // The encoder keeps the lowest margin it has seen; writing the start value starts it afresh.
    // The next pass on this page shows the new value.
    if (!Velcor::WriteRegister(Layout::SAFETY_PER, 2, Layout::kSafetyPerResetValue))
        AddLog(ProtocolErrorText());
}

// The reading shows one status word: the detailed read's, or the persistent one. Ticking either
// box clears the other; clearing a box leaves the other as it is.
void TMainForm::cbPersistentStatusClick() {
    if (cbPersistentStatus->isChecked()) cbDetailedStatus->setChecked(false);
}

void TMainForm::cbDetailedStatusClick() {
    if (cbDetailedStatus->isChecked()) cbPersistentStatus->setChecked(false);
}

void TMainForm::btnClearPersistentStatusClick() {
    TAdapterAction busy(*this);
    // Type 1 encoders want their sensor temperature read before a write is taken reliably.
    if (Velcor::EncoderType == 1) Velcor::ReadSensorTemperature();
    if (Layout::HasPersistentStatus && !Velcor::ClearPersistentStatus()) AddLog(ProtocolErrorText());
}

void TMainForm::btnResetVelcorProtocolClick() {
    TAdapterAction busy(*this);
    // Either the adapter's confirmation or the reason it did not come.
    Velcor::ResetVelcorProtocol();
    AddLog(ProtocolErrorText());
}

void TMainForm::btnReadWriteAccessRegisterClick() {
    TAdapterAction busy(*this);
    std::string text;
    Velcor::WriteAccessStatusText(text);
    AddLog(QString::fromUtf8(text));
}
