// Helpers shared by every test program.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace ruva::test {

// Directory of the read-only test data beside the project. The environment
// variable RUVA_TESTDATA overrides the configured path. Fails the calling
// test (and returns "") when the directory does not exist.
std::string testDataDir();

// A fresh directory under base, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const char* base = "/tmp");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or, for nullopt, unsets) environment variables and puts back what
// was there before when it goes out of scope.
class EnvGuard {
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard();
    void set(const std::string& name, const std::optional<std::string>& value);

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// The environment variable's value; nullopt when it is not set.
std::optional<std::string> envValue(const char* name);

// A heap copy with no slack after the NUL, so that a read past it is an
// AddressSanitizer report rather than a silent look at spare capacity.
std::unique_ptr<char[]> exactCopy(std::string_view text);

// Runs body in a forked child (where it may change descriptors, limits or
// signal dispositions) and returns its exit status: the body returns 0 for
// success or a number naming the check that failed; a signal gives 1000 +
// its number, a failed fork or wait -1.
int inChild(const std::function<int()>& body);

// One side of the two pipes between a test and a Child.
struct Link {
    int in = -1;
    int out = -1;

    bool send(char c) const;
    // 0 at end of file or on error.
    char receive() const;
};

// A forked process running body, which ends with _exit(body's result). The
// test and the child order their steps by single bytes over two pipes, sent
// explicitly rather than by closing: later children inherit the test's ends
// of earlier children's pipes, so end of file may never come.
class Child {
public:
    explicit Child(const std::function<int(const Link&)>& body);
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Kills and reaps a child not yet finished: a test that failed early
    // must not leave it waiting.
    ~Child();

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool send(char c) const { return link_.send(c); }
    char receive() const { return link_.receive(); }
    // False once the child has ended; never reaps it.
    bool running() const;
    // Reaps the child: its exit status, or -1 when it did not exit normally.
    int finish();

private:
    pid_t pid_ = -1;
    Link link_;
};

// Removes the System V semaphore set under key, if there is one.
void removeSemaphoreSet(key_t key);

// Removes the semaphore set under key when it goes out of scope, so a set
// made under a test key is gone even when the test fails.
class SetRemover {
public:
    explicit SetRemover(key_t key) : key_(key) {}
    ~SetRemover() { removeSemaphoreSet(key_); }
    SetRemover(const SetRemover&) = delete;
    SetRemover& operator=(const SetRemover&) = delete;

private:
    key_t key_;
};

// Whole-file helpers for fixtures: readFile gives "" when the file cannot be
// read; writeFile fails the calling test when it cannot write.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// The python3 to run: RUVA_PYTHON, else the system's (a version-manager
// shim costs seconds over a test's hundreds of calls).
std::string pythonCommand();

// Runs a shell command; its exit status, -1 when it did not exit.
int runShell(const std::string& cmd);
// Standard output of a shell command; *status (when given) as runShell's.
std::string capture(const std::string& cmd, int* status = nullptr);

// The far end of a socketpair, read to its end on a thread as a client
// would. SIGPIPE is ignored, as session processes do.
class SocketReader {
public:
    SocketReader();
    ~SocketReader();
    SocketReader(const SocketReader&) = delete;
    SocketReader& operator=(const SocketReader&) = delete;

    int fd() const { return fds_[0]; }
    // Closes the near end and returns everything the reader got.
    std::string finish();

private:
    int fds_[2] = {-1, -1};
    std::thread reader_;
    std::string got_;
};

// A copy of text whose last byte ends a page, the next page inaccessible:
// a read past the end faults even without AddressSanitizer, as it would
// past a member mapped in place from its archive. No NUL follows the text.
class PageEndText {
public:
    explicit PageEndText(std::string_view text);
    ~PageEndText();
    PageEndText(const PageEndText&) = delete;
    PageEndText& operator=(const PageEndText&) = delete;

    const char* data() const { return data_; }
    size_t size() const { return size_; }
    std::string_view view() const { return {data_, size_}; }

private:
    void* map_ = nullptr;
    size_t mapLen_ = 0;
    const char* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace ruva::test
