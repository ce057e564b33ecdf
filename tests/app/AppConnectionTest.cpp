// "Connect Encoder": the code-length and air-gap tables, and the workflow against a scripted
// adapter on a real pseudo-terminal.
#include "AppTestSupport.h"
#include "K310_BiSS_bidirectional.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

using app_testing::RecordingDialogs;
using testing_support::Exchange;
using testing_support::ScriptedPeer;

namespace {

TEST(ConnectionTables, CodeLengthAndAirGapFollowPartNumberFirmwareAndType) {
    struct Row {
        const char* part;
        uint32_t fwMajor, fwMinor;
        int type;
        int32_t length;
        float K, N;
    };
    const Row rows[] = {
        {"VK867A19M000001", 3, 0, 2, 7, -83.556343f, 846.1f},
        {"VK867A19M000001", 2, 9, 2, 7, -83.556343f, 865.0f},
        {"VK867A19M000001", 2, 12, 2, 7, -83.556343f, 865.0f},
        {"VK867A19M000001", 2, 8, 2, 7, -83.556343f, 846.1f},
        {"VK867A19M000001", 4, 0, 6, 7, 0.0f, 0.0f},
        {"VK876", 1, 0, 1, 7, -83.556343f, 846.1f},
        {"VK766", 1, 0, 1, 9, -70.293434f, 735.0f},
        {"VK768", 1, 0, 1, 9, -70.293434f, 735.0f},
        {"QX1234567R19B00", 3, 1, 5, 9, -71.619728f, 749.0f},
        {"QX1234567R19B00", 2, 9, 5, 9, -71.619728f, 749.0f}, // the type rule comes last
        {"QX1234567Q19B00", 4, 0, 4, 9, -71.619728f, 730.0f},
        {"QX1234567Q19B00", 2, 9, 4, 9, 0.0f, 0.0f},
        {"VK886", 1, 0, 1, 6, -95.492966f, 977.1f},
        {"VK888", 1, 0, 1, 6, -95.492966f, 977.1f},
        {"VS7000", 1, 0, 1, 5, -119.36621f, 1236.0f},
        {"AB12345678", 3, 0, 4, 8, -71.619728f, 682.0f},
        {"AB12345678", 2, 9, 4, 8, -71.619728f, 748.0f},
        {"AB12345678", 4, 1, 6, 8, 0.0f, 0.0f},
        {"XVK867", 3, 0, 2, 8, -71.619728f, 682.0f}, // a prefix counts only at the start
        {"", 3, 0, 2, 8, -71.619728f, 682.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.part) + " fw " + std::to_string(row.fwMajor) + "." +
                     std::to_string(row.fwMinor) + " type " + std::to_string(row.type));
        const int32_t length = CodeLengthFromPartNumber(row.part);
        EXPECT_EQ(length, row.length);
        const TAirGapCoefficients c = AirGapCoefficients(length, row.fwMajor, row.fwMinor, row.type);
        EXPECT_EQ(c.K, row.K);
        EXPECT_EQ(c.N, row.N);
    }
    // The K values are the scale's code period in single precision.
    EXPECT_EQ(AirGapCoefficients(5, 1, 0, 1).K, static_cast<float>(-375.0 / 3.14159265358979323846));
    EXPECT_EQ(AirGapCoefficients(8, 1, 0, 1).K, static_cast<float>(-225.0 / 3.14159265358979323846));
}

class Connection : public app_testing::WindowOnScriptedPort {};

TEST_F(Connection, SetUpProblemsAreLoggedAndAFailedIdentificationEnablesNothing) {
    struct Row {
        const char* name;
        bool game;
        std::vector<Exchange> setUp;
        QStringList setUpLog;
    };
    const Row rows[] = {
        {"all set-up commands accepted",
         false,
         {{"Ce", {{"Ce OK\r"}}}, {"G0:1", {{"OK\r"}}}, {"D015", {{"OK\r"}}}},
         {"Setting: Ce OK", "Setting: OK", "Setting: OK"}},
        {"GAME mode sets the interface up with Cr",
         true,
         {{"Cr", {{"Cr OK\r"}}}, {"G0:1", {{"OK\r"}}}, {"D015", {{"OK\r"}}}},
         {"Setting: Cr OK", "Setting: OK", "Setting: OK"}},
        {"an error reply and a silent adapter",
         false,
         {{"Ce", {{"Ce OK\r"}}}, {"G0:1", {{"error 5\r"}}}, {"D015", {}}},
         {"Setting: Ce OK", "Problem pri nastavljanju SPI vmesnika: G0:1 -> error 5", "Setting: error 5",
          "Problem pri nastavljanju SPI vmesnika: D015 -> ", "Setting: "}},
        // A reply that is both incomplete and an error text is reported twice, as each check finds it.
        {"an incomplete error reply",
         false,
         {{"Ce", {{"ERROR"}}}, {"G0:1", {{"OK\r"}}}, {"D015", {{"OK\r"}}}},
         {"Problem pri nastavljanju SPI vmesnika: Ce -> ERROR",
          "Problem pri nastavljanju SPI vmesnika: Ce -> ERROR", "Setting: ERROR", "Setting: OK",
          "Setting: OK"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        form->Memo1->clear();
        form->K310VerzijaFW = 109; // an adapter new enough for GAME mode: no warning
        form->cbVelcorZBGAME->setChecked(row.game);
        peer.Add("e", "5.02 V 48 mA\r");
        for (const auto& e : row.setUp)
            peer.Add(e);
        peer.Add("j", "ERROR: no encoder\r");

        form->btnConnectEncoderClick();

        EXPECT_TRUE(peer.WaitIdle());
        EXPECT_EQ(peer.Unexpected(), "");
        EXPECT_EQ(form->lblPower->text(), QStringLiteral("5.02 V 48 mA"));
        QStringList expected = row.setUpLog;
        expected << "Velcor version: 0"
                 << "Part number: "
                 << "Serial number: "
                 << "FW version: "
                 << "Error reading Encoder signature!"
                 << "Problem 2 pri branju identa: j -> ERROR: no encoder";
        EXPECT_EQ(form->LogLines(), expected);
        EXPECT_FALSE(form->btnReadEncoder->isEnabled());
        EXPECT_FALSE(form->cbReadEncConstantly->isEnabled());
        EXPECT_EQ(form->lblEncoderInfo->text(), QStringLiteral("Encoder information"));
        EXPECT_EQ(form->seDenominator->value(), 1);
        EXPECT_TRUE(dialogs.shown.empty());
    }
}

TEST_F(Connection, LostAdapterEndsTheWorkflowSilentlyAndRestartsTheSearch) {
    peer.HangUp();
    form->btnConnectEncoderClick();
    EXPECT_LT(K310_BiSS_bidirectional::EncoderPosition.ErrComm, 0);
    EXPECT_TRUE(form->initTimer->isActive());
    EXPECT_TRUE(form->LogLines().isEmpty());
    EXPECT_EQ(form->lblPower->text(), QStringLiteral("..."));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Connection, ResolutionFollowsBothSpinEdits) {
    form->seNominator->setValue(100);
    form->seDenominator->setValue(8);
    EXPECT_EQ(form->EncoderResolution, 12.5);
    form->seNominator->setValue(-360);
    EXPECT_EQ(form->EncoderResolution, -45.0);
}

} // namespace
