// Helpers for the pool tests: /proc/self/maps snapshots and the checks made
// on them, open descriptors, pipes between a test and its forked child.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/heap_mapping.h"

namespace ruva::test {

struct MapsLine {
    uintptr_t start = 0;
    uintptr_t end = 0;
    std::string path;  // empty for anonymous memory
};

// Reads /proc/self/maps into buf (sized by the caller beforehand) without
// allocating, so the snapshot shows the mappings as they were right after
// the call before it. Returns the bytes read.
inline size_t snapshotMaps(std::vector<char>& buf) {
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    size_t used = 0;
    while (used < buf.size()) {
        ssize_t n = read(fd, buf.data() + used, buf.size() - used);
        if (n <= 0) break;
        used += size_t(n);
    }
    close(fd);
    return used;
}

inline std::vector<MapsLine> parseMaps(std::string_view text) {
    std::vector<MapsLine> lines;
    while (!text.empty()) {
        size_t eol = text.find('\n');
        std::string line(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        MapsLine m;
        char* rest = nullptr;
        m.start = std::strtoull(line.c_str(), &rest, 16);
        m.end = std::strtoull(rest + 1, &rest, 16);
        // Fields: range, perms, offset, device, inode, then the path.
        size_t pos = 0;
        for (int field = 0; field < 5 && pos != std::string::npos; ++field) {
            pos = line.find(' ', pos);
            if (pos != std::string::npos) pos = line.find_first_not_of(' ', pos);
        }
        if (pos != std::string::npos) m.path = line.substr(pos);
        lines.push_back(m);
    }
    return lines;
}

inline std::vector<MapsLine> readMaps() {
    std::vector<char> buf(4 << 20);
    size_t n = snapshotMaps(buf);
    return parseMaps(std::string_view(buf.data(), n));
}

inline bool overlaps(const MapsLine& m, uintptr_t start, uintptr_t end) {
    return m.start < end && start < m.end;
}

// Expects exactly one line naming memfdName, spanning start-end, and no
// other line overlapping that reservation; never the whole file, whose other
// lines change by themselves.
inline void expectOneReservationLine(const char* memfdName, uintptr_t start, uintptr_t end) {
    int named = 0;
    for (const auto& m : readMaps()) {
        // No unlinked file under /tmp backs a heap. (The test program itself
        // may live under /tmp, as in a fresh clone there.)
        EXPECT_FALSE(m.path.rfind("/tmp/", 0) == 0 && m.path.ends_with(" (deleted)")) << m.path;
        if (m.path.find(memfdName) != std::string::npos) {
            ++named;
            EXPECT_EQ(m.start, start);
            EXPECT_EQ(m.end, end);
        } else {
            EXPECT_FALSE(overlaps(m, start, end)) << std::hex << m.start << "-" << m.end << " " << m.path;
        }
    }
    EXPECT_EQ(named, 1);
}

using AddressRange = std::pair<uintptr_t, uintptr_t>;  // [first, second)

// What the heaps of pool (a Pool or a VPool made with flags, heaps
// heapLength bytes long) hold: each heap of a private pool, or the one
// reservation for kSharedPoolHeaps heaps a shared pool carves them from.
template <typename AnyPool>
std::vector<AddressRange> heapRanges(const AnyPool& pool, size_t heapLength, uint16_t flags) {
    std::vector<AddressRange> ranges;
    for (auto& h : pool.heaps) {
        auto base = reinterpret_cast<uintptr_t>(h->heap);
        ranges.emplace_back(base, base + (flags & kPoolPrivate ? heapLength : kSharedPoolHeaps * heapLength));
        if (!(flags & kPoolPrivate)) break;
    }
    return ranges;
}

// Expects, right after a pool was destroyed, no line naming memfdName and
// none overlapping ranges. buf is sized before the pool is made, so nothing
// is allocated between the destruction and the snapshot.
inline void expectNoHeapMapped(std::vector<char>& buf, const char* memfdName,
                               const std::vector<AddressRange>& ranges) {
    size_t n = snapshotMaps(buf);
    for (const auto& m : parseMaps(std::string_view(buf.data(), n))) {
        EXPECT_EQ(m.path.find(memfdName), std::string::npos);
        for (auto [start, end] : ranges)
            EXPECT_FALSE(overlaps(m, start, end)) << std::hex << m.start << "-" << m.end << " " << m.path;
    }
}

inline std::set<int> openDescriptors() {
    std::set<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return fds;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') fds.insert(std::atoi(e->d_name));
    fds.erase(dirfd(dir));
    closedir(dir);
    return fds;
}

// True when the page holding addr is mapped in this process; never touches it.
inline bool isMapped(const void* addr) {
    auto page = reinterpret_cast<uintptr_t>(addr) & ~uintptr_t(sysconf(_SC_PAGESIZE) - 1);
    return msync(reinterpret_cast<void*>(page), 1, MS_ASYNC) == 0;
}

inline bool writeAll(int fd, const void* data, size_t len) {
    auto p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n <= 0) return false;
        p += n;
        len -= size_t(n);
    }
    return true;
}

inline bool readAll(int fd, void* data, size_t len) {
    auto p = static_cast<char*>(data);
    while (len > 0) {
        ssize_t n = read(fd, p, len);
        if (n <= 0) return false;
        p += n;
        len -= size_t(n);
    }
    return true;
}

template <typename T>
bool sendValue(int fd, const T& v) {
    return writeAll(fd, &v, sizeof v);
}
template <typename T>
bool receiveValue(int fd, T* v) {
    return readAll(fd, v, sizeof *v);
}

// Both ends of a pipe; closes whatever is still open.
struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe(fd) != 0) fd[0] = fd[1] = -1;
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    int readEnd() const { return fd[0]; }
    int writeEnd() const { return fd[1]; }
    void closeRead() {
        if (fd[0] >= 0) close(fd[0]);
        fd[0] = -1;
    }
    void closeWrite() {
        if (fd[1] >= 0) close(fd[1]);
        fd[1] = -1;
    }
};

}  // namespace ruva::test
