// The daemon's one log call, below the catalogue, the daemon core, the
// command server and the search. The level filter and the log object it
// writes through are installed from above (setLogTarget), so this unit
// knows nothing of the main object.
#pragma once

#include <cstddef>
#include <string>

#include "common/log_levels.h"

namespace ruva {

// Longest message text a log line carries: through logError alone, and
// through a log object (whose message buffer is 488 bytes).
inline constexpr size_t kLogTextMax = 503;
inline constexpr size_t kLogObjectTextMax = 487;

// Hands a message text, already cut at kLogTextMax, to a log object.
using LogObjectWrite = void (*)(void* object, int level, const char* text);

// Installs what logError filters and writes with: the current main object's
// level and log object. levelLimit is read at every call, so a level set
// later by the configuration holds at once; null while there is no main
// object, when every level passes. write null: no log object, and the line
// goes to standard error, unless dropWithoutObject (a reconfiguration is
// under way and standard error may not be the log file any more), when it
// is dropped. Everything given must stay valid until the next call.
void setLogTarget(const int* levelLimit, void* object, LogObjectWrite write, bool dropWithoutObject);

// The daemon's one log call. A level above *levelLimit is dropped. The
// message is formatted (cut at 503 characters) and handed to the log
// object; without one the line "[pid] yyyy-mm-dd hh:mm:ss Name: text\n"
// goes to standard error (which start-up redirects into the log file),
// unless dropWithoutObject. Uses localtime and stdio: never call it from a
// signal handler.
void logError(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "Emrg" .. "Dbg." for 0..7, "?" for anything else.
const char* logLevelName(int level);

// Writes "[pid] yyyy-mm-dd hh:mm:ss Name: text\n" to the line sink, else to
// standard error, flushed. The log object's own output.
void writeLogLine(int level, const char* text);

// Tests: every finished line goes to the sink instead of standard error;
// a null sink restores standard error.
using LogLineSink = void (*)(void* context, const std::string& line);
void setLogLineSink(LogLineSink sink, void* context);

}  // namespace ruva
