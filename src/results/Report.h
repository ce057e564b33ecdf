// The report of one commissioning run: a single self-contained HTML file (styles and charts
// inline, no other file, no network) that any browser shows and prints on A4, for the customer
// who gets the encoder.
//
// What it reads beyond the record's plain fields:
// - figures and limits: JSON objects, shown as name -> value rows whatever their names;
// - the profile as written: the profile's JSON (its "registers" object, or the object itself);
// - the series (CommissioningRecord.h): "profile-read-back" as the profile's JSON or a
//   register -> value object; "error-map" as an array of numbers, or an object whose "values"
//   (or first array) holds them, with an optional "unit"; "noise-histogram" as an array of counts
//   or an object with "counts" and optionally "edges" (one more than the counts) or "centres";
//   "signal-levels" as an array of numbers (or an object with "values").
// - the error map's limit: the step's limits member whose name holds "peak" (peak-to-peak).
//
// Device texts that are not valid UTF-8 are shown byte by byte as Latin-1 characters; every text
// from the device or from JSON is HTML-escaped.
#pragma once

#include "CommissioningRecord.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace Results {

std::string ReportHtml(const Procedures::TCommissioningRunRecord& run);

// FileNamePart(serial number) + "_" + the run's local start as YYYYMMDD_HHMMSS + ".html".
std::string ReportFileName(const Procedures::TCommissioningRunRecord& run);

// Writes the report into `folder` (made when missing) under ReportFileName (with _2, _3, ...
// when that name is taken); the full path in `pathOut`. Written to a temporary name in the
// folder and renamed when complete: a failure leaves no file and says why.
bool WriteReport(const Procedures::TCommissioningRunRecord& run, const std::string& folder,
                 std::string& pathOut, std::string& error);
// The same to exactly `path` (UTF-8), replacing a file of that name.
bool WriteReportFile(const Procedures::TCommissioningRunRecord& run, const std::string& path,
                     std::string& error);

// `text` as HTML text: shown as Latin-1 when it is not valid UTF-8, control characters as their
// visible symbols, & < > " ' as entities.
std::string HtmlText(std::string_view text);
bool IsValidUtf8(std::string_view text);

} // namespace Results
