// The window against the simulated adapter and encoder on a real pseudo-terminal: found by the
// window's own search, "ON" and "Connect Encoder" for every encoder variant, a lost adapter.
#include "AppTestSupport.h"
#include "K310Simulator.h"
#include "K310_BiSS_bidirectional.h"
#include "SimOptions.h"

#include <gtest/gtest.h>

#include <string>

using app_testing::RecordingDialogs;

namespace {

// The simulated adapter's identity as the search shows it.
const QString kAdapterSerial = QStringLiteral("K7A2039104");
const QString kAdapterVersion = QStringLiteral("K310-7K v1.09.17");

QString DeviceName(const std::string& path) {
    const QString p = QString::fromStdString(path);
    return p.startsWith(QLatin1String("/dev/")) ? p.mid(5) : p;
}

// What one encoder variant must look like after "ON" and "Connect Encoder". Written out from the
// variant's answers ("j", registers), not taken from the simulator's own tables.
struct Expected {
    const char* preset;
    bool game; // "Velcor GAME" ticked before "ON"
    int velcor;
    const char* part;
    const char* serial;
    const char* firmware;
    bool mtErr, persistent, signal, selfCalTmo, fwRevision;
    int lenFw, lenSvn;
    int counts; // single-turn counts, the denominator of the resolution
    int codeLength;
    float K, N;
};

std::string Describe(const Expected& e) {
    return std::string(e.preset) + (e.game ? " (GAME)" : "");
}

const Expected kVariants[] = {
    {"t1", false, 1, "VK766-0A18B00010", "TS100234", "3.9.1.9300", true, true, true, true, true, 2, 2, 262144,
     9, -70.293434f, 735.0f},
    {"t1mt", false, 1, "VK876-0A19M00020", "TS170871", "3.5.0.8120", true, true, true, true, true, 2, 2,
     524288, 7, -83.556343f, 846.1f},
    // Firmware 2.9 with a code length other than 7 or 8 has no air-gap estimate.
    {"t2", false, 2, "VK886-0N18B00030", "TS200931", "2.9.2.7640", true, true, true, true, true, 2, 2, 262144,
     6, 0.0f, 0.0f},
    // The blank inside the encoder's serial number does not reach the log.
    {"t3", false, 2, "VS7-002P19B00040", "T300451", "3.9.0.9310", true, true, true, true, true, 2, 2, 524288,
     5, -119.36621f, 1236.0f},
    {"t4", false, 3, "TX900-0Q20B00050", "TS400512", "3.9.3.9340", true, true, true, true, true, 2, 2,
     1048576, 8, -71.619728f, 682.0f},
    {"t4", true, 3, "TX900-0Q20B00050", "TS400512", "3.9.3.9340", true, true, true, true, true, 2, 2, 1048576,
     8, -71.619728f, 682.0f},
    // New register layout: four-byte version registers, a hash, 18 serial characters for type 5.
    {"t5", false, 3, "QX120-0R19B00060", "TSR19B2026A0001234", "3.12.0.9412.5E1A9C3D", true, true, true, true,
     true, 4, 4, 524288, 9, -71.619728f, 749.0f},
    {"t6", false, 4, "VK768-0M21M00070", "TS6M21000004711A", "4.2.1.10234.C0FFEE42", true, true, true, true,
     true, 2, 4, 2097152, 9, -71.619728f, 730.0f},
    // No optional registers at all: everything they serve is disabled, no firmware text.
    {"bare", false, 1, "VK867-0A16B00080", "TS000080", "", false, false, false, false, false, 2, 2, 65536, 7,
     -83.556343f, 846.1f},
};

const Expected& Variant(const char* preset) {
    for (const Expected& e : kVariants)
        if (std::string(e.preset) == preset && !e.game) return e;
    return kVariants[0];
}

QString TrueFalse(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

QStringList ExpectedPowerOnLog(const Expected& e) {
    return e.game ? QStringList{"ON 3.3 V", "Supply 3.3 V ON, 61 mA"}
                  : QStringList{"ON 5.0 V", "Supply 5.0 V ON, 48 mA"};
}

QStringList ExpectedConnectionLog(const Expected& e) {
    return {e.game ? QStringLiteral("Setting: Cr SPI Velcor GAME ready")
                   : QStringLiteral("Setting: Ce SPI Velcor ready"),
            "Setting: G0:1 OK",
            "Setting: D015 OK",
            "Velcor version: " + QString::number(e.velcor),
            "Part number: " + QString::fromLatin1(e.part),
            "Serial number: " + QString::fromLatin1(e.serial),
            "FW version: " + QString::fromLatin1(e.firmware),
            "Registers present in the encoder:",
            "  MT_ERR_TRESHOLD\t" + TrueFalse(e.mtErr),
            "  PERSISTENT_STATUS\t" + TrueFalse(e.persistent),
            "  SIGNAL_LEVEL      \t" + TrueFalse(e.signal),
            "  SELF_CAL_TIMEOUT\t" + TrueFalse(e.selfCalTmo),
            "  FIRMWARE_REVISION\t" + TrueFalse(e.fwRevision) + " [" + QString::number(e.lenFw) + "] [" +
                QString::number(e.lenSvn) + "]",
            "Frequency: 1.5 MHz"};
}

class SimulatedAdapter : public ::testing::Test {
protected:
    void SetUp() override { app_testing::ResetProtocolState(); }
    void TearDown() override {
        form.reset();
        simulator.reset();
        app_testing::ResetProtocolState();
    }

    void StartSimulator(const std::string& preset) {
        sim::SimOptions options;
        std::string error;
        ASSERT_TRUE(sim::ParseSimOptions(preset, options, error)) << error;
        options.inProcess = app_testing::SimulatorInProcess();
        simulator = std::make_unique<sim::K310Simulator>(options);
        ASSERT_TRUE(simulator->Start(&error)) << error;
    }

    // A window whose search sees the simulator's terminal wherever it is now, as a system's port list
    // shows a re-enumerated adapter; with `asGivenPort` it is the first port tried instead, as --simulate
    // hands it over.
    void CreateWindow(bool asGivenPort) {
        TMainFormOptions options = app_testing::TestOptions(dialogs);
        if (asGivenPort) {
            options.explicitPorts = {simulator->SlavePath()};
        } else {
            options.candidates = [this] {
                const std::string path = simulator ? simulator->SlavePath() : std::string();
                if (path.empty()) return std::vector<AdapterDiscovery::Candidate>{};
                return std::vector<AdapterDiscovery::Candidate>{{path, 7}};
            };
        }
        form = std::make_unique<TMainForm>(options);
        form->initTimer->stop(); // the tests start the search themselves
    }

    void ExpectAdapterShown() {
        EXPECT_TRUE(K310_BiSS_bidirectional::PortHandle.IsValid());
        EXPECT_EQ(form->lblComPort->text(),
                  DeviceName(simulator->SlavePath()) + "  [" + kAdapterSerial + "]");
        EXPECT_EQ(form->lblInterfaceVer->text(), kAdapterVersion);
        EXPECT_EQ(form->K310VerzijaFW, 109);
        for (QWidget* w : {static_cast<QWidget*>(form->Page), static_cast<QWidget*>(form->btnConnectEncoder),
                           static_cast<QWidget*>(form->btnPowerON), static_cast<QWidget*>(form->btnPowerOFF)})
            EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_FALSE(form->initTimer->isActive());
    }

    // The top band shows the encoder's text whole: every line within the label, the label within
    // its box, the box within the band.
    void ExpectEncoderInfoShownWhole() {
        QLabel* info = form->lblEncoderInfo;
        for (const QString& line : info->text().split(QStringLiteral("\r\n")))
            EXPECT_LE(info->fontMetrics().horizontalAdvance(line), info->contentsRect().width())
                << line.toStdString();
        EXPECT_LE(2 * info->fontMetrics().lineSpacing(), info->contentsRect().height());
        EXPECT_LE(info->geometry().right(), form->GroupBox1->width() - 3) << "clear of the box's frame";
        EXPECT_TRUE(form->pnl1Top->rect().contains(form->GroupBox1->geometry()));
    }

    // "Connect Encoder" as the user presses it; checks everything the connection decides.
    void ConnectAndExpect(const Expected& e) {
        form->Memo1->clear();
        form->btnConnectEncoder->click();
        EXPECT_EQ(form->LogLines(), ExpectedConnectionLog(e));
        EXPECT_EQ(form->lblPower->text(), ExpectedPowerOnLog(e).last());
        EXPECT_EQ(form->lblEncoderInfo->text(), QString::fromLatin1(e.part) + "\r\n" +
                                                    QString::fromLatin1(e.serial) + "   " +
                                                    QString::fromLatin1(e.firmware));
        ExpectEncoderInfoShownWhole();

        const struct {
            QWidget* control;
            bool enabled;
        } states[] = {
            {form->cbPersistentStatus, e.persistent},
            {form->btnClearPersistentStatus, e.persistent},
            {form->lblSignalLevel, e.signal},
            {form->cbDrawAirGap, e.signal},
            {form->lblSelfCalTmo, e.selfCalTmo},
            {form->edSelfCalTimeout, e.selfCalTmo},
            {form->lblMTerrArc, e.mtErr},
            {form->edMTerrArc, e.mtErr},
            {form->btnMTerrArcWrite, e.mtErr},
            {form->btnReadEncoder, true},
            {form->cbReadEncConstantly, true},
            {form->Page, true},
        };
        for (const auto& s : states)
            EXPECT_EQ(s.control->isEnabled(), s.enabled) << s.control->objectName().toStdString();

        EXPECT_EQ(form->seNominator->value(), 360);
        EXPECT_EQ(form->seDenominator->value(), e.counts);
        EXPECT_EQ(form->EncoderResolution, 360.0 / e.counts);
        EXPECT_EQ(form->EncDolzinaKode, e.codeLength);
        EXPECT_EQ(form->AirGapK, e.K);
        EXPECT_EQ(form->AirGapN, e.N);
        EXPECT_EQ(form->cmbFreqSPI->currentIndex(), 4);
        EXPECT_TRUE(dialogs.shown.empty()) << dialogs.Texts().join('|').toStdString();
    }

    RecordingDialogs dialogs;
    std::unique_ptr<sim::K310Simulator> simulator;
    std::unique_ptr<TMainForm> form;
};

TEST_F(SimulatedAdapter, EachEncoderVariantIsFoundPoweredAndConnected) {
    for (const Expected& e : kVariants) {
        SCOPED_TRACE(Describe(e));
        app_testing::ResetProtocolState();
        dialogs.shown.clear();
        StartSimulator(e.preset);
        CreateWindow(true);

        // The design's first search comes 200 ms after the window opens.
        form->initTimer->start();
        ASSERT_TRUE(app_testing::WaitFor([] { return K310_BiSS_bidirectional::PortHandle.IsValid(); }, 2000));
        ExpectAdapterShown();

        form->cbVelcorZBGAME->setChecked(e.game);
        form->btnPowerON->click();
        EXPECT_TRUE(simulator->SupplyOn());
        EXPECT_EQ(form->LogLines(), ExpectedPowerOnLog(e));

        ConnectAndExpect(e);

        // What the adapter was told last: the clock step of "1.5 MHz".
        const auto received = simulator->Received();
        ASSERT_GE(received.size(), 2u);
        EXPECT_EQ(received[received.size() - 2].command, "M5");
        EXPECT_EQ(received.back().command, "m");

        form.reset();
        simulator.reset();
    }
}

// Every connection decides anew: a legacy encoder after one with the new register layout, optional
// registers gone and back, a code length that is not carried over.
TEST_F(SimulatedAdapter, ConnectingAnotherEncoderInTheSameWindowDecidesEverythingAnew) {
    CreateWindow(false);
    for (const char* preset : {"t5", "t1", "bare", "t6", "t1mt"}) {
        SCOPED_TRACE(preset);
        // The previous adapter goes away with its simulator; the next search finds the new one.
        form->initTimer->stop();
        simulator.reset();
        StartSimulator(preset);
        form->initTimerTimer();
        ExpectAdapterShown();
        form->btnPowerON->click();
        ConnectAndExpect(Variant(preset));
    }
}

TEST_F(SimulatedAdapter, ALostAdapterIsSearchedForAndFoundAgainAfterItComesBack) {
    StartSimulator("t1");
    CreateWindow(false);
    form->initTimerTimer();
    ExpectAdapterShown();
    form->btnPowerON->click();
    ConnectAndExpect(Variant("t1"));
    const std::string firstPath = simulator->SlavePath();

    ASSERT_TRUE(simulator->Unplug());
    form->btnPowerOFF->click(); // the first transaction after the unplug fails
    EXPECT_LT(K310_BiSS_bidirectional::EncoderPosition.ErrComm, 0);
    EXPECT_TRUE(form->initTimer->isActive());
    EXPECT_EQ(form->initTimer->interval(), 200);
    EXPECT_FALSE(form->LogLines().isEmpty()) << "a failed supply off keeps the log";
    ASSERT_EQ(dialogs.shown.size(), 1u) << "the failed supply off warns";
    EXPECT_TRUE(dialogs.shown[0].text.startsWith(
        QStringLiteral("Setting power supply (f) not successfull! (USB Comm Err -")))
        << dialogs.shown[0].text.toStdString();
    dialogs.shown.clear();

    // The timer's own search finds nothing while the adapter is away and disables the controls.
    ASSERT_TRUE(app_testing::WaitFor([&] { return !K310_BiSS_bidirectional::PortHandle.IsValid(); }, 1000));
    EXPECT_FALSE(form->btnConnectEncoder->isEnabled());
    EXPECT_FALSE(form->Page->isEnabled());
    EXPECT_EQ(form->initTimer->interval(), 1000);

    std::string error;
    ASSERT_TRUE(simulator->Replug(&error)) << error;
    EXPECT_NE(simulator->SlavePath(), firstPath) << "the adapter comes back under a new name";
    ASSERT_TRUE(app_testing::WaitFor([] { return K310_BiSS_bidirectional::PortHandle.IsValid(); }, 2000));
    ExpectAdapterShown();

    // Switched on again, the encoder connects as before.
    form->btnPowerON->click();
    ConnectAndExpect(Variant("t1"));
    EXPECT_TRUE(dialogs.shown.empty());
}

// After OFF the window shows the supply as the adapter reports it, not as it was while on; an
// OFF the adapter refuses leaves the log and warns.
TEST_F(SimulatedAdapter, OffShowsTheSupplyOffOrWarnsThatItIsStillOn) {
    StartSimulator("t1");
    CreateWindow(false);
    form->initTimerTimer();
    form->btnPowerON->click();
    ASSERT_EQ(form->lblPower->text(), QStringLiteral("Supply 5.0 V ON, 48 mA"));

    ASSERT_EQ(simulator->Control("errorreply 1"), "ok");
    form->btnPowerOFF->click();
    EXPECT_TRUE(simulator->SupplyOn());
    EXPECT_EQ(form->lblPower->text(), QStringLiteral("Supply 5.0 V ON, 48 mA"));
    const QString refused =
        QStringLiteral("Setting power supply (f) not successfull! (ERROR command failed)");
    EXPECT_EQ(form->LogLines(), (QStringList{"ON 5.0 V", "Supply 5.0 V ON, 48 mA", refused}));
    EXPECT_EQ(dialogs.Texts(), QStringList{refused});

    form->btnPowerOFF->click();
    EXPECT_FALSE(simulator->SupplyOn());
    EXPECT_EQ(form->lblPower->text(), QStringLiteral("Supply 5.0 V OFF, 0 mA"));
    EXPECT_EQ(form->LogLines(), QStringList{"Supply 5.0 V OFF, 0 mA"}) << "a fresh log, with the new state";
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

// An adapter unplugged while the window sits connected and idle is noticed without a click: the
// log says so as a failed transaction would, and the search starts; plugged in again, it is
// found and watched again.
TEST_F(SimulatedAdapter, AnAdapterUnpluggedWhileIdleIsSearchedForAtOnce) {
    StartSimulator("t1");
    CreateWindow(false);
    form->initTimerTimer();
    form->btnPowerON->click();
    ConnectAndExpect(Variant("t1"));
    const QString shown = form->lblComPort->text();
    form->Memo1->clear();
    ASSERT_TRUE(form->IdleWatchActive());

    ASSERT_TRUE(simulator->Unplug());
    ASSERT_TRUE(app_testing::WaitFor([&] { return !form->LogLines().isEmpty(); }, 3000)) << "nothing noticed";
    const QStringList log = form->LogLines();
    ASSERT_EQ(log.size(), 1) << log.join('|').toStdString();
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("USB Comm Err -"))) << log[0].toStdString();
    EXPECT_LT(K310_BiSS_bidirectional::EncoderPosition.ErrComm, 0);
    // The search runs (on initTimer's 200 ms) and finds nothing while the adapter is away.
    ASSERT_TRUE(app_testing::WaitFor([&] { return form->lblComPort->text() != shown; }, 3000));
    EXPECT_FALSE(K310_BiSS_bidirectional::PortHandle.IsValid());
    EXPECT_FALSE(form->btnPowerON->isEnabled());
    EXPECT_FALSE(form->IdleWatchActive());
    EXPECT_EQ(form->LogLines(), log) << "one line for one loss";

    std::string error;
    ASSERT_TRUE(simulator->Replug(&error)) << error;
    ASSERT_TRUE(app_testing::WaitFor([] { return K310_BiSS_bidirectional::PortHandle.IsValid(); }, 3000));
    ExpectAdapterShown();
    EXPECT_TRUE(form->IdleWatchActive());
    EXPECT_TRUE(dialogs.shown.empty());
}

} // namespace
