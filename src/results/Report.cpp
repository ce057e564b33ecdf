#include "Report.h"

#include "DebugRecording.h"
#include "Files.h"
#include "FiguresText.h"
#include "TimeText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

namespace Results {

// Ordered: figures, limits and registers show in the order they were written.
using json = nlohmann::ordered_json;
using Procedures::TCommissioningRunRecord;
using Procedures::TCommissioningSeries;
using Procedures::TCommissioningStepRecord;

// ---- text ---------------------------------------------------------------------------------------

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        int more;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(more) >= text.size()) return false;
        for (int k = 1; k <= more; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = cp << 6 | (b & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond U+10FFFF are not UTF-8.
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += static_cast<size_t>(more) + 1;
    }
    return true;
}

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string HtmlText(std::string_view text) {
    const bool utf8 = IsValidUtf8(text);
    std::string out;
    out.reserve(text.size() + 16);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\t':
        case '\n':
        case '\r':
            out += static_cast<char>(c);
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                AppendUtf8(out, c == 0x7F ? 0x2421 : 0x2400 + c); // the control's visible symbol
            else if (c >= 0x80 && !utf8)
                AppendUtf8(out, c); // the byte as its Latin-1 character
            else
                out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

std::string H(std::string_view text) {
    return HtmlText(text);
}

std::string Number(double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

std::optional<json> ParseJson(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded()) return std::nullopt;
    return j;
}

// A JSON value as the text of one table cell: strings as they are, everything else as JSON.
std::string ValueText(const json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number_float()) return Procedures::FigureNumber(v.get<double>());
    return v.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A figure's cell: a group of figures (the power cycles' signal level, say) as a line per member
// rather than a line of JSON a customer has to read; deeper groups as names and values in a line.
std::string CellHtml(const json& v) {
    if (!v.is_object() || v.empty()) return H(ValueText(v));
    std::string html;
    for (const auto& [key, value] : v.items()) {
        const std::string text =
            value.is_object() ? Procedures::ReadableFigures(value.dump(-1, ' ', false, json::error_handler_t::replace))
                              : ValueText(value);
        html += "<div class=\"member\"><span class=\"key\">" + H(key) + "</span> " + H(text) + "</div>";
    }
    return html;
}

// Name -> value rows of a JSON object; any other text shown as it is.
std::string KeyValueTable(const std::string& caption, const std::string& text) {
    std::string html = "<table class=\"kv\"><caption>" + H(caption) + "</caption>";
    const auto j = ParseJson(text);
    if (!j || !j->is_object()) {
        if (!text.empty() && text != "{}")
            html += "<tr><td colspan=\"2\">" + H(text) + "</td></tr>";
        else
            html += "<tr><td colspan=\"2\" class=\"none\">none</td></tr>";
        return html + "</table>";
    }
    if (j->empty()) html += "<tr><td colspan=\"2\" class=\"none\">none</td></tr>";
    for (const auto& [key, value] : j->items())
        html += "<tr><th>" + H(key) + "</th><td>" + CellHtml(value) + "</td></tr>";
    return html + "</table>";
}

const TCommissioningSeries* FindSeries(const TCommissioningRunRecord& run, const std::string& name,
                                       int stepOrder = -1) {
    for (const TCommissioningSeries& s : run.Series)
        if (s.Name == name && (stepOrder < 0 || s.StepOrder == stepOrder)) return &s;
    return nullptr;
}

// The numbers of a series: an array, or the object's "values" / `preferred` / first array.
std::vector<double> Numbers(const json& j, const char* preferred = "values") {
    const json* array = nullptr;
    if (j.is_array()) {
        array = &j;
    } else if (j.is_object()) {
        if (j.contains(preferred) && j[preferred].is_array()) array = &j[preferred];
        for (auto it = j.begin(); !array && it != j.end(); ++it)
            if (it->is_array()) array = &*it;
    }
    std::vector<double> values;
    if (!array) return values;
    for (const json& v : *array)
        if (v.is_number()) values.push_back(v.get<double>());
    return values;
}

std::string VerdictClass(const std::string& verdict) {
    if (verdict == Procedures::kVerdictPass) return "pass";
    if (verdict == Procedures::kVerdictFail) return "fail";
    if (verdict == Procedures::kVerdictSkipped) return "skipped";
    return "interrupted";
}

// ---- charts -------------------------------------------------------------------------------------

constexpr double kChartWidth = 640, kChartHeight = 220;
constexpr double kLeft = 58, kRight = 12, kTop = 14, kBottom = 30;

// Round tick steps (1, 2, 5 times a power of ten) covering [lo, hi] with about `count` ticks.
std::vector<double> Ticks(double lo, double hi, int count) {
    std::vector<double> ticks;
    if (!(hi > lo)) return {lo};
    const double raw = (hi - lo) / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) {
            step = m * power;
            break;
        }
    for (double t = std::ceil(lo / step) * step; t <= hi + step * 1e-9; t += step)
        ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    return ticks;
}

struct TFrame {
    double xLo, xHi, yLo, yHi;
    double X(double x) const { return kLeft + (x - xLo) / (xHi - xLo) * (kChartWidth - kLeft - kRight); }
    double Y(double y) const { return kTop + (yHi - y) / (yHi - yLo) * (kChartHeight - kTop - kBottom); }
};

std::string SvgOpen(const std::string& label) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer,
                  "<svg class=\"chart\" viewBox=\"0 0 %g %g\" role=\"img\" "
                  "aria-label=\"",
                  kChartWidth, kChartHeight);
    return buffer + H(label) + "\">";
}

// The frame, the grid and the tick labels of both axes.
std::string Axes(const TFrame& f, const std::vector<double>& xTicks, const std::string& yUnit) {
    std::string svg;
    for (const double t : Ticks(f.yLo, f.yHi, 5)) {
        svg += "<line class=\"grid\" x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kChartWidth - kRight) +
               "\" y1=\"" + Number(f.Y(t)) + "\" y2=\"" + Number(f.Y(t)) + "\"/>";
        svg += "<text class=\"tick\" x=\"" + Number(kLeft - 4) + "\" y=\"" + Number(f.Y(t) + 3.5) +
               "\" text-anchor=\"end\">" + Number(t) + "</text>";
    }
    for (const double t : xTicks)
        svg += "<text class=\"tick\" x=\"" + Number(f.X(t)) + "\" y=\"" +
               Number(kChartHeight - kBottom + 14) + "\" text-anchor=\"middle\">" + Number(t) + "</text>";
    svg += "<rect class=\"frame\" x=\"" + Number(kLeft) + "\" y=\"" + Number(kTop) + "\" width=\"" +
           Number(kChartWidth - kLeft - kRight) + "\" height=\"" + Number(kChartHeight - kTop - kBottom) +
           "\"/>";
    if (!yUnit.empty())
        svg += "<text class=\"unit\" x=\"4\" y=\"" + Number(kTop + 4) + "\">" + H(yUnit) + "</text>";
    return svg;
}

std::string Polyline(const TFrame& f, const std::vector<double>& values, const char* cssClass) {
    std::string points;
    for (size_t i = 0; i < values.size(); ++i)
        points += (i ? " " : "") + Number(f.X(static_cast<double>(i))) + "," + Number(f.Y(values[i]));
    return std::string("<polyline class=\"") + cssClass + "\" points=\"" + points + "\"/>";
}

std::pair<double, double> Range(const std::vector<double>& values) {
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    double a = *lo, b = *hi;
    if (a == b) {
        a -= 1;
        b += 1;
    }
    const double pad = (b - a) * 0.05;
    return {a - pad, b + pad};
}

// The error map over its points; with a peak-to-peak limit, two dashed lines that far apart,
// centred on the curve: the curve fits between them exactly when it meets the limit.
std::string ErrorMapChart(const std::vector<double>& values, const std::string& unit,
                          std::optional<double> peakToPeakLimit) {
    auto [lo, hi] = Range(values);
    const auto [mn, mx] = std::minmax_element(values.begin(), values.end());
    const double centre = (*mn + *mx) / 2;
    if (peakToPeakLimit) {
        lo = std::min(lo, centre - *peakToPeakLimit / 2 * 1.1);
        hi = std::max(hi, centre + *peakToPeakLimit / 2 * 1.1);
    }
    const double last = static_cast<double>(std::max<size_t>(values.size(), 2) - 1);
    const TFrame f{0, last, lo, hi};
    std::vector<double> xTicks;
    for (const double t : Ticks(0, last, 4))
        xTicks.push_back(t);
    std::string svg = SvgOpen("error map") + Axes(f, xTicks, unit) + Polyline(f, values, "series");
    if (peakToPeakLimit) {
        for (const double y : {centre - *peakToPeakLimit / 2, centre + *peakToPeakLimit / 2})
            svg += "<line class=\"limit\" x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kChartWidth - kRight) +
                   "\" y1=\"" + Number(f.Y(y)) + "\" y2=\"" + Number(f.Y(y)) + "\"/>";
    }
    return svg + "</svg>";
}

std::string HistogramChart(const json& data) {
    const std::vector<double> counts = Numbers(data, "counts");
    if (counts.empty()) return {};
    // Bin edges when given, else the bins' centres, else their numbers.
    std::vector<double> edges;
    if (data.is_object() && data.contains("edges")) edges = Numbers(data["edges"]);
    if (edges.size() != counts.size() + 1) {
        edges.clear();
        std::vector<double> centres;
        if (data.is_object() && data.contains("centres")) centres = Numbers(data["centres"]);
        if (centres.size() == counts.size() && centres.size() > 1) {
            const double w = (centres.back() - centres.front()) / static_cast<double>(centres.size() - 1);
            for (const double c : centres)
                edges.push_back(c - w / 2);
            edges.push_back(centres.back() + w / 2);
        } else {
            for (size_t i = 0; i <= counts.size(); ++i)
                edges.push_back(static_cast<double>(i));
        }
    }
    const double top = *std::max_element(counts.begin(), counts.end());
    const TFrame f{edges.front(), edges.back() > edges.front() ? edges.back() : edges.front() + 1, 0,
                   top > 0 ? top * 1.05 : 1};
    std::string svg = SvgOpen("noise histogram") + Axes(f, Ticks(f.xLo, f.xHi, 6), "count");
    for (size_t i = 0; i < counts.size(); ++i) {
        const double x0 = f.X(edges[i]), x1 = f.X(edges[i + 1]);
        svg += "<rect class=\"bar\" x=\"" + Number(x0) + "\" y=\"" + Number(f.Y(counts[i])) + "\" width=\"" +
               Number(std::max(0.5, x1 - x0 - 0.5)) + "\" height=\"" + Number(f.Y(0) - f.Y(counts[i])) +
               "\"/>";
    }
    return svg + "</svg>";
}

std::string LevelChart(const std::vector<double>& values) {
    const auto [lo, hi] = Range(values);
    const double last = static_cast<double>(std::max<size_t>(values.size(), 2) - 1);
    const TFrame f{0, last, lo, hi};
    std::vector<double> xTicks;
    for (const double t : Ticks(0, last, std::min<int>(8, static_cast<int>(last))))
        if (std::floor(t) == t) xTicks.push_back(t);
    std::string svg = SvgOpen("signal level over the power cycles") + Axes(f, xTicks, "level") +
                      Polyline(f, values, "series");
    for (size_t i = 0; i < values.size() && values.size() <= 200; ++i)
        svg += "<circle class=\"dot\" cx=\"" + Number(f.X(static_cast<double>(i))) + "\" cy=\"" +
               Number(f.Y(values[i])) + "\" r=\"2.5\"/>";
    return svg + "</svg>";
}

std::optional<double> PeakToPeakLimit(const std::string& limits) {
    const auto j = ParseJson(limits);
    if (!j || !j->is_object()) return std::nullopt;
    for (const auto& [key, value] : j->items()) {
        std::string lower = key;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower.find("peak") != std::string::npos && value.is_number() && value.get<double>() > 0)
            return value.get<double>();
    }
    return std::nullopt;
}

std::string SeriesCharts(const TCommissioningRunRecord& run, const TCommissioningStepRecord& step) {
    std::string html;
    for (const TCommissioningSeries& s : run.Series) {
        if (s.StepOrder != step.Order) continue;
        const auto data = ParseJson(s.Data);
        if (!data) continue;
        if (s.Name == "error-map") {
            const std::vector<double> values = Numbers(*data);
            if (values.size() < 2) continue;
            std::string unit;
            if (data->is_object() && data->contains("unit") && (*data)["unit"].is_string())
                unit = (*data)["unit"].get<std::string>();
            const auto limit = PeakToPeakLimit(step.Limits);
            html += "<figure><figcaption>Error map (" + std::to_string(values.size()) + " points" +
                    (limit ? ", dashed: the peak-to-peak limit " + H(Number(*limit)) : std::string()) +
                    ")</figcaption>" + ErrorMapChart(values, unit, limit) + "</figure>";
        } else if (s.Name == "noise-histogram") {
            const std::string chart = HistogramChart(*data);
            if (!chart.empty())
                html += "<figure><figcaption>Noise histogram</figcaption>" + chart + "</figure>";
        } else if (s.Name == "signal-levels") {
            const std::vector<double> values = Numbers(*data);
            if (values.empty()) continue;
            html += "<figure><figcaption>Signal level over the power cycles</figcaption>" +
                    LevelChart(values) + "</figure>";
        }
    }
    return html;
}

// ---- the profile ----------------------------------------------------------------------------------

// The register -> value members of a profile's JSON (its "registers"), or of a plain object.
std::vector<std::pair<std::string, json>> Registers(const std::string& text) {
    std::vector<std::pair<std::string, json>> out;
    const auto j = ParseJson(text);
    if (!j || !j->is_object()) return out;
    const json& registers =
        j->contains("registers") && (*j)["registers"].is_object() ? (*j)["registers"] : *j;
    for (const auto& [key, value] : registers.items())
        if (value.is_primitive()) out.emplace_back(key, value);
    return out;
}

std::string ProfileSection(const TCommissioningRunRecord& run) {
    const TCommissioningSeries* readBack = FindSeries(run, "profile-read-back");
    if (run.Profile.empty() && !readBack) return {};
    std::string html = "<section class=\"block\"><h2>Profile";
    if (!run.ProfileName.empty()) html += ": " + H(run.ProfileName);
    html += "</h2>";
    const auto written = Registers(run.Profile);
    const auto read = readBack ? Registers(readBack->Data) : decltype(written){};
    if (written.empty() && read.empty()) {
        if (!run.Profile.empty()) html += "<pre>" + H(run.Profile) + "</pre>";
        return html + "</section>";
    }
    std::vector<std::string> names;
    for (const auto& [name, value] : written)
        names.push_back(name);
    for (const auto& [name, value] : read)
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    const auto find = [](const auto& list, const std::string& name) -> const json* {
        for (const auto& [n, v] : list)
            if (n == name) return &v;
        return nullptr;
    };
    html +=
        "<table class=\"grid\"><thead><tr><th>Register</th><th>Written</th><th>Read back</th></tr></thead>"
        "<tbody>";
    for (const std::string& name : names) {
        const json* w = find(written, name);
        const json* r = find(read, name);
        const bool differs = w && r && *w != *r;
        html += std::string("<tr") + (differs ? " class=\"differs\"" : "") + "><th>" + H(name) + "</th><td>" +
                (w ? H(ValueText(*w)) : "&ndash;") + "</td><td>" + (r ? H(ValueText(*r)) : "&ndash;") +
                (differs ? " &#8800;" : "") + "</td></tr>";
    }
    return html + "</tbody></table></section>";
}

// ---- the page -----------------------------------------------------------------------------------

const char* const kStyle = R"css(
:root { --pass: #1b7f3a; --fail: #c0261d; --interrupted: #b86e00; --skipped: #6b6b6b; }
* { box-sizing: border-box; }
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 10.5pt; color: #1a1a1a;
       margin: 0 auto; padding: 16px 24px; max-width: 960px; }
h1 { font-size: 15pt; margin: 14px 0 6px; }
h2 { font-size: 12pt; margin: 0 0 6px; }
.verdict { color: #fff; padding: 10px 16px; border-radius: 4px; }
.verdict .word { font-size: 30pt; font-weight: bold; letter-spacing: 1px; }
.verdict .reason { display: block; font-size: 11pt; margin-top: 2px; }
.verdict.pass { background: var(--pass); } .verdict.fail { background: var(--fail); }
.verdict.interrupted { background: var(--interrupted); }
.block { margin: 12px 0; break-inside: avoid; page-break-inside: avoid; }
table { border-collapse: collapse; }
table.facts th { text-align: left; font-weight: normal; color: #555; padding: 2px 14px 2px 0;
                 vertical-align: top; white-space: nowrap; }
table.facts td { padding: 2px 0; word-break: break-all; }
.facts-grid { display: flex; gap: 6px 36px; flex-wrap: wrap; }
table.grid th, table.grid td { border: 1px solid #bbb; padding: 3px 8px; text-align: left; }
table.grid thead th { background: #eee; }
tr.differs td { color: var(--fail); font-weight: bold; }
.step { border: 1px solid #bbb; border-radius: 4px; padding: 8px 10px; margin: 10px 0;
        break-inside: avoid; page-break-inside: avoid; }
.step h2 .badge { float: right; color: #fff; font-size: 10pt; padding: 1px 8px; border-radius: 3px; }
.badge.pass { background: var(--pass); } .badge.fail { background: var(--fail); }
.badge.skipped { background: var(--skipped); } .badge.interrupted { background: var(--interrupted); }
.step .message { color: var(--fail); margin: 2px 0 6px; }
.step .message.skipped { color: var(--skipped); }
.step .times { color: #666; font-size: 9pt; margin-bottom: 4px; }
.tables { display: flex; gap: 16px; flex-wrap: wrap; align-items: flex-start; }
table.kv { width: 48%; }
table.kv th { width: 55%; }
table.kv caption { text-align: left; font-weight: bold; padding-bottom: 2px; }
table.kv th, table.kv td { border-bottom: 1px solid #ddd; padding: 2px 10px 2px 0; text-align: left;
                           vertical-align: top; }
table.kv th { font-weight: normal; color: #444; }
table.kv td { font-variant-numeric: tabular-nums; overflow-wrap: anywhere; white-space: pre-line; }
table.kv .member .key { color: #444; }
.none { color: #888; font-style: italic; }
figure { margin: 8px 0 0; }
figcaption { font-size: 9.5pt; color: #444; }
svg.chart { width: 100%; max-width: 640px; height: auto; display: block; }
svg .grid { stroke: #ddd; stroke-width: 0.7; }
svg .frame { fill: none; stroke: #888; stroke-width: 0.8; }
svg .tick, svg .unit { font-size: 9px; fill: #555; font-family: "DejaVu Sans", Arial, sans-serif; }
svg .series { fill: none; stroke: #1f5fa8; stroke-width: 1.2; }
svg .limit { stroke: var(--fail); stroke-width: 1; stroke-dasharray: 5 3; }
svg .bar { fill: #1f5fa8; }
svg .dot { fill: #1f5fa8; }
pre { white-space: pre-wrap; word-break: break-all; font-size: 9pt; }
footer { color: #777; font-size: 8.5pt; margin-top: 16px; }
@page { size: A4; margin: 14mm 12mm; }
@media print {
  body { padding: 0; max-width: none; font-size: 9.5pt; }
  * { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  h1 { margin-top: 8px; }
}
)css";

std::string Fact(const char* name, const std::string& value) {
    return std::string("<tr><th>") + name + "</th><td>" + H(value) + "</td></tr>";
}

std::string TimeText(int64_t ms) {
    return ms ? LocalWithOffset(ms) : std::string("not recorded");
}

std::string StepSection(const TCommissioningRunRecord& run, const TCommissioningStepRecord& step) {
    const std::string verdict = step.Verdict.empty() ? "NONE" : step.Verdict;
    std::string html = "<section class=\"step\"><h2>" + std::to_string(step.Order) + ". " + H(step.Name) +
                       "<span class=\"badge " + VerdictClass(step.Verdict) + "\">" + H(verdict) +
                       "</span></h2>";
    html += "<div class=\"times\">" + H(TimeText(step.StartMs)) + " &ndash; " + H(TimeText(step.EndMs));
    if (step.StartMs && step.EndMs >= step.StartMs)
        html += " (" + Number(static_cast<double>(step.EndMs - step.StartMs) / 1000.0) + " s)";
    html += "</div>";
    if (!step.Message.empty())
        html += "<div class=\"message " + VerdictClass(step.Verdict) + "\">" + H(step.Message) + "</div>";
    html += "<div class=\"tables\">" + KeyValueTable("Figures", step.Figures) +
            KeyValueTable("Limits", step.Limits) + "</div>";
    html += SeriesCharts(run, step);
    return html + "</section>";
}

} // namespace

std::string ReportHtml(const TCommissioningRunRecord& run) {
    const std::string verdict = run.Verdict.empty() ? "UNFINISHED" : run.Verdict;
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<title>Commissioning report " + H(run.SerialNumber) + " " + H(verdict) + "</title>\n";
    html += "<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
    html += "<header class=\"verdict " + VerdictClass(run.Verdict) + "\"><span class=\"word\">" + H(verdict) +
            "</span>";
    if (!run.VerdictReason.empty()) html += "<span class=\"reason\">" + H(run.VerdictReason) + "</span>";
    html += "</header>\n";
    html += "<h1>Commissioning report &ndash; serial number " + H(run.SerialNumber) + "</h1>\n";

    html += "<section class=\"block facts-grid\">";
    html += "<table class=\"facts\"><caption hidden>Encoder</caption>";
    html += Fact("Encoder type", std::to_string(run.EncoderType)) + Fact("Register layout", run.Layout) +
            Fact("Part number", run.PartNumber) + Fact("Serial number", run.SerialNumber) +
            Fact("Firmware", run.Firmware);
    html += "</table><table class=\"facts\">";
    html += Fact("Adapter port", run.AdapterPort) + Fact("Adapter serial", run.AdapterSerial) +
            Fact("Adapter version", run.AdapterVersion) + Fact("Station", run.Station) +
            Fact("Operator", run.Operator);
    html += "</table><table class=\"facts\">";
    html += Fact("Plan", run.PlanName) + Fact("Plan SHA-256", run.PlanHash) +
            Fact("Start", TimeText(run.StartMs)) + Fact("End", TimeText(run.EndMs)) + Fact("Run", run.Uuid);
    html += "</table></section>\n";

    html += ProfileSection(run) + "\n";
    html += "<h1>Steps</h1>\n";
    if (run.Steps.empty()) html += "<p class=\"none\">No step was recorded.</p>\n";
    for (const TCommissioningStepRecord& step : run.Steps)
        html += StepSection(run, step) + "\n";
    html += "<footer>Tarvo workbench commissioning report, run " + H(run.Uuid) + "</footer>\n";
    return html + "</body>\n</html>\n";
}

std::string ReportFileName(const TCommissioningRunRecord& run) {
    const std::tm t = LocalTm(run.StartMs);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return Procedures::FileNamePart(run.SerialNumber) + "_" + stamp + ".html";
}

namespace {

bool WriteWhole(const std::string& html, const std::filesystem::path& target, std::string& error) {
    const std::string where = platform::Utf8FromPath(target);
    // A temporary file beside the target, so the rename stays on one file system and is whole.
    std::random_device random;
    platform::TNewFile file;
    std::filesystem::path temporary;
    std::string why;
    for (int attempt = 0; attempt < 8; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", random());
        temporary = target.parent_path() /
                    platform::PathFromUtf8("." + platform::Utf8FromPath(target.filename()) + suffix);
        const platform::NewFileResult r = file.Create(temporary, why);
        if (r == platform::NewFileResult::Created) break;
        if (r == platform::NewFileResult::Failed) {
            error = "cannot write the report " + where + ": " + why;
            return false;
        }
    }
    if (!file.IsOpen()) {
        error = "cannot write the report " + where + ": no free temporary name";
        return false;
    }
    const auto fail = [&](const std::string& reason) {
        std::string ignored;
        file.Close(ignored);
        platform::RemoveFile(temporary, ignored);
        error = "cannot write the report " + where + ": " + reason;
        return false;
    };
    if (file.Write(html.data(), html.size(), why) != html.size()) return fail(why);
    if (!file.Close(why)) return fail(why);
    if (!platform::RenameReplacing(temporary, target, why)) return fail(why);
    return true;
}

} // namespace

bool WriteReportFile(const TCommissioningRunRecord& run, const std::string& path, std::string& error) {
    std::filesystem::path target = platform::PathFromUtf8(path);
    if (!target.has_filename()) {
        error = "cannot write the report " + path + ": it names a folder, not a file";
        return false;
    }
    if (target.parent_path().empty()) target = std::filesystem::path(".") / target;
    return WriteWhole(ReportHtml(run), target, error);
}

bool WriteReport(const TCommissioningRunRecord& run, const std::string& folder, std::string& pathOut,
                 std::string& error) {
    const std::filesystem::path dir = platform::PathFromUtf8(folder.empty() ? "." : folder);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot make the report folder " + folder + ": " + ec.message();
        return false;
    }
    const std::filesystem::path target = Procedures::FreeFilePath(dir, ReportFileName(run));
    pathOut = platform::Utf8FromPath(target);
    return WriteWhole(ReportHtml(run), target, error);
}

} // namespace Results
