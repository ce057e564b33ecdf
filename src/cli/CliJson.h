// A JSON object written key by key, in the order the keys are added, on one line. Byte strings
// from the device may hold any byte: valid UTF-8 passes as it is, every other byte is written
// as the Latin-1 character of that code, so the output is always valid JSON.
#pragma once

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
    JsonObject& Add(std::string_view key, const std::vector<int64_t>& values);
    // Inserts already formed JSON (a nested object).
    JsonObject& AddRaw(std::string_view key, std::string_view json);
    std::string Text() const { return "{" + body_ + "}"; }

private:
    void Key(std::string_view key);
    std::string body_;
};

} // namespace cli
