// The window itself: creation, keys, closing, page switches, the log.
#include "K310_7K_Velcor_SPI_Main.h"

#include "FramePacer.h"
#include "K310_BiSS_bidirectional.h"
#include "QtRoutines.h"
#include "SerialPort.h"
#include "Serial_driver.h"
#include "SystemInfo.h"
#include "TarvoVersion.h"
#include "WindowTraffic.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QScreen>
#include <QStyleFactory>
#include <QTabBar>

#include <algorithm>

namespace {

constexpr int kTabTest = 5;
constexpr int kTabDebug = 6;
constexpr int kTabErrMap = 7;

QPixmap DrawLogo(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0, 0, 128));
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(22);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, size.width(), size.height() - 5), Qt::AlignCenter, QStringLiteral("TARVO"));
    painter.fillRect(QRect(8, size.height() - 4, size.width() - 16, 3), QColor(255, 128, 64));
    return pixmap;
}

// The toolkit pads each tab by 12 pixels on either side, so the eight tabs of the page control
// overrun it and scroll; the design's tabs carry about half that padding, 5 pixels a side, so that
// with the Commissioning page all nine fit.
class DesignTabStyle : public QProxyStyle {
public:
    explicit DesignTabStyle(QStyle* base) : QProxyStyle(base) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_TabBarTabHSpace) return 10;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

} // namespace

QPoint WindowPlace(const QRect& available, const QMargins& frame, const QPoint& designed,
                   const QSize& client) {
    const int width = frame.left() + client.width() + frame.right();
    const int height = frame.top() + client.height() + frame.bottom();
    // QRect's right() and bottom() are the last pixels inside, hence the + 1.
    const int x = std::max(available.left(), std::min(designed.x(), available.right() + 1 - width));
    const int y = std::max(available.top(), std::min(designed.y(), available.bottom() + 1 - height));
    return {x, y};
}

QString ProtocolErrorText() {
    return Orodja::MessageText(K310_BiSS_bidirectional::LastErrorText);
}

QString UpperAsciiLetters(const QString& text) {
    QString result = text;
    for (QChar& c : result)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
    return result;
}

void SetApplicationIdentity() {
    QApplication::setApplicationName(QStringLiteral("Tarvo SPI - ZB test"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvo-workbench"));
}

QString InstallDesignFont() {
    const QString tahoma = QStringLiteral("Tahoma");
    if (!QFontDatabase::hasFamily(tahoma)) {
        // Wine's Tahoma has the metrics of the original, so captions keep their designed widths;
        // a wider face would push them out of their places.
        const QStringList folders{QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"),
                                  QStringLiteral("/usr/share/wine/fonts"),
                                  QStringLiteral("/usr/local/share/wine/fonts"),
                                  QStringLiteral("/opt/wine-stable/share/wine/fonts")};
        for (const QString& folder : folders) {
            const QString regular = folder + QStringLiteral("/tahoma.ttf");
            if (!QFileInfo::exists(regular)) continue;
            QFontDatabase::addApplicationFont(regular);
            QFontDatabase::addApplicationFont(folder + QStringLiteral("/tahomabd.ttf"));
            break;
        }
    }
    // The design's Windows bitmap faces have no counterpart here: Tahoma stands in for them, and
    // a common sans for Tahoma where even that is missing.
    const QStringList sans{QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                           QStringLiteral("Arial"), QStringLiteral("Sans Serif")};
    for (const char* family : {"MS Sans Serif", "Small Fonts"})
        QFont::insertSubstitutions(QString::fromLatin1(family), QStringList{tahoma} + sans);
    QFont::insertSubstitutions(tahoma, sans);

    QFont font(tahoma);
    font.setPixelSize(11);
    // Glyphs fitted to the pixel grid vertically only, so a caption is as wide on every system as
    // its font's design says: full hinting widens Wine's Tahoma at 11 px by a tenth (through GDI and
    // FreeType alike), past the edges of its control; this way Linux, Wine and Windows measure alike.
    font.setHintingPreference(QFont::PreferVerticalHinting);
    QApplication::setFont(font);
    return QFontInfo(font).family();
}

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QWidget(parent), ShraniFajl(Procedures::SteadyClockMs, options.recordingWrite),
      options_(std::move(options)) {
    if (options_.dialogs) {
        dialogs_ = options_.dialogs;
    } else {
        ownDialogs_ = std::make_unique<TQtDialogs>();
        dialogs_ = ownDialogs_.get();
    }
    setupUi(this);

    // A fixed window with only the system menu and the close button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kDesignSize);
    PlaceOnScreen();
    Image1->setPixmap(DrawLogo(Image1->size()));
    auto* tabStyle = new DesignTabStyle(QStyleFactory::create(QApplication::style()->name()));
    tabStyle->setParent(Page->tabBar());
    Page->tabBar()->setStyle(tabStyle);

    initTimer = new QTimer(this);
    initTimer->setInterval(200);
    tmrSelfCalWait = new QTimer(this);
    tmrSelfCalWait->setInterval(500);
    timerOnOff = new QTimer(this);
    timerOnOff->setInterval(100);
    tmrReadCycle = new QTimer(this);
    tmrReadCycle->setSingleShot(true);
    tmrNoiseStep = new QTimer(this);
    tmrNoiseStep->setSingleShot(true);
    tmrCommissioningStep = new QTimer(this);
    tmrCommissioningStep->setSingleShot(true);
    procedureTraffic_ = std::make_unique<TWindowTraffic>(*this);
    tmrRecordingCheck = new QTimer(this);

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilter(QStringLiteral("*.png (*.png)"));
    SaveDialog1->setDefaultSuffix(QStringLiteral("png"));
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog1->setSizeGripEnabled(true);

    // A day of logged errors must not make every added line slower: the oldest lines go.
    Memo1->setMaximumBlockCount(kLogLinesKept);

    SetUpCharts();
    // Hundreds of reading passes a second change labels each time; the screen shows them once
    // per display frame.
    auto* pacer = new TFramePacer(this);
    // The wire's time for a reply is spent painting what is due, not idling.
    Serial_driver::SetWaitHook([pacer] { pacer->PaintIfDue(); });
    ConnectHandlers();
    // Key preview: the window sees every key of its controls before they do.
    qApp->installEventFilter(this);
    Orodja::SetApplicationTerminating(false);
    FormCreate();
}

// SetUpCharts: with the chart handlers in K310_7K_Velcor_SPI_Main_Charts.cpp.

void TMainForm::ConnectHandlers() {
    connect(initTimer, &QTimer::timeout, this, &TMainForm::initTimerTimer);
    connect(Page, &QTabWidget::currentChanged, this, [this] { PageChange(); });
    connect(btnPowerON, &QPushButton::clicked, this, &TMainForm::btnPowerONClick);
    connect(btnPowerOFF, &QPushButton::clicked, this, &TMainForm::btnPowerOFFClick);
    // Only a choice by the user: code that selects an entry calls the handler itself.
    connect(cmbFreqSPI, &QComboBox::activated, this, &TMainForm::cmbFreqSPIChange);
    connect(cbVelcorZBGAME, &QCheckBox::toggled, this, &TMainForm::cbVelcorZBGAMEClick);
    connect(btnConnectEncoder, &QPushButton::clicked, this, &TMainForm::btnConnectEncoderClick);
    connect(seNominator, &QSpinBox::valueChanged, this, &TMainForm::seNominatorChange);
    connect(seDenominator, &QSpinBox::valueChanged, this, &TMainForm::seNominatorChange);
    connect(btnReadEncoder, &QPushButton::clicked, this, &TMainForm::btnReadEncoderClick);
    connect(cbReadEncConstantly, &QCheckBox::toggled, this, &TMainForm::cbReadEncConstantlyClick);
    connect(tmrReadCycle, &QTimer::timeout, this, &TMainForm::tmrReadCycleTimer);
    connect(cbShranjujMeritveDebug, &QCheckBox::toggled, this, &TMainForm::cbShranjujMeritveDebugClick);
    connect(tmrRecordingCheck, &QTimer::timeout, this, &TMainForm::tmrRecordingCheckTimer);
    connect(btnDebugUnlock, &QPushButton::clicked, this, &TMainForm::btnDebugUnlockClick);
    connect(cbCiklirajIzklope, &QCheckBox::toggled, this, &TMainForm::cbCiklirajIzklopeClick);
    connect(timerOnOff, &QTimer::timeout, this, &TMainForm::timerOnOffTimer);
    connect(tmrNoiseStep, &QTimer::timeout, this, &TMainForm::tmrNoiseStepTimer);
    connect(seIzklopDelayMin, &QSpinBox::valueChanged, this, &TMainForm::seIzklopDelayMinChange);
    connect(seIzklopDelayMax, &QSpinBox::valueChanged, this, &TMainForm::seIzklopDelayMinChange);
    connect(btnPositionNoise, &QPushButton::clicked, this, &TMainForm::btnPositionNoiseClick);
    connect(seDelayBetweenReadings, &QSpinBox::valueChanged, this, &TMainForm::seDelayBetweenReadingsChange);
    connect(btnWriteZero, &QPushButton::clicked, this, &TMainForm::btnWriteZeroClick);
    connect(btnWriteFilter, &QPushButton::clicked, this, &TMainForm::btnWriteFilterClick);
    connect(btnMTerrArcWrite, &QPushButton::clicked, this, &TMainForm::btnMTerrArcWriteClick);
    connect(btnApplyMT, &QPushButton::clicked, this, &TMainForm::btnApplyMTClick);
    connect(btnSaveFlash, &QPushButton::clicked, this, &TMainForm::btnSaveFlashClick);
    connect(btnSaveProfile, &QPushButton::clicked, this, &TMainForm::btnSaveProfileClick);
    connect(btnLoadProfile, &QPushButton::clicked, this, &TMainForm::btnLoadProfileClick);
    connect(btnFactoryReset, &QPushButton::clicked, this, &TMainForm::btnFactoryResetClick);
    connect(btnTarvoSetZero, &QPushButton::clicked, this, &TMainForm::btnTarvoSetZeroClick);
    connect(btnDecodingSafetyReset, &QPushButton::clicked, this, &TMainForm::btnDecodingSafetyResetClick);
    connect(cbPersistentStatus, &QCheckBox::toggled, this, &TMainForm::cbPersistentStatusClick);
    connect(cbDetailedStatus, &QCheckBox::toggled, this, &TMainForm::cbDetailedStatusClick);
    connect(btnClearPersistentStatus, &QPushButton::clicked, this, &TMainForm::btnClearPersistentStatusClick);
    connect(btnResetVelcorProtocol, &QPushButton::clicked, this, &TMainForm::btnResetVelcorProtocolClick);
    connect(btnReadWriteAccessRegister, &QPushButton::clicked, this,
            &TMainForm::btnReadWriteAccessRegisterClick);
    connect(btnSelfCalStart, &QPushButton::clicked, this, &TMainForm::btnSelfCalStartClick);
    connect(btnSelfCalReadStatus, &QPushButton::clicked, this, &TMainForm::btnSelfCalReadStatusClick);
    connect(tmrSelfCalWait, &QTimer::timeout, this, &TMainForm::tmrSelfCalWaitTimer);
    connect(btnReadErrMap, &QPushButton::clicked, this, &TMainForm::btnReadErrMapClick);
    connect(btnCommissioningPlanBrowse, &QPushButton::clicked, this,
            &TMainForm::btnCommissioningPlanBrowseClick);
    connect(btnCommissioningRun, &QPushButton::clicked, this, &TMainForm::btnCommissioningRunClick);
    connect(tmrCommissioningStep, &QTimer::timeout, this, &TMainForm::tmrCommissioningStepTimer);
    connect(btnCommissioningReport, &QPushButton::clicked, this, &TMainForm::btnCommissioningReportClick);
}

void TMainForm::FormCreate() {
    // Windows reads the version from the program file's resource, as the bench always has; a
    // system without such resources has the version the program was built with.
    std::string fileVersion;
    const QString version = options_.versionText.value_or(platform::ProgramFileVersion(fileVersion)
                                                              ? QString::fromStdString(fileVersion)
                                                              : QStringLiteral(TARVO_VERSION));
    const QString computer = options_.computerName.value_or(QString::fromLocal8Bit(platform::ComputerName()));
    const QString user = options_.userName.value_or(QString::fromLocal8Bit(platform::UserName()));
    setWindowTitle(QString::fromLatin1(kDesignCaption) + QStringLiteral(" (VER: ") + version +
                   QStringLiteral("; PC: ") + computer + QStringLiteral("; USR: ") + user +
                   QStringLiteral(")"));

    Page->setCurrentIndex(0);
    if (UpperAsciiLetters(user) == QStringLiteral("TEVAN ")) {
        cbVelcorZBGAME->setVisible(true);
        pnlTest->setVisible(true);
    } else {
        for (int tab : {kTabTest, kTabDebug, kTabErrMap})
            Page->setTabVisible(tab, false);
    }

    K310_BiSS_bidirectional::PortHandle = platform::kNoPort;
    dialogs_->setBusyCursor(true);
    K310VerzijaFW = 0;
    COMPorts.clear();
    COMPortList.clear();
    initTimer->start();
    EncPosDegOld = 0;
    EncoderResolution = 1.0;
    seDelayBetweenReadingsChange();
    SetUpCommissioningPage();
}

TMainForm::~TMainForm() {
    Serial_driver::SetWaitHook({});
    qApp->removeEventFilter(this);
    initTimer->stop();
    tmrReadCycle->stop();
    COMPorts.clear();
    COMPortList.clear();
    if (K310_BiSS_bidirectional::PortHandle.IsValid()) {
        platform::ClosePort(K310_BiSS_bidirectional::PortHandle);
        K310_BiSS_bidirectional::PortHandle = platform::kNoPort;
    }
    dialogs_->setBusyCursor(false);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // Without the duration line, as the window has always closed it; every record is on disk.
    if (cbShranjujMeritveDebug->isChecked() && ShraniFajl.IsOpen()) ShraniFajl.Close();
    tmrRecordingCheck->stop();
    // A handler that waits or loops underneath this close sees the flag and ends, so the
    // program can leave its message loop.
    Orodja::SetApplicationTerminating(true);
    initTimer->stop();
    tmrSelfCalWait->stop();
    timerOnOff->stop();
    tmrReadCycle->stop();
    tmrNoiseStep->stop();
    // A commissioning run ends before its next step, INTERRUPTED, with the reason in its record.
    tmrCommissioningStep->stop();
    if (CommissioningRun) {
        CommissioningRun->Stop("the window was closed");
        EndCommissioningRun();
    }
    // Nothing watches the port of a closed window (a watch armed later sees the flag above).
    if (idleWatch_) idleWatch_->setEnabled(false);
    if (idlePoll_) idlePoll_->stop();
    event->accept();
}

void TMainForm::PlaceOnScreen() {
    const QRect frameRect = frameGeometry();
    const QRect client = geometry();
    const QMargins frame(client.left() - frameRect.left(), client.top() - frameRect.top(),
                         frameRect.right() - client.right(), frameRect.bottom() - client.bottom());
    if (placedWithFrame_ == frame) return;
    placedWithFrame_ = frame;
    QScreen* screen = QGuiApplication::screenAt(kDesignPlace);
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) {
        move(kDesignPlace);
        return;
    }
    move(WindowPlace(screen->availableGeometry(), frame, kDesignPlace, kDesignSize));
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    PlaceOnScreen();
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // The first move after the window manager framed the window brings the frame's margins.
    PlaceOnScreen();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        auto* key = static_cast<QKeyEvent*>(event);
        // The filter may see one release several times as it travels up to the window; every
        // action here only reveals controls, so seeing it twice changes nothing.
        if (!key->isAutoRepeat()) FormKeyUp(key->key(), key->modifiers(), QGuiApplication::mouseButtons());
    }
    return false; // the key goes on to the focused control as usual
}

void TMainForm::FormKeyUp(int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
    if (buttons != Qt::NoButton) return;
    modifiers &= ~Qt::KeypadModifier;
    if (key == Qt::Key_A && modifiers == Qt::ControlModifier) {
        Page->setTabVisible(kTabTest, true);
        Page->setTabVisible(kTabErrMap, true);
    } else if (key == Qt::Key_A && modifiers == (Qt::ControlModifier | Qt::ShiftModifier)) {
        cbVelcorZBGAME->setVisible(true);
        for (int tab = 0; tab < Page->count(); ++tab)
            Page->setTabVisible(tab, true);
        pnlTest->setVisible(true);
    } else if (key == Qt::Key_D && modifiers == (Qt::ShiftModifier | Qt::AltModifier)) {
        if (Page->isTabVisible(kTabDebug)) btnDebugUnlock->setVisible(true);
    }
}

void TMainForm::PageChange() {
    TAdapterAction busy(*this);
    QWidget* page = Page->currentWidget();
    if (page == tabConfig)
        ConfigurationRefresh();
    else if (page == tabSelfCal)
        SelfCalibrationRefresh();
}

void TMainForm::AddLog(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : text.split(lineBreak))
        Memo1->appendPlainText(line);
}

QStringList TMainForm::LogLines() const {
    const QString all = Memo1->toPlainText();
    if (all.isEmpty() && Memo1->document()->blockCount() <= 1) return {};
    return all.split(QLatin1Char('\n'));
}

int TMainForm::PowerSelIndex() const {
    if (rbPower5->isChecked()) return 1;
    if (rbPower33->isChecked()) return 0;
    return -1;
}

void TMainForm::SetPowerSelIndex(int index) {
    (index == 0 ? rbPower33 : rbPower5)->setChecked(true);
}

void TMainForm::RestartAdapterSearch() {
    // Enabling a timer that is already enabled changes nothing, as with the design's timers.
    if (!initTimer->isActive()) initTimer->start();
}
