// The workbench's own options.
#include "AppTestSupport.h"
#include "CommandLine.h"
#include "K310_7K_Velcor_SPI_Main.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, ReadsSimulatorPortsAndScreenshot) {
    struct Row {
        QStringList args;
        bool ok, simulate;
        std::string simulatorOptions;
        std::vector<std::string> ports;
        QString screenshot;
        QString page = {};
        int record = 0;
        QString plan = {};
        QString db = {};
    };
    const Row rows[] = {
        {{}, true, false, "", {}, {}},
        {{"--simulate"}, true, true, "", {}, {}},
        {{"--simulate=PRESET,rotate=30,noise=2"}, true, true, "PRESET,rotate=30,noise=2", {}, {}},
        {{"--port", "/dev/ttyACM3", "--port=/dev/ttyUSB0"},
         true,
         false,
         "",
         {"/dev/ttyACM3", "/dev/ttyUSB0"},
         {}},
        {{"--simulate", "--screenshot", "docs/w.png"}, true, true, "", {}, "docs/w.png"},
        {{"--simulate", "--screenshot=d.png", "--screenshot-page", "Diagnostics"},
         true,
         true,
         "",
         {},
         "d.png",
         "Diagnostics"},
        {{"--simulate", "--record", "3"}, true, true, "", {}, {}, {}, 3},
        {{"--record=86400"}, true, false, "", {}, {}, {}, 86400},
        {{"--record", "0"}, false, false, "", {}, {}},
        {{"--record=86401"}, false, false, "", {}, {}},
        {{"--record", "ten"}, false, false, "", {}, {}},
        {{"--record"}, false, false, "", {}, {}},
        {{"--plan", "plans/quick.json", "--db=/tmp/r.sqlite"},
         true,
         false,
         "",
         {},
         {},
         {},
         0,
         "plans/quick.json",
         "/tmp/r.sqlite"},
        {{"--plan"}, false, false, "", {}, {}},
        {{"--db="}, false, false, "", {}, {}},
        {{"--screenshot-page"}, false, false, "", {}, {}},
        {{"--port"}, false, false, "", {}, {}},
        {{"--port="}, false, false, "", {}, {}},
        {{"--frobnicate"}, false, false, "", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        TCommandLine parsed;
        QString error;
        const bool ok = ParseCommandLine(QStringList{"tarvo-workbench"} + row.args, parsed, error);
        ASSERT_EQ(ok, row.ok) << error.toStdString();
        if (!ok) {
            EXPECT_FALSE(error.isEmpty());
            continue;
        }
        EXPECT_EQ(parsed.simulate, row.simulate);
        EXPECT_EQ(parsed.simulatorOptions, row.simulatorOptions);
        EXPECT_EQ(parsed.ports, row.ports);
        EXPECT_EQ(parsed.screenshot, row.screenshot);
        EXPECT_EQ(parsed.screenshotPage, row.page);
        EXPECT_EQ(parsed.recordSeconds, row.record);
        EXPECT_EQ(parsed.plan, row.plan);
        EXPECT_EQ(parsed.resultsDatabase, row.db);
    }
}

TEST(ApplicationIdentity, TheDesktopEntryAndTheWindowNameEachOther) {
    // A dock groups a window with the menu entry whose file name is the window's desktop file
    // name (the Wayland app id) or whose StartupWMClass is its X class instance.
    SetApplicationIdentity();
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("tarvo-workbench"));
    EXPECT_EQ(QApplication::applicationName(), QStringLiteral("Tarvo SPI - ZB test"));
    QFile entry(QStringLiteral(TARVO_SOURCE_DIR "/packaging/") + QGuiApplication::desktopFileName() +
                QStringLiteral(".desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly)) << entry.fileName().toStdString();
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("\nStartupWMClass=") + QGuiApplication::desktopFileName() +
                              QStringLiteral("\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=tarvo-workbench")));
}

} // namespace
