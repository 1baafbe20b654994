// MSRCH and MPSRCH: the folder tree walked for libraries whose comment,
// date and folder pass the client's filters.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/ml_tree.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/user_profile.h"
#include "bmod/unzipd/search/phrase_filter.h"
#include "bmod/unzipd/search/search_commands.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/tokens.h"

namespace ruva {

std::string getBLOBTitleFromComment(const char* comment) {
    if (comment == nullptr) return "";
    const char* bracket = std::strchr(comment, '[');
    std::string title(comment, bracket ? static_cast<size_t>(bracket - comment) : std::strlen(comment));
    while (!title.empty() && title.back() == ' ') title.pop_back();
    return title;
}

bool getBLOBProdidFromComment(const char* comment, std::string* prodid) {
    const char* open = comment ? std::strchr(comment, '[') : nullptr;
    if (open == nullptr) return false;
    const char* close = std::strrchr(open + 1, ']');
    prodid->assign(open + 1, close ? static_cast<size_t>(close - open - 1) : std::strlen(open + 1));
    return true;
}

namespace {

struct MsrchRequest {
    bool mp = false;  // MPSRCH
    const char* pattern = "";
    const char* name = "";
    const char* prodid = "";
    std::string from, to;
    const UserProfile* systems = nullptr;  // MPSRCH's temporary profile
    const UserProfile* session = nullptr;
    bool productWalk = false;
    bool hideRules = true;  // "__" folders and "//" libraries passed over
    bool typeFilter = true;
};

bool startsHidden(const char* text) { return strncasecmp(text, "__", 2) == 0; }

bool localDate(time_t t, std::string* date) {
    struct tm tm;
    if (localtime_r(&t, &tm) == nullptr) return false;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", static_cast<unsigned>(tm.tm_year + 1900),
                  static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday));
    *date = buf;
    return true;
}

bool typeAllowed(const MsrchRequest& rq, const ZipStructure* zs) {
    if (!rq.typeFilter || rq.session == nullptr) return true;
    const char* dot = std::strrchr(zs->zipBasename, '.');
    if (dot == nullptr) return false;
    if (strcasecmp(dot, ".khx") == 0 || strcasecmp(dot, ".ers") == 0) return true;
    return isBLOBTypeAllowed(rq.session, dot + 1) != 0;
}

bool systemAllowed(const MsrchRequest& rq, const MlZipStruct* node) {
    const UserProfile* p = rq.mp && rq.systems ? rq.systems : rq.session;
    return p == nullptr || isSystemAllowed(p, node->ID);
}

// The filters of one library: 1 listed, 0 skipped, -1 syntax line written.
int libraryPasses(NetworkServer* ns, const MsrchRequest& rq, const ZipStructure* zs) {
    const char* comment = zs->centralDirEnd.comment;
    std::string date;
    bool dated = localDate(zs->mTime, &date);
    if (!rq.mp) {
        if (comment == nullptr) return 0;
        std::string text = dated ? std::string(comment) + " " + date : std::string(comment);
        int r = phrsrch_filter(rq.pattern, text.c_str());
        if (r < 0)
            ns->reply->line(kReplyFailed, kReplyHeader, "Invalid syntax of search pattern \"%s\"", rq.pattern);
        return r;
    }
    if (comment != nullptr) {
        if (*rq.name != '\0') {
            int r = phrsrch_filter(rq.name, getBLOBTitleFromComment(comment).c_str());
            if (r < 0) ns->reply->line(kReplyFailed, kReplyHeader, "Invalid syntax of name pattern \"%s\"", rq.name);
            if (r <= 0) return r;
        }
        if (*rq.prodid != '\0') {
            std::string prodid;
            if (!getBLOBProdidFromComment(comment, &prodid)) return 0;
            int r = phrsrch_filter(rq.prodid, prodid.c_str());
            if (r < 0)
                ns->reply->line(kReplyFailed, kReplyHeader, "Invalid syntax of prodid pattern \"%s\"", rq.prodid);
            if (r <= 0) return r;
        }
    }
    if (!dated) return rq.from.empty() && rq.to.empty() ? 1 : 0;
    if (!rq.from.empty() && date < rq.from) return 0;
    if (!rq.to.empty() && date > rq.to) return 0;
    return 1;
}

// The libraries of one node; false when a syntax line ended the walk.
bool listNode(NetworkServer* ns, const MsrchRequest& rq, const MlZipStruct* node, const std::string& path) {
    for (ZipStructure* zs = node->zs; zs && !ns->reply->failed(); zs = zs->MlNext) {
        if (rq.mp && rq.hideRules && zs->libID && std::strncmp(zs->libID, "//", 2) == 0) continue;
        if (!typeAllowed(rq, zs)) continue;
        int r = libraryPasses(ns, rq, zs);
        if (r < 0) return false;
        if (r == 0) continue;
        const char* comment = zs->centralDirEnd.comment;
        ns->reply->line(kReplyData, kReplyEntry, "\"%s\" %8i %s %10lu \"%s\" %8lu %s", zs->zipBasename, zs->hashID,
                        ReplyWriter::quotedField(comment ? comment : "").c_str(),
                        static_cast<unsigned long>(zs->mTime), ReplyWriter::plainField(path).c_str(), zs->fileSize,
                        zs->pubInExtranet == 1 ? "TRUE" : "FALSE");
    }
    return true;
}

// Node, then its subtree, then its next siblings, on an explicit stack so
// that wide and deep trees cost no recursion. false after a syntax line.
bool walk(NetworkServer* ns, const MsrchRequest& rq, MlZipStruct* start, bool withSiblings) {
    struct Visit {
        MlZipStruct* node;
        bool siblings;
        std::string parentPath;
    };
    std::vector<Visit> stack{{start, withSiblings, ""}};
    while (!stack.empty()) {
        Visit v = std::move(stack.back());
        stack.pop_back();
        MlZipStruct* node = v.node;
        if (v.siblings && node->next) stack.push_back({node->next, true, v.parentPath});
        if (!rq.productWalk && node->level == 1 && !systemAllowed(rq, node)) continue;
        std::string path;
        if (node->level == 1) path = node->descr;
        else if (node->level > 1) path = v.parentPath + " / " + node->descr;
        if (rq.mp && rq.hideRules && startsHidden(node->descr)) continue;
        if (!listNode(ns, rq, node, path)) return false;
        if (node->child) stack.push_back({node->child, true, path});
    }
    return true;
}

MlZipStruct* productNode(ZipList* zl, const char* token, bool* given) {
    *given = false;
    if (zl == nullptr || token == nullptr || *token == '\0') return zl ? zl->getMlRoot() : nullptr;
    unsigned long id = std::strtoul(token, nullptr, 10);
    if (id == 0) return zl->getMlRoot();
    *given = true;
    return id > 0x7fffffffUL ? nullptr : inOrderID(zl->getMlRoot(), static_cast<int>(id));
}

void readDate(const char* token, unsigned month, unsigned day, std::string* out) {
    unsigned y = 0, m = month, d = day;
    if (token == nullptr || std::sscanf(token, "%4u%2u%2u", &y, &m, &d) < 1) return;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", y, m, d);
    *out = buf;
}

}  // namespace

int handleMSrchCommand(NetworkServer* ns, char* args) {
    MsrchRequest rq;
    const char* pattern = getNextToken(&args);
    rq.pattern = pattern ? pattern : "";
    const char* nodeId = getNextToken(&args);
    rq.session = ns->userp.get();
    ZipList* zl = sessionCatalogue(ns);
    ns->reply->line(kReplyData, kReplyHeader, "Database     ID    \"Comment\"    CTime  \"Path\" Size");
    bool given = false;
    MlZipStruct* node = productNode(zl, nodeId, &given);
    if (given && node == nullptr) {
        ns->reply->line(kReplyFailed, kReplyEntry, "Invalid Product Name'%s'", rq.pattern);
        return replyResult(ns), 1;
    }
    rq.productWalk = given;
    rq.typeFilter = !given;
    if (node == nullptr)
        ns->reply->line(kReplyFailed, kReplyHeader, "MSRCH failed.");
    else if (walk(ns, rq, node, !given))
        ns->reply->line(kReplyOk, kReplyHeader, "MSRCH executed.");
    return replyResult(ns), 1;
}

int handleMPSrchCommand(NetworkServer* ns, char* args) {
    MsrchRequest rq;
    rq.mp = true;
    const char* t[6];
    for (const char*& token : t) token = getNextToken(&args);
    rq.name = t[0] ? t[0] : "";
    rq.prodid = t[1] ? t[1] : "";
    readDate(t[2], 1, 1, &rq.from);
    readDate(t[3], 12, 31, &rq.to);
    std::unique_ptr<UserProfile> systems;
    if (t[4] && *t[4]) {
        systems = newUserProfile();
        if (systems) {
            systems->setSystems(t[4]);
            systems->setBLOBTypes("");
        }
        rq.systems = systems.get();
    }
    rq.session = ns->userp.get();
    ZipList* zl = sessionCatalogue(ns);
    bool given = false;
    MlZipStruct* node = productNode(zl, t[5], &given);
    if (node == nullptr) {
        ns->reply->line(kReplyFailed, kReplyHeader, "MPSRCH failed.");
        return replyResult(ns), 1;
    }
    ns->reply->line(kReplyData, kReplyHeader, "Database     ID    \"Comment\"    CTime  \"Path\"  Size");
    rq.productWalk = given;
    rq.hideRules = !given || !startsHidden(node->descr);
    if (walk(ns, rq, node, !given)) ns->reply->line(kReplyOk, kReplyHeader, "MPSRCH executed.");
    return replyResult(ns), 1;
}

}  // namespace ruva
