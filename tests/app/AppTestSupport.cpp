#include "AppTestSupport.h"

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "SerialPort.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// One application object for the whole binary, on the offscreen platform unless told otherwise.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tarvo-app-tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        InstallDesignFont();
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace

namespace app_testing {

TMainFormOptions TestOptions(RecordingDialogs& dialogs, const QString& userName) {
    TMainFormOptions options;
    options.versionText = QStringLiteral("1.2.3.4");
    options.computerName = QStringLiteral("BENCH-PC");
    options.userName = userName;
    options.candidates = [] { return std::vector<AdapterDiscovery::Candidate>{}; };
    options.dialogs = &dialogs;
    return options;
}

bool SimulatorInProcess() {
#ifdef _WIN32
    return true;
#else
    return qEnvironmentVariable("TARVO_TEST_SIM_IN_PROCESS") == QLatin1String("1");
#endif
}

void ResetProtocolState() {
    K310_BiSS_bidirectional::ResetSharedState();
    Serial_driver::ResetSerialDriverState();
    K310_SPI_Velcor::ResetVelcorState();
    Tarvo_konstante::ResetTarvoKonstanteState();
}

bool UseAsAdapterPort(const std::string& path) {
    const platform::PortHandle handle = platform::OpenPort(path);
    if (!handle.IsValid()) return false;
    platform::LineSettings settings;
    if (!platform::ReadLineSettings(handle, settings) ||
        !platform::ApplyAdapterLineSettings(handle, settings)) {
        platform::ClosePort(handle);
        return false;
    }
    K310_BiSS_bidirectional::PortHandle = handle;
    return true;
}

} // namespace app_testing
