#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/log_levels.h"

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
// and during a reconfiguration). logError takes its level filter and log
// object from it.
extern UzdMain* UZD;

// The daemon's one log call. With a main object, a level above its logLevel
// is dropped. The message is formatted (cut at 503 characters) and handed
// to the main object's log object; without one the line
// "[pid] yyyy-mm-dd hh:mm:ss Name: text\n" goes to standard error (which
// start-up redirects into the log file), unless a reconfiguration is under
// way (kOptReconfig), when it is dropped. Uses localtime and stdio: never
// call it from a signal handler.
void logError(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "Emrg" .. "Dbg." for 0..7, "?" for anything else.
const char* logLevelName(int level);

// Longest message text a log line carries: through logError alone, and
// through a log object (whose message buffer is 488 bytes).
inline constexpr size_t kLogTextMax = 503;
inline constexpr size_t kLogObjectTextMax = 487;

// Tests: every finished line goes to the sink instead of standard error;
// a null sink restores standard error.
using LogLineSink = void (*)(void* context, const std::string& line);
void setLogLineSink(LogLineSink sink, void* context);

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
