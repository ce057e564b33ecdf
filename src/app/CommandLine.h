// The workbench's own options. Without any, the program behaves as the window alone describes:
// it searches the USB serial ports for the adapter.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

struct TCommandLine {
    bool help = false;
    bool version = false;
    bool simulate = false;
    std::string simulatorOptions;   // "PRESET[,OPTION=VALUE...]", empty for the default encoder
    std::vector<std::string> ports; // tried first, in this order
    QString screenshot;             // connect, save a picture of the window there, exit
    QString screenshotPage;         // the page shown in that picture (tab caption), empty: the first
    int recordSeconds = 0;          // connect, record debug data this long while reading, exit; 0: no
    QString plan;                   // the Commissioning page's plan file
    QString resultsDatabase;        // where commissioning runs are stored; empty: the user's data folder
};

// False with the reason in `error` for an unknown option, a missing value or an argument that is
// no option. Before the toolkit has taken its own arguments out (its "-platform offscreen" and
// the like), pass `toolkitArgumentsLeft`: arguments that are no option are then left alone.
bool ParseCommandLine(const QStringList& arguments, TCommandLine& out, QString& error,
                      bool toolkitArgumentsLeft = false);

QString UsageText();
