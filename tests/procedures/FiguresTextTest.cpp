// A step's figures as the window's table and log show them.
#include "FiguresText.h"

#include <gtest/gtest.h>

namespace {

TEST(FiguresText, ObjectsReadAsNamesAndValues) {
    const struct {
        const char* json;
        const char* text;
    } cases[] = {
        {R"({})", ""},
        {R"({"samples":1000,"six_sigma":2.5})", "samples: 1000, six_sigma: 2.5"},
        {R"({"profile":"t1 example","saved_to_nvram":false})",
         R"(profile: "t1 example", saved_to_nvram: false)"},
        // The applied profile's registers, each with what was written and what read back.
        {R"({"registers":{"POSITION_FILTER":{"written":3,"read_back":3},"SELF_CAL_ARC":{"written":360,"read_back":360}}})",
         "registers: {POSITION_FILTER: {written: 3, read_back: 3}, SELF_CAL_ARC: {written: 360, read_back: "
         "360}}"},
        {R"({"jumps":[12,-7],"none":[]})", "jumps: [12, -7], none: []"},
        // Measured figures to six significant digits, whole ones without a fraction.
        {R"({"six_sigma":9.205854102689159,"level":1240.0,"mean":-0.000123456789,"big":1.5e20})",
         "six_sigma: 9.20585, level: 1240, mean: -0.000123457, big: 1.5e+20"},
        // The encoder's own multi-line result on one line; a quote in it stays a quoted quote.
        {R"({"result":"Eccentricity: 12 um\r\nEcc phase: 278 deg\r\n\r\nShift: \"-2\" um\n"})",
         R"(result: "Eccentricity: 12 um / Ecc phase: 278 deg / Shift: \"-2\" um / ")"},
        {R"({"serial":"<b>&\u0007"})", R"(serial: "<b>&\u0007")"},
        // Not JSON: shown as it is rather than lost.
        {"figures {", "figures {"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(Procedures::ReadableFigures(c.json), c.text);
    }
}

} // namespace
