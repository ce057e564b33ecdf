#include "CommandLine.h"

#include "CommandLineOptions.h"

bool ParseCommandLine(const QStringList& arguments, TCommandLine& out, QString& error,
                      bool toolkitArgumentsLeft) {
    using CommandLineOptions::TakesValue;
    out = TCommandLine{};
    std::vector<std::string> args;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    std::string problem;
    const auto parsed = CommandLineOptions::Parse(args,
                                                  {{"--help", TakesValue::No},
                                                   {"--version", TakesValue::No},
                                                   {"--simulate", TakesValue::Optional},
                                                   {"--port", TakesValue::Yes},
                                                   {"--screenshot", TakesValue::Yes},
                                                   {"--screenshot-page", TakesValue::Yes},
                                                   {"--record", TakesValue::Yes},
                                                   {"--plan", TakesValue::Yes},
                                                   {"--db", TakesValue::Yes}},
                                                  &problem);
    if (!parsed) {
        error = QString::fromStdString(problem);
        return false;
    }
    if (!parsed->positional.empty() && !toolkitArgumentsLeft) {
        error = QStringLiteral("unexpected argument ") + QString::fromStdString(parsed->positional[0]);
        return false;
    }
    for (const CommandLineOptions::Option& o : parsed->options) {
        const QString value = QString::fromStdString(o.value);
        if (o.name != "--simulate" && o.hasValue && value.isEmpty()) {
            error = QString::fromStdString(o.name) + QStringLiteral(" needs a value");
            return false;
        }
        if (o.name == "--help") {
            out.help = true;
        } else if (o.name == "--version") {
            out.version = true;
        } else if (o.name == "--simulate") {
            out.simulate = true;
            out.simulatorOptions = o.value;
        } else if (o.name == "--port") {
            out.ports.push_back(value.toLocal8Bit().toStdString());
        } else if (o.name == "--screenshot-page") {
            out.screenshotPage = value;
        } else if (o.name == "--screenshot") {
            out.screenshot = value;
        } else if (o.name == "--plan") {
            out.plan = value;
        } else if (o.name == "--db") {
            out.resultsDatabase = value;
        } else if (o.name == "--record") {
            bool number = false;
            const int seconds = value.toInt(&number);
            if (!number || seconds < 1 || seconds > 86400) {
                error = QStringLiteral("--record needs a number of seconds from 1 to 86400");
                return false;
            }
            out.recordSeconds = seconds;
        }
    }
    return true;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: tarvo-workbench [OPTIONS]\n"
        "Commissions and tests Tarvo encoders through a K310-7K USB adapter, which it finds by itself.\n"
        "\n"
        "  --simulate[=PRESET[,OPTION=VALUE...]]\n"
        "                     start the built-in simulated adapter and encoder and try it first\n"
        "                     (for example --simulate or --simulate=PRESET,rotate=30,noise=2)\n"
        "  --port PATH        try this serial device first; may be given several times\n"
        "  --screenshot FILE  connect, save a picture of the window to FILE and exit\n"
        "  --screenshot-page CAPTION\n"
        "                     show that page in the picture, after one reading on it (the\n"
        "                     Commissioning page after running the plan of --plan)\n"
        "  --plan FILE        the commissioning plan the Commissioning page starts with\n"
        "  --db PATH          the results database commissioning runs are stored in (default:\n"
        "                     results.sqlite in tarvo-workbench's folder of the user's data)\n"
        "  --record SECONDS   connect, record debug data to a file while reading for SECONDS\n"
        "                     seconds, print the file's path and exit; exit status 1 when the\n"
        "                     reading stopped early or the recording failed (its file could not\n"
        "                     be made or written, or was deleted)\n"
        "  --version          print the version and exit\n"
        "  -h, --help         print this help and exit\n");
}
