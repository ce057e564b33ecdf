// The window as it opens: controls, caption, pages by user name, key combinations, closing, and
// the wait that keeps it alive.
#include "AppTestSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "PanelColour.h"
#include "QtRoutines.h"
#include "TarvoVersion.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QTabBar>
#include <QTimer>

#include <algorithm>

#include <gtest/gtest.h>

using app_testing::RecordingDialogs;
using app_testing::TestOptions;

namespace {

constexpr int kTest = 5, kDebug = 6, kErrMap = 7;

class Window : public ::testing::Test {
protected:
    void SetUp() override { app_testing::ResetProtocolState(); }
    void TearDown() override {
        app_testing::ResetProtocolState();
        Orodja::SetApplicationTerminating(false);
    }

    std::unique_ptr<TMainForm> Create(const QString& user = QStringLiteral("tester")) {
        return std::make_unique<TMainForm>(TestOptions(dialogs, user));
    }
    RecordingDialogs dialogs;
};

TEST_F(Window, OpensWithTheDesignStates) {
    auto form = Create();
    EXPECT_EQ(form->size(), QSize(801, 586));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window must not be resizable";
    EXPECT_EQ(form->Page->currentIndex(), 0);

    // The eight pages of the design, then the Commissioning page.
    const QStringList tabs{"Initialization", "Signal level", "Configuration", "Self-Calibration",
                           "Diagnostics",    "Test",         "Debug",         "Error Map",
                           "Commissioning"};
    ASSERT_EQ(form->Page->count(), tabs.size());
    for (int i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(form->Page->tabText(i), tabs[i]);

    for (QWidget* w : {static_cast<QWidget*>(form->Page), static_cast<QWidget*>(form->btnConnectEncoder),
                       static_cast<QWidget*>(form->btnPowerOFF)})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    for (QWidget* w : {static_cast<QWidget*>(form->btnPowerON), static_cast<QWidget*>(form->btnReadEncoder),
                       static_cast<QWidget*>(form->cbReadEncConstantly)})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    for (QWidget* w :
         {static_cast<QWidget*>(form->cbVelcorZBGAME), static_cast<QWidget*>(form->pnlTest),
          static_cast<QWidget*>(form->btnPositionNoise), static_cast<QWidget*>(form->btnDebugUnlock),
          static_cast<QWidget*>(form->ErrMapProgressBar)})
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();

    EXPECT_EQ(form->PowerSelIndex(), 1);
    EXPECT_EQ(form->cmbFreqSPI->currentIndex(), 4);
    QStringList clocks;
    for (int i = 0; i < form->cmbFreqSPI->count(); ++i)
        clocks << form->cmbFreqSPI->itemText(i);
    EXPECT_EQ(clocks, QStringList({"1 = 94 kHz", "2 = 188 kHz", "3 = 375 kHz", "4 = 750 kHz", "5 = 1.5 MHz",
                                   "6 =  3 MHz", "7 =  6 MHz", "8 = 12 MHz"}));

    struct Spin {
        QSpinBox* box;
        int min, max, value, step;
    };
    for (const Spin& s :
         {Spin{form->seDelayBetweenReadings, 0, 10000, 50, 10},
          Spin{form->seNominator, -10000000, 10000000, 360, 1}, Spin{form->seDenominator, 1, 10000000, 1, 1},
          Spin{form->seSteviloIzklopov, 0, 100000, 5000, 1}, Spin{form->seIzklopDelayMin, 10, 10000, 150, 1},
          Spin{form->seIzklopDelayMax, 10, 10000, 400, 1}}) {
        SCOPED_TRACE(s.box->objectName().toStdString());
        EXPECT_EQ(s.box->minimum(), s.min);
        EXPECT_EQ(s.box->maximum(), s.max);
        EXPECT_EQ(s.box->value(), s.value);
        EXPECT_EQ(s.box->singleStep(), s.step);
    }

    // State that FormCreate sets.
    EXPECT_EQ(form->CycReadWait, 50);
    EXPECT_EQ(form->EncoderResolution, 1.0);
    EXPECT_EQ(form->K310VerzijaFW, 0);
    EXPECT_FALSE(K310_BiSS_bidirectional::PortHandle.IsValid());
    EXPECT_TRUE(dialogs.busy) << "the hourglass shows until the first search ends";
    EXPECT_TRUE(form->initTimer->isActive());
    EXPECT_EQ(form->initTimer->interval(), 200);
    EXPECT_FALSE(form->tmrSelfCalWait->isActive());
    EXPECT_EQ(form->tmrSelfCalWait->interval(), 500);
    EXPECT_FALSE(form->timerOnOff->isActive());
    EXPECT_EQ(form->timerOnOff->interval(), 100);
    EXPECT_EQ(form->SaveDialog1->nameFilters(), QStringList{"*.png (*.png)"});
    EXPECT_FALSE(form->cbLogErrors->isChecked());
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
}

// Captions are the system's own texts; a stray blank or a "corrected" spelling is a fault.
TEST_F(Window, ControlsCarryTheirTexts) {
    auto form = Create();
    struct Row {
        const char* name;
        const char* text;
    };
    const Row rows[] = {
        {"gInterfaceInfo", " Interface info "},
        {"lblComPort", "Com Port"},
        {"lblInterfaceVer", "Interface Version"},
        {"GroupBox1", " Encoder info "},
        {"lblEncoderInfo", "Encoder information"},
        {"lblPosUnit", "Position in units"},
        {"pnlEncWarn", "warning"},
        {"pnlEncErr", "error"},
        {"cbLogErrors", "Log Encoder Errors"},
        {"rgPowerSel", " Power "},
        {"btnPowerON", "ON"},
        {"btnPowerOFF", "OFF"},
        {"lblPower", "..."},
        {"Label4", "SPI clock frequency"},
        {"cbVelcorZBGAME", "Velcor GAME"},
        {"btnConnectEncoder", "Connect Encoder"},
        {"btnReadEncoder", "Read Position"},
        {"lbl3", "Delay between readings (ms)"},
        {"cbReadEncConstantly", "Read constantly"},
        {"lblPosRX", "Position RX"},
        {"pnlCRC", "CRC Error"},
        {"Label5", "Encoder resolution"},
        {"edUnit", "deg"},
        {"lblPosMT", "Position MT"},
        {"lblPosST", "Position ST"},
        {"lblSignalLevel", "Signal level"},
        {"cbDrawAirGap", "Draw AirGap"},
        {"cbDrawTemp", "Draw Temperature"},
        {"btnMTerrArcWrite", "Write MT arc"},
        {"btnSaveFlash", "Save to NVRAM"},
        {"grpTarvoZero", " Zero preset  "},
        {"btnTarvoSetZero", "Set zero here"},
        {"btnSelfCalStart", "Start self-cal"},
        {"pnlAselfCalSucessfull", "Calibration successfull"},
        {"pnlAselfCalParamOutOfRange", "Input Arc Length out of range"},
        {"btnReadWriteAccessRegister", "Read Write access register"},
        {"cbShranjujMeritveDebug", "Record debug data to file"},
        {"mmTestRezultat", "mmTestRezultat"},
        {"GroupBoxPowerCycle", " Power Cycling test "},
        {"cbCiklirajStacionarno", "Pri miru"},
        {"cbCiklirajIzklope", "Start"},
        {"lblKodaNaGrafu", "Koda"},
        {"btnDebugUnlock", "Unlock"},
        {"btnReadErrMap", "Read Error Map"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(row.name));
        ASSERT_NE(w, nullptr);
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            text = g->title();
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            text = e->text();
        else if (auto* m = qobject_cast<QPlainTextEdit*>(w))
            text = m->toPlainText();
        EXPECT_EQ(text, QString::fromUtf8(row.text));
    }
    EXPECT_EQ(form->btnPositionNoise->toolTip(), QString::fromUtf8("Pomeri statistiko pozicijskega šuma"));
    EXPECT_EQ(form->pnl1->toolTip(), QStringLiteral("Press Ctrl+A for data logging options"));
}

// The design's font is Tahoma, 11 px unless the form gives a size: its narrow metrics are what
// the designed places were measured with.
TEST_F(Window, ControlsUseTheDesignFont) {
    auto form = Create();
    form->ensurePolished();
    struct Row {
        QWidget* control;
        int pixelSize;
        bool bold;
    };
    const Row rows[] = {
        {form->cbLogErrors, 11, false},   {form->btnWriteZero, 11, false},
        {form->Label4, 11, false},        {form->lblEncoderInfo, 13, false},
        {form->lblPosUnit, 21, true},     {form->btnConnectEncoder, 13, true},
        {form->lblTemperature, 13, true}, {form->pnlAselfCalFinished, 11, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control->objectName().toStdString());
        const QFontInfo shown(row.control->font());
        EXPECT_EQ(shown.family(), QStringLiteral("Tahoma"));
        EXPECT_EQ(shown.pixelSize(), row.pixelSize);
        EXPECT_EQ(shown.bold(), row.bold);
    }
    // Message boxes and dialogs, outside the form's style sheet, use it too.
    EXPECT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("Tahoma"));
}

// Every caption of a fixed size fits its control in the design's font: a check box's text is
// not cut off at its right edge, a button's caption not clipped.
TEST_F(Window, CaptionsFitTheirControls) {
    auto form = Create();
    form->ensurePolished();
    for (QWidget* w : form->findChildren<QWidget*>()) {
        QString text;
        int room = 0;
        if (auto* p = qobject_cast<QPushButton*>(w)) {
            // The style's size hint has a minimum width of its own; the caption is what counts.
            text = p->text();
            room = p->width() - p->fontMetrics().horizontalAdvance(text) - 8;
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            text = b->text();
            room = b->width() - b->sizeHint().width();
        } else if (auto* l = qobject_cast<QLabel*>(w); l && !l->wordWrap() && !l->text().isEmpty()) {
            text = l->text();
            int widest = 0;
            for (const QString& line : text.split(QStringLiteral("\n")))
                widest = std::max(widest, l->fontMetrics().horizontalAdvance(line));
            room = l->contentsRect().width() - widest;
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            text = g->title();
            room = g->width() - g->fontMetrics().horizontalAdvance(text) - 16;
        }
        if (text.isEmpty()) continue;
        EXPECT_GE(room, 0) << w->objectName().toStdString() << " \"" << text.toStdString() << "\" is "
                           << -room << " px too wide";
    }
}

// With every page revealed, all nine tabs (the design's eight and Commissioning) show at once:
// none scrolls out of sight.
TEST_F(Window, AllNineTabsFitThePageControl) {
    auto form = Create();
    form->FormKeyUp(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, Qt::NoButton);
    form->show();
    QTabBar* tabs = form->Page->tabBar();
    EXPECT_LE(tabs->sizeHint().width(), form->Page->width());
    for (int i = 0; i < tabs->count(); ++i) {
        ASSERT_TRUE(tabs->isTabVisible(i));
        EXPECT_TRUE(tabs->rect().contains(tabs->tabRect(i))) << tabs->tabText(i).toStdString();
        EXPECT_GE(tabs->tabRect(i).width(), tabs->fontMetrics().horizontalAdvance(tabs->tabText(i)));
    }
    form->hide();
}

TEST_F(Window, SelfCalibrationPanelsOpenInTheirOffGrey) {
    auto form = Create();
    const QList<QLabel*> panels = form->GroupBox4->findChildren<QLabel*>();
    ASSERT_EQ(panels.size(), 11);
    for (QLabel* panel : panels)
        EXPECT_EQ(PanelColour(panel), QColor(0x80, 0x80, 0x80)) << panel->objectName().toStdString();
}

// The window keeps its designed place where it fits, and otherwise moves up and left just enough
// to fit the screen's available area (a 1366 x 768 laptop screen loses the designed bottom).
TEST(WindowPlace, KeepsTheDesignedPlaceWhereTheWindowFits) {
    const QPoint designed(67, 213);
    const QSize client(801, 586);
    struct Row {
        const char* name;
        QRect available;
        QMargins frame;
        QPoint expected;
    };
    const Row rows[] = {
        {"large screen", QRect(0, 0, 1920, 1040), QMargins(), designed},
        {"large screen, framed", QRect(0, 0, 1920, 1040), QMargins(4, 30, 4, 4), designed},
        {"exactly fits", QRect(0, 0, 868, 799), QMargins(), designed},
        {"exactly fits, framed", QRect(0, 0, 876, 833), QMargins(4, 30, 4, 4), designed},
        {"laptop without frame", QRect(0, 0, 1366, 768), QMargins(), QPoint(67, 182)},
        {"laptop, panel and frame", QRect(0, 0, 1366, 728), QMargins(4, 30, 4, 4), QPoint(67, 108)},
        {"narrow screen", QRect(0, 0, 820, 900), QMargins(4, 30, 4, 4), QPoint(11, 213)},
        {"too small: top-left", QRect(0, 0, 800, 600), QMargins(4, 30, 4, 4), QPoint(0, 0)},
        {"panel on the left", QRect(100, 0, 1266, 768), QMargins(), QPoint(100, 182)},
        {"second screen", QRect(-1280, 0, 1280, 1024), QMargins(), QPoint(-1280 + 1280 - 801, 213)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QPoint at = WindowPlace(row.available, row.frame, designed, client);
        EXPECT_EQ(at, row.expected);
        const QRect outer(at, QSize(client.width() + row.frame.left() + row.frame.right(),
                                    client.height() + row.frame.top() + row.frame.bottom()));
        if (outer.width() <= row.available.width() && outer.height() <= row.available.height()) {
            EXPECT_TRUE(row.available.contains(outer));
        }
    }
}

TEST_F(Window, OpensWhereItFitsTheScreen) {
    auto form = Create();
    form->show();
    const QRect available = form->screen()->availableGeometry();
    const QRect frame = form->frameGeometry(), client = form->geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    EXPECT_EQ(frame.topLeft(), WindowPlace(available, margins, QPoint(67, 213), QSize(801, 586)));
    if (frame.width() <= available.width() && frame.height() <= available.height()) {
        EXPECT_TRUE(available.contains(frame));
    }
    form->hide();
}

TEST_F(Window, CaptionNamesVersionComputerAndUser) {
    struct Row {
        std::optional<QString> version;
        QString user;
        QString expected;
    };
    const QString design = QStringLiteral("Tarvo-2 & Tarvo-4 SPI Velcor");
    const Row rows[] = {
        {QStringLiteral("1.2.3.4"), "tester", design + " (VER: 1.2.3.4; PC: BENCH-PC; USR: tester)"},
        {QString(), "tester", design + " (VER: ; PC: BENCH-PC; USR: tester)"},
        {QStringLiteral("1.2.3.4"), "a.very.long.user.name.indeed",
         design + " (VER: 1.2.3.4; PC: BENCH-PC; USR: a.very.long.user.name.indeed)"},
    };
    for (const Row& row : rows) {
        TMainFormOptions options = TestOptions(dialogs, row.user);
        options.versionText = row.version;
        TMainForm form(options);
        EXPECT_EQ(form.windowTitle(), row.expected);
    }
    // Without an override the caption carries the build's version as four numbers (on Windows read
    // from the program file's version resource).
    TMainFormOptions options = TestOptions(dialogs);
    options.versionText.reset();
    TMainForm form(options);
    EXPECT_TRUE(form.windowTitle().contains(QRegularExpression(R"(\(VER: \d+\.\d+\.\d+\.\d+; PC: )")))
        << form.windowTitle().toStdString();
    // ... the same number that --version prints and the package carries.
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("(VER: " TARVO_VERSION "; PC: ")))
        << form.windowTitle().toStdString();
}

TEST_F(Window, UserNameDecidesTheExtraPages) {
    struct Row {
        QString user;
        bool extras;
    };
    const Row rows[] = {
        {"TEVAN ", true},   {"tevan ", true},  {"TeVaN ", true}, {"TEVAN", false},
        {"TEVAN  ", false}, {" TEVAN", false}, {"", false},      {"tester", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("user \"" + row.user.toStdString() + "\"");
        auto form = Create(row.user);
        for (int tab : {kTest, kDebug, kErrMap})
            EXPECT_EQ(form->Page->isTabVisible(tab), row.extras) << "tab " << tab;
        for (int tab : {0, 1, 2, 3, 4, 8})
            EXPECT_TRUE(form->Page->isTabVisible(tab)) << "tab " << tab;
        EXPECT_EQ(!form->cbVelcorZBGAME->isHidden(), row.extras);
        EXPECT_EQ(!form->pnlTest->isHidden(), row.extras);
        EXPECT_TRUE(form->btnDebugUnlock->isHidden());
    }
}

struct Keystroke {
    int key;
    Qt::KeyboardModifiers modifiers;
    bool release = true;
};

TEST_F(Window, KeyCombinationsRevealHiddenControls) {
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier, alt = Qt::AltModifier;
    struct Row {
        const char* name;
        std::vector<Keystroke> keys;
        bool test, debug, errMap, unlock, extras;
    };
    const Row rows[] = {
        {"Ctrl+A", {{Qt::Key_A, ctrl}}, true, false, true, false, false},
        {"Ctrl+Alt+A", {{Qt::Key_A, ctrl | alt}}, false, false, false, false, false},
        {"Ctrl+A pressed, not released", {{Qt::Key_A, ctrl, false}}, false, false, false, false, false},
        {"Ctrl+Shift+A", {{Qt::Key_A, ctrl | shift}}, true, true, true, false, true},
        {"Shift+Alt+D alone", {{Qt::Key_D, shift | alt}}, false, false, false, false, false},
        {"Ctrl+A, Shift+Alt+D",
         {{Qt::Key_A, ctrl}, {Qt::Key_D, shift | alt}},
         true,
         false,
         true,
         false,
         false},
        {"Ctrl+Shift+A, Shift+Alt+D",
         {{Qt::Key_A, ctrl | shift}, {Qt::Key_D, shift | alt}},
         true,
         true,
         true,
         true,
         true},
        {"Ctrl+Shift+A, Ctrl+Shift+Alt+D",
         {{Qt::Key_A, ctrl | shift}, {Qt::Key_D, ctrl | shift | alt}},
         true,
         true,
         true,
         false,
         true},
        {"Ctrl+Shift+A, then Ctrl+A hides nothing",
         {{Qt::Key_A, ctrl | shift}, {Qt::Key_A, ctrl}},
         true,
         true,
         true,
         false,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto form = Create();
        // Keys go to a control on a page: the window must see them first (key preview).
        QWidget* target = form->btnConnectEncoder;
        for (const Keystroke& k : row.keys) {
            QKeyEvent event(k.release ? QEvent::KeyRelease : QEvent::KeyPress, k.key, k.modifiers);
            QApplication::sendEvent(target, &event);
        }
        EXPECT_EQ(form->Page->isTabVisible(kTest), row.test);
        EXPECT_EQ(form->Page->isTabVisible(kDebug), row.debug);
        EXPECT_EQ(form->Page->isTabVisible(kErrMap), row.errMap);
        EXPECT_EQ(!form->btnDebugUnlock->isHidden(), row.unlock);
        EXPECT_EQ(!form->cbVelcorZBGAME->isHidden(), row.extras);
        EXPECT_EQ(!form->pnlTest->isHidden(), row.extras);
    }
}

TEST_F(Window, KeyWithAMouseButtonHeldDoesNothing) {
    auto form = Create();
    form->FormKeyUp(Qt::Key_A, Qt::ControlModifier, Qt::LeftButton);
    EXPECT_FALSE(form->Page->isTabVisible(kTest));
    form->FormKeyUp(Qt::Key_A, Qt::ControlModifier, Qt::NoButton);
    EXPECT_TRUE(form->Page->isTabVisible(kTest));
}

TEST_F(Window, LogSplitsTextsAtLineBreaks) {
    auto form = Create();
    form->AddLog(QStringLiteral("first"));
    form->AddLog(QStringLiteral("Error reading Encoder signature!\r\nreason"));
    form->AddLog(QStringLiteral("  tab\tkept"));
    EXPECT_EQ(form->LogLines(),
              QStringList({"first", "Error reading Encoder signature!", "reason", "  tab\tkept"}));
}

TEST_F(Window, LogKeepsItsLastLinesOnly) {
    auto form = Create();
    const int kept = TMainForm::kLogLinesKept;
    for (int i = 0; i < kept + 5; ++i)
        form->AddLog(QString::number(i));
    form->AddLog(QStringLiteral("two\r\nlines"));
    const QStringList lines = form->LogLines();
    ASSERT_EQ(lines.size(), kept);
    EXPECT_EQ(lines.first(), QString::number(7)) << "the oldest lines went first";
    EXPECT_EQ(lines.mid(kept - 3), QStringList({QString::number(kept + 4), "two", "lines"}));
}

class WaitWithMessages : public ::testing::Test {
protected:
    void SetUp() override { Orodja::SetApplicationTerminating(false); }
};

TEST_F(WaitWithMessages, HandlesEventsUntilTheDeadline) {
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    QTimer stopped;
    stopped.setInterval(5);
    bool stoppedFired = false;
    QObject::connect(&stopped, &QTimer::timeout, [&] { stoppedFired = true; });

    QElapsedTimer clock;
    clock.start();
    Orodja::WaitWithMessages(100);
    EXPECT_GE(clock.elapsed(), 99);
    EXPECT_GE(ticks, 3) << "timers keep firing during the wait";
    EXPECT_FALSE(stoppedFired) << "a disabled timer never fires, also not inside a wait";
}

TEST_F(WaitWithMessages, ZeroHandlesPendingEventsOnce) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    Orodja::WaitWithMessages(0);
    EXPECT_TRUE(ran);
    ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    Orodja::WaitWithMessages(-5);
    EXPECT_TRUE(ran);
}

TEST_F(Window, ClosingTheWindowEndsAWaitAtOnce) {
    auto form = Create();
    form->show();
    QTimer::singleShot(30, form.get(), [&] { form->close(); });
    QElapsedTimer clock;
    clock.start();
    Orodja::WaitWithMessages(10000);
    EXPECT_LT(clock.elapsed(), 5000) << "the wait must not outlive the window";
    EXPECT_TRUE(Orodja::ApplicationTerminating());
    EXPECT_FALSE(form->initTimer->isActive()) << "no search may start after the window closed";
    // A further wait returns at once while the program is closing.
    clock.restart();
    Orodja::WaitWithMessages(10000);
    EXPECT_LT(clock.elapsed(), 5000);
}

// The protocol's messages hold the program's own UTF-8 words and the device's Latin-1 bytes.
TEST(MessageText, ReadsUtf8WhereItIsWellFormedAndEveryOtherByteAsLatin1) {
    struct Row {
        const char* name;
        std::string bytes;
        QString expected;
    };
    const Row rows[] = {
        {"ASCII", "Invalid register address", QStringLiteral("Invalid register address")},
        {"program text", "Nepravilna dol\xC5\xBEina", QString::fromUtf8("Nepravilna dolžina")},
        {"device reply", "RCV: \xE9t\xE9", QString::fromUtf8("RCV: été")},
        {"both in one", "dol\xC5\xBEina (\xE9)!", QString::fromUtf8("dolžina (é)!")},
        {"every high byte", "\x80\x9F\xA0\xFF", QString::fromUtf8("\u0080\u009F\u00A0\u00FF")},
        {"lead byte at the end", "ab\xC5", QString::fromUtf8("ab\u00C5")},
        {"lead byte before ASCII", "\xC5z", QString::fromUtf8("\u00C5z")},
        {"overlong form", "\xC0\xAF", QString::fromUtf8("\u00C0\u00AF")},
        {"surrogate", "\xED\xA0\x80", QString::fromUtf8("\u00ED\u00A0\u0080")},
        {"three-byte UTF-8", "\xE2\x82\xAC", QString::fromUtf8("€")},
        {"four-byte UTF-8", "\xF0\x9F\x98\x80", QString::fromUtf8("\U0001F600")},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", QString::fromUtf8("\u00F4\u0090\u0080\u0080")},
        {"line breaks and zero", std::string("a\r\nb\0c", 6), QString::fromUtf8("a\r\nb") + QChar(0) + "c"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Orodja::MessageText(row.bytes), row.expected);
    }
}

TEST(CopyToClipboard, ReplacesTheClipboardText) {
    Orodja::CopyToClipboard(QStringLiteral("5000 readings"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("5000 readings"));
    Orodja::CopyToClipboard(QString());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
}

} // namespace
