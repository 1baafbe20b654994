// Helpers of the archive writer tests: fixtures made with python3's zipfile
// and Info-ZIP zip at test time, the oracles (unzip -t, zipfile.testzip, the
// local-header walker) and small file utilities.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "bmod/unzipd/zip/zip_update.h"
#include "tests/support/test_support.h"

namespace ruva::test::zw {

using test::capture;
using test::readFile;
using test::writeFile;

inline int sh(const std::string& cmd) {
    return runShell(cmd);
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

inline void setMtime(const std::string& path, time_t t) {
    struct utimbuf u {
        t, t
    };
    utime(path.c_str(), &u);
}

inline ino_t inode(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

inline bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline std::string hex(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h += d[c >> 4];
        h += d[c & 15];
    }
    return h;
}

inline std::string unhex(const std::string& h) {
    std::string s;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return s;
}

// Runs a python3 script; its standard output.
inline std::string python(const std::string& script, int* status = nullptr) {
    char name[] = "/tmp/ruva_zw_py.XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) return "";
    ssize_t w = ::write(fd, script.data(), script.size());
    (void)w;
    ::close(fd);
    std::string out = capture(pythonCommand() + " " + name, status);
    unlink(name);
    return out;
}

// Names of the temporary files ("_Z...") left in dir.
inline std::vector<std::string> temps(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d))
        if (strncmp(e->d_name, "_Z", 2) == 0) names.push_back(e->d_name);
    closedir(d);
    return names;
}

inline std::vector<std::string> messages(const Zip& zip) {
    std::vector<std::string> out;
    for (String* m = zip.getFirstMessage(); m; m = Zip::getNextMessage(m)) out.push_back(Zip::getValue(m));
    return out;
}

inline bool hasMessage(const Zip& zip, const std::string& text) {
    for (const std::string& m : messages(zip))
        if (m == text) return true;
    return false;
}

struct Member {
    Member(std::string n, std::string d, std::string c = "", int m = 8)
        : name(std::move(n)), data(std::move(d)), comment(std::move(c)), method(m) {}
    std::string name;
    std::string data;
    std::string comment;
    int method;  // zipfile.ZIP_DEFLATED (8) or ZIP_STORED (0)
    std::string dateTime = "(2020, 1, 1, 12, 0, 0)";
};

// A python zipfile archive of these members and this archive comment.
inline void makeArchive(const std::string& path, const std::vector<Member>& members,
                        const std::string& comment = "") {
    std::ostringstream py;
    py << "import zipfile\n"
       << "z = zipfile.ZipFile("
       << "bytes.fromhex('" << hex(path) << "').decode('latin-1'), 'w')\n";
    for (const Member& m : members) {
        py << "i = zipfile.ZipInfo(bytes.fromhex('" << hex(m.name) << "').decode('latin-1'), " << m.dateTime
           << ")\n"
           << "i.compress_type = " << m.method << "\n"
           << "i.external_attr = 0o100644 << 16\n"
           << "i.comment = bytes.fromhex('" << hex(m.comment) << "')\n"
           << "z.writestr(i, bytes.fromhex('" << hex(m.data) << "'))\n";
    }
    py << "z.comment = bytes.fromhex('" << hex(comment) << "')\n"
       << "z.close()\n";
    int st = -1;
    std::string out = python(py.str(), &st);
    ASSERT_EQ(st, 0) << out;
}

struct Info {
    std::string name, data, comment;
    int method = -1, flags = -1, createSystem = -1, createVersion = -1, extractVersion = -1;
    unsigned long externalAttr = 0;
    int internalAttr = -1;
    std::string dateTime;  // "Y-M-D h:m:s"
    unsigned long crc = 0;
};

struct Listing {
    bool ok = false;
    std::string walker;  // the local-header walker's verdict: "OK" or its fault
    std::string error;   // python's complaint when it could not read the archive
    std::string comment;
    bool testzipClean = false;
    std::vector<Info> entries;
    const Info* find(const std::string& name) const {
        for (const Info& i : entries)
            if (i.name == name) return &i;
        return nullptr;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const Info& i : entries) n.push_back(i.name);
        return n;
    }
};

// The archive as python's zipfile sees it, every member read, and the
// walker's verdict (newNames: entries written anew, bit 3 must be clear).
inline Listing list(const std::string& path, const std::vector<std::string>& newNames = {}) {
    std::string names = "[";
    for (const std::string& n : newNames) names += "bytes.fromhex('" + hex(n) + "').decode('latin-1'),";
    names += "]";
    std::string py =
        "import zipfile, sys\n"
        "sys.path.insert(0, bytes.fromhex('" +
        hex(std::string(RUVA_ZIP_WALKER).substr(0, std::string(RUVA_ZIP_WALKER).rfind('/'))) +
        "').decode())\n"
        "import zip_walk\n"
        "print('W', zip_walk.check(bytes.fromhex('" +
        hex(path) + "').decode('latin-1'), " + names +
        ") or 'OK')\n"
        "try:\n"
        "  z = zipfile.ZipFile(bytes.fromhex('" +
        hex(path) +
        "').decode('latin-1'))\n"
        "  print('C', z.comment.hex() or '-')\n"
        "  print('T', 'clean' if z.testzip() is None else 'bad')\n"
        "  for i in z.infolist():\n"
        "    d = z.read(i)\n"
        "    print('E', i.filename.encode('cp437' if not i.flag_bits & 0x800 else 'utf-8').hex() or '-',"
        " d.hex() or '-', i.comment.hex() or '-', i.compress_type, i.flag_bits, i.create_system,"
        " i.create_version, i.extract_version, i.external_attr, i.internal_attr,"
        " '%d-%d-%d' % i.date_time[:3], '%d:%d:%d' % i.date_time[3:], i.CRC)\n"
        "except Exception as e:\n"
        "  print('X', repr(e))\n";
    Listing l;
    std::istringstream in(python(py));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string tag;
        ls >> tag;
        auto field = [&ls] {
            std::string f;
            ls >> f;
            return f == "-" ? std::string() : unhex(f);
        };
        if (tag == "X") {
            l.error = line;
            return l;
        }
        if (tag == "W") l.walker = line.substr(2);
        if (tag == "C") l.comment = field();
        if (tag == "T") {
            std::string t;
            ls >> t;
            l.testzipClean = t == "clean";
        }
        if (tag == "E") {
            Info i;
            i.name = field();
            i.data = field();
            i.comment = field();
            std::string date, time;
            ls >> i.method >> i.flags >> i.createSystem >> i.createVersion >> i.extractVersion >>
                i.externalAttr >> i.internalAttr >> date >> time >> i.crc;
            i.dateTime = date + " " + time;
            l.entries.push_back(i);
        }
    }
    l.ok = true;
    return l;
}

// The local-header walker; "OK\n" when the archive passes.
inline std::string walk(const std::string& path, const std::vector<std::string>& newNames = {}) {
    std::string cmd = pythonCommand() + " " + RUVA_ZIP_WALKER + " " + quote(path);
    for (const std::string& n : newNames) cmd += " " + quote(n);
    return capture(cmd + " 2>&1");
}

inline int unzipTest(const std::string& path) {
    return sh("unzip -tqq " + quote(path) + " >/dev/null 2>&1");
}

// All three oracles on an archive with members; the listing.
inline Listing expectValid(const std::string& path, const std::vector<std::string>& newNames = {}) {
    EXPECT_EQ(unzipTest(path), 0) << path;
    Listing l = list(path, newNames);
    EXPECT_TRUE(l.ok) << l.error;
    EXPECT_TRUE(l.testzipClean) << path;
    EXPECT_EQ(l.walker, "OK") << path;
    return l;
}

// Per member: the local record (header through data and descriptor) and the
// central header with its offset field blanked; what "byte-identical" means
// for an entry copied into another place.
inline std::map<std::string, std::pair<std::string, std::string>> records(const std::string& path) {
    std::map<std::string, std::pair<std::string, std::string>> r;
    std::string d = readFile(path);
    size_t e = d.rfind(std::string("PK\x05\x06", 4));
    if (e == std::string::npos || d.size() - e < 22) return r;
    auto u16 = [&d](size_t at) {
        return at + 2 <= d.size() ? (unsigned char)d[at] | (unsigned char)d[at + 1] << 8 : 0;
    };
    auto u32 = [&](size_t at) {
        return static_cast<size_t>(u16(at)) | static_cast<size_t>(u16(at + 2)) << 16;
    };
    size_t n = u16(e + 10), off = u32(e + 16);
    std::vector<std::tuple<size_t, std::string, std::string>> cen;
    size_t p = off;
    for (size_t k = 0; k < n && p + 46 <= d.size(); ++k) {
        size_t nl = u16(p + 28), xl = u16(p + 30), cl = u16(p + 32);
        cen.emplace_back(u32(p + 42), d.substr(p + 46, nl), d.substr(p, 42) + d.substr(p + 46, nl + xl + cl));
        p += 46 + nl + xl + cl;
    }
    std::sort(cen.begin(), cen.end());
    for (size_t k = 0; k < cen.size(); ++k) {
        size_t lo = std::get<0>(cen[k]);
        size_t end = k + 1 < cen.size() ? std::get<0>(cen[k + 1]) : off;
        r[std::get<1>(cen[k])] = {lo < end && end <= d.size() ? d.substr(lo, end - lo) : std::string(),
                                  std::get<2>(cen[k])};
    }
    return r;
}

// Pins TZ for a test and puts the old value back.
class TzGuard {
public:
    explicit TzGuard(const char* tz) {
        const char* old = getenv("TZ");
        if (old) old_ = old;
        had_ = old != nullptr;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TzGuard() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

// Runs in dir and goes back.
class CwdGuard {
public:
    explicit CwdGuard(const std::string& dir) {
        char buf[4096];
        if (getcwd(buf, sizeof buf)) old_ = buf;
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~CwdGuard() {
        if (!old_.empty() && chdir(old_.c_str()) != 0) ADD_FAILURE() << "chdir back";
    }

private:
    std::string old_;
};

// For permission cases under root: the forked child becomes uid/gid 65534.
// False when that is impossible.
inline bool dropToNobody() {
    if (geteuid() != 0) return true;
    if (setgroups(0, nullptr) != 0) return false;
    if (setgid(65534) != 0) return false;
    if (setuid(65534) != 0) return false;
    return geteuid() == 65534;
}

// Makes a tree usable by uid 65534 when the tests run as root.
inline void giveToNobody(const std::string& path) {
    if (geteuid() == 0) sh("chown -R 65534:65534 " + quote(path));
}

// Seeded filler text that deflates well.
inline std::string text(size_t n, unsigned seed = 1) {
    static const char* words[] = {"library", "member ", "archive", "folder ", "index  ",
                                  "<p>    ", "</td>  ", "zip    ", "\n      "};
    std::string s;
    unsigned x = seed;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += words[(x >> 16) % 9];
    }
    s.resize(n);
    return s;
}

inline std::string randomBytes(size_t n, unsigned seed = 7) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (char& c : s) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace ruva::test::zw
