#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmod/unzipd/daemon/uzd_main.h"
#include "common/string_format.h"

namespace ruva {
namespace {

constexpr long long kMiB = 1048576;

// Usable when it exists, or when it can be created. Creation only ever
// makes a new file, so an existing log is never cut.
bool usableLogName(const char* name) {
    struct stat st;
    if (::stat(name, &st) == 0) return true;
    int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

int firstInt(const Config* config, const char* name) {
    const ConfigEntry* e = config != nullptr ? config->findEntry(name) : nullptr;
    const ConfigValue* v = e != nullptr ? e->first() : nullptr;
    return v != nullptr ? v->v : 0;
}

}  // namespace

int UzdMain::splitPath(const char* path, std::string* folder, std::string* base, std::string* ext) {
    std::string p = path != nullptr ? path : "";
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) slash = p.rfind('\\');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    // The dot is looked for in the base name only: "log.d/ruvadaemon" has
    // no extension.
    size_t dot = p.rfind('.');
    if (dot == std::string::npos || dot < start) dot = p.size();
    *folder = p.substr(0, start);
    *base = p.substr(start, dot - start);
    *ext = p.substr(dot);
    return base->size() <= kLogBaseMax && ext->size() <= kLogExtMax;
}

int UzdMain::rotateLog(const char* name) {
    long long size = firstInt(config.get(), "MaxLogSize");
    int backups = firstInt(config.get(), "MaxLogBackups");
    if (size < 1 || name == nullptr) return 1;
    struct stat st;
    if (::stat(name, &st) != 0 || st.st_size < size * kMiB) return 1;
    std::string folder, base, ext;
    if (!splitPath(name, &folder, &base, &ext)) {
        // A cut name could land on another file.
        logError(kLogWarning, "Log file name too long for rotation: %s", name);
        return 0;
    }
    int ok = 1;
    for (int i = backups < 1 ? 1 : backups; i >= 1; --i) {
        std::string from = i == 1 ? format("%s%s%s", folder.c_str(), base.c_str(), ext.c_str())
                                  : format("%s%s.%d%s", folder.c_str(), base.c_str(), i - 1, ext.c_str());
        std::string to = format("%s%s.%d%s", folder.c_str(), base.c_str(), i, ext.c_str());
        if (::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT) ok = 0;
    }
    return ok;
}

// Sets logFileName to the configured log when usable, else to the default
// one in the home directory; 0 when there is none.
int UzdMain::createLogFile(const char* configured) {
    if (configured != nullptr && configured[0] != '\0') {
        if (usableLogName(configured)) {
            logFileName = configured;
            return 1;
        }
        logError(kLogErr,
                 "Log file path or location specified in the configuration file \"%s\" is not present or "
                 "is not accessible",
                 configured);
    }
    std::string home = homeDir();
    if (home.empty()) return 0;
    std::string folder = home + "/tmp";
    std::string name = folder + "/ruvadaemon.log";
    bool usable = ::access(name.c_str(), F_OK) == 0 ? ::access(name.c_str(), R_OK | W_OK) == 0
                                                     : ::access(folder.c_str(), W_OK | X_OK) == 0;
    if (!usable) return 0;
    logError(kLogInfo, "Default log file path is taken as \"%s\"", name.c_str());
    logFileName = name;
    if (config) {
        if (ConfigEntry* e = config->findEntry("LogFile")) {
            ConfigValue v;
            v.s = name;
            e->val.assign(1, v);
        }
    }
    return 1;
}

int UzdMain::setLogPath(const char* configured) {
    if (!createLogFile(configured)) return 0;
    if (logFile >= 0) return 1;
    rotateLog(logFileName.c_str());
    // An index run starts its log afresh.
    int trunc = (flags & kOptIndexRun) != 0 ? O_TRUNC : 0;
    int fd = ::open(logFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | trunc, 0666);
    if (fd < 0) {
        logError(kLogWarning, "Could not open logfile for writing, %s", std::strerror(errno));
        return 0;
    }
    logFile = fd;
    // Lines already buffered belong to the old destination.
    std::fflush(stdout);
    std::fflush(stderr);
    if (::dup2(fd, STDOUT_FILENO) < 0) logError(kLogWarning, "Could not redirect stdout, %s", std::strerror(errno));
    if (::dup2(fd, STDERR_FILENO) < 0) logError(kLogWarning, "Could not redirect stderr, %s", std::strerror(errno));
    return 1;
}

}  // namespace ruva
