// A scripted adapter for tarvo-cli's tests: what the program's adapter search and the encoder's
// identification exchange, and running the program against the scripted port.
#pragma once

#include "RunProgram.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace clitest {

using testing_support::Exchange;
using testing_support::RunProgram;
using testing_support::ScriptedPeer;

inline std::string Hex(unsigned long long value, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llX", digits, value);
    return buffer;
}

class Cli : public ::testing::Test {
protected:
    // What the program's adapter search exchanges before anything else.
    void ExpectAdapter() {
        peer.Add("v", "K310-7K v1.09\r");
        peer.Add("r", "SN0042\r");
        peer.Add("o", "17\r");
    }
    void ExpectRead(uint32_t address, int length, const std::string& reply) {
        peer.Add("R:" + Hex(length, 4) + ":" + Hex(address, 8), reply);
    }
    void ExpectRead(uint32_t address, int length, uint32_t value) {
        ExpectRead(address, length, "0x9:0x" + Hex(value, 8) + "\r");
    }
    void ExpectWrite(uint32_t address, int length, uint32_t value, const std::string& reply = "0x9:\r") {
        peer.Add("x", "Reset of Velcor protocol performed\r");
        peer.Add("W:" + Hex(length, 4) + ":" + Hex(address, 8) + ":" + Hex(value, 8), reply);
    }
    // A legacy type-2 single-turn encoder with no optional register.
    void ExpectIdentification() {
        peer.Add("j", "27TRV-2-AN18B-0100\r");
        for (uint32_t probe : {0x18, 0x2C, 0x4E, 0x21, 0x2F, 0x35})
            ExpectRead(probe, probe == 0x18 || probe == 0x21 ? 1 : 2, "0x26:\r");
        ExpectRead(0x5C, 4, 0x41422D31);
        ExpectRead(0x60, 4, 0x32333435);
    }
    testing_support::ProgramOutput Run(std::vector<std::string> args,
                                       const testing_support::ProgramStreams& streams = {}) {
        args.push_back("--port");
        args.push_back(peer.SlavePath());
        auto r = RunProgram(TARVO_CLI_PATH, args, streams);
        EXPECT_EQ(peer.Unexpected(), "");
        return r;
    }
    ScriptedPeer peer;
};

} // namespace clitest
