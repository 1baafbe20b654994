#include "bmod/unzipd/daemon/uzd_error.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <new>

#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/zip/unzip.h"
#include "common/text.h"

namespace ruva {

uint16_t flags = 0;
UzdMain* UZD = nullptr;

namespace {

void writeToLogObject(void* object, int level, const char* text) {
    static_cast<UzdError*>(object)->logError(level, "%s", text);
}

// The ZIP layer's messages: the text is data, never a format.
void unzipToLog(void*, int level, const char* message) {
    logError(level, "%s", message);
}

}  // namespace

void setCurrentMain(UzdMain* u) {
    UZD = u;
    UzdError* log = u != nullptr ? u->error.get() : nullptr;
    setLogTarget(u != nullptr ? &u->logLevel : nullptr, log, log != nullptr ? writeToLogObject : nullptr,
                 (flags & kOptReconfig) != 0);
}

void setReconfiguring(bool on) {
    if (on)
        flags |= kOptReconfig;
    else
        flags &= static_cast<uint16_t>(~kOptReconfig);
    setCurrentMain(UZD);
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
    writeLogLine(level, errmsg);
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
