// The protocol layer end to end against the simulated adapter and encoder, for every preset:
// identification, readings, register writes read back, the commands, self-calibration to its
// end, the error map and the debug data. The simulator is written from the device contracts,
// so these tests catch mistakes that the scripted replies would share with the code.
#include "AdapterDiscovery.h"
#include "K310Simulator.h"
#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "Orodja.h"
#include "SerialPort.h"
#include "Serial_driver.h"
#include "SimVariant.h"
#include "Tarvo_konstante.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace V = K310_SPI_Velcor;
namespace L = Tarvo_konstante;
namespace shared = K310_BiSS_bidirectional;

namespace {

std::string FirmwareText(const sim::EncoderVariant& v) {
    std::string text = std::to_string(v.fwMajor) + "." + std::to_string(v.fwMinor) + "." +
                       std::to_string(v.fwComm) + "." + std::to_string(v.fwSvn);
    if (v.hasFwHash) {
        char hash[16];
        std::snprintf(hash, sizeof hash, ".%08X", v.fwHash);
        text += hash;
    }
    return text;
}

const std::string kInProcess = "+inprocess";

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name)
        if (c == '+') c = '_';
    return name;
}

class AgainstSimulator : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        ResetAll();
        sim::SimOptions options;
        // "PRESET" on a pseudo-terminal, "PRESET+inprocess" on the in-process port that Windows
        // uses: the protocol cannot tell them apart.
        const std::string param = GetParam();
        options.inProcess =
            param.size() > kInProcess.size() &&
            param.compare(param.size() - kInProcess.size(), kInProcess.size(), kInProcess) == 0;
        options.preset = options.inProcess ? param.substr(0, param.size() - kInProcess.size()) : param;
        options.powerOn = true;
        simulator = std::make_unique<sim::K310Simulator>(options);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
        variant = simulator->Variant();
        const auto found = AdapterDiscovery::FindAdapter(
            {simulator->SlavePath()}, [] { return std::vector<AdapterDiscovery::Candidate>{}; });
        ASSERT_TRUE(found.found);
        shared::PortHandle = found.handle;
        ASSERT_TRUE(V::ReadEncoderSignature()) << shared::LastErrorText;
    }
    void TearDown() override {
        ResetAll();
        if (simulator) simulator->Stop();
    }
    static void ResetAll() {
        shared::ResetSharedState();
        V::ResetVelcorState();
        Serial_driver::ResetSerialDriverState();
    }
    uint32_t Peek(uint32_t address, int length) {
        uint32_t value = 0;
        EXPECT_TRUE(simulator->PeekRegister(address, length, value)) << address;
        return value;
    }

    std::unique_ptr<sim::K310Simulator> simulator;
    sim::EncoderVariant variant;
};

TEST_P(AgainstSimulator, IdentificationMatchesTheEncoder) {
    const auto& sig = shared::EncoderSignature;
    EXPECT_EQ(V::EncoderType, variant.encoderType);
    EXPECT_EQ(V::VelcorVersion, variant.typeCode[0] - '0');
    EXPECT_EQ(V::SingleTurnBits, variant.singleTurnBits);
    EXPECT_EQ(V::SingleTurnCounts, variant.SingleTurnCounts());
    EXPECT_EQ(V::MultiTurnBits, variant.multiturn ? 16 : 0);
    EXPECT_EQ(L::RegCommand, variant.NewLayout() ? 0xBDu : 0x49u);
    EXPECT_EQ(L::HasMtErrThreshold, variant.hasMtErrThreshold);
    EXPECT_EQ(L::HasPersistentStatus, variant.hasPersistentStatus);
    EXPECT_EQ(L::HasSignalLevel, variant.hasSignalLevel);
    EXPECT_EQ(L::HasSelfCalTimeout, variant.hasSelfCalTimeout);
    EXPECT_EQ(L::HasFirmwareRevision, variant.hasFirmwareRegisters);
    EXPECT_EQ(sig.Dremo_PartNumber, variant.partNumber);
    EXPECT_EQ(sig.Dremo_Serial, Orodja::RemoveSpaces(variant.serial));
    if (variant.hasFirmwareRegisters) {
        EXPECT_EQ(L::LenFwVersion, variant.fwVersionWidth);
        EXPECT_EQ(L::LenFwVerSvn, variant.fwSvnWidth);
        EXPECT_EQ(sig.Dremo_FWverStr, FirmwareText(variant));
    } else {
        EXPECT_EQ(sig.Dremo_FWverStr, "");
    }
}

TEST_P(AgainstSimulator, PositionFramesAndTheDetailedReport) {
    const int64_t st = variant.SingleTurnCounts() / 3;
    const int64_t turns = variant.multiturn ? -2 : 0;
    simulator->SetPosition(st, turns);
    const auto& p = shared::EncoderPosition;
    ASSERT_TRUE(V::ReadPosition()) << shared::LastErrorText;
    EXPECT_EQ(p.ST_value, static_cast<uint32_t>(st));
    EXPECT_EQ(p.MTST_value, turns * variant.SingleTurnCounts() + st);
    if (variant.multiturn) {
        EXPECT_EQ(p.MT_value, turns);
    }
    EXPECT_FALSE(p.ErrBit);
    EXPECT_FALSE(p.WarnBit);
    EXPECT_FALSE(p.ErrCRC);
    if (variant.encoderType == 4 || variant.encoderType == 5) {
        simulator->SetTemperatures(30, 0x155);
        ASSERT_TRUE(V::ReadPosition());
        EXPECT_EQ(p.ExtTemperature, 0x155);
        EXPECT_EQ(p.Status, 0);
    }

    simulator->BadCrcNext();
    ASSERT_TRUE(V::ReadPosition());
    EXPECT_TRUE(p.ErrCRC);
    simulator->SetErrorBit(true);
    ASSERT_TRUE(V::ReadPosition());
    EXPECT_TRUE(p.ErrBit);
    EXPECT_FALSE(p.ErrCRC);
    simulator->SetErrorBit(false);

    simulator->SetPosition(st, turns);
    ASSERT_TRUE(V::ReadDetailedStatus()) << shared::LastErrorText;
    EXPECT_EQ(p.ST_value, static_cast<uint32_t>(st));
    EXPECT_EQ(p.MTST_value, turns * variant.SingleTurnCounts() + st);
    EXPECT_FALSE(p.ErrBit);
}

TEST_P(AgainstSimulator, RegisterWrittenIsReadBackAndCommandsTakeEffect) {
    ASSERT_TRUE(V::WriteRegister(L::RegPositionFilter, 4, 5)) << shared::LastErrorText;
    ASSERT_TRUE(V::ReadRegister(L::RegPositionFilter, 4)) << shared::LastErrorText;
    EXPECT_EQ(shared::RegisterData[3], 5);
    std::string status;
    V::WriteAccessStatusText(status);
    EXPECT_EQ(status.rfind("Write status: [0x", 0), 0u) << status;

    ASSERT_TRUE(V::SaveToNvram()) << shared::LastErrorText;
    simulator->Inspect([](sim::SimDevice& d, double) { EXPECT_EQ(d.SavedConfig().positionFilter, 5u); });
    ASSERT_TRUE(V::FactoryReset()) << shared::LastErrorText;
    ASSERT_TRUE(V::ReadRegister(L::RegPositionFilter, 4));
    EXPECT_NE(shared::RegisterData[3], 5);

    if (variant.multiturn) {
        simulator->SetPosition(100, 7);
        ASSERT_TRUE(V::PresetMultiturn(static_cast<uint16_t>(-3))) << shared::LastErrorText;
        ASSERT_TRUE(V::ReadPosition());
        EXPECT_EQ(shared::EncoderPosition.MT_value, -3);
    }

    ASSERT_TRUE(V::ReadSensorTemperature()) << shared::LastErrorText;
    if (L::HasSignalLevel) {
        ASSERT_TRUE(V::ReadSignalLevel()) << shared::LastErrorText;
    }
    if (L::HasPersistentStatus) {
        simulator->SetWarningBit(true);
        ASSERT_TRUE(V::ReadPosition());
        simulator->SetWarningBit(false);
        ASSERT_TRUE(V::ReadPersistentStatus()) << shared::LastErrorText;
        EXPECT_NE(shared::EncoderPosition.Status, 0);
        ASSERT_TRUE(V::ClearPersistentStatus()) << shared::LastErrorText;
        ASSERT_TRUE(V::ReadPersistentStatus());
        EXPECT_EQ(shared::EncoderPosition.Status, 0);
    }
}

TEST_P(AgainstSimulator, SelfCalibrationRunsToItsEnd) {
    simulator->SetSelfCal(sim::SelfCalOutcome::Success, 2.0);
    ASSERT_TRUE(V::ReadSelfCalResults()) << shared::LastErrorText;
    const uint32_t counterAtStart = V::SelfCalStatus & 3;
    ASSERT_TRUE(V::StartSelfCalibration(180, L::HasSelfCalTimeout ? 20 : 0)) << shared::LastErrorText;

    // Some firmware answers no register access while it calibrates; one that answers must not
    // report the end before its time.
    if (V::ReadSelfCalResults()) {
        EXPECT_EQ(V::SelfCalStatus & 3, counterAtStart) << "finished before its time";
    }
    simulator->AdvanceTime(2.5);
    ASSERT_TRUE(V::ReadSelfCalResults()) << shared::LastErrorText;
    EXPECT_NE(V::SelfCalStatus & 3, counterAtStart);
    EXPECT_EQ(V::SelfCalResultText.rfind("Eccentricity: ", 0), 0u) << V::SelfCalResultText;
    ASSERT_TRUE(V::ReadRegister(L::RegSelfCalArc, 2)) << shared::LastErrorText;
    EXPECT_EQ(shared::RegisterData[2] * 256 + shared::RegisterData[3], 180);
}

TEST_P(AgainstSimulator, ErrorMapAndDebugData) {
    std::vector<int16_t> map;
    ASSERT_TRUE(V::ReadErrorMap(map)) << shared::LastErrorText;
    ASSERT_EQ(map.size(), 512u);
    simulator->Inspect([&](sim::SimDevice& d, double) {
        for (int i = 0; i < 512; ++i)
            ASSERT_EQ(map[static_cast<size_t>(i)], d.ErrorMapEntry(i)) << i;
    });

    const auto& sig = shared::EncoderSignature;
    // Debug registers answer only after the unlock.
    EXPECT_FALSE(V::LatchDebugData());
    ASSERT_TRUE(V::DebugUnlock()) << shared::LastErrorText;
    ASSERT_TRUE(V::LatchDebugData()) << shared::LastErrorText;
    const bool decoded = sig.Dremo_FWverMajor == 4 || sig.Dremo_FWverMinor >= 9;
    const size_t samples = sig.Dremo_FWverMajor == 4 ? 56 : 53;
    if (decoded) {
        EXPECT_EQ(shared::LastErrorText, "") << "header";
        simulator->Inspect([&](sim::SimDevice& d, double) {
            for (size_t k = 0; k < samples; ++k)
                ASSERT_EQ(V::DebugData.Samples[k], d.DebugSamples()[k]) << k;
        });
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPreset, AgainstSimulator, ::testing::ValuesIn(sim::PresetNames()), ParamName);
// Both register layouts over the in-process port.
INSTANTIATE_TEST_SUITE_P(InProcessPort, AgainstSimulator, ::testing::Values("t1+inprocess", "t5+inprocess"),
                         ParamName);

// An adapter unplugged while a reading awaits its (slow) reply: the reading reports a lost port
// at once, so the window searches for the adapter again instead of waiting out the time-out.
class UnpluggedSimulator : public AgainstSimulator {};

TEST_P(UnpluggedSimulator, UnplugWhileAReadingAwaitsItsReplyIsALostPortAtOnce) {
    ASSERT_EQ(simulator->Control("delay 350"), "ok");
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        simulator->Control("unplug");
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(V::ReadPosition());
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    unplug.join();
    EXPECT_EQ(shared::EncoderPosition.ErrComm, -EIO);
    EXPECT_EQ(shared::LastErrorText, "USB Comm Err " + std::to_string(-EIO));
    EXPECT_LT(took, static_cast<long>(Serial_driver::ReplyTimeoutMs));
}

// Plugged in again, the adapter is there under a new name, and the old one no longer opens.
TEST_P(UnpluggedSimulator, PluggedInAgainTheAdapterHasANewName) {
    const std::string before = simulator->SlavePath();
    platform::ClosePort(shared::PortHandle);
    shared::PortHandle = platform::kNoPort;
    ASSERT_TRUE(simulator->Unplug());
    std::string error;
    ASSERT_TRUE(simulator->Replug(&error)) << error;
    const std::string after = simulator->SlavePath();
    EXPECT_NE(after, before);
    const auto found = AdapterDiscovery::FindAdapter(
        {before, after}, [] { return std::vector<AdapterDiscovery::Candidate>{}; });
    ASSERT_TRUE(found.found);
    EXPECT_EQ(found.port.path, after);
    shared::PortHandle = found.handle;
    EXPECT_TRUE(V::ReadEncoderSignature()) << shared::LastErrorText;
}

INSTANTIATE_TEST_SUITE_P(OnePreset, UnpluggedSimulator, ::testing::Values("t1", "t1+inprocess"), ParamName);

} // namespace
