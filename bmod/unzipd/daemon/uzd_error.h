#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bmod/unzipd/log/log_call.h"

namespace ruva {

class UzdMain;

// The option word of the command line; its low byte is the main object's
// flag byte. Start-up and the main loop set it.
inline constexpr uint16_t kOptFoldNames = 0x01;   // -f
inline constexpr uint16_t kOptVerbose = 0x04;     // -v
inline constexpr uint16_t kOptDebug = 0x08;       // -d
inline constexpr uint16_t kOptIndexRun = 0x20;    // -i
inline constexpr uint16_t kOptReconfig = 0x80;    // a rebuild of the main object is under way
inline constexpr uint16_t kOptUnregister = 0x100; // -u
extern uint16_t flags;

// The current main object, or null while there is none (before start-up
// and during a reconfiguration). Set it through setCurrentMain only.
extern UzdMain* UZD;

// Makes u (null: none) the current main object and installs its logLevel
// and log object as logError's level filter and log object, with the
// reconfiguration's rule: while kOptReconfig is set and there is no log
// object, log lines are dropped. Call it again when u's log object is
// replaced.
void setCurrentMain(UzdMain* u);

// Sets or clears kOptReconfig in flags and installs the rule that goes with
// it into logError.
void setReconfiguring(bool on);

// UzdError::flags bit: copy each message to the system log.
inline constexpr uint16_t kLogToSyslog = 0x01;

// The log object: writes each message as a log line to standard error and,
// with kLogToSyslog and the system log open, to the system log.
class UzdError {
public:
    ~UzdError();  // del: closes the system log when open
    UzdError(const UzdError&) = delete;
    UzdError& operator=(const UzdError&) = delete;

    // openlog with the program name (or "unknown"), LOG_PID | LOG_CONS,
    // LOG_USER. Returns 1.
    int openLog();
    void closeLog();
    // Formats the message into errmsg (cut at 487 characters) and writes it.
    void logError(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // The last message; "" before the first.
    const char* getLastError() const { return errmsg; }
    // By the first letter, case ignored: A 1, C 2, E with M next 0, with R
    // next 3, else 6; I 6; N 5; W 4; anything else (null and "" too) 7.
    static int levelNameToPri(const char* name);

    uint16_t flags = 0;
    bool logOpen = false;
    std::string progName;
    char errmsg[kLogObjectTextMax + 1] = {};

private:
    friend std::unique_ptr<UzdError> newUzdError(const char* progName, uint16_t flags);
    UzdError() = default;
};

// A log object for progName (null: "unknown") with the given flags (the
// option byte: bit 0x01 turns on the system log until UseSysLog is
// applied). Points Unzip's log sink at logError, so that the ZIP layer's
// messages become log lines. Null when memory runs out.
std::unique_ptr<UzdError> newUzdError(const char* progName, uint16_t flags);

}  // namespace ruva
