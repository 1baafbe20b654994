// The daemon's configuration: a registry of typed keywords filled from a
// text file of "Keyword value" lines.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ruva {

enum ConfigType { CFGTYPE_BOOL = 0, CFGTYPE_INT = 1, CFGTYPE_STR = 2, CFGTYPE_UNKNOWN = 3 };

// ConfigRegister::flags and ConfigEntry::flags.
inline constexpr int kConfigHasDefault = 0x01;
inline constexpr int kConfigRepeatable = 0x02;

// One row of a keyword table; a table ends at a row whose type is null or
// empty. type is "BOOL", "INT" or "STR"; defaultvalue is written as in the
// file, or null.
struct ConfigRegister {
    const char* type;
    const char* name;
    const char* defaultvalue;
    int flags;
};

// The daemon's keywords, in the order applyConfig acts on them.
extern const ConfigRegister uzdConfigRegister[];

// v for BOOL (0/1) and INT, s for STR.
struct ConfigValue {
    int v = 0;
    std::string s;
};

struct ConfigEntry {
    int flags = 0;
    ConfigType type = CFGTYPE_UNKNOWN;
    std::vector<ConfigValue> val;  // in file order; empty: no value
    ConfigValue defaultval;        // valid with kConfigHasDefault
    std::string name;              // at most kConfigNameMax characters

    const ConfigValue* first() const { return val.empty() ? nullptr : &val.front(); }
};

inline constexpr size_t kConfigNameMax = 32;
// Longest line read, line feed not counted; longer lines are skipped.
inline constexpr size_t kConfigLineMax = 254;

class Config {
public:
    // One entry per row, appended in table order; defaults are converted as
    // values in the file are. Returns the number of entries.
    int registerConfigTypes(const ConfigRegister* table);
    void freeConfigEntries();
    // Drops every value and reads the file. A missing file leaves all
    // defaults. Returns the number of entries, or 0 when an IPMask line is
    // not in double quotes.
    int readConfig();
    void setConfigName(const char* name) { fileName = name != nullptr ? name : ""; }
    // The first entry of that name, case ignored; null when none.
    ConfigEntry* findEntry(std::string_view name);
    const ConfigEntry* findEntry(std::string_view name) const;

    std::string fileName;
    std::vector<ConfigEntry> entries;  // in registration order

private:
    friend std::unique_ptr<Config> newConfig(const char* name);
    Config() = default;
    int readLine(char* line);
};

std::unique_ptr<Config> newConfig(const char* name);

// The value a BOOL or INT keyword's text stands for; 0 when an INT is out
// of the 32-bit range (*inRange then false).
int configBool(const char* text);
int configInt(const char* text, bool* inRange);

}  // namespace ruva
