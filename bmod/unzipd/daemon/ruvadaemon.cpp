// The daemon's entry: command line, detaching, start-up and the main loop.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmod/unzipd/daemon/daemon_start.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/server/network_server.h"
#include "bmod/unzipd/zip/folder_index.h"
#include "common/paths.h"
#include "common/version.h"

using namespace ruva;

namespace {

void printVersion(FILE* out) {
    std::fprintf(out, "Version: %s %s %s\n", kDaemonProgName, kDaemonArticle, kSystemRevision);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "-ver") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        printVersion(stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--install") == 0) return 0;

    cnfName = libFileName("ruvadaemon.conf");
    opterr = 0;  // the usage lines are the only message
    int c;
    while ((c = ::getopt(argc, argv, "?F:c:dfuvi")) != -1) {
        switch (c) {
        case 'F':
            restartCount = std::atoi(optarg);
            break;
        case 'c':
            cnfName = optarg;
            break;
        case 'd':
            flags |= kOptDebug;
            break;
        case 'f':
            flags |= kOptFoldNames;
            break;
        case 'u':
            flags |= kOptUnregister;
            break;
        case 'v':
            flags |= kOptVerbose;
            break;
        case 'i':
            flags |= kOptVerbose | kOptIndexRun;
            break;
        default:
            printVersion(stderr);
            std::fprintf(stderr, "Usage: %s [-c ConfigFile] [-d][-u][-v]\n", argv[0]);
            return 1;
        }
    }
    if (flags & kOptVerbose) {
        std::printf("Flags: %s%s%s\n", (flags & kOptFoldNames) ? "FOLDNAMES " : "",
                    (flags & kOptVerbose) ? "VERBOSE " : "", (flags & kOptDebug) ? "DEBUG " : "");
        if (flags & kOptIndexRun) std::printf("Indexing is in progress..., refer log file for more details.");
    }
    // Before the first scan: a library opened earlier gets no folder numbers.
    installFolderIndex();
    // A buffered line must not be written twice, by the parent and the child.
    std::fflush(stdout);
    std::fflush(stderr);
    if (!(flags & (kOptDebug | kOptUnregister | kOptIndexRun))) {
        pid_t pid = ::fork();
        if (pid < 0) {
            std::perror("fork");
            return 1;
        }
        if (pid > 0) ::_exit(0);
        ::setsid();
    }
    // For the whole life: a write to a closed client must not end the daemon.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    savedArgv0 = argv[0];
    prepareFaultRestart(argc, argv);
    UzdMain* u = Startup(nullptr);
    if (u == nullptr) return 1;
    if (flags & kOptIndexRun) {
        logError(kLogNotice, "Indexing completed, %s about to terminate", kDaemonProgName);
        setCurrentMain(nullptr);
        delete u;
        return 0;
    }
    installFaultHandler();
    return runMainLoop();
}
