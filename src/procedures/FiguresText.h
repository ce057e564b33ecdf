// A step's figures or limits (a JSON object, as the commissioning record keeps them) as one line a
// person reads at a glance: names without quotes, nested objects and lists inline, line breaks in
// the encoder's texts as " / ", so a table cell or a log line needs no JSON reading.
#pragma once

#include <string>

namespace Procedures {

// A measured figure as a person reads it: whole numbers without a fraction ("1245", not
// "1245.0"), others to six significant digits ("241.183", not "241.18254854777524"; the record
// keeps every digit), with a point whatever the locale.
std::string FigureNumber(double value);

// {"samples":1000,"six_sigma":2.1} -> samples: 1000, six_sigma: 2.1
// (numbers as FigureNumber writes them)
// {"registers":{"POSITION_FILTER":{"written":3,"read_back":3}}}
//   -> registers: {POSITION_FILTER: {written: 3, read_back: 3}}
// "{}" gives an empty text; a text that is not JSON is given back as it is.
std::string ReadableFigures(const std::string& json);

} // namespace Procedures
