// Reading and dispatching a session's command lines.
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/search/qxsrch_commands.h"
#include "bmod/unzipd/search/search_commands.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/server/network_server.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

using CommandHandler = int (*)(NetworkServer* ns, char* args);

// A reply that could not be written ends the session.
int written(NetworkServer* ns, bool ok) {
    if (ok) return 1;
    logError(kLogErr, "Write error on client socket %s", ns->cAddrStr);
    return 0;
}

int answerVer(NetworkServer* ns, char*) {
    return written(ns, ns->reply->line(kReplyOk, kReplyEntry, "Version: %s", ns->identityText().c_str()));
}

int answerQuit(NetworkServer* ns, char*) {
    ns->flags |= kNsQuit;
    return written(ns, ns->reply->line(kReplyOk, kReplyHeader, "See you later."));
}

int answerFlabel(NetworkServer*, char*) { return 1; }

struct HelpText {
    const char* word;
    const char* text;  // after "200 "
};

const HelpText kHelpTexts[] = {
    {"BLOBTYPES", "BLOBTYPES -- List library types supported by the server"},
    {"CONT", "CONT dbpat/ID [filepat] -- List ZIP contents"},
    {"CONTV", "CONTV dbpat/ID   [filepat] -- Verbose list of ZIP contents"},
    {"FSRCH", "FSRCH pattern dbpat/ID filepat -- Search for text pattern in database file(s)"},
    {"FLABEL", "FLABEL HashID -- returns the LDAP ID for the folder"},
    {"GET", "GET dbpat/ID -- Retrieve whole ZIP database"},
    {"HELP", "HELP -- List all commands supported by the server"},
    {"INFO", "INFO -- Display general info and statistics about data on the server"},
    {"LANGLIST", "LANGLIST -- List language codes found in libraries on the server"},
    {"LIST", "LIST [dbpat] -- List available databases"},
    {"MLLIST", "MLLIST -- List available databases and multilevel nodes"},
    {"MLNLIST",
     "MLNLIST HashId UserId-- List available databases and multilevel nodes to those user has upload access"},
    {"MLSLIST",
     "MLSLIST node/Productname/Path  path/name -- List available databases and multilevel nodes in the "
     "selected node/Productname/Path"},
    {"MSRCH", "MSRCH pattern [ProductId] -- Search for all systems matching pattern"},
    {"MPSRCH", "MPSRCH pattern prod_id date_from date_to system -- Search for all systems matching search conditions"},
    {"QXSRCH",
     "QXSRCH pattern dbpat/ID/\"dbpat1/ID1 dbpat2/ID2 .... dbpatn/IDn\" filepat -- Search for pattern in RUVX "
     "index(es)"},
    {"QXFSRCH",
     "QXFSRCH pattern dbpat/ID/\"dbpat1/ID1 dbpat2/ID2 .... dbpatn/IDn\" filepat -- Search for pattern in "
     "Fulltext RUVX index(es)"},
    {"QXSRCHSGS",
     "QXSRCHSGS pattern dbpat/ID fulltext_ruvx_filename maxHits -- Search for suggestions in Fulltext RUVX index"},
    {"PUSRCH", "PUSRCH dbpat filepat [blk pfx caa ind1 ind2 mar rev adj] -- Search PU-index"},
    {"QUIT", "QUIT -- End session with server"},
    {"RETR", "RETR dbpat/ID filepat -- Uncompress and retrieve file(s) from database(s)"},
    {"RMFILE", "RMFILE dbpat filepat -- Remove a file from a zip database"},
    {"SLIST", "SLIST -- List addresses of other known servers"},
    {"SRCH", "SRCH pattern dbpat/ID filepat -- Search for text pattern in database file(s)"},
    // One line: the line feed inside this help text would read as a
    // second reply line, so it is written as a blank.
    {"UPDFILE", "UPDFILE dbpat/ID filename filelength \\n data 200-UPDFILE END  -- Add/update a file in a zip database"},
    {"IDRETR",
     "IDRETR pattern dbpat/ID -- extracting the section contents based on the input pattern in the database "
     "file(s)"},
    {"VER", "VER -- Query server program version"},
};

int answerHelp(NetworkServer* ns, char* args) {
    char* topic = getNextToken(&args);
    if (topic == nullptr)
        return written(ns, ns->reply->line(kReplyOk, kReplyEntry,
                                           "Supported commands: BLOBTYPES CONT CONTV FSRCH FLABEL GET HELP INFO "
                                           "LANGLIST LIST MLLIST MLNLIST MLSLIST MPSRCH MSRCH QXSRCH QXFSRCH "
                                           "QXSRCHSGS PUSRCH QUIT RETR SLIST SRCH IDRETR VER"));
    lstrupr(topic);
    for (const HelpText& h : kHelpTexts)
        if (std::strcmp(topic, h.word) == 0) return written(ns, ns->reply->line(kReplyOk, kReplyEntry, "%s", h.text));
    return written(ns, ns->reply->line(kReplySyntax, kReplyEntry, "No such command <%s>", topic));
}

struct Command {
    const char* word;  // upper case
    CommandHandler handler;  // null: answered as an unknown word until its handler exists
};

const Command kCommands[] = {
    {"BLOBTYPES", handleBlobTypesCommand},
    {"CONT", handleContCommand},
    {"CONTV", handleContvCommand},
    {"FLABEL", answerFlabel},
    {"FSRCH", handleFSrchCommand},
    {"GET", handleGetCommand},
    {"HELP", answerHelp},
    {"IDRETR", handleIDRETRCommand},
    {"INFO", handleInfoCommand},
    {"LANGLIST", handleLangListCommand},
    {"LIST", handleListCommand},
    {"MLLIST", handleMlListCommand},
    {"MLNLIST", handleMlNListCommand},
    {"MLSLIST", handleMlsListCommand},
    {"MPSRCH", handleMPSrchCommand},
    {"MSRCH", handleMSrchCommand},
    {"QXSRCH", handleQxSrchCommand},
    {"QXFSRCH", handleQxSrchFSCommand},
    {"QXSRCHSGS", handleQxSrchSgsCommand},
    {"PUSRCH", handlePuSrchCommand},
    {"QUIT", answerQuit},
    {"RETR", handleRetrCommand},
    {"RMFILE", handleRmFileCommand},
    {"SLIST", handleSListCommand},
    {"SRCH", handleSrchCommand},
    {"UPDFILE", handleUpdFileCommand},
    {"USER", handleUserCommand},
    {"VER", answerVer},
};

// GET of a name that is neither a node number nor a library file name is
// refused without a word: the session just ends. "Contains" is tested
// case-sensitively on a private copy, since tokenising cuts in place.
bool refusedGet(const char* line) {
    if (strncasecmp(line, "GET ", 4) != 0) return false;
    std::string copy(line + 4);
    char* cursor = copy.data();
    const char* arg = getNextToken(&cursor);
    if (arg == nullptr) return false;
    for (const char* ext : {".ers", ".kvo", ".zgp", ".zdf", ".z", ".zsw"})
        if (std::strstr(arg, ext) != nullptr) return false;
    for (const char* p = arg; *p; ++p)
        if (std::isalpha(static_cast<unsigned char>(*p))) return true;
    return false;
}

long long monotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int NetworkServer::parseCommand(char* line) {
    if (refusedGet(line)) {
        logError(kLogNotice, "Refused GET request <%s> from %s", line, cAddrStr);
        return 0;
    }
    reply->beginReply();
    char* cursor = line;
    char* word = getNextToken(&cursor);
    if (word == nullptr) return written(this, reply->line(kReplySyntax, kReplyEntry, "Missing command. Try HELP"));
    lstrupr(word);
    for (const Command& c : kCommands)
        if (c.handler != nullptr && std::strcmp(word, c.word) == 0) return c.handler(this, cursor) == 1 ? 1 : 0;
    reply->line(kReplySyntax, kReplyEntry, "Unknown command <%s>. Try HELP.", word);
    logError(kLogNotice, "Invalid command <%s> received from %s", word, cAddrStr);
    return 1;
}

// 1 when input waits, 0 after idleTimeout seconds without any, -1 when a
// quit was requested or the wait failed. Signals resume the wait with the
// time left.
int NetworkServer::waitForCommand() {
    long long deadline = monotonicMs() + static_cast<long long>(idleTimeout) * 1000;
    for (;;) {
        long long left = deadline - monotonicMs();
        if (left <= 0) return 0;
        struct pollfd p = {newtcpfd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left > 3600000 ? 3600000 : left));
        if (r > 0) return 1;
        if (r == 0) continue;
        if (errno != EINTR) {
            logError(kLogDebug, "Socket read failed from %s, %s", cAddrStr, std::strerror(errno));
            return -1;
        }
        if (quitRequested()) return -1;
    }
}

// Ends the line at the first CR or LF in buffer[from, to): what follows it
// goes before the rest data. The line's length, or -1 when no end is there.
int NetworkServer::cutLine(char* buffer, size_t from, size_t to) {
    for (char* p = buffer + from; p < buffer + to; ++p) {
        if (*p != '\r' && *p != '\n') continue;
        bool cr = *p == '\r';
        *p = '\0';
        restData.insert(0, p + 1, static_cast<size_t>(buffer + to - (p + 1)));
        // The LF of a CR LF is never a command or a data byte, whether it
        // came with the line or comes first in the next read.
        if (cr && restData.empty()) skipLeadingLf = true;
        if (cr && !restData.empty() && restData[0] == '\n') restData.erase(0, 1);
        return static_cast<int>(p - buffer);
    }
    return -1;
}

int NetworkServer::getClientCommand(char* buffer, size_t limit) {
    buffer[0] = '\0';
    if (reply) reply->flush();
    // Commands sent together: the bytes the last command left unread come
    // first, and count against the limit like the bytes still to come. Only
    // the first line leaves them, so many short commands cost no copies of
    // all the others.
    size_t got = std::min(restData.size(), limit);
    size_t lineEnd = restData.find_first_of("\r\n");
    if (lineEnd < got) got = lineEnd + 1;
    std::memcpy(buffer, restData.data(), got);
    restData.erase(0, got);
    int length = cutLine(buffer, 0, got);
    if (length >= 0) return length;
    while (got < limit) {
        int w = waitForCommand();
        if (w < 0) return -1;
        if (w == 0) {
            logError(kLogInfo, "Client timeout, closing connection");
            if (flags & kNsDebug) {
                flags |= kNsQuit;
                return -1;
            }
            ::_exit(0);
        }
        ssize_t n = ::recv(newtcpfd, buffer + got, limit - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            logError(kLogDebug, "Client closed connection, %s", cAddrStr);
            return -1;
        }
        if (n < 0) {
            logError(kLogDebug, "Socket read failed from %s, %s", cAddrStr, std::strerror(errno));
            return -1;
        }
        char* begin = buffer + got;
        if (skipLeadingLf) {
            skipLeadingLf = false;
            if (*begin == '\n') {
                std::memmove(begin, begin + 1, static_cast<size_t>(n - 1));
                if (--n == 0) continue;
            }
        }
        length = cutLine(buffer, got, got + static_cast<size_t>(n));
        if (length >= 0) return length;
        got += static_cast<size_t>(n);
    }
    // The rest of so long a line would be read as the next command.
    buffer[got] = '\0';
    if (reply) {
        reply->beginReply();
        reply->line(kReplySyntax, kReplyEntry, "Missing command. Try HELP");
    }
    logError(kLogNotice, "Command line of %zu bytes without a line end from %s", got, cAddrStr);
    return -1;
}

}  // namespace ruva
