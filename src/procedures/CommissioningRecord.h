// What a commissioning run leaves behind, as plain data: the run's identity and verdict, each
// step's figures and limits, and the series worth keeping. The run fills it step by step; the
// results store keeps it, the report shows it. Figures and limits are JSON objects in text, so a
// new step or figure needs no new column.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Procedures {

// A run's and a step's verdicts as they are stored and shown.
inline constexpr const char* kVerdictPass = "PASS";
inline constexpr const char* kVerdictFail = "FAIL";
inline constexpr const char* kVerdictInterrupted = "INTERRUPTED";
// A step that did not run because one before it failed.
inline constexpr const char* kVerdictSkipped = "SKIPPED";

struct TCommissioningStepRecord {
    int Order = 0;              // 1, 2, ... in the plan's order
    std::string Name;           // the plan's step name: "identify", "noise", ...
    std::string Verdict;        // PASS, FAIL or SKIPPED
    std::string Message;        // why it failed (or was skipped), empty when it passed
    std::string Figures = "{}"; // JSON object: what was measured
    std::string Limits = "{}";  // JSON object: what it was held against
    int64_t StartMs = 0;        // milliseconds since 1970-01-01 UTC
    int64_t EndMs = 0;
};

// A series kept beside a step: "error-map" (512 values), "noise-histogram" (bins),
// "profile-read-back" (the registers as read back), "signal-levels" (per power cycle).
struct TCommissioningSeries {
    int StepOrder = 0;
    std::string Name;
    std::string Data; // JSON
};

struct TCommissioningRunRecord {
    std::string Uuid; // RFC 4122 version 4, lower case
    std::string PlanName;
    std::string PlanHash; // SHA-256 of the plan file's bytes, hex
    std::string Station;
    std::string Operator;
    std::string AdapterPort;
    std::string AdapterSerial;
    std::string AdapterVersion;
    int EncoderType = 0;
    std::string Layout; // "legacy" or "new"
    std::string PartNumber;
    std::string SerialNumber;
    std::string Firmware;
    std::string ProfileName;
    std::string Profile; // the profile as written (JSON), empty when the plan applies none
    int64_t StartMs = 0;
    int64_t EndMs = 0;         // 0 while the run goes on
    std::string Verdict;       // PASS, FAIL, INTERRUPTED; empty while the run goes on
    std::string VerdictReason; // the first failure, or why the run was interrupted
    std::vector<TCommissioningStepRecord> Steps;
    std::vector<TCommissioningSeries> Series;
};

} // namespace Procedures
