// Post-processes pages read from standard input, one request each, for the
// python3 driver.
//
// A record is a line "<length> <options> <echo> <mime> <fields>" (length
// and fields in decimal, options in hexadecimal, echo 0 or 1, mime "-" for
// none), then <fields> lines "NAME=VALUE", then exactly <length> bytes of
// page and "\n". Each page lies in a heap block of exactly its length, as
// the document buffer of a request.
//
// A sixth number <refs> on the line makes the page a collection page: after
// the field lines come a line with the collection's title, one with its
// identity, then <refs> lines of library references ("ID|REV|Title").
//
// The configuration file is found as kivoserv finds it (KIVOSERVCONF
// first); with one, its document server is asked, and the page's own
// address is the host of HTTP_HOST (or SERVER_NAME and SERVER_PORT) with
// SCRIPT_NAME, as kivoserv makes it. Without one no document server
// listens at the address the requests get, so a page that asks one takes
// the failure path, and the page's address is a fixed one.
//
// Per record the answer is a line "<result> <output> <length> <intact>
// <asked>": the pass's result, 1 when it made an output buffer (0: the
// document buffer goes out as it is), the length of what goes out, 1 when
// the document buffer still holds the input, 1 when a server session was
// asked for. With echo the bytes that go out follow, then "\n". Exit status
// 2 on a malformed record (after the answers before it).
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace {

constexpr size_t kMaxLength = 1 << 20;
constexpr size_t kMaxFields = 64;

struct Record {
    std::string page;
    uint32_t options = 0;
    bool echo = false;
    std::string mime;
    std::vector<std::pair<std::string, std::string>> fields;
    bool collection = false;
    std::string libraryTitle;
    std::string libraryId;
    std::vector<std::string> references;
};

bool readLine(std::string& line) {
    line.clear();
    for (int c; (c = std::getchar()) != EOF;) {
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    return false;
}

// 1 with a record, 0 at the end of the input, -1 for a malformed one.
int readRecord(Record& r) {
    std::string line;
    if (!readLine(line)) return line.empty() ? 0 : -1;
    size_t length, count, refs = 0;
    unsigned options;
    int echo;
    char mime[300];
    const int numbers =
        std::sscanf(line.c_str(), "%zu %x %d %299s %zu %zu", &length, &options, &echo, mime, &count, &refs);
    if (numbers < 5 || length > kMaxLength || count > kMaxFields || refs > kMaxFields ||
        (echo != 0 && echo != 1))
        return -1;
    r.options = options;
    r.echo = echo == 1;
    r.mime = std::strcmp(mime, "-") == 0 ? "" : mime;
    r.fields.clear();
    for (size_t i = 0; i < count; ++i) {
        if (!readLine(line)) return -1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) return -1;
        r.fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    r.collection = numbers == 6;
    r.references.clear();
    r.libraryTitle.clear();
    r.libraryId.clear();
    if (r.collection) {
        if (!readLine(r.libraryTitle) || !readLine(r.libraryId)) return -1;
        for (size_t i = 0; i < refs; ++i) {
            if (!readLine(line)) return -1;
            r.references.push_back(line);
        }
    }
    r.page.resize(length);
    if (std::fread(r.page.data(), 1, length, stdin) != length || std::getchar() != '\n') return -1;
    return 1;
}

// A loopback port that refuses every connection: bound, never listening,
// and left open for the life of the process so no one else takes it.
int refusingPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return -1;
    return ntohs(addr.sin_port);
}

// Where the requests' server and the page's own address come from.
struct Setting {
    std::string serverAddr;
    std::string kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
};

// The request as kivoserv's entry would leave it before the action's page
// is post-processed.
void setUpRequest(ruva::CgiHandler& cg, const Record& r, const Setting& setting) {
    cg.clear();
    cg.flags = ruva::kKivoservFlags;
    cg.options = r.options;
    cg.mimeType = r.mime;
    cg.urlProto = "http:/";
    cg.kivoServName = setting.kivoServName;
    cg.scriptName = "/cgi-bin/";
    cg.docServAddr = setting.serverAddr;
    cg.curId = 0;
    cg.curCh.clear();
    std::string query;
    for (const auto& [name, value] : r.fields) {
        cg.valueList->addValue(name.c_str(), value.c_str());
        if (name == "ID") cg.curId = std::atoi(value.c_str());
        // The driver's DB values hold no blanks and do not begin with '-'.
        if (name == "DB") cg.curDb = value.substr(0, ruva::kCurDbMax);
        query += (query.empty() ? "" : "&") + name + "=" + value;
    }
    // getURL reads the page's own address from the environment.
    setenv("QUERY_STRING", query.c_str(), 1);
    cg.isCollection = r.collection ? 1 : 0;
    cg.libraryTitle = r.libraryTitle;
    cg.libraryId = r.libraryId;
    cg.subLibrary = r.references;
    cg.libCount = static_cast<int>(r.references.size());
}

// Runs one page; false when the answer cannot be written.
bool processPage(ruva::CgiHandler& cg, const Record& r, const Setting& setting) {
    setUpRequest(cg, r, setting);
    // A heap block of exactly the page: the sanitizer sees any read past it.
    char* block = static_cast<char*>(std::malloc(r.page.size()));
    if (!block && !r.page.empty()) return false;
    if (!r.page.empty()) std::memcpy(block, r.page.data(), r.page.size());
    cg.docBuf = block;
    cg.docSize = r.page.size();
    cg.docbufSize = r.page.size();

    const int result = cg.postProcessFile();
    const bool intact = cg.docSize == r.page.size() &&
                        (r.page.empty() || (cg.docBuf && std::memcmp(cg.docBuf, r.page.data(), r.page.size()) == 0));
    const bool made = cg.dstBuf != nullptr;
    const char* out = made ? cg.dstBuf : cg.docBuf;
    const size_t outLength = made ? cg.dstOffs : cg.docSize;
    if (!result) std::fprintf(stderr, "postprocess_probe: result 0: %s\n", cg.getError().c_str());
    std::printf("%d %d %zu %d %d\n", result, made ? 1 : 0, outLength, intact ? 1 : 0, cg.sess ? 1 : 0);
    if (r.echo) {
        if (outLength && std::fwrite(out, 1, outLength, stdout) != outLength) return false;
        std::putchar('\n');
    }
    // Frees the heap block as a request's end does.
    cg.clear();
    return std::ferror(stdout) == 0;
}

}  // namespace

int main() {
    unsetenv("RUVA_ADDR");
    static char* noEnv[] = {nullptr};
    std::unique_ptr<ruva::CgiHandler> cg = ruva::newCgiHandler(ruva::kKivoservFlags, noEnv);
    FILE* sink = std::fopen("/dev/null", "w");
    if (!cg || !sink) {
        std::fprintf(stderr, "postprocess_probe: no request object\n");
        return 1;
    }
    Setting setting;
    if (const std::string conf = ruva::findConfigFile(); !conf.empty()) {
        cg->readConfigFile(conf.c_str());
        setting.serverAddr = cg->docServAddr;
        const char* script = std::getenv("SCRIPT_NAME");
        setting.kivoServName = cg->httpdHost + cg->httpdPort + (script && *script ? script : "/cgi-bin/kivoserv");
    } else {
        const int port = refusingPort();
        if (port <= 0) {
            std::fprintf(stderr, "postprocess_probe: no loopback port\n");
            return 1;
        }
        setting.serverAddr = "127.0.0.1:" + std::to_string(port);
    }
    cg->cgifile = sink;
    Record r;
    int got;
    while ((got = readRecord(r)) == 1) {
        if (!processPage(*cg, r, setting)) {
            std::fprintf(stderr, "postprocess_probe: cannot write the answer\n");
            return 1;
        }
        // The driver names the page a sanitizer report stops at by the
        // answers it already has.
        std::fflush(stdout);
    }
    if (got < 0) {
        std::fprintf(stderr, "postprocess_probe: malformed record\n");
        return 2;
    }
    cg.reset();
    std::fclose(sink);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
