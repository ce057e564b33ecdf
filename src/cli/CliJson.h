// A JSON object written key by key, in the order the keys are added, on one line, through
// nlohmann-json. Byte strings from the device may hold any byte: valid UTF-8 passes as it is,
// every other byte is written as the Latin-1 character of that code (\u00XX), so the output is
// always valid JSON. Control characters are written as \r, \n, \t, \" and \\ or as \u00XX with
// upper-case digits, as tarvo-cli has always written them.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

std::string JsonString(std::string_view bytes);

class JsonObject {
public:
    JsonObject& Add(std::string_view key, std::string_view text);
    JsonObject& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
    JsonObject& Add(std::string_view key, const std::string& text) {
        return Add(key, std::string_view(text));
    }
    JsonObject& Add(std::string_view key, bool value);
    JsonObject& Add(std::string_view key, int64_t value);
    JsonObject& Add(std::string_view key, uint64_t value);
    JsonObject& Add(std::string_view key, int32_t value) { return Add(key, int64_t{value}); }
    JsonObject& Add(std::string_view key, uint32_t value) { return Add(key, uint64_t{value}); }
    // A whole number is written without a fraction ("0", "1234"); infinity and NaN as null.
    JsonObject& Add(std::string_view key, double value);
    JsonObject& Add(std::string_view key, const std::vector<int64_t>& values);
    JsonObject& Add(std::string_view key, const std::vector<std::string>& texts);
    JsonObject& Add(std::string_view key, const JsonObject& nested);
    JsonObject& AddNull(std::string_view key);
    // Another object's keys after this one's (a key already here takes the later value).
    JsonObject& Append(const JsonObject& more);
    std::string Text() const;

private:
    nlohmann::ordered_json object_ = nlohmann::ordered_json::object();
};

} // namespace cli
