// The simulated device against the encoder and adapter contracts, command by command, without a
// terminal in between: frames, reports, registers, supply, configuration, self-calibration,
// error map, debug record, diagnostics and the device-side faults.
#include "SimDevice.h"
#include "DeviceConstants.h"
#include "Orodja.h"
#include "SimOptions.h"
#include "SimVariant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

using namespace sim;

namespace {

std::string Rd(uint32_t address, int length) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "R:%04X:%08X", length, address);
    return buf;
}

std::string Wr(uint32_t address, int length, uint32_t value) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "W:%04X:%08X:%08X", length, address, value);
    return buf;
}

EncoderVariant Preset(const std::string& name) {
    EncoderVariant v;
    EXPECT_TRUE(FindPreset(name, v)) << name;
    return v;
}

// A powered device with a hand-driven clock.
struct Bench {
    explicit Bench(const std::string& preset, bool power = true) : dev(Preset(preset), AdapterIdentity{}) {
        if (power) dev.SetSupply(true, t);
    }
    std::string X(const std::string& cmd) {
        std::string r = dev.Execute(cmd, t);
        EXPECT_FALSE(r.empty());
        EXPECT_EQ(r.back(), '\r') << cmd;
        if (!r.empty() && r.back() == '\r') r.pop_back();
        return r;
    }
    uint32_t Value(uint32_t address, int length) {
        const std::string r = X(Rd(address, length));
        EXPECT_EQ(r.size(), 14u) << r;
        EXPECT_EQ(r.substr(0, 6), "0x9:0x") << r;
        return static_cast<uint32_t>(std::stoul(r.substr(6), nullptr, 16));
    }
    // Writes the way the host does: protocol reset first.
    std::string Write(uint32_t address, int length, uint32_t value) {
        EXPECT_EQ(X("x"), "Reset of Velcor protocol performed");
        return X(Wr(address, length, value));
    }
    SimDevice dev;
    double t = 0;
};

uint8_t FrameCrc(const std::string& hex, int type) {
    const uint8_t c = Orodja::HexFrameCrc8(hex);
    return (type == 1 || type == 6) ? static_cast<uint8_t>(~c) : c;
}

} // namespace

// ---------------------------------------------------------------- command framing

TEST(SimScan, CommandsAreDelimitedByPrefixAndLength) {
    struct Row {
        const char* buffer;
        ScanKind kind;
        size_t length;
    } rows[] = {
        {"v", ScanKind::Complete, 1},
        {"vj", ScanKind::Complete, 1},
        {"V5n", ScanKind::Complete, 2},
        {"V", ScanKind::Incomplete, 0},
        {"M8", ScanKind::Complete, 2},
        {"M9", ScanKind::Unknown, 2},
        {"G0:1", ScanKind::Complete, 4},
        {"G0:", ScanKind::Incomplete, 0},
        {"?07:021", ScanKind::Complete, 7},
        {"?05:000", ScanKind::Unknown, 7},
        {"R:0004:0000008", ScanKind::Incomplete, 0},
        {"R:0004:00000080v", ScanKind::Complete, 15},
        {"R:0004:0000G080", ScanKind::Unknown, 15},
        {"W:0001:00000049:000000A5", ScanKind::Complete, 24},
        {"hello\rv", ScanKind::Unknown, 5},
    };
    for (const auto& r : rows) {
        const ScanResult s = ScanCommand(r.buffer);
        EXPECT_EQ(s.kind, r.kind) << r.buffer;
        if (r.kind != ScanKind::Incomplete) {
            EXPECT_EQ(s.length, r.length) << r.buffer;
        }
    }
}

// ---------------------------------------------------------------- adapter

TEST(SimAdapter, RepliesOfTheCommandTable) {
    Bench b("t1", false);
    const std::string v = b.X("v");
    EXPECT_EQ(v, "K310-7K v1.09");
    EXPECT_EQ(v.substr(9, 1), "1"); // character 10: major
    EXPECT_EQ(v.substr(11, 2), "09");
    EXPECT_EQ(b.X("r"), "K7A2039104");
    EXPECT_EQ(b.X("o"), "17");
    EXPECT_EQ(b.X("V3").substr(0, 2), "V3");
    EXPECT_EQ(b.X("n").substr(0, 2), "ON");
    EXPECT_NE(b.X("e").find("3.3 V ON"), std::string::npos);
    EXPECT_EQ(b.X("f"), "OFF");
    EXPECT_NE(b.X("e").find("OFF"), std::string::npos);
    EXPECT_EQ(b.X("m"), "1.5 MHz");
    b.X("M8");
    EXPECT_EQ(b.X("m"), "12 MHz");
    b.X("M1");
    EXPECT_EQ(b.X("m"), "94 kHz");
    for (const char* c : {"Cr", "Ce", "G0:1", "D015"}) {
        const std::string r = b.X(c);
        EXPECT_EQ(r.find("ERROR"), std::string::npos) << c;
    }
    EXPECT_EQ(b.X("x"), "Reset of Velcor protocol performed");
}

TEST(SimAdapter, EncoderCommandsNeedTheSupply) {
    Bench b("t1", false);
    for (const char* c :
         {"j", "d", "?04:000", "?06:000", "?07:021", "R:0004:00000000", "W:0004:00000000:00000001"})
        EXPECT_EQ(b.X(c).rfind("ERROR", 0), 0u) << c;
    EXPECT_EQ(b.X("v"), "K310-7K v1.09"); // the adapter itself answers
    b.X("n");
    EXPECT_EQ(b.X("j").substr(0, 2), "15");
    b.X("f");
    EXPECT_EQ(b.X("j").rfind("ERROR", 0), 0u);
}

TEST(SimAdapter, IdentityIsConfigurable) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(
        ParseSimOptions("t1,adapter-version=1.08,adapter-serial=AB12,adapter-revision=10500", o, error))
        << error;
    SimDevice d(Preset("t1"), o.adapter);
    EXPECT_EQ(d.Execute("v", 0), "K310-7K v1.08\r");
    EXPECT_EQ(d.Execute("r", 0), "AB12\r");
    EXPECT_EQ(d.Execute("o", 0), "10500\r");
}

// ---------------------------------------------------------------- identification

TEST(SimIdentity, EachPresetAnswersJAsItsVariant) {
    struct Row {
        const char* preset;
        const char* typeCode;
        char letter; // 0: any
        const char* resolution;
        int codeLength;
    } rows[] = {
        {"t1", "15", 0, "18B", 9},   {"t1mt", "17", 0, "19M", 7}, {"t2", "27", 'N', "18B", 6},
        {"t3", "27", 'P', "19B", 5}, {"t4", "37", 'Q', "20B", 8}, {"t5", "37", 'R', "19B", 9},
        {"t6", "47", 'M', "21M", 9}, {"bare", "15", 0, "16B", 7},
    };
    for (const auto& r : rows) {
        Bench b(r.preset);
        const std::string j = b.X("j");
        ASSERT_EQ(j.size(), 18u) << r.preset;
        EXPECT_EQ(j.substr(0, 2), r.typeCode) << r.preset;
        if (r.letter) {
            EXPECT_EQ(j[9], r.letter) << r.preset; // character 10
        }
        EXPECT_EQ(j.substr(10, 3), r.resolution) << r.preset; // characters 11..13
        EXPECT_EQ(CodeLengthOfPartNumber(j.substr(2, 16)), r.codeLength) << r.preset;
    }
}

TEST(SimIdentity, SerialNumberWordsPerLayout) {
    Bench legacy("t3");
    std::string serial;
    for (uint32_t w = 0; w < 2; ++w) {
        const uint32_t v = legacy.Value(0x5C + 4 * w, 4);
        for (int i = 3; i >= 0; --i)
            serial += static_cast<char>(v >> (8 * i));
    }
    EXPECT_EQ(serial, "T3 00451");

    Bench t5("t5");
    serial.clear();
    for (uint32_t w = 0; w < 4; ++w) {
        const uint32_t v = t5.Value(0x40 + 4 * w, 4);
        for (int i = 3; i >= 0; --i)
            serial += static_cast<char>(v >> (8 * i));
    }
    const uint32_t tail = t5.Value(0x50, 2);
    serial += static_cast<char>(tail >> 8);
    serial += static_cast<char>(tail);
    EXPECT_EQ(serial, "TSR19B2026A0001234");
}

TEST(SimIdentity, OptionalAndFirmwareRegistersAnswerTheProbe) {
    // address, length, expected reply prefix
    struct Row {
        const char* preset;
        uint32_t address;
        int length;
        const char* reply; // exact for errors, prefix "0x9:" for values
    } rows[] = {
        {"t1", 0x18, 1, "0x9:"},    {"t1", 0x2C, 2, "0x9:"},    {"t1", 0x4E, 2, "0x9:"},
        {"t1", 0x21, 1, "0x9:"},    {"t1", 0x2F, 2, "0x9:"},    {"t1", 0x35, 2, "0x9:"},
        {"t1", 0x2F, 4, "0xee:"},   {"bare", 0x18, 1, "0x26:"}, {"bare", 0x2C, 2, "0x26:"},
        {"bare", 0x4E, 2, "0x26:"}, {"bare", 0x21, 1, "0x26:"}, {"bare", 0x2F, 2, "0x26:"},
        {"bare", 0x35, 2, "0x26:"}, {"t5", 0x68, 2, "0xee:"},   {"t5", 0x68, 4, "0x9:"},
        {"t5", 0x6E, 2, "0xee:"},   {"t5", 0x6E, 4, "0x9:"},    {"t5", 0x72, 4, "0x9:"},
        {"t5", 0x98, 1, "0x9:"},    {"t5", 0x0A, 4, "0x9:"},    {"t5", 0x02, 4, "0x9:"},
        {"t6", 0x68, 2, "0x9:"},    {"t6", 0x6E, 2, "0xee:"},   {"t6", 0x6E, 4, "0x9:"},
        {"t1", 0x72, 4, "0x26:"},
    };
    for (const auto& r : rows) {
        Bench b(r.preset);
        const std::string reply = b.X(Rd(r.address, r.length));
        EXPECT_EQ(reply.rfind(r.reply, 0), 0u)
            << r.preset << " " << Rd(r.address, r.length) << " -> " << reply;
    }
}

TEST(SimIdentity, FirmwareNumbers) {
    struct Row {
        const char* preset;
        uint32_t major, minor, svnAddress;
        int width, svnWidth;
        uint32_t expMajor, expMinor;
    } rows[] = {
        {"t1", 0x2F, 0x31, 0x35, 2, 2, 3, 9}, {"t1mt", 0x2F, 0x31, 0x35, 2, 2, 3, 5},
        {"t2", 0x2F, 0x31, 0x35, 2, 2, 2, 9}, {"t5", 0x68, 0x6A, 0x6E, 4, 4, 3, 12},
        {"t6", 0x68, 0x6A, 0x6E, 2, 4, 4, 2},
    };
    for (const auto& r : rows) {
        Bench b(r.preset);
        EXPECT_EQ(b.Value(r.major, r.width) & 0xFFFF, r.expMajor) << r.preset;
        EXPECT_EQ(b.Value(r.minor, r.width) & 0xFFFF, r.expMinor) << r.preset;
        EXPECT_EQ(b.Value(r.svnAddress, r.svnWidth), b.dev.Variant().fwSvn) << r.preset;
    }
}

// ---------------------------------------------------------------- position frames

TEST(SimFrames, WorkedExamples) {
    Bench t2("t2");
    t2.dev.SetShaft(0x12345, 0, 0);
    EXPECT_EQ(t2.X("?04:000"), "48D14391");

    Bench t1("t1"); // type 1, 18 bits: the same frame with the complemented CRC
    t1.dev.SetShaft(0x12345, 0, 0);
    EXPECT_EQ(t1.X("?04:000"), "48D1436E");

    Bench mt("t1mt"); // type 1, 19 bits, multiturn
    mt.dev.SetShaft(16384, -2, 0);
    EXPECT_EQ(mt.X("?06:000"), "FFFE080003AF");
}

TEST(SimFrames, EveryPresetCarriesAValidCrcAndItsLayout) {
    struct Row {
        const char* preset;
        const char* command;
        size_t length;
    } rows[] = {
        {"t1", "?04:000", 8},  {"t1mt", "?06:000", 12}, {"t2", "?04:000", 8},  {"t3", "?06:000", 12},
        {"t4", "?06:000", 12}, {"t5", "?06:000", 12},   {"t6", "?06:000", 12}, {"bare", "?04:000", 8},
    };
    for (const auto& r : rows) {
        Bench b(r.preset);
        const auto& v = b.dev.Variant();
        const int64_t st = (int64_t{1} << v.singleTurnBits) - 3;
        b.dev.SetShaft(st, v.multiturn ? 7 : 0, 0);
        const std::string f = b.X(r.command);
        ASSERT_EQ(f.size(), r.length) << r.preset << " " << f;
        const std::string body = f.substr(0, f.size() - 2);
        EXPECT_EQ(std::stoul(f.substr(f.size() - 2), nullptr, 16), FrameCrc(body, v.encoderType)) << r.preset;
        const uint32_t d = static_cast<uint32_t>(std::stoul(body.substr(body.size() - 6), nullptr, 16));
        EXPECT_EQ(d >> (24 - v.singleTurnBits), static_cast<uint32_t>(st)) << r.preset;
        EXPECT_EQ(d & 3u, 3u) << r.preset << ": healthy = both active-low bits high";
        if (v.multiturn) {
            EXPECT_EQ(body.substr(0, 4), "0007") << r.preset;
        }
    }
}

TEST(SimFrames, ErrorAndWarningBitsAreActiveLow) {
    struct Row {
        uint32_t conditions;
        uint32_t lowBits;
    } rows[] = {{0, 3}, {kErrSystem, 1}, {kWarnTemperature, 2}, {kErrSystem | kWarnTemperature, 0}};
    for (const auto& r : rows) {
        Bench b("t2");
        b.dev.SetConditions(r.conditions, true);
        const std::string f = b.X("?04:000");
        EXPECT_EQ(std::stoul(f.substr(0, 6), nullptr, 16) & 3u, r.lowBits) << f;
        EXPECT_EQ(std::stoul(f.substr(6), nullptr, 16), Orodja::HexFrameCrc8(f.substr(0, 6)));
    }
}

TEST(SimFrames, LayoutCWord) {
    struct Row {
        const char* preset;
        uint32_t conditions;
        uint16_t word;
    } rows[] = {
        {"t3", 0, 0x0123},                // temperature only
        {"t3", kWarnTemperature, 0x0010}, // legacy status word instead
        {"t4", 0, 0x0123},                // temperature, no status bits
        {"t4", kWarnTemperature, 0x8123}, // temperature + status bit 15
        {"t4", kWarnHighSpeed, 0x0923},   // bit 11
        {"t4", kErrSystem, 0x0004},       // error: the status word
        {"t5", kWarnSignalLow, 0x4123},   // bit 14
        {"t5", kErrSignalLost, 0x0040},   // new-map status word
    };
    for (const auto& r : rows) {
        Bench b(r.preset);
        b.dev.SetTemperatures(30, 0x123);
        b.dev.SetConditions(r.conditions, true);
        const std::string f = b.X("?06:000");
        ASSERT_EQ(f.size(), 12u);
        EXPECT_EQ(std::stoul(f.substr(0, 4), nullptr, 16), r.word) << r.preset << " " << f;
        EXPECT_EQ(std::stoul(f.substr(10), nullptr, 16), Orodja::HexFrameCrc8(f.substr(0, 10))) << r.preset;
    }
}

TEST(SimFrames, BadCrcFaultSpoilsOnlyTheNextFrames) {
    Bench b("t1");
    b.dev.BadCrcNext(1);
    const std::string bad = b.X("?04:000");
    const std::string good = b.X("?04:000");
    EXPECT_NE(std::stoul(bad.substr(6), nullptr, 16), FrameCrc(bad.substr(0, 6), 1));
    EXPECT_EQ(std::stoul(good.substr(6), nullptr, 16), FrameCrc(good.substr(0, 6), 1));
}

TEST(SimFrames, DetailedReportForms) {
    Bench st("t1");
    st.dev.SetShaft(0x12345, 0, 0);
    std::string d = st.X("d");
    ASSERT_EQ(d.size(), 15u) << d;
    EXPECT_EQ(d.substr(2, 4), "0000");
    EXPECT_EQ(d.substr(9, 6), "012345");
    st.dev.SetConditions(kErrSystem, true);
    d = st.X("d");
    EXPECT_EQ(d.substr(2, 4), "0004");

    Bench mt("t6");
    mt.dev.SetShaft(0x1ABCDE, 0x800, 0);
    d = mt.X("d");
    ASSERT_EQ(d.size(), 22u) << d;
    EXPECT_EQ(d.substr(9, 4), "0800");
    EXPECT_EQ(d.substr(16, 6), "1ABCDE");
}

TEST(SimFrames, RotationAndNoiseMoveTheReading) {
    Bench b("t1");
    b.dev.SetRotation(90.0, 0); // a quarter turn per second
    b.t = 1.0;
    int64_t turns = 0, st = 0;
    b.dev.EncoderPosition(b.t, turns, st);
    EXPECT_EQ(st, 65536);
    b.t = 4.5;
    b.dev.EncoderPosition(b.t, turns, st);
    EXPECT_EQ(turns, 1);
    EXPECT_EQ(st, 32768);

    Bench n("t1");
    n.dev.SetShaft(1000, 0, 0);
    n.dev.SetNoise(3.0);
    double sum = 0, sq = 0;
    const int count = 400;
    for (int i = 0; i < count; ++i) {
        const double p = static_cast<double>(std::stoul(n.X("?04:000").substr(0, 6), nullptr, 16) >> 6);
        sum += p;
        sq += p * p;
    }
    const double mean = sum / count, sd = std::sqrt(sq / count - mean * mean);
    EXPECT_NEAR(mean, 999.5, 1.0);
    EXPECT_GT(sd, 2.0);
    EXPECT_LT(sd, 4.0);
}

// ---------------------------------------------------------------- registers

TEST(SimRegisters, ReplyFormatsAndErrorCodes) {
    struct Row {
        std::string command;
        std::string reply;
    } rows[] = {
        {Rd(0x00, 4), "0x9:0x00000000"}, {Rd(0x19, 2), "0x9:0x00000168"}, // SELF_CAL_ARC 360
        {Rd(0x77, 4), "0x26:"},                                           // no such register
        {Rd(0x00, 2), "0xee:"},                                           // wrong length
        {Rd(0x14, 4), "0x96:"},                                           // MT_PRESET is write-only
        {Wr(0x4C, 2, 5), "0x96"},                                         // SENSOR_TEMP is read-only
        {Wr(0x00, 4, 262144), "0x56"},                                    // offset beyond one turn
        {Wr(0x18, 1, 256), "0x56"},                                       // one-byte register
        {Wr(0x49, 1, 0x99), "0x56"},                                      // no such command
        {Wr(0x77, 4, 1), "0x26"},        {Wr(0x04, 2, 1), "0xee"},        {Wr(0x04, 4, 3), "0x9"},
    };
    for (const auto& r : rows) {
        Bench b("t1");
        EXPECT_EQ(b.X(r.command), r.reply) << r.command;
    }
}

TEST(SimRegisters, WriteAccessStatusReflectsTheLastWrite) {
    Bench b("t1");
    EXPECT_EQ(b.Value(0x0E, 1), 0u);
    struct Row {
        std::string write;
        uint32_t flags;
    } rows[] = {{Wr(0x04, 4, 3), 0x40},
                {Wr(0x4C, 2, 1), 0x01},
                {Wr(0x00, 4, 0xFFFFFF), 0x02},
                {Wr(0x49, 1, 0x63), 0x40}};
    for (const auto& r : rows) {
        b.X(r.write);
        EXPECT_EQ(b.Value(0x0E, 1), r.flags) << r.write;
    }
}

TEST(SimRegisters, SignedValuesAreTwosComplementOfTheirWidth) {
    Bench b("t6");
    b.dev.SetTemperatures(-12, 1000);
    EXPECT_EQ(b.Value(0x00, 2), 0xFFF4u); // SENSOR_TEMP, new layout
    EXPECT_EQ(b.Value(0x3C, 1), 0xF4u);   // OP_TEMP_MIN follows the coldest reading
}

TEST(SimRegisters, InjectedErrorCodeForOneRegister) {
    Bench b("t1");
    b.dev.SetRegisterError(0x4E, 0xE6);
    EXPECT_EQ(b.X(Rd(0x4E, 2)), "0xe6:");
    EXPECT_EQ(b.X(Rd(0x4C, 2)).substr(0, 4), "0x9:");
    b.dev.SetRegisterError(0x04, 0xF6);
    EXPECT_EQ(b.Write(0x04, 4, 1), "0xf6");
    b.dev.ClearRegisterErrors();
    EXPECT_EQ(b.X(Rd(0x4E, 2)).substr(0, 4), "0x9:");
}

TEST(SimRegisters, ErrorReplyFault) {
    Bench b("t1");
    b.dev.ErrorReplyNext(2);
    EXPECT_EQ(b.X("v").rfind("ERROR", 0), 0u);
    EXPECT_EQ(b.X("j").rfind("ERROR", 0), 0u);
    EXPECT_EQ(b.X("v"), "K310-7K v1.09");
}

TEST(SimRegisters, SignalLevelVariesWithTheAngle) {
    Bench b("t1");
    uint32_t lo = 0xFFFF, hi = 0;
    for (int i = 0; i < 16; ++i) {
        b.dev.SetShaft(i * 16384, 0, 0);
        const uint32_t v = b.Value(0x4E, 2);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_GT(lo, 500u);
    EXPECT_GT(hi - lo, 100u);
    Bench fresh("t5");
    EXPECT_LT(fresh.Value(0x02, 4), 65536u);
}

// ---------------------------------------------------------------- configuration

TEST(SimConfig, OffsetMakesTheEncoderReadZeroAndWraps) {
    Bench b("t1");
    b.dev.SetShaft(100000, 0, 0);
    EXPECT_EQ(b.Write(0x00, 4, 100000), "0x9");
    EXPECT_EQ(b.X("?04:000").substr(0, 6), "000003");
    b.dev.SetShaft(99998, 0, 0); // two counts below the zero: wraps to the end of the turn
    EXPECT_EQ(std::stoul(b.X("?04:000").substr(0, 6), nullptr, 16) >> 6, 262142u);
}

TEST(SimConfig, MultiturnPresetSetsTheTurnCount) {
    Bench b("t6");
    b.dev.SetShaft(5000, 300, 0);
    EXPECT_EQ(b.Write(0x94, 4, 0xFFFF), "0x9");
    EXPECT_EQ(b.X("?06:000").substr(0, 4), "012C"); // 300 turns: not applied yet
    EXPECT_EQ(b.Write(0xBD, 1, 0x6D), "0x9");
    EXPECT_EQ(b.X("?06:000").substr(0, 4), "FFFF");
    b.dev.SetSupply(false, 0);
    b.dev.SetSupply(true, 0);
    EXPECT_EQ(b.X("?06:000").substr(0, 4), "FFFF"); // the turn counter keeps it
    EXPECT_EQ(b.Write(0x94, 4, 0x10000), "0x56");
}

TEST(SimConfig, SaveSurvivesPowerCycleUnsavedIsLost) {
    Bench b("t1");
    b.dev.SetShaft(7777, 0, 0);
    b.Write(0x04, 4, 9);    // filter
    b.Write(0x18, 1, 90);   // MT error arc
    b.Write(0x49, 1, 0x63); // save
    b.Write(0x00, 4, 1234); // unsaved offset
    b.dev.SetSupply(false, 0);
    b.dev.SetSupply(true, 0);
    EXPECT_EQ(b.Value(0x04, 4), 9u);
    EXPECT_EQ(b.Value(0x18, 1), 90u);
    EXPECT_EQ(b.Value(0x00, 4), 0u);
    EXPECT_EQ(std::stoul(b.X("?04:000").substr(0, 6), nullptr, 16) >> 6, 7777u); // position survives
    b.Write(0x49, 1, 0x72); // factory values, also in NVRAM
    EXPECT_EQ(b.Value(0x04, 4), 2u);
    b.dev.SetSupply(false, 0);
    b.dev.SetSupply(true, 0);
    EXPECT_EQ(b.Value(0x18, 1), 45u);
}

TEST(SimConfig, PositionJumpAtNextPowerUp) {
    Bench b("t1");
    b.dev.SetShaft(1000, 0, 0);
    b.dev.JumpAtNextPowerUp(500);
    EXPECT_EQ(std::stoul(b.X("?04:000").substr(0, 6), nullptr, 16) >> 6, 1000u);
    b.dev.SetSupply(false, 0);
    b.dev.SetSupply(true, 0);
    EXPECT_EQ(std::stoul(b.X("?04:000").substr(0, 6), nullptr, 16) >> 6, 1500u);
    b.dev.SetSupply(false, 0);
    b.dev.SetSupply(true, 0);
    EXPECT_EQ(std::stoul(b.X("?04:000").substr(0, 6), nullptr, 16) >> 6, 1500u);
}

TEST(SimConfig, PersistentStatusIsSetByFaultsAndClearedByCommand) {
    Bench b("t1");
    b.dev.SetConditions(kWarnTemperature, true);
    b.dev.SetConditions(kWarnTemperature, false);
    EXPECT_EQ(b.Value(0x2C, 2), 0x0010u); // still there after the condition went
    b.dev.SetSupply(false, 0);
    b.dev.SetSupply(true, 0);
    EXPECT_EQ(b.Value(0x2C, 2), 0x0010u);
    b.Write(0x49, 1, 0x62);
    EXPECT_EQ(b.Value(0x2C, 2), 0u);

    Bench n("t5"); // new map, four bytes
    n.dev.SetConditions(kErrMultiturn, true);
    EXPECT_EQ(n.Value(0x0A, 4), 0x0200u);
}

// ---------------------------------------------------------------- self-calibration

TEST(SimSelfCal, ProgressesThenSetsCounterResultAndRegisters) {
    struct Row {
        const char* preset;
        uint32_t statusAddr;
        int len;
        uint32_t command;
        SelfCalOutcome outcome;
        uint32_t resultBits;
    } rows[] = {
        {"t1", 0x52, 1, 0x49, SelfCalOutcome::Success, 0x40},
        {"t1", 0x52, 1, 0x49, SelfCalOutcome::NoCorrection, 0x20},
        {"t1", 0x52, 1, 0x49, SelfCalOutcome::OutOfRange, 0x08},
        {"t5", 0xC0, 4, 0xBD, SelfCalOutcome::Success, 0x100000},
        {"t5", 0xC0, 4, 0xBD, SelfCalOutcome::RadialDisplacement, 0x8040},
        {"t6", 0xC0, 4, 0xBD, SelfCalOutcome::WriteError, 0x200040},
    };
    for (const auto& r : rows) {
        Bench b(r.preset);
        b.dev.SetSelfCal(r.outcome, 3.0);
        EXPECT_EQ(b.Value(r.statusAddr, r.len), 0u);
        EXPECT_EQ(b.Write(r.command, 1, 0x41), "0x9");
        b.t = 1.0;
        const std::string during = b.X(Rd(r.statusAddr, r.len));
        if (during.rfind("ERROR", 0) != 0) { // newer firmware does not answer while it calibrates
            EXPECT_EQ(std::stoul(during.substr(6), nullptr, 16) & 3u, 0u) << r.preset << ": still running";
        }
        b.t = 3.1;
        const uint32_t s = b.Value(r.statusAddr, r.len);
        EXPECT_EQ(s & 3u, 1u) << r.preset;
        EXPECT_EQ(s & ~3u, r.resultBits) << r.preset;
    }
}

TEST(SimSelfCal, NewerFirmwareAnswersNoRegisterWhileCalibrating) {
    struct Row {
        const char* preset;
        uint32_t command, status;
        int len;
        bool busy;
    } rows[] = {{"t1", 0x49, 0x52, 1, false}, {"t5", 0xBD, 0xC0, 4, true}, {"t6", 0xBD, 0xC0, 4, true}};
    for (const auto& r : rows) {
        Bench b(r.preset);
        EXPECT_EQ(b.Write(r.command, 1, 0x41), "0x9");
        b.t = 1;
        const std::string during = b.X(Rd(r.status, r.len));
        EXPECT_EQ(during.rfind("ERROR", 0) == 0, r.busy) << r.preset << " " << during;
        EXPECT_EQ(b.X("?06:000").find("ERROR"), std::string::npos) << r.preset << ": frames still come";
        b.t = 4;
        EXPECT_EQ(b.Value(r.status, r.len) & 3u, 1u) << r.preset;
    }
}

TEST(SimSelfCal, ResultRegistersAfterSuccess) {
    Bench b("t1");
    b.Write(0x49, 1, 0x41);
    b.t = 5;
    const uint32_t ecc = b.Value(0x1B, 2), phase = b.Value(0x1D, 2);
    const int16_t radial = static_cast<int16_t>(b.Value(0x1F, 2));
    EXPECT_GE(ecc, 10u);
    EXPECT_LE(ecc, 14u);
    EXPECT_LT(phase, 360u);
    EXPECT_LT(radial, 0);
}

TEST(SimSelfCal, BoundedBySelfCalTimeout) {
    Bench b("t1");
    b.dev.SetSelfCal(SelfCalOutcome::Success, 30.0); // would take longer than the timeout
    b.Write(0x21, 1, 2);
    b.Write(0x49, 1, 0x41);
    b.t = 2.01;
    EXPECT_EQ(b.Value(0x52, 1), 0x05u); // counter 1, timeout bit
    EXPECT_EQ(b.Write(0x21, 1, 0), "0x56");
}

TEST(SimSelfCal, ArcOutOfRangeIsJudgedAtOnce) {
    Bench b("t1");
    b.Write(0x19, 2, 720);
    b.Write(0x49, 1, 0x41);
    EXPECT_EQ(b.Value(0x52, 1), 0x11u);
}

TEST(SimSelfCal, FirmwareTwoAnswersRetriesButCalibrates) {
    Bench b("t2");
    const std::string reply = b.Write(0x49, 1, 0x41);
    EXPECT_EQ(reply.rfind("ERROR", 0), 0u);
    EXPECT_NE(Orodja::RemoveSpaces(reply).find("retries"), std::string::npos);
    b.t = 4;
    EXPECT_EQ(b.Value(0x52, 1) & 3u, 1u);
}

TEST(SimSelfCal, PowerOffInterrupts) {
    Bench b("t1");
    b.Write(0x49, 1, 0x41);
    b.t = 1;
    b.dev.SetSupply(false, b.t);
    b.dev.SetSupply(true, b.t);
    b.t = 10;
    EXPECT_EQ(b.Value(0x52, 1) & 0x83u, 0u);
}

// ---------------------------------------------------------------- error map

TEST(SimErrorMap, SmoothSignedCurveInBothLayouts) {
    struct Row {
        const char* preset;
        uint32_t base;
        bool swapped;
    } rows[] = {{"t1", 0x1800, false}, {"t2", 0x1800, true}, {"t5", 0x10000, false}};
    for (const auto& r : rows) {
        Bench b(r.preset);
        int prev = 0, lo = 0, hi = 0, maxStep = 0;
        for (int i = 0; i < 512; ++i) {
            const uint32_t v = b.Value(r.base + 2 * static_cast<uint32_t>(i), 2);
            const uint32_t raw = r.swapped ? ((v & 0xFF) << 8) | ((v >> 8) & 0xFF) : v;
            const int value = static_cast<int16_t>(raw);
            EXPECT_EQ(value, b.dev.ErrorMapEntry(i));
            if (i > 0) maxStep = std::max(maxStep, std::abs(value - prev));
            lo = std::min(lo, value);
            hi = std::max(hi, value);
            prev = value;
        }
        EXPECT_LT(lo, -100) << r.preset;
        EXPECT_GT(hi, 100) << r.preset;
        EXPECT_LT(maxStep, 10) << r.preset;
        EXPECT_EQ(b.X(Rd(r.base + 1024, 2)).rfind("0x26:", 0), 0u) << r.preset << ": 512 entries only";
    }
}

// ---------------------------------------------------------------- debug record

namespace {

// Amplitude of the samples (numbered from 1, element 0 unused) at k cycles over M samples, as
// the debug page measures it. A record may hold fewer than M samples: the legacy block holds
// 53, the window of code length 9 spans 54. The sum then runs over the samples there are.
double Cycles(const std::vector<int>& samples, int k, int M) {
    const int held = std::min(M, static_cast<int>(samples.size()) - 1);
    double s = 0, c = 0;
    for (int n = 1; n <= held; ++n) {
        s += std::sin(2 * std::numbers::pi * k * (n - 1) / M) * samples.at(static_cast<size_t>(n));
        c += std::cos(2 * std::numbers::pi * k * (n - 1) / M) * samples.at(static_cast<size_t>(n));
    }
    return std::hypot(s, c);
}

} // namespace

TEST(SimDebug, LockedUntilUnlockedThenLatchedBlock) {
    struct Row {
        const char* preset;
        const char* latch; // command; empty: DEBUG_LATCH register
    } rows[] = {{"t1", ""}, {"t1mt", "?07:021"}, {"t3", ""}};
    for (const auto& r : rows) {
        Bench b(r.preset);
        EXPECT_EQ(b.X(Rd(0x200, 4)), "0x96:") << r.preset;
        if (*r.latch) {
            EXPECT_EQ(b.X(r.latch).rfind("ERROR", 0), 0u);
        } else {
            EXPECT_EQ(b.Write(0x48, 1, 1), "0x96");
        }
        EXPECT_EQ(b.Write(0x49, 1, Orodja::kDebugUnlockCode), "0x9");
        if (*r.latch) {
            EXPECT_EQ(b.X(r.latch).find("ERROR"), std::string::npos);
        } else {
            EXPECT_EQ(b.Write(0x48, 1, 1), "0x9");
        }
        std::vector<uint8_t> block;
        for (uint32_t i = 0; i < 33; ++i) {
            const uint32_t v = b.Value(0x200 + 4 * i, 4);
            for (int k = 3; k >= 0; --k)
                block.push_back(static_cast<uint8_t>(v >> (8 * k)));
        }
        ASSERT_EQ(block.size(), 132u);
        EXPECT_EQ(block[0], 'D') << r.preset;
        std::vector<int> samples(1, 0);
        for (int i = 0; i < 53; ++i)
            samples.push_back(static_cast<int16_t>((block[static_cast<size_t>(1 + 2 * i)] << 8) |
                                                   block[static_cast<size_t>(2 + 2 * i)]));
        const int L = b.dev.Variant().codeLength;
        const int M = L == 6 || L == 8 ? 48 : (L == 9 ? 54 : 49);
        EXPECT_GT(Cycles(samples, L, M), 4 * Cycles(samples, L + 1, M)) << r.preset;
        EXPECT_GT(Cycles(samples, L, M), 4 * Cycles(samples, L - 1, M)) << r.preset;
        EXPECT_LT(block[113], 10) << r.preset << ": DecodSelect";
        b.dev.SetSupply(false, 0);
        b.dev.SetSupply(true, 0);
        EXPECT_EQ(b.X(Rd(0x200, 4)), "0x96:") << r.preset << ": locked again after power-off";
    }
}

TEST(SimDebug, LatchRegisterOnlyFromMinorNine) {
    Bench b("t1mt");
    b.Write(0x49, 1, Orodja::kDebugUnlockCode);
    EXPECT_EQ(b.Write(0x48, 1, 1), "0x26");
}

TEST(SimDebug, FirmwareFourWordsAndDecoderRegisters) {
    Bench b("t6");
    EXPECT_EQ(b.X(Rd(0x20000, 4)), "0x96:");
    EXPECT_EQ(b.X(Rd(0x200, 4)), "0x26:");                         // no legacy block
    EXPECT_EQ(b.Write(0xBD, 1, Orodja::kDebugUnlockCode), "0x96"); // latch needs the unlock
    EXPECT_EQ(b.Write(0x49, 1, Orodja::kDebugUnlockCode), "0x9");
    EXPECT_EQ(b.Write(0xBD, 1, Orodja::kDebugUnlockCode), "0x9");
    std::vector<int> samples(1, 0);
    for (uint32_t i = 0; i < 28; ++i) {
        const uint32_t v = b.Value(0x20000 + 4 * i, 4);
        samples.push_back(static_cast<int16_t>(v >> 16));
        samples.push_back(static_cast<int16_t>(v & 0xFFFF));
    }
    EXPECT_GT(Cycles(samples, 9, 54), 4 * Cycles(samples, 8, 54));
    EXPECT_LT(b.Value(0x20084, 2), 512u);
    EXPECT_LT(b.Value(0x20086, 2), 512u);
    EXPECT_EQ(b.Value(0x20088, 2) & 0xFFFFFFu, 0u); // byte 0 only
    EXPECT_NE(b.Value(0x20089, 2), 0u);
    EXPECT_LT(b.Value(0x2008A, 2) >> 24, 10u);
}

// ---------------------------------------------------------------- diagnostics

TEST(SimDiagnostics, CountersExtremesAndMargins) {
    Bench b("t6", false);
    b.X("n");
    const uint32_t cycles = b.Value(0x34, 4);
    b.X("f");
    b.X("n");
    EXPECT_EQ(b.Value(0x34, 4), cycles + 1);
    const uint32_t minutes = b.Value(0x38, 4);
    b.t += 180;
    EXPECT_EQ(b.Value(0x38, 4), minutes + 3);
    b.X("f");
    b.t += 600; // supply off: no operating time
    b.X("n");
    EXPECT_EQ(b.Value(0x38, 4), minutes + 3);

    b.dev.SetTemperatures(80, 1000);
    b.t += 1;
    EXPECT_EQ(static_cast<int16_t>(b.Value(0x3E, 2)), 80);

    EXPECT_EQ(b.Write(0x12, 2, 31999), "0x56");
    EXPECT_EQ(b.Write(0x12, 2, 32000), "0x9");
    EXPECT_EQ(b.Value(0x12, 2), 32000u);
    b.X("?06:000");
    const int16_t per = static_cast<int16_t>(b.Value(0x12, 2));
    const int16_t rt = static_cast<int16_t>(b.Value(0x10, 2));
    EXPECT_LT(per, 32000);
    EXPECT_GE(rt, per);

    Bench legacy("t1");
    EXPECT_EQ(legacy.X(Rd(0x34, 4)), "0x26:"); // firmware 4 only
}

// ---------------------------------------------------------------- options

TEST(SimOptionsParse, CompactForm) {
    struct Row {
        const char* text;
        bool ok;
        const char* preset;
        double rotate, noise;
        bool wire;
    } rows[] = {
        {"", true, "t1", 0, 0, false},
        {"t5", true, "t5", 0, 0, false},
        {"t6,rotate=30,noise=2,wire-timing=1", true, "t6", 30, 2, true},
        {",noise=1.5", true, "t1", 0, 1.5, false},
        {"t2,wire-timing", true, "t2", 0, 0, true},
        {"t9", false, "", 0, 0, false},
        {"t1,spin=3", false, "", 0, 0, false},
        {"t1,noise=-1", false, "", 0, 0, false},
        {"t1,rotate=fast", false, "", 0, 0, false},
    };
    for (const auto& r : rows) {
        SimOptions o;
        std::string error;
        EXPECT_EQ(ParseSimOptions(r.text, o, error), r.ok) << r.text;
        if (!r.ok) {
            EXPECT_FALSE(error.empty()) << r.text;
            continue;
        }
        EXPECT_EQ(o.preset, r.preset) << r.text;
        EXPECT_DOUBLE_EQ(o.rotateDegPerS, r.rotate) << r.text;
        EXPECT_DOUBLE_EQ(o.noiseCounts, r.noise) << r.text;
        EXPECT_EQ(o.wireTiming, r.wire) << r.text;
    }
    SimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions("t1mt,position=5:-2,power-on=1", o, error));
    EXPECT_EQ(o.positionSt, 5);
    EXPECT_EQ(o.positionMt, -2);
    EXPECT_TRUE(o.powerOn);
}

TEST(SimOptionsParse, DescribeNamesTheVariant) {
    for (const auto& name : PresetNames()) {
        const EncoderVariant v = Preset(name);
        const std::string j = DescribeJson(v, AdapterIdentity{});
        EXPECT_NE(j.find("\"partNumber\": \"" + v.partNumber + "\""), std::string::npos) << name;
        EXPECT_NE(j.find("\"typeCode\": \"" + v.typeCode + "\""), std::string::npos) << name;
        EXPECT_NE(j.find("\"layout\": "), std::string::npos) << name;
        EXPECT_NE(j.find("\"K310-7K v1.09\""), std::string::npos) << name;
    }
}
