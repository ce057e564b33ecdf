#include "CliJson.h"

#include <cmath>
#include <cstdio>

namespace cli {

namespace {

using Json = nlohmann::ordered_json;

// Length of the well-formed UTF-8 sequence at `i` (no overlong forms, no surrogates, nothing
// beyond U+10FFFF), or 0 when the byte there starts none.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char b = at(0);
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (at(1) < low || at(1) > high) return 0;
    for (size_t k = 2; k < n; ++k)
        if ((at(k) & 0xC0) != 0x80) return 0;
    return n;
}

// Device bytes as text nlohmann accepts (it refuses ill-formed UTF-8). A byte that is no part of
// a UTF-8 sequence becomes the marker \xHH and every backslash is doubled, so that the marker
// cannot be confused with the device's own text; Written() turns the marker into \u00HH.
std::string Marked(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t n = Utf8SequenceLength(bytes, i); n > 0) {
            out.append(bytes.substr(i, n));
            i += n - 1;
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        }
    }
    return out;
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char Upper(char c) {
    return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
}

// nlohmann's output with tarvo-cli's escapes: \b, \f and DEL as \u00XX, the digits of \u in upper
// case, the markers of Marked() as \u00HH and doubled backslashes single again. Backslashes and
// DEL occur only inside strings, so the whole text can be scanned.
std::string Written(const std::string& dumped) {
    std::string out;
    out.reserve(dumped.size());
    for (size_t i = 0; i < dumped.size(); ++i) {
        const char c = dumped[i];
        if (c == 0x7F) {
            out += "\\u007F";
            continue;
        }
        if (c != '\\' || i + 1 >= dumped.size()) {
            out += c;
            continue;
        }
        const char n = dumped[++i];
        if (n == 'b') {
            out += "\\u0008";
        } else if (n == 'f') {
            out += "\\u000C";
        } else if (n == 'u' && i + 4 < dumped.size()) {
            out += "\\u";
            for (int k = 1; k <= 4; ++k)
                out += Upper(dumped[i + k]);
            i += 4;
        } else if (n == '\\' && dumped.compare(i + 1, 2, "\\\\") == 0) {
            out += "\\\\"; // a backslash of the device's text, doubled by Marked()
            i += 2;
        } else if (n == '\\' && i + 3 < dumped.size() && dumped[i + 1] == 'x' && IsHex(dumped[i + 2]) &&
                   IsHex(dumped[i + 3])) {
            out += "\\u00";
            out += dumped[i + 2];
            out += dumped[i + 3];
            i += 3;
        } else {
            out += '\\';
            out += n;
        }
    }
    return out;
}

std::string Dump(const Json& value) {
    return Written(value.dump(-1, ' ', false, Json::error_handler_t::strict));
}

} // namespace

std::string JsonString(std::string_view bytes) {
    return Dump(Json(Marked(bytes)));
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
    object_[Marked(key)] = Marked(text);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
    object_[Marked(key)] = value;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, int64_t value) {
    object_[Marked(key)] = value;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, uint64_t value) {
    object_[Marked(key)] = value;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, double value) {
    constexpr double kExactIntegers = 9007199254740992.0; // 2^53
    if (!std::isfinite(value))
        object_[Marked(key)] = nullptr;
    else if (value == std::trunc(value) && std::fabs(value) < kExactIntegers)
        object_[Marked(key)] = static_cast<int64_t>(value);
    else
        object_[Marked(key)] = value;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const std::vector<int64_t>& values) {
    object_[Marked(key)] = values;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const std::vector<std::string>& texts) {
    Json array = Json::array();
    for (const auto& t : texts)
        array.push_back(Marked(t));
    object_[Marked(key)] = std::move(array);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, const JsonObject& nested) {
    object_[Marked(key)] = nested.object_;
    return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
    object_[Marked(key)] = nullptr;
    return *this;
}

JsonObject& JsonObject::Append(const JsonObject& more) {
    for (const auto& [key, value] : more.object_.items())
        object_[key] = value;
    return *this;
}

std::string JsonObject::Text() const {
    return Dump(object_);
}

} // namespace cli
