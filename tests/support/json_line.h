// One JSON object per output line for the probe programs that python tests
// read.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace ruva::test {

inline std::string jsonText(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            // Bytes above 0x7f as latin-1 code points: the test reads them back byte for byte.
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

class JsonObject {
public:
    JsonObject& text(const char* name, std::string_view value) { return raw(name, jsonText(value)); }
    JsonObject& maybe(const char* name, const std::optional<std::string>& value) {
        return value ? text(name, *value) : raw(name, "null");
    }
    JsonObject& number(const char* name, long long value) { return raw(name, std::to_string(value)); }
    JsonObject& raw(const char* name, const std::string& json) {
        body_ += body_.empty() ? "" : ",";
        body_ += jsonText(name) + ":" + json;
        return *this;
    }
    std::string str() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

}  // namespace ruva::test
