#include "CommandLine.h"

bool ParseCommandLine(const QStringList& arguments, TCommandLine& out, QString& error) {
    out = TCommandLine{};
    // Takes the value of "--name=value" or of "--name value"; false when there is none.
    auto valueOf = [&](int& i, const QString& name, QString& value) {
        const QString& arg = arguments[i];
        if (arg.startsWith(name + QLatin1Char('='))) {
            value = arg.mid(name.size() + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            error = name + QStringLiteral(" needs a value");
            return false;
        }
        if (value.isEmpty()) {
            error = name + QStringLiteral(" needs a value");
            return false;
        }
        return true;
    };
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        QString value;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            out.help = true;
        } else if (arg == QLatin1String("--version")) {
            out.version = true;
        } else if (arg == QLatin1String("--simulate")) {
            out.simulate = true;
        } else if (arg.startsWith(QLatin1String("--simulate="))) {
            out.simulate = true;
            out.simulatorOptions = arg.mid(11).toStdString();
        } else if (arg == QLatin1String("--port") || arg.startsWith(QLatin1String("--port="))) {
            if (!valueOf(i, QStringLiteral("--port"), value)) return false;
            out.ports.push_back(value.toLocal8Bit().toStdString());
        } else if (arg == QLatin1String("--screenshot-page") ||
                   arg.startsWith(QLatin1String("--screenshot-page="))) {
            if (!valueOf(i, QStringLiteral("--screenshot-page"), value)) return false;
            out.screenshotPage = value;
        } else if (arg == QLatin1String("--screenshot") || arg.startsWith(QLatin1String("--screenshot="))) {
            if (!valueOf(i, QStringLiteral("--screenshot"), value)) return false;
            out.screenshot = value;
        } else if (arg == QLatin1String("--record") || arg.startsWith(QLatin1String("--record="))) {
            if (!valueOf(i, QStringLiteral("--record"), value)) return false;
            bool number = false;
            const int seconds = value.toInt(&number);
            if (!number || seconds < 1 || seconds > 86400) {
                error = QStringLiteral("--record needs a number of seconds from 1 to 86400");
                return false;
            }
            out.recordSeconds = seconds;
        } else {
            error = QStringLiteral("unknown option: ") + arg;
            return false;
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
        "                     show that page in the picture, after one reading on it\n"
        "  --record SECONDS   connect, record debug data to a file while reading for SECONDS\n"
        "                     seconds, print the file's path and exit; exit status 1 when the\n"
        "                     reading stopped early or the recording failed (its file could not\n"
        "                     be made or written, or was deleted)\n"
        "  --version          print the version and exit\n"
        "  -h, --help         print this help and exit\n");
}
