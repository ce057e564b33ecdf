// The window's adapter search against scripted devices on real pseudo-terminals.
#include "AppTestSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "QtRoutines.h"
#include "ScriptedPeer.h"
#include "SerialPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using app_testing::RecordingDialogs;
using testing_support::Exchange;
using testing_support::ScriptedPeer;

namespace {

QString NameOf(const ScriptedPeer& peer) {
    QString path = QString::fromStdString(peer.SlavePath());
    return path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
}

void AnswerAsAdapter(ScriptedPeer& peer, const std::string& version = "K310-7K v1.09\r") {
    peer.Add("v", version);
    peer.Add("r", "SN-0042\r");
    peer.Add("o", "17\r");
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { app_testing::ResetProtocolState(); }
    void TearDown() override {
        form.reset();
        app_testing::ResetProtocolState();
    }

    // A window whose search sees exactly these candidates.
    void Create(std::vector<AdapterDiscovery::Candidate> candidates,
                std::vector<std::string> explicitPorts = {}) {
        TMainFormOptions options = app_testing::TestOptions(dialogs);
        options.candidates = [candidates] { return candidates; };
        options.explicitPorts = std::move(explicitPorts);
        form = std::make_unique<TMainForm>(options);
        form->initTimer->stop(); // the tests run the search themselves
    }
    void ExpectMainControlsEnabled(bool enabled) {
        for (QWidget* w : {static_cast<QWidget*>(form->Page), static_cast<QWidget*>(form->btnConnectEncoder),
                           static_cast<QWidget*>(form->btnPowerON), static_cast<QWidget*>(form->btnPowerOFF)})
            EXPECT_EQ(w->isEnabled(), enabled) << w->objectName().toStdString();
    }

    RecordingDialogs dialogs;
    std::unique_ptr<TMainForm> form;
};

TEST_F(Discovery, FindsTheAdapterAndShowsPortSerialAndVersion) {
    ScriptedPeer adapter;
    AnswerAsAdapter(adapter);
    Create({{adapter.SlavePath(), 3}});
    form->Page->setCurrentIndex(2);

    form->initTimerTimer();

    EXPECT_TRUE(adapter.WaitIdle());
    EXPECT_EQ(adapter.ReceivedText(), "vro");
    EXPECT_TRUE(K310_BiSS_bidirectional::PortHandle.IsValid());
    EXPECT_EQ(form->lblComPort->text(), NameOf(adapter) + "  [SN0042]");
    EXPECT_EQ(form->lblInterfaceVer->text(), QStringLiteral("K310-7K v1.09.17"));
    EXPECT_EQ(form->K310VerzijaFW, 109);
    EXPECT_EQ(form->K310RevizijaFW, 17);
    EXPECT_EQ(form->SerijskaK310, "SN0042");
    EXPECT_EQ(form->K310Version, "K310-7K v1.09");
    EXPECT_EQ(form->Page->currentIndex(), 0) << "the first page comes to the front";
    ExpectMainControlsEnabled(true);
    EXPECT_FALSE(form->initTimer->isActive()) << "no further search while connected";
    EXPECT_FALSE(dialogs.busy) << "the first search ends the hourglass";
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Discovery, WithoutAdapterTheLabelBlinksAndTheSearchRepeatsEverySecond) {
    Create({});
    form->initTimerTimer();
    EXPECT_EQ(form->lblComPort->text(), QString()) << "the design text disappears at the first search";
    EXPECT_EQ(form->lblInterfaceVer->text(), QString());
    ExpectMainControlsEnabled(false);
    EXPECT_TRUE(form->initTimer->isActive());
    EXPECT_EQ(form->initTimer->interval(), 1000);
    EXPECT_FALSE(dialogs.busy);
    EXPECT_FALSE(K310_BiSS_bidirectional::PortHandle.IsValid());

    // The timer runs the next search by itself a second later.
    EXPECT_TRUE(app_testing::WaitFor([&] { return !form->lblComPort->text().isEmpty(); }, 1500));
    EXPECT_EQ(form->lblComPort->text(), QStringLiteral("Searching for interface..."));
    form->initTimerTimer();
    EXPECT_EQ(form->lblComPort->text(), QString());
    EXPECT_TRUE(dialogs.shown.empty()) << "a missing adapter is shown by the label only";
    EXPECT_TRUE(form->LogLines().isEmpty());
}

TEST_F(Discovery, TriesPortsAscendingOnceEachAndSkipsAStrangeDevice) {
    ScriptedPeer adapter, stranger;
    AnswerAsAdapter(adapter);
    stranger.Add("v", "HELLO, I am a modem\r");
    Create({{adapter.SlavePath(), 12}, {stranger.SlavePath(), 3}, {stranger.SlavePath(), 3}});

    form->initTimerTimer();

    EXPECT_TRUE(adapter.WaitIdle());
    EXPECT_EQ(stranger.ReceivedText(), "v") << "port 3 is tried once and left after its greeting";
    EXPECT_EQ(adapter.ReceivedText(), "vro");
    ASSERT_FALSE(stranger.Received().empty());
    ASSERT_FALSE(adapter.Received().empty());
    EXPECT_LT(stranger.Received().front().at, adapter.Received().front().at) << "3 is tried before 12";
    EXPECT_EQ(form->COMPortList, (std::vector<int32_t>{3, 12}));
    EXPECT_EQ(form->COMPorts, (std::set<std::string>{"003", "012"}));
    EXPECT_EQ(form->lblComPort->text(), NameOf(adapter) + "  [SN0042]");
}

TEST_F(Discovery, ExplicitPortsAreTriedBeforeTheSystemsPorts) {
    ScriptedPeer given, listed;
    AnswerAsAdapter(given);
    AnswerAsAdapter(listed);
    Create({{listed.SlavePath(), 1}}, {given.SlavePath()});
    form->initTimerTimer();
    EXPECT_TRUE(given.WaitIdle());
    EXPECT_EQ(given.ReceivedText(), "vro");
    EXPECT_EQ(listed.ReceivedText(), "");
    EXPECT_EQ(form->lblComPort->text(), NameOf(given) + "  [SN0042]");
}

TEST_F(Discovery, BareModelNameIsEnoughAndMissingSerialOrRevisionStayEmpty) {
    ScriptedPeer adapter;
    adapter.Add("v", "K310-7K"); // seven bytes complete the probe, no CR needed
    adapter.Add(Exchange{"r", {}});
    adapter.Add(Exchange{"o", {}});
    Create({{adapter.SlavePath(), 5}});
    form->initTimerTimer();
    EXPECT_TRUE(K310_BiSS_bidirectional::PortHandle.IsValid());
    EXPECT_EQ(form->K310VerzijaFW, 0);
    EXPECT_EQ(form->SerijskaK310, "");
    EXPECT_EQ(form->K310RevizijaFW, 0);
    EXPECT_EQ(form->lblInterfaceVer->text(), QStringLiteral("K310-7K.0"));
    EXPECT_EQ(form->lblComPort->text(), NameOf(adapter) + "  []");
    ExpectMainControlsEnabled(true);
}

TEST_F(Discovery, ALostAdapterIsSearchedForAgain) {
    ScriptedPeer adapter;
    AnswerAsAdapter(adapter);
    Create({{adapter.SlavePath(), 0}});
    form->initTimerTimer();
    const platform::PortHandle firstHandle = K310_BiSS_bidirectional::PortHandle;
    ASSERT_TRUE(firstHandle.IsValid());

    // A search while connected drops the port first and finds the adapter again.
    AnswerAsAdapter(adapter);
    form->initTimerTimer();
    EXPECT_TRUE(adapter.WaitIdle());
    EXPECT_EQ(adapter.ReceivedText(), "vrovro");
    EXPECT_TRUE(K310_BiSS_bidirectional::PortHandle.IsValid());
    EXPECT_FALSE(form->initTimer->isActive());

    // Unplugged: the next transaction fails, the search restarts and finds nothing.
    adapter.HangUp();
    form->btnPowerOFFClick();
    EXPECT_TRUE(form->initTimer->isActive());
    EXPECT_EQ(form->initTimer->interval(), 200) << "the first restart comes after the design interval";
    form->initTimerTimer();
    EXPECT_FALSE(K310_BiSS_bidirectional::PortHandle.IsValid());
    ExpectMainControlsEnabled(false);
    EXPECT_EQ(form->initTimer->interval(), 1000);
}

// Bytes that come while no transaction runs answer nobody: the watch of the idle port throws them
// away, so it is not woken for them again and again, and says nothing about them.
TEST_F(Discovery, StrayBytesOnTheIdlePortAreThrownAwayQuietly) {
    ScriptedPeer adapter;
    AnswerAsAdapter(adapter);
    Create({{adapter.SlavePath(), 3}});
    form->initTimerTimer();
    const platform::PortHandle port = K310_BiSS_bidirectional::PortHandle;
    ASSERT_TRUE(port.IsValid());
    ASSERT_TRUE(form->IdleWatchActive());
    const QStringList log = form->LogLines();

    for (const std::string& stray : {std::string("K310-7K v1.09\r"), std::string(300, '\x7F')}) {
        adapter.Inject(stray);
        ASSERT_EQ(platform::WaitReadable(port, 2000), platform::WaitResult::Readable);
        ASSERT_TRUE(app_testing::WaitFor([&] { return platform::BytesWaiting(port) == 0; }, 3000))
            << platform::BytesWaiting(port) << " bytes still wait";
        EXPECT_EQ(K310_BiSS_bidirectional::PortHandle, port);
        EXPECT_TRUE(form->IdleWatchActive());
    }
    EXPECT_EQ(form->LogLines(), log);
    EXPECT_FALSE(form->initTimer->isActive());
    EXPECT_TRUE(dialogs.shown.empty());
}

// Without this line nobody learns why the adapter on a port of another group is never found.
TEST_F(Discovery, EachPortPassedOverIsNamedWithItsReasonOnceUntilTheReasonChanges) {
    ScriptedPeer silent, stranger;
    const auto path = [](const ScriptedPeer& p) { return QString::fromStdString(p.SlavePath()); };
    silent.Add(Exchange{"v", {}});
    stranger.Add("v", "HELLO\x1B[2J modem\r");
    Create({{silent.SlavePath(), 1}, {stranger.SlavePath(), 2}});
    form->initTimerTimer();
    EXPECT_EQ(form->LogLines(),
              (QStringList{QStringLiteral("Port not taken: ") + path(silent) +
                               QStringLiteral(": no answer to \"v\" within 400 ms"),
                           QStringLiteral("Port not taken: ") + path(stranger) +
                               QStringLiteral(": answered \"HELLO[2J modem\", not a K310-7K")}));

    // The same reasons a second later: nothing new. The stranger falls silent: that is news.
    silent.Add(Exchange{"v", {}});
    stranger.Add("v", "HI, a different text\r");
    form->initTimerTimer();
    EXPECT_EQ(form->LogLines().size(), 2);
    silent.Add(Exchange{"v", {}});
    stranger.Add(Exchange{"v", {}});
    form->initTimerTimer();
    const QStringList lines = form->LogLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[2], QStringLiteral("Port not taken: ") + path(stranger) +
                            QStringLiteral(": no answer to \"v\" within 400 ms"));
}

TEST_F(Discovery, APortWithoutPermissionIsNamedOncePerRun) {
    // A file that even the administrator may not open for writing stands in for a locked port.
    const std::string locked = "/sys/kernel/mm/transparent_hugepage/hpage_pmd_size";
    const int fd = ::open(locked.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int err = errno;
    if (fd >= 0) ::close(fd);
    if (fd >= 0 || err != EACCES) GTEST_SKIP() << "no file here refuses opening with EACCES";

    Create({}, {locked});
    form->initTimerTimer();
    form->initTimerTimer();
    const QStringList lines = form->LogLines();
    ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0],
              QStringLiteral("No permission to open ") + QString::fromStdString(locked) +
                  QStringLiteral("; the device's permissions (mode 0444, owner root) keep everyone "
                                 "but its owner out; the udev rule 70-tarvo-k310-7k.rules of the "
                                 "tarvo-workbench package lets the person at the desk open the adapter"));
}

} // namespace
