#include "bmod/unzipd/daemon/uzd_error.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/zip/unzip.h"
#include "common/string_format.h"
#include "common/text.h"

namespace ruva {

uint16_t flags = 0;
UzdMain* UZD = nullptr;

namespace {

LogLineSink g_lineSink = nullptr;
void* g_lineSinkContext = nullptr;

std::string localTimeText() {
    time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    return format("%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
}

void emitLine(int level, const char* text) {
    std::string line = format("[%d] %s %s: %s\n", static_cast<int>(getpid()), localTimeText().c_str(),
                              logLevelName(level), text);
    if (g_lineSink != nullptr) {
        g_lineSink(g_lineSinkContext, line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// The ZIP layer's messages: the text is data, never a format.
void unzipToLog(void*, int level, const char* message) {
    logError(level, "%s", message);
}

}  // namespace

const char* logLevelName(int level) {
    static const char* const kNames[] = {"Emrg", "Alrt", "Crit", "Err.", "Warn", "Note", "Info", "Dbg."};
    if (level < 0 || level > 7) return "?";
    return kNames[level];
}

void setLogLineSink(LogLineSink sink, void* context) {
    g_lineSink = sink;
    g_lineSinkContext = context;
}

void logError(int level, const char* fmt, ...) {
    UzdMain* main = UZD;
    if (main != nullptr && level > main->logLevel) return;
    UzdError* log = main != nullptr ? main->error.get() : nullptr;
    // Between two main objects of a reconfiguration standard error may
    // not be the log file any more; such lines are dropped.
    if (log == nullptr && (flags & kOptReconfig) != 0) return;
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    if (text.size() > kLogTextMax) text.resize(kLogTextMax);
    if (log != nullptr)
        log->logError(level, "%s", text.c_str());
    else
        emitLine(level, text.c_str());
}

UzdError::~UzdError() {
    closeLog();
}

int UzdError::openLog() {
    // openlog keeps the pointer: the name lives as long as this object.
    openlog(progName.empty() ? "unknown" : progName.c_str(), LOG_PID | LOG_CONS, LOG_USER);
    logOpen = true;
    return 1;
}

void UzdError::closeLog() {
    if (!logOpen) return;
    closelog();
    logOpen = false;
}

void UzdError::logError(int level, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(errmsg, sizeof errmsg, fmt, ap);
    va_end(ap);
    if ((flags & kLogToSyslog) != 0 && logOpen) syslog(level, "%s\n", errmsg);
    emitLine(level, errmsg);
}

int UzdError::levelNameToPri(const char* name) {
    if (name == nullptr) return kLogDebug;
    switch (asciiUpper(static_cast<unsigned char>(name[0]))) {
        case 'A':
            return kLogAlert;
        case 'C':
            return kLogCrit;
        case 'E':
            switch (asciiUpper(static_cast<unsigned char>(name[1]))) {
                case 'M':
                    return kLogEmerg;
                case 'R':
                    return kLogErr;
                default:
                    return kLogInfo;
            }
        case 'I':
            return kLogInfo;
        case 'N':
            return kLogNotice;
        case 'W':
            return kLogWarning;
        default:
            return kLogDebug;
    }
}

std::unique_ptr<UzdError> newUzdError(const char* progName, uint16_t flags) {
    std::unique_ptr<UzdError> log(new (std::nothrow) UzdError);
    if (!log) {
        logError(kLogErr, "No memory for struct UzdError");
        return nullptr;
    }
    log->progName = progName != nullptr ? progName : "";
    log->flags = flags;
    setUnzipLogSink(unzipToLog, nullptr);
    return log;
}

}  // namespace ruva
