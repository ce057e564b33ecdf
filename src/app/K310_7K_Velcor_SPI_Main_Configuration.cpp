// The Configuration page: offset, filter, multiturn error arc and preset, saving to NVRAM, factory
// reset, the one-click zero at the current position, and configuration profiles to and from a file.
#include "K310_7K_Velcor_SPI_Main.h"

#include "Clock.h"
#include "ConfigProfile.h"
#include "ConfigurationRules.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Tarvo_konstante.h"

namespace {

namespace Shared = K310_BiSS_bidirectional;
namespace Velcor = K310_SPI_Velcor;
namespace Layout = Tarvo_konstante;

uint32_t RegisterValue() {
    const auto& d = Shared::RegisterData;
    return uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | uint32_t(d[3]);
}

// Type 1 encoders want their sensor temperature read before a write is taken reliably; on
// adapters from revision 10000 on the adapter sees to it for the plain register writes. The
// read's outcome does not matter.
void PreliminaryTemperatureRead(bool needed) {
    if (needed) Velcor::ReadSensorTemperature();
}

bool TypeOne() {
    return Velcor::EncoderType == 1;
}

// The settle time the encoder needs after writing its NVRAM before it answers reliably again.
constexpr uint32_t kNvramSettleMs = 150;

} // namespace

void TMainForm::ConfigurationRefresh() {
    TAdapterAction busy(*this);
    readOffset_.reset();
    if (Velcor::ReadRegister(Layout::RegPositionOffset, 4)) {
        readOffset_ = RegisterValue();
        edPosOffset->setText(QString::number(*readOffset_));
    } else {
        AddLog(ProtocolErrorText());
    }
    if (Velcor::ReadRegister(Layout::RegPositionFilter, 4))
        edFilterPosVal->setText(QString::number(RegisterValue()));
    else
        AddLog(ProtocolErrorText());
    if (Layout::HasMtErrThreshold) {
        if (Velcor::ReadRegister(Layout::RegMtErrThreshold, 1))
            edMTerrArc->setText(QString::number(Shared::RegisterData[3]));
        else
            AddLog(ProtocolErrorText());
    }
}

bool TMainForm::WriteEditToRegister(QLineEdit* edit, const QString& what, uint32_t address, uint8_t length,
                                    int64_t maxValue) {
    TAdapterAction busy(*this);
    PreliminaryTemperatureRead(TypeOne() && K310RevizijaFW < 10000);
    QString refusal;
    const std::optional<int64_t> value = Configuration::EditValue(edit->text(), {0, maxValue}, what, refusal);
    if (!value) {
        Dialogs().error(refusal + QStringLiteral(" Nothing was written."));
        return false;
    }
    // Values too big for the register go as they are: the encoder's answer says what it makes of them.
    if (!Velcor::WriteRegister(address, length, static_cast<uint32_t>(*value))) {
        AddLog(ProtocolErrorText());
        return false;
    }
    return true;
}

void TMainForm::btnWriteZeroClick() {
    WriteEditToRegister(edPosOffset, QStringLiteral("Position offset"), Layout::RegPositionOffset, 4,
                        Configuration::kRegisterRange.max);
}

void TMainForm::btnWriteFilterClick() {
    WriteEditToRegister(edFilterPosVal, QStringLiteral("Position filter"), Layout::RegPositionFilter, 4,
                        Configuration::kRegisterRange.max);
}

void TMainForm::btnMTerrArcWriteClick() {
    WriteEditToRegister(edMTerrArc, QStringLiteral("Multiturn error arc"), Layout::RegMtErrThreshold, 1,
                        Configuration::kArcRange.max);
}

bool TMainForm::ApplyMultiturnPreset() {
    TAdapterAction busy(*this);
    PreliminaryTemperatureRead(TypeOne());
    QString refusal;
    const std::optional<int64_t> value =
        Configuration::EditValue(edMultiturnPreset->text(), Configuration::kMultiturnPresetRange,
                                 QStringLiteral("Multiturn preset"), refusal);
    if (!value) {
        Dialogs().error(refusal + QStringLiteral(" Nothing was written."));
        return false;
    }
    if (!Velcor::PresetMultiturn(Configuration::MultiturnPresetValue(static_cast<int32_t>(*value)))) {
        AddLog(ProtocolErrorText());
        return false;
    }
    return true;
}

void TMainForm::btnApplyMTClick() {
    ApplyMultiturnPreset();
}

void TMainForm::SaveToNvramAction(bool restartReading) {
    TAdapterAction busy(*this);
    // Takes the final reading pass now, before the save's own traffic.
    cbReadEncConstantly->setChecked(false);
    PreliminaryTemperatureRead(TypeOne());
    const bool saved = Velcor::SaveToNvram();
    // Kept before the refresh overwrites it.
    const QString reason = ProtocolErrorText();
    platform::SleepMs(kNvramSettleMs);
    PageChange();
    ReportNvramOutcome(saved, QStringLiteral("Save data done!"), QStringLiteral("Save data failed! "),
                       reason);
    if (restartReading) cbReadEncConstantly->setChecked(true);
}

// A refused save or reset must not be confirmed: the engineer would take the settings as kept
// and lose them at the next power cycle.
void TMainForm::ReportNvramOutcome(bool done, const QString& doneText, const QString& failedText,
                                   const QString& reason) {
    if (done) {
        Dialogs().information(doneText);
        return;
    }
    AddLog(reason);
    Dialogs().warning(failedText + reason);
}

void TMainForm::btnSaveFlashClick() {
    SaveToNvramAction(true);
}

void TMainForm::btnFactoryResetClick() {
    TAdapterAction busy(*this);
    cbReadEncConstantly->setChecked(false);
    const bool reset = Velcor::FactoryReset();
    const QString reason = ProtocolErrorText();
    platform::SleepMs(kNvramSettleMs);
    PageChange();
    ReportNvramOutcome(reset, QStringLiteral("Factory reset done!"), QStringLiteral("Factory reset failed! "),
                       reason);
    cbReadEncConstantly->setChecked(true);
}

void TMainForm::btnTarvoSetZeroClick() {
    TAdapterAction busy(*this);
    // Without an identified encoder there is no revolution to reduce the new zero into, and no
    // reading to base it on.
    if (Velcor::SingleTurnCounts < 2) {
        Dialogs().warning(QStringLiteral("Unable to set zero position: no encoder identified. "
                                         "Connect the encoder first."));
        return;
    }

    cbReadEncConstantly->setChecked(false);
    lblTarvoZeroStatus->setText(QStringLiteral("..."));
    lblTarvoZeroStatus->repaint();
    PreliminaryTemperatureRead(TypeOne());
    readOffset_.reset();
    PageChange(); // edPosOffset: the encoder's current offset
    btnReadEncoderClick();

    // Only this reading counts: after a failed one the position and its flags are the previous
    // reading's, and a zero made from them would be wrong, and saved.
    const auto& position = Shared::EncoderPosition;
    const QString problems =
        Configuration::ReadingProblemsText(LastPass.Decoded, position.ErrTimeout, position.ErrBit,
                                           position.ErrCRC, position.ErrComm, ProtocolErrorText());
    if (!problems.isEmpty()) {
        Dialogs().warning(QStringLiteral("Unable to set zero position. Errors encountered: ") + problems);
        cbReadEncConstantly->setChecked(true);
        return;
    }

    // A new zero from an offset the encoder did not just report (the edit then holds whatever was
    // there before) would be wrong, and it would be saved.
    if (!readOffset_) {
        Dialogs().warning(
            QStringLiteral("Unable to set zero position. The current zero position could not be "
                           "read from the encoder."));
        cbReadEncConstantly->setChecked(true);
        return;
    }
    const uint32_t currentZero = *readOffset_;
    const uint32_t reading = position.ST_value;
    lblTarvoZeroStatus->setText(QStringLiteral("Current zero pos: ") + QString::number(currentZero) +
                                QStringLiteral("\r\nEncoder pos: ") + QString::number(reading) +
                                QStringLiteral("\r\n"));
    // Known before anything is written. The offset is the register's unsigned value, so no sum of
    // it and a reading is out of range; only a revolution of no counts is (refused above already).
    const std::optional<int32_t> newZero =
        Configuration::NewZeroOffset(currentZero, reading, Velcor::SingleTurnCounts);
    if (!newZero) {
        // Reading stays off: the engineer is to look at the encoder before anything goes on.
        Dialogs().error(QStringLiteral("Range check error: no revolution of ") +
                        QString::number(Velcor::SingleTurnCounts) +
                        QStringLiteral(" counts to put the new zero position in. Nothing was written."));
        return;
    }

    // A failed write ends the preset before the save: a zero saved half-made (a counter preset
    // without its offset, or the old offset kept) is worse than none.
    const auto stop = [this](const QString& what) {
        const QString reason = ProtocolErrorText();
        Dialogs().warning(QStringLiteral("Error writing new zero position. Errors encountered: ") + reason);
        lblTarvoZeroStatus->setText(lblTarvoZeroStatus->text() + QStringLiteral("Stopped: ") + what +
                                    QStringLiteral(": ") + Configuration::FirstLine(reason));
        cbReadEncConstantly->setChecked(true);
    };

    // The multiturn count starts from 0 at the new zero.
    edMultiturnPreset->setText(QStringLiteral("0"));
    Shared::LastErrorText.clear();
    if (!ApplyMultiturnPreset()) {
        stop(QStringLiteral("Multiturn preset failed"));
        return;
    }

    edPosOffset->setText(QString::number(*newZero));
    if (!WriteEditToRegister(edPosOffset, QStringLiteral("Position offset"), Layout::RegPositionOffset, 4,
                             Configuration::kRegisterRange.max)) {
        stop(QStringLiteral("Writing new zero pos ") + QString::number(*newZero) + QStringLiteral(" failed"));
        return;
    }

    SaveToNvramAction(false);
    lblTarvoZeroStatus->setText(lblTarvoZeroStatus->text() + QStringLiteral("New zero pos: ") +
                                QString::number(*newZero) + QStringLiteral("\r\nMultiturn preset: 0"));

    if (!ApplyMultiturnPreset())
        Dialogs().warning(QStringLiteral("Error writing new zero position. Errors encountered: ") +
                          ProtocolErrorText());
    cbReadEncConstantly->setChecked(true);
}

namespace {

const QString kProfileFilter = QStringLiteral("Configuration profiles (*.json);;All files (*)");

} // namespace

// The profile's file format and its checks are the procedures' (the command line uses the same);
// here are the file dialog, the pause of continuous reading and the messages. Reading is paused,
// not stopped: it runs again afterwards only if it ran before.
void TMainForm::btnSaveProfileClick() {
    const QString file = Dialogs().getSaveFileName(QStringLiteral("Save profile"), kProfileFilter);
    if (file.isEmpty()) return;
    TAdapterAction busy(*this);
    const bool wasReading = cbReadEncConstantly->isChecked();
    cbReadEncConstantly->setChecked(false);
    Procedures::TConfigProfile profile;
    std::string error;
    const bool saved = Procedures::ReadProfileFromEncoder(profile, error) &&
                       Procedures::WriteProfileFile(file.toStdString(), profile, error);
    PageChange();
    if (saved) {
        AddLog(QStringLiteral("Profile saved to ") + file);
        Dialogs().information(QStringLiteral("Profile saved to ") + file);
    } else {
        const QString reason = QString::fromUtf8(error);
        AddLog(QStringLiteral("Save profile failed: ") + reason);
        Dialogs().error(QStringLiteral("Save profile failed: ") + reason);
    }
    if (wasReading) cbReadEncConstantly->setChecked(true);
}

void TMainForm::btnLoadProfileClick() {
    const QString file = Dialogs().getOpenFileName(QStringLiteral("Load profile"), kProfileFilter);
    if (file.isEmpty()) return;
    // The whole file is checked before anything reaches the encoder.
    Procedures::TConfigProfile profile;
    std::string error;
    if (!Procedures::ReadProfileFile(file.toStdString(), profile, error)) {
        const QString reason = QString::fromUtf8(error);
        AddLog(QStringLiteral("Load profile failed: ") + reason);
        Dialogs().error(QStringLiteral("Load profile failed: ") + reason);
        return;
    }
    TAdapterAction busy(*this);
    const bool wasReading = cbReadEncConstantly->isChecked();
    cbReadEncConstantly->setChecked(false);
    // Saving to NVRAM stays the page's own button: the engineer sees the values first.
    const Procedures::TProfileApplyResult result = Procedures::ApplyProfile(profile, false);
    PageChange();
    const QString name = QString::fromUtf8(profile.Name);
    if (result.Ok) {
        AddLog(QStringLiteral("Profile \"") + name + QStringLiteral("\" applied from ") + file);
        Dialogs().information(QStringLiteral("Profile \"") + name +
                              QStringLiteral("\" applied. Save to NVRAM keeps it after a power cycle."));
    } else {
        const QString reason = QString::fromUtf8(result.Error);
        AddLog(QStringLiteral("Load profile failed: ") + reason);
        Dialogs().error(QStringLiteral("Load profile failed: ") + reason);
    }
    if (wasReading) cbReadEncConstantly->setChecked(true);
}
