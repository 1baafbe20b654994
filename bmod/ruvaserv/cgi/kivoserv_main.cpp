// kivoserv: the CGI program of the document library's web front end. The
// web server starts it once per request; it writes one response and exits 0.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kivo_version.h"
#include "bmod/ruvaserv/cgi/kivoserv.h"

using namespace ruva;

namespace {

// Set by -d and -v; nothing reads them yet.
constexpr int kDebugBit = 1;
constexpr int kVerboseBit = 2;
int programFlags = 0;

void printVersion(FILE* out) {
    std::fprintf(out, "Version: %s %s %s\n", kKivoservProgName, kKivoservArticle, kSystemRevision);
}

// -1 when the run goes on as a CGI request, else the exit status.
int handleCommandLine(int argc, char** argv) {
    if (argc < 2) return -1;
    if (std::strcmp(argv[1], "-ver") == 0 || std::strcmp(argv[1], "--version") == 0) {
        printVersion(stdout);
        std::printf("%s version: %s %s\n", kKivoProductName, kKivoProductNumber, kSystemRevision);
        return 0;
    }
    if (std::strcmp(argv[1], "--install") == 0) return 0;
    opterr = 0;  // the usage lines are the only message
    int c;
    while ((c = ::getopt(argc, argv, "?dv")) != -1) {
        if (c == 'd') {
            programFlags |= kDebugBit;
        } else if (c == 'v') {
            programFlags |= kVerboseBit;
        } else {
            printVersion(stderr);
            std::fprintf(stderr, "Usage: %s [-dv] [file...]\n", argv[0]);
            return 1;
        }
    }
    return -1;
}

int finish(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

}  // namespace

int main(int argc, char** argv, char** envp) {
    setMsgLanguage("Uen");
    setTextLanguage("Uen");
    if (int status = handleCommandLine(argc, argv); status >= 0) return finish(status);
    std::unique_ptr<CgiHandler> cg = newCgiHandler(kKivoservFlags, envp);
    if (!cg) {
        htmlDisplayError(stdout, formatChecked(msgFormat(101, "kivoserv/1")));
        return finish(0);
    }
    runKivoRequest(*cg);
    cg.reset();
    return finish(0);
}
