#include "common/heap_mapping.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace ruva {

namespace {

pid_t g_cachedPid = 0;

void refreshPid() {
    g_cachedPid = getpid();
}

}  // namespace

size_t pageSize() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

bool roundUpTo(size_t n, size_t step, size_t* out) {
    size_t rest = n % step;
    if (rest == 0) {
        *out = n;
        return true;
    }
    return !__builtin_add_overflow(n, step - rest, out);
}

pid_t trackedPid() {
    static std::once_flag once;
    std::call_once(once, [] {
        refreshPid();
        pthread_atfork(nullptr, nullptr, refreshPid);
    });
    return g_cachedPid;
}

bool isCurrentProcess(pid_t owner) {
    return owner == g_cachedPid;
}

std::unique_ptr<HeapReservation> HeapReservation::create(const char* name, size_t heapLength, int heapCount) {
    size_t length;
    if (heapLength == 0 || heapCount <= 0 || __builtin_mul_overflow(heapLength, size_t(heapCount), &length) ||
        length > size_t(INT64_MAX)) {
        errno = EINVAL;
        return nullptr;
    }
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    void* base = MAP_FAILED;
    if (ftruncate(fd, off_t(length)) == 0)
        base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_NORESERVE, fd, 0);
    int err = errno;
    close(fd);
    if (base == MAP_FAILED) {
        errno = err;
        return nullptr;
    }
    return std::unique_ptr<HeapReservation>(new HeapReservation(static_cast<char*>(base), length));
}

HeapReservation::~HeapReservation() {
    munmap(base_, length_);
}

char* HeapReservation::carve(size_t len) {
    if (len > length_ - carved_) return nullptr;
    char* heap = base_ + carved_;
    carved_ += len;
    return heap;
}

void HeapReservation::uncarveFrom(size_t offset) {
    if (offset < carved_) carved_ = offset;
}

char* mapPrivateHeap(size_t len) {
    void* heap = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return heap == MAP_FAILED ? nullptr : static_cast<char*>(heap);
}

void unmapHeap(char* heap, size_t len) {
    if (heap) munmap(heap, len);
}

void releaseHeapPages(char* heap, size_t len) {
    if (heap) madvise(heap, len, MADV_REMOVE);
}

}  // namespace ruva
