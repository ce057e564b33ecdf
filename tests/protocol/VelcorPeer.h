// A fixture for the encoder protocol: a scripted adapter on a real pseudo-terminal, opened as
// PortHandle, with every module state reset around each test.
#pragma once

#include "K310_BiSS_bidirectional.h"
#include "K310_SPI_Velcor.h"
#include "ScriptedPeer.h"
#include "SerialPort.h"
#include "Serial_driver.h"
#include "Tarvo_konstante.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace velcor_test {

using testing_support::Exchange;

inline std::string Hex(unsigned long long value, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llX", digits, value);
    return buffer;
}

inline std::string ReadCommand(uint32_t address, uint8_t length) {
    return "R:" + Hex(length, 4) + ":" + Hex(address, 8);
}

inline std::string WriteCommand(uint32_t address, uint8_t length, uint32_t value) {
    return "W:" + Hex(length, 4) + ":" + Hex(address, 8) + ":" + Hex(value, 8);
}

// The adapter's answer to a successful read of a 32-bit value.
inline std::string ReadReply(uint32_t value) {
    return "0x9:0x" + Hex(value, 8) + "\r";
}

class VelcorPeer : public ::testing::Test {
protected:
    void SetUp() override {
        ResetAll();
        int err = 0;
        const platform::PortHandle port = platform::OpenPort(peer.SlavePath(), &err);
        ASSERT_TRUE(port.IsValid()) << platform::ErrorText(err);
        platform::LineSettings s;
        ASSERT_TRUE(platform::ReadLineSettings(port, s));
        ASSERT_TRUE(platform::ApplyAdapterLineSettings(port, s));
        K310_BiSS_bidirectional::PortHandle = port;
    }
    void TearDown() override {
        EXPECT_EQ(peer.Unexpected(), "") << "commands that differ from the script";
        ResetAll();
    }
    static void ResetAll() {
        K310_BiSS_bidirectional::ResetSharedState();
        K310_SPI_Velcor::ResetVelcorState();
        Serial_driver::ResetSerialDriverState();
    }

    void ExpectRead(uint32_t address, uint8_t length, const std::string& reply) {
        peer.Add(ReadCommand(address, length), reply);
    }
    void ExpectRead(uint32_t address, uint8_t length, uint32_t value) {
        ExpectRead(address, length, ReadReply(value));
    }
    void ExpectReset() { peer.Add("x", "Reset of Velcor protocol performed\r"); }
    // A write as the encoder confirms it: the protocol reset, then the write itself.
    void ExpectWrite(uint32_t address, uint8_t length, uint32_t value, const std::string& reply = "0x9:\r") {
        ExpectReset();
        peer.Add(WriteCommand(address, length, value), reply);
    }
    // Sets the identification globals as an identified encoder would leave them.
    static void Identified(uint8_t type, int bits, int multiTurnBits) {
        K310_SPI_Velcor::EncoderType = type;
        K310_SPI_Velcor::SingleTurnBits = bits;
        K310_SPI_Velcor::SingleTurnCounts = 1 << bits;
        K310_SPI_Velcor::SingleTurnMask = (1u << bits) - 1;
        K310_SPI_Velcor::MultiTurnBits = multiTurnBits;
        if (type == 5 || type == 6)
            Tarvo_konstante::SelectNewLayout();
        else
            Tarvo_konstante::SelectLegacyLayout();
    }
    void ShortReplyTimeout() { Serial_driver::ReplyTimeoutMs = 60; }

    testing_support::ScriptedPeer peer;
};

} // namespace velcor_test
