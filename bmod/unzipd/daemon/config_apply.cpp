#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/daemon/zupd_mutex.h"
#include "bmod/unzipd/zip/folder_index.h"
#include "bmod/unzipd/zip/zip_pool.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/text.h"

namespace ruva {
namespace {

constexpr int kChangeLimit = 50;
constexpr int kMaxPort = 65535;
// The catalogue bits a configuration row sets; the option word may set the
// first three too.
constexpr uint16_t kFromOptions = kZipFoldNames | kZipVerbose | kCatalogueDebug;
constexpr uint16_t kConfigured = kFromOptions | kCatalogueWatchStructure;

const char* const kIpMaskQuotes =
    "Value for \"IPMask\" keyword should be enclosed in double quotes.\n Example: IPMask \"Allow "
    "172.16.59.123\"";

// Digits only, at most max: what a user or group number may be. atoi would
// have read a misspelt name as 0, root.
bool strictDecimal(const std::string& text, unsigned long max, unsigned long* out) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long n = 0;
    for (char c : text) {
        if (!isAsciiDigit(static_cast<unsigned char>(c))) return false;
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (n > max) return false;
    *out = n;
    return true;
}

// One trailing slash or backslash dropped, cut at the last double quote.
std::string directoryValue(std::string v) {
    if (!v.empty() && (v.back() == '/' || v.back() == '\\')) v.pop_back();
    size_t quote = v.rfind('"');
    if (quote != std::string::npos) v.resize(quote);
    return v;
}

bool isMailId(const std::string& v) {
    for (char c : v)
        if (!isAsciiAlnum(static_cast<unsigned char>(c)) && c != '@' && c != '.' && c != '_') return false;
    return true;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void setBit(uint16_t* word, uint16_t bit, bool on) {
    *word = on ? (*word | bit) : (*word & ~bit);
}

// First heaps of more than half the machine are a typing error: making them
// would grow the daemon by gigabytes with no word and it would never
// listen. A machine whose memory is not known refuses nothing.
bool poolsFitMemory(const unsigned pools[3]) {
    long pages = ::sysconf(_SC_PHYS_PAGES);
    long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return true;
    unsigned long long half = static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(pageSize) / 2;
    unsigned long long total = static_cast<unsigned long long>(pools[0]) * sizeof(ZipStructure) +
                               static_cast<unsigned long long>(pools[1]) * sizeof(CentralHeader) + pools[2];
    return total <= half;
}

}  // namespace

// What one pass over the entries gathers.
struct UzdMain::ApplyState {
    uint16_t options = 0;
    uint16_t catalogueFlags = 0;
    unsigned pools[3] = {0, 0, 0};  // MaxDatabases, MaxCentralHeaders, NamePoolSize
};

std::string UzdMain::homeDir() const {
    std::string home = userHome;
    if (home.empty()) {
        const char* env = std::getenv("HOME");
        if (env != nullptr) home = env;
    }
    if (!home.empty() && home.back() == '/') home.pop_back();
    return home;
}

int UzdMain::changeUser() {
    const ConfigEntry* u = config->findEntry("User");
    const ConfigEntry* g = config->findEntry("Group");
    userName = u != nullptr && u->first() != nullptr ? u->first()->s : "";
    groupName = g != nullptr && g->first() != nullptr ? g->first()->s : "";
    if (userName.empty() && groupName.empty()) return 1;

    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    const struct passwd* pw = nullptr;
    std::string entryName;
    if (!userName.empty()) {
        unsigned long n = 0;
        pw = ::getpwnam(userName.c_str());
        bool numeric = pw == nullptr && strictDecimal(userName, INT_MAX, &n);
        if (numeric) pw = ::getpwuid(static_cast<uid_t>(n));
        if (pw == nullptr && !numeric) {
            logError(kLogErr, "Unknown user '%s'", userName.c_str());
            return 0;
        }
        uid = pw != nullptr ? pw->pw_uid : static_cast<uid_t>(n);
        if (pw != nullptr) {
            entryName = pw->pw_name;
            userHome = pw->pw_dir;
            gid = pw->pw_gid;
        }
    }
    if (!groupName.empty()) {
        unsigned long n = 0;
        const struct group* gr = ::getgrnam(groupName.c_str());
        if (gr != nullptr) {
            gid = gr->gr_gid;
        } else if (strictDecimal(groupName, INT_MAX, &n)) {
            gid = static_cast<gid_t>(n);
        } else {
            logError(kLogErr, "Unknown group '%s'", groupName.c_str());
            return 0;
        }
    } else if (pw == nullptr) {
        logError(kLogErr, "Group required for user %s", userName.c_str());
        return 0;
    }

    // Every reconfiguration after the switch lands here.
    if (::getuid() == uid && ::geteuid() == uid && ::getgid() == gid && ::getegid() == gid) return 1;
    if (::geteuid() == 0) {
        int r = pw != nullptr ? ::initgroups(entryName.c_str(), gid) : ::setgroups(1, &gid);
        if (r != 0) {
            logError(kLogErr, "setgroups failed, %s", std::strerror(errno));
            return 0;
        }
    }
    errno = 0;
    if (::setgid(gid) != 0 || ::getgid() != gid || ::getegid() != gid) {
        if (errno == 0) errno = EPERM;
        logError(kLogErr, "setgid(%d) failed, %s", static_cast<int>(gid), std::strerror(errno));
        return 0;
    }
    errno = 0;
    if (::setuid(uid) != 0 || ::getuid() != uid || ::geteuid() != uid) {
        if (errno == 0) errno = EPERM;
        logError(kLogErr, "setuid(%d) failed, %s", static_cast<int>(uid), std::strerror(errno));
        return 0;
    }
    return 1;
}

int UzdMain::setDefaultLibPath() {
    std::string home = homeDir();
    if (home.empty()) return 0;
    std::string path = home + "/libraries";
    if (::access(path.c_str(), R_OK) != 0) return 0;
    if (!zipList->filesysScanner->addNonRecursiveDir(path.c_str())) return 0;
    logError(kLogInfo, "LibraryPath is taken as default location \"%s\"", path.c_str());
    return 1;
}

int UzdMain::applyIpMasks(const ConfigEntry& entry) {
    for (const ConfigValue& v : entry.val) {
        if (v.s == "error") {
            logError(kLogErr, "%s", kIpMaskQuotes);
            return 0;
        }
        unsigned char kind = asciiUpper(static_cast<unsigned char>(v.s.empty() ? '\0' : v.s[0]));
        if (kind != 'A' && kind != 'D') {
            logError(kLogWarning, "Unknown IPmask keyword, ALLOW/DENY expected: %s", v.s.c_str());
            continue;
        }
        ServerConfig::IpMask mask;
        mask.allow = kind == 'A';
        size_t blank = v.s.find(' ');
        if (blank != std::string::npos) {
            size_t start = v.s.find_first_not_of(' ', blank);
            if (start != std::string::npos) mask.mask = v.s.substr(start);
        }
        serverConfig.ipMasks.push_back(std::move(mask));
    }
    return 1;
}

// AnnotationDb (a writable directory) or LibraryPath (a directory, or the
// structure file). 1 when the value was taken.
int UzdMain::addDirectoryValue(const ConfigEntry& entry, bool libraryPath) {
    const ConfigValue* raw = entry.first();
    if (raw == nullptr) return 0;
    std::string v = directoryValue(raw->s);
    FilesysScanner& scanner = *zipList->filesysScanner;
    if (!libraryPath) {
        if (isDirectory(v) && scanner.addWritableNonRecursiveDir(v.c_str())) return 1;
        logError(kLogErr, "Invalid value in AnnotationDb keyword: %s", v.c_str());
        return 0;
    }
    struct stat st;
    if (::stat(v.c_str(), &st) != 0) {
        logError(kLogErr, "Filesystem object specified by LibraryPath not found: %s, %s", v.c_str(),
                 std::strerror(errno));
        return 0;
    }
    if (S_ISDIR(st.st_mode)) return scanner.addNonRecursiveDir(v.c_str());
    if (zipList->setMlConfFile(v.c_str())) return 1;
    logError(kLogErr, "Invalid value in LibraryPath keyword: %s", v.c_str());
    return 0;
}

void UzdMain::applyLibStatusPath(const ConfigEntry& entry) {
    libStatusFromPath.clear();
    libStatusToPath.clear();
    const ConfigValue* v = entry.first();
    if (v == nullptr || v->s.empty()) return;
    std::string home = homeDir();
    if (home.empty()) {
        logError(kLogWarning, "LibStatusPath ignored, no home directory");
        return;
    }
    libStatusFromPath = v->s;
    libStatusToPath = home + "/tmp/libraryStatus.txt";
}

// The rows that reach the catalogue and its scanner; -1 for any other key.
int UzdMain::applyCatalogueEntry(const ConfigEntry& entry, ApplyState* st) {
    const ConfigValue* first = entry.first();
    const int num = first != nullptr ? first->v : 0;
    const char* name = entry.name.c_str();
    auto is = [name](const char* key) { return strcasecmp(name, key) == 0; };
    FilesysScanner& scanner = *zipList->filesysScanner;
    auto addEach = [&entry, &scanner](int (FilesysScanner::*add)(const char*)) {
        for (const ConfigValue& v : entry.val) (scanner.*add)(v.s.c_str());
    };
    auto catalogueBit = [st, num](uint16_t bit) {
        setBit(&st->catalogueFlags, bit, num != 0 || (st->options & kFromOptions & bit) != 0);
    };
    auto poolSize = [num](unsigned fallback) { return num > 0 ? static_cast<unsigned>(num) : fallback; };

    if (is("DetectStructChange")) {
        catalogueBit(kCatalogueWatchStructure);
    } else if (is("FoldNames")) {
        catalogueBit(kZipFoldNames);
    } else if (is("VerboseMode")) {
        catalogueBit(kZipVerbose);
    } else if (is("DebugMode")) {
        catalogueBit(kCatalogueDebug);
    } else if (is("RecursiveDir")) {
        addEach(&FilesysScanner::addRecursiveDir);
    } else if (is("NonRecursiveDir")) {
        addEach(&FilesysScanner::addNonRecursiveDir);
    } else if (is("WritableNonRecursiveDir")) {
        addEach(&FilesysScanner::addWritableNonRecursiveDir);
    } else if (is("AnnotationDb")) {
        addDirectoryValue(entry, false);
    } else if (is("LibraryPath")) {
        if (!addDirectoryValue(entry, true)) setDefaultLibPath();
    } else if (is("IncludePattern")) {
        addEach(&FilesysScanner::addIncludePattern);
    } else if (is("ExcludePattern")) {
        addEach(&FilesysScanner::addExcludePattern);
    } else if (is("SuperUserName")) {
        for (const ConfigValue& v : entry.val) zipList->addSuperuser(v.s.c_str());
    } else if (is("MaxDatabases")) {
        st->pools[0] = poolSize(kDefaultMaxZipStructures);
    } else if (is("MaxCentralHeaders")) {
        st->pools[1] = poolSize(kDefaultMaxCentralHeaders);
    } else if (is("NamePoolSize")) {
        st->pools[2] = poolSize(kDefaultNamePoolSize);
    } else {
        return -1;
    }
    return 1;
}

int UzdMain::applyEntry(const ConfigEntry& entry, ApplyState* st) {
    int done = applyCatalogueEntry(entry, st);
    if (done >= 0) return done;
    const ConfigValue* first = entry.first();
    const int num = first != nullptr ? first->v : 0;
    const std::string text = first != nullptr ? first->s : std::string();
    const char* name = entry.name.c_str();
    auto is = [name](const char* key) { return strcasecmp(name, key) == 0; };

    if (is("WellKnownPort")) {
        int port = num == 0 ? kDefaultWellKnownPort : num;
        if (port > kMaxPort) {
            logError(kLogErr, "Invalid value in WellKnownPort keyword: %d", port);
            return 0;
        }
        serverConfig.port = port;
        setZipUpdateMutexKey(zupdMutexKey(config.get()));
    } else if (is("AnswerBroadcasts")) {
        setBit(&serverConfig.flags, kServerNoBroadcasts, num == 0);
    } else if (is("IPMask")) {
        return applyIpMasks(entry);
    } else if (is("CentralServer")) {
        centralServer = text;
    } else if (is("ServerComment")) {
        for (const ConfigValue& v : entry.val) serverConfig.serverComment += v.s;
    } else if (is("CacheFile")) {
        cacheFileName = text;
    } else if (is("LogLevel")) {
        logLevel = first != nullptr ? UzdError::levelNameToPri(text.c_str()) : kLogInfo;
    } else if (is("LogFile")) {
        setLogPath(first != nullptr ? text.c_str() : nullptr);
    } else if (is("UseSysLog")) {
        if (error) setBit(&error->flags, kLogToSyslog, num != 0);
    } else if (is("EnforceIPMask")) {
        enforceIPMask = num != 0;
    } else if (is("ParentWaitTime")) {
        serverConfig.parentWaitTime = num == 0 ? kDefaultParentWaitTime : num;
    } else if (is("LibStatusPath")) {
        applyLibStatusPath(entry);
    } else if (is("AdminMailID")) {
        AdminMailID.clear();
        if (isMailId(text))
            AdminMailID = text;
        else
            logError(kLogErr, "invalid AdminMailID");
    } else if (is("MaxLogSize")) {
        maxLogSize = num;
    } else if (is("MaxLogBackups")) {
        maxLogBackups = num;
    } else if (is("MaxSessions")) {
        if (num <= 0) logError(kLogWarning, "Invalid value in MaxSessions keyword: %d", num);
        serverConfig.maxSessions = num > 0 ? num : kDefaultMaxSessions;
    }
    // User and Group were applied by changeUser before every row.
    return 1;
}

int UzdMain::applyConfig(uint16_t options) {
    if (!zipList || !zipList->filesysScanner || !config) {
        logError(kLogErr, "ApplyConfig, object hierarchy not initialized");
        return 0;
    }
    FilesysScanner& scanner = *zipList->filesysScanner;
    scanner.clear();
    // The file was read with the starting rights; everything after, the
    // log file included, is made as the configured user.
    if (!changeUser()) return 0;
    scanner.addIncludePattern("*.khx");
    scanner.addIncludePattern("*.ers");
    ruvaScanCount = kChangeLimit;
    serverConfig = ServerConfig();

    ApplyState st;
    st.options = options;
    st.catalogueFlags = static_cast<uint16_t>((zipList->flags & ~kConfigured) | (options & kFromOptions));
    st.pools[0] = kDefaultMaxZipStructures;
    st.pools[1] = kDefaultMaxCentralHeaders;
    st.pools[2] = kDefaultNamePoolSize;
    for (const ConfigEntry& entry : config->entries)
        if (!applyEntry(entry, &st)) return 0;

    zipList->flags = st.catalogueFlags;
    if (!poolsFitMemory(st.pools) || !zipList->allocZipPool(st.pools[0], st.pools[1], st.pools[2])) {
        logError(kLogErr, "Pool allocation failure, %lu structures, %lu headers, %lu namepoolsize",
                 static_cast<unsigned long>(st.pools[0]), static_cast<unsigned long>(st.pools[1]),
                 static_cast<unsigned long>(st.pools[2]));
        return 0;
    }
    return 1;
}

}  // namespace ruva
