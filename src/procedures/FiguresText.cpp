#include "FiguresText.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

namespace Procedures {
namespace {

// In the order the record wrote them, which is the order a person reads them in.
using json = nlohmann::ordered_json;

std::string Text(const json& value, bool top) {
    if (value.is_object()) {
        std::string out;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!out.empty()) out += ", ";
            out += it.key() + ": " + Text(it.value(), false);
        }
        return top ? out : "{" + out + "}";
    }
    if (value.is_array()) {
        std::string out;
        for (const json& item : value) {
            if (!out.empty()) out += ", ";
            out += Text(item, false);
        }
        return "[" + out + "]";
    }
    if (value.is_string()) {
        // A device's multi-line text reads on one line; other control characters stay escaped.
        std::string text = value.get<std::string>();
        std::string joined;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' || text[i] == '\n') {
                while (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n'))
                    ++i;
                joined += " / ";
            } else {
                joined += text[i];
            }
        }
        return json(joined).dump(-1, ' ', false, json::error_handler_t::replace);
    }
    if (value.is_number_float()) return FigureNumber(value.get<double>());
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

std::string FigureNumber(double v) {
    if (std::abs(v) < 1e15 && v == std::nearbyint(v)) return std::to_string(static_cast<long long>(v));
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6);
    if (end.ec != std::errc()) return json(v).dump(); // not a finite number: JSON's null
    return std::string(text, end.ptr);
}

std::string ReadableFigures(const std::string& text) {
    const json value = json::parse(text, nullptr, false);
    if (value.is_discarded()) return text;
    return Text(value, true);
}

} // namespace Procedures
