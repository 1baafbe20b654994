#include "bmod/ruvaserv/actions/ruvafilter/filter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bmod/ruvaserv/actions/ruvafilter/charset.h"
#include "bmod/ruvaserv/actions/ruvafilter/html_lines.h"
#include "bmod/ruvaserv/actions/ruvafilter/postscript.h"
#include "common/fd_io.h"

namespace ruva::filter {

namespace {

constexpr size_t kReadPiece = size_t{64} << 10;

std::string systemError(const char* what, const std::string& path) {
    return std::string(what) + " '" + path + "': " + std::strerror(errno);
}

// The whole input, which must stay within kMaxInputBytes; *id gets the
// file's identity.
int readInput(const std::string& path, std::string& bytes, struct stat* id, std::string& error) {
    Fd fd(openRegularFile(path.c_str(), O_RDONLY));
    if (!fd.valid() || fstat(fd.get(), id) != 0) {
        error = systemError("cannot read", path);
        return kExitIo;
    }
    if (static_cast<uint64_t>(id->st_size) > kMaxInputBytes) {
        error = "'" + path + "' is larger than 64 MiB";
        return kExitIo;
    }
    bytes.reserve(static_cast<size_t>(id->st_size));
    for (;;) {
        const size_t have = bytes.size();
        bytes.resize(have + kReadPiece);
        const ssize_t got = readRetry(fd.get(), bytes.data() + have, kReadPiece);
        bytes.resize(have + static_cast<size_t>(got > 0 ? got : 0));
        if (got < 0) {
            error = systemError("cannot read", path);
            return kExitIo;
        }
        if (got == 0) break;
        // The file may have grown since fstat.
        if (bytes.size() > kMaxInputBytes) {
            error = "'" + path + "' is larger than 64 MiB";
            return kExitIo;
        }
    }
    return kExitOk;
}

int writeStdout(std::string_view ps, std::string& error) {
    // Closed here, so that a failure that shows only at close is reported.
    if (!writeAll(STDOUT_FILENO, ps.data(), ps.size()) || close(STDOUT_FILENO) != 0) {
        error = systemError("cannot write", "standard output");
        return kExitIo;
    }
    return kExitOk;
}

int writeFile(const std::string& path, std::string_view ps, const struct stat& input, std::string& error) {
    struct stat out;
    if (stat(path.c_str(), &out) == 0 && out.st_dev == input.st_dev && out.st_ino == input.st_ino) {
        error = "the output '" + path + "' is the input";  // the input is never changed
        return kExitUsage;
    }
    Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid() || !writeAll(fd.get(), ps.data(), ps.size()) || !fd.close()) {
        error = systemError("cannot write", path);
        return kExitIo;
    }
    return kExitOk;
}

int run(int argc, const char* const* argv, std::string& error) {
    FilterArguments args;
    int code = parseArguments(argc, argv, args, error);
    if (code != kExitOk) return code;
    std::string html;
    struct stat input;
    code = readInput(args.input, html, &input, error);
    if (code != kExitOk) return code;
    const std::optional<std::string> ps = pageToPostScript(html, *args.paper);
    if (!ps) {
        error = "the PostScript of '" + args.input + "' would pass 256 MiB";
        return kExitIo;
    }
    if (args.output == "-") return writeStdout(*ps, error);
    return writeFile(args.output, *ps, input, error);
}

}  // namespace

std::optional<std::string> pageToPostScript(std::string_view html, const PaperSize& paper) {
    return writePostScript(htmlToLines(html, detectCharset(html)), paper);
}

int runFilter(int argc, const char* const* argv) {
    std::string error;
    const int code = run(argc, argv, error);
    if (code != kExitOk) std::fprintf(stderr, "ruvafilter: %s\n", error.c_str());
    return code;
}

}  // namespace ruva::filter
