#pragma once

#include <string>

#include "common/log_levels.h"

namespace ruva {

// The daemon's one log call. Formats the message (cut at 503 characters) and
// writes the line "[pid] yyyy-mm-dd hh:mm:ss Name: text\n" to standard error,
// which start-up redirects into the log file.
void logError(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "Emrg" .. "Dbg." for 0..7, "?" for anything else.
const char* logLevelName(int level);

// Longest message text a log line carries.
inline constexpr size_t kLogTextMax = 503;

// Tests: every finished line goes to the sink instead of standard error;
// a null sink restores standard error.
using LogLineSink = void (*)(void* context, const std::string& line);
void setLogLineSink(LogLineSink sink, void* context);

}  // namespace ruva
