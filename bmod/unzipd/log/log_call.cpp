#include "bmod/unzipd/log/log_call.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "common/string_format.h"

namespace ruva {

namespace {

struct LogTarget {
    const int* levelLimit = nullptr;
    void* object = nullptr;
    LogObjectWrite write = nullptr;
    bool dropWithoutObject = false;
};

LogTarget g_target;
LogLineSink g_lineSink = nullptr;
void* g_lineSinkContext = nullptr;

std::string localTimeText() {
    time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    return format("%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace

void setLogTarget(const int* levelLimit, void* object, LogObjectWrite write, bool dropWithoutObject) {
    g_target = LogTarget{levelLimit, write != nullptr ? object : nullptr, write, dropWithoutObject};
}

const char* logLevelName(int level) {
    static const char* const kNames[] = {"Emrg", "Alrt", "Crit", "Err.", "Warn", "Note", "Info", "Dbg."};
    if (level < 0 || level > 7) return "?";
    return kNames[level];
}

void writeLogLine(int level, const char* text) {
    std::string line = format("[%d] %s %s: %s\n", static_cast<int>(getpid()), localTimeText().c_str(),
                              logLevelName(level), text);
    if (g_lineSink != nullptr) {
        g_lineSink(g_lineSinkContext, line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void setLogLineSink(LogLineSink sink, void* context) {
    g_lineSink = sink;
    g_lineSinkContext = context;
}

void logError(int level, const char* fmt, ...) {
    const LogTarget target = g_target;
    if (target.levelLimit != nullptr && level > *target.levelLimit) return;
    if (target.write == nullptr && target.dropWithoutObject) return;
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    if (text.size() > kLogTextMax) text.resize(kLogTextMax);
    if (target.write != nullptr)
        target.write(target.object, level, text.c_str());
    else
        writeLogLine(level, text.c_str());
}

}  // namespace ruva
