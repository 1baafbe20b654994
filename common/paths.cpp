#include "common/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"

namespace ruva {

namespace {

constexpr size_t kTempNameMax = 4096;    // buffer of the name, NUL included
constexpr size_t kMaxValueLength = 224;  // longer values count as unknown
constexpr size_t kPassCarry = 1024;      // characters carried into each pass
constexpr int kMaxPasses = 16;           // a value naming itself must end
constexpr size_t kDirPathMax = 255;      // initDirPath's copy
constexpr size_t kSearchPathMax = 4095;  // characters of the search list used

bool exists(const std::string& name) {
    struct stat st;
    return ::lstat(name.c_str(), &st) == 0;
}

bool isDirectory(const char* name) {
    struct stat st;
    return ::stat(name, &st) == 0 && S_ISDIR(st.st_mode);
}

bool readable(const std::string& name) {
    return ::access(name.c_str(), R_OK) == 0;
}

// Home directory from the password database: of user, or of the real user
// when user is empty. Null when there is none.
const char* homeOf(const std::string& user) {
    struct passwd* pw = user.empty() ? ::getpwuid(::getuid()) : ::getpwnam(user.c_str());
    return pw && pw->pw_dir ? pw->pw_dir : nullptr;
}

// $NAME as written, then in upper case; values too long to insert count as
// unknown.
const char* lookupVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) {
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(asciiUpper(static_cast<unsigned char>(c)));
        value = std::getenv(upper.c_str());
    }
    if (value && std::strlen(value) >= kMaxValueLength) return nullptr;
    return value;
}

bool endsVariableName(char c) {
    return c == '\0' || c == '/' || c == '\\' || isAsciiSpace(c);
}

}  // namespace

std::string ltempnam(const char* dir, const char* prefix) {
    std::string base;
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && *tmpdir)
        base = tmpdir;
    else if (dir && *dir && isDirectory(dir))
        base = dir;
    if (!base.empty() && base.back() != '/') base += '/';
    base += prefix ? prefix : "tmp.";
    base += std::to_string(static_cast<unsigned long>(::getpid()));

    std::string name = base + "aaaaa.tmp";
    if (name.size() >= kTempNameMax) return "";
    char* letters = name.data() + base.size();
    while (exists(name)) {
        // Count up in base 26 from the last letter.
        int i = 4;
        while (i >= 0 && letters[i] == 'z') letters[i--] = 'a';
        if (i < 0) return "";
        letters[i]++;
    }
    return name;
}

int initDirPath(char* buf, const char* dir) {
    if (!dir || !*dir) {
        buf[0] = '\0';
        return 0;
    }
    size_t len = strnlen(dir, kDirPathMax);
    std::memcpy(buf, dir, len);
    if (buf[len - 1] != '/' && dir[0] != '-') buf[len++] = '/';
    buf[len] = '\0';
    return static_cast<int>(len);
}

int getHomeDir(std::string& buf) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        buf.clear();
        return 0;
    }
    buf = home;
    if (buf.back() != '/') buf += '/';
    return 1;
}

int expandTilde(std::string& dst, const char* src) {
    dst.clear();
    if (!src) return 0;
    int expanded = 0;
    const char* p = src;

    if (*p == '~') {
        const char* end = p + 1;
        while (*end && *end != '/') end++;
        const char* home = homeOf(std::string(p + 1, end));
        if (home) {
            dst = home;
        } else if (*end == '/') {
            end++;  // an unknown user goes together with its '/'
        }
        p = end;
        expanded = 1;
    }

    while (*p) {
        if (*p == '\\' && (p[1] == '$' || p[1] == '\\')) {
            // An escape is not an expansion: the next pass would undo it.
            dst += p[1];
            p += 2;
            continue;
        }
        if (*p != '$') {
            dst += *p++;
            continue;
        }
        std::string name;
        const char* after;
        if (p[1] == '{') {
            const char* close = std::strchr(p + 2, '}');
            if (!close) {  // "${NAME" without '}' stays as written
                dst += *p++;
                continue;
            }
            name.assign(p + 2, close);
            after = close + 1;
        } else {
            after = p + 1;
            while (!endsVariableName(*after)) after++;
            name.assign(p + 1, after);
        }
        if (const char* value = lookupVariable(name)) {
            dst += value;
        } else if (*after == '/') {
            // Keeps "$UNSET/x" relative: "./x", never "/x".
            dst += '.';
        }
        expanded = 1;
        p = after;
    }
    return expanded;
}

void completeExpandTilde(std::string& dst, const char* src) {
    dst.clear();
    if (!src) return;
    std::string carried(src, strnlen(src, kPassCarry));
    for (int pass = 0; pass < kMaxPasses; pass++) {
        int expanded = expandTilde(dst, carried.c_str());
        if (dst.size() > kPassCarry) dst.resize(kPassCarry);
        if (!expanded) return;
        carried = dst;
    }
}

int createPath(const char* path, mode_t mode) {
    if (!path) return 0;
    if (mode == 0) mode = 0700;
    std::string full;
    completeExpandTilde(full, path);
    for (size_t slash = full.find('/', 1); slash != std::string::npos; slash = full.find('/', slash + 1)) {
        std::string dir = full.substr(0, slash);
        if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return 0;
    }
    return 1;
}

int findExeInPath(const char* program, const char* variable, std::string* out) {
    if (!program || !*program) return 0;
    const char* list = std::getenv(variable ? variable : "PATH");
    if (!list) return 0;
    std::string dirs(list, strnlen(list, kSearchPathMax));
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        if (colon > start) {
            std::string candidate = dirs.substr(start, colon - start) + "/" + program;
            struct stat st;
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0) {
                if (out) *out = candidate;
                return 1;
            }
        }
        start = colon + 1;
    }
    return 0;
}

std::string libFileName(const char* name) {
    std::string suffix = name ? std::string("/") + name : std::string();

    const char* ruvaHome = std::getenv("RUVAHOME");
    if (ruvaHome && exists(ruvaHome)) return ruvaHome + suffix;

    if (const char* home = std::getenv("HOME")) {
        std::string path = std::string(home) + "/.wubtools/ruvatool" + suffix;
        if (!name || readable(path)) return path;
    }

    std::string rel = "/lib/ruvatool" + suffix;
    const char* prerel = std::getenv("PRERELHOME");
    if (prerel && *prerel && readable(prerel + rel)) return prerel + rel;

    const char* wub = std::getenv("WUBHOME");
    if (wub && readable(wub + rel)) return wub + rel;

    std::string local = "/usr/local/etc" + suffix;
    if (readable(local)) return local;

    return name ? name : "";
}

FILE* openLibFile(const char* name, const char* mode) {
    return std::fopen(libFileName(name).c_str(), mode);
}

}  // namespace ruva
