// Helpers shared by every test program.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

// A heap copy with no slack after the NUL, so that a read past it is an
// AddressSanitizer report rather than a silent look at spare capacity.
std::unique_ptr<char[]> exactCopy(std::string_view text);

// Runs body in a forked child (where it may change descriptors, limits or
// signal dispositions) and returns its exit status: the body returns 0 for
// success or a number naming the check that failed; a signal gives 1000 +
// its number, a failed fork or wait -1.
int inChild(const std::function<int()>& body);

}  // namespace ruva::test
