#include "bmod/unzipd/daemon/config.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>

#include "bmod/unzipd/log/log_call.h"
#include "common/line_reader.h"
#include "common/paths.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr long long kIntMax = 2147483647;

ConfigType typeOf(const char* text) {
    if (text == nullptr) return CFGTYPE_UNKNOWN;
    if (strcasecmp(text, "BOOL") == 0) return CFGTYPE_BOOL;
    if (strcasecmp(text, "INT") == 0) return CFGTYPE_INT;
    if (strcasecmp(text, "STR") == 0) return CFGTYPE_STR;
    return CFGTYPE_UNKNOWN;
}

// Converts a value text of the entry's type; false when an INT is out of
// range, which the caller reports.
bool convert(ConfigType type, const char* text, ConfigValue* out) {
    switch (type) {
        case CFGTYPE_BOOL:
            out->v = configBool(text);
            return true;
        case CFGTYPE_INT: {
            bool inRange = true;
            out->v = configInt(text, &inRange);
            return inRange;
        }
        case CFGTYPE_STR:
            completeExpandTilde(out->s, text);
            return true;
        default:
            return true;
    }
}

// The IPMask value must be one double-quoted text: the raw rest of the line,
// blanks and tabs trimmed, begins and ends with '"' and holds no other.
bool enclosedInQuotes(const char* rest) {
    std::string_view v(rest);
    size_t b = v.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return false;
    size_t e = v.find_last_not_of(" \t\r\n");
    v = v.substr(b, e - b + 1);
    return v.size() >= 2 && v.front() == '"' && v.back() == '"' &&
           v.substr(1, v.size() - 2).find('"') == std::string_view::npos;
}

}  // namespace

int configBool(const char* text) {
    if (text == nullptr) return 0;
    if (text[0] == 'Y' || text[0] == 'y' || strcasecmp(text, "ON") == 0) return 1;
    // A number: its leading digits (after an optional sign), nonzero is true.
    const char* p = text;
    if (*p == '-' || *p == '+') ++p;
    for (; isAsciiDigit(static_cast<unsigned char>(*p)); ++p)
        if (*p != '0') return 1;
    return 0;
}

int configInt(const char* text, bool* inRange) {
    *inRange = true;
    if (text == nullptr) return 0;
    long long n = 0;
    for (const char* p = text; isAsciiDigit(static_cast<unsigned char>(*p)); ++p) {
        n = n * 10 + (*p - '0');
        if (n > kIntMax) {
            *inRange = false;
            return 0;
        }
    }
    size_t len = std::strlen(text);
    if (len > 0) {
        char last = static_cast<char>(asciiUpper(static_cast<unsigned char>(text[len - 1])));
        if (last == 'K') n *= 1024;
        if (last == 'M') n *= 1048576;
    }
    if (n > kIntMax) {
        *inRange = false;
        return 0;
    }
    return static_cast<int>(n);
}

std::unique_ptr<Config> newConfig(const char* name) {
    std::unique_ptr<Config> config(new (std::nothrow) Config);
    if (!config) {
        logError(kLogErr, "No memory for Config object");
        return nullptr;
    }
    config->setConfigName(name);
    return config;
}

int Config::registerConfigTypes(const ConfigRegister* table) {
    for (const ConfigRegister* row = table; row != nullptr && row->type != nullptr && row->type[0] != '\0';
         ++row) {
        ConfigEntry e;
        e.type = typeOf(row->type);
        e.name.assign(row->name != nullptr ? row->name : "");
        if (e.name.size() > kConfigNameMax) e.name.resize(kConfigNameMax);
        e.flags = row->flags & kConfigRepeatable;
        if (row->defaultvalue != nullptr) {
            e.flags |= kConfigHasDefault;
            convert(e.type, row->defaultvalue, &e.defaultval);
        }
        entries.push_back(std::move(e));
    }
    return static_cast<int>(entries.size());
}

void Config::freeConfigEntries() {
    entries.clear();
}

ConfigEntry* Config::findEntry(std::string_view name) {
    for (ConfigEntry& e : entries)
        if (e.name.size() == name.size() && strncasecmp(e.name.c_str(), name.data(), name.size()) == 0)
            return &e;
    return nullptr;
}

const ConfigEntry* Config::findEntry(std::string_view name) const {
    return const_cast<Config*>(this)->findEntry(name);
}

// One line, NUL-ended and cut in place. 0 only for the IPMask quoting error.
int Config::readLine(char* line) {
    char* cursor = line;
    char* keyword = getNextToken(&cursor);
    if (keyword == nullptr || keyword[0] == '#') return 1;
    ConfigEntry* entry = findEntry(keyword);
    if (entry == nullptr) {
        logError(kLogWarning, "Unknown configuration keyword ignored: <%s>", keyword);
        return 1;
    }
    if (strcasecmp(entry->name.c_str(), "IPMask") == 0 && !enclosedInQuotes(cursor)) {
        logError(kLogErr,
                 "Value for \"%s\" keyword should be enclosed in double quotes.\n Example: IPMask \"Allow "
                 "172.16.59.123\"",
                 entry->name.c_str());
        return 0;
    }
    char* value = getNextToken(&cursor);
    if (value == nullptr) return 1;
    if (!entry->val.empty() && (entry->flags & kConfigRepeatable) == 0) {
        logError(kLogWarning, "Multiple definitions for keyword not allowed: <%s>", entry->name.c_str());
        return 1;
    }
    ConfigValue v;
    if (!convert(entry->type, value, &v)) {
        logError(kLogWarning, "Value out of range for keyword <%s>: %s", entry->name.c_str(), value);
        return 1;
    }
    entry->val.push_back(std::move(v));
    return 1;
}

int Config::readConfig() {
    for (ConfigEntry& e : entries) e.val.clear();
    int result = static_cast<int>(entries.size());
    FILE* fp = std::fopen(fileName.c_str(), "re");
    if (fp == nullptr) {
        logError(kLogWarning, "configuration file %s not found, using defaults", fileName.c_str());
    } else {
        // Lines are read whole; one longer than the buffer is skipped to its
        // end rather than read on as a new line. A NUL ends the line's text.
        forEachLine<kConfigLineMax>(fp, [&](char* line, int lineNo, bool tooLong) {
            if (tooLong) {
                logError(kLogWarning, "Configuration line %d too long, ignored", lineNo);
                return true;
            }
            if (readLine(line)) return true;
            result = 0;
            return false;
        });
        std::fclose(fp);
    }
    if (result == 0) return 0;
    for (ConfigEntry& e : entries)
        if (e.val.empty() && (e.flags & kConfigHasDefault) != 0) e.val.push_back(e.defaultval);
    return result;
}

}  // namespace ruva
