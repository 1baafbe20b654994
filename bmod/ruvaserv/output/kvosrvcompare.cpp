#include "bmod/ruvaserv/output/kvosrvcompare.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "bmod/ruvaserv/output/compare.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "common/docmodel/comment_tokens.h"
#include "common/fd_io.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/text_view.h"

namespace ruva {

namespace {

constexpr int kCodeOk = 200;
constexpr int kCodeBeingUpdated = 577;
constexpr int kCodeRemoved = 578;

// One character after "_sd": parts 1 to 9 of a library's document list.
constexpr char kSdiPartPattern[] = "*_sd?.sgml";
constexpr std::string_view kSdiTail = "</body>\n</tavr>\n";
constexpr char kLogoLink[] = "qzl:/kivo?FN=kivologo.gif&";
constexpr size_t kClassDigitsMax = 9;

bool allDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string serverOf(const CgiHandler& cg) {
    return htmlEscaped(makeAddrString(cg.sess->iaddr, cg.sess->port));
}

// 577 and 578 name the library in their own text; true when reply was one
// of them (cg's error text set with the tag of that step).
bool libraryUnavailable(CgiHandler& cg, const UzResponse* reply, const char* updatedTag, const char* removedTag) {
    if (!reply || (reply->resultCode != kCodeBeingUpdated && reply->resultCode != kCodeRemoved)) return false;
    const bool removed = reply->resultCode == kCodeRemoved;
    cg.setError(removed ? cg.msg(8, removedTag) : cg.msg(7, updatedTag),
                htmlEscaped(libraryOfReply(reply->resultMessage)));
    return true;
}

struct SdiPart {
    std::string name;
    int order;  // the character after "_sd"
};

// The character after the last "_sd" (any case) of a part name; names the
// pattern did not shape so go last, in listing order.
int partOrder(std::string_view name) {
    for (size_t end = name.size(); end >= 4; --end) {
        if (startsCaseBlindAt(name, end - 4, "_sd")) return static_cast<unsigned char>(name[end - 1]);
    }
    return UCHAR_MAX + 1;
}

// The SDI parts CONTV listed, in part-number order, and the one library
// that holds them. Empty with cg's error text set on failure.
std::vector<SdiPart> listSdiParts(CgiHandler& cg, const std::string& library, std::string& database) {
    UzSession& sess = *cg.sess;
    std::unique_ptr<UzResponse> reply = sess.contv(library, kSdiPartPattern);
    if (libraryUnavailable(cg, reply.get(), "kvosrvcompare/20", "kvosrvcompare/21")) return {};
    if (!reply || reply->resultCode != kCodeOk) {
        cg.setError(cg.msg(117, "kvosrvcompare/9"), serverOf(cg), replyReason(sess, reply.get()));
        return {};
    }
    const UzContEntry* first = reply->cont();
    if (!first || !first->filled() || first->filename.empty()) {
        cg.setError(cg.msg(118, "kvosrvcompare/10"), htmlEscaped(library), serverOf(cg));
        return {};
    }
    std::vector<SdiPart> parts;
    for (const UzContEntry* entry = first; entry && entry->filled(); entry = entry->next.get()) {
        // A pattern naming two libraries would join parts of both.
        if (*entry->database != *first->database) {
            cg.setError(cg.msg(117, "kvosrvcompare/9"), serverOf(cg), "the name matches several libraries");
            return {};
        }
        if (!entry->filename.empty()) parts.push_back({entry->filename, partOrder(entry->filename)});
    }
    // The central directory's order is not the parts' order.
    std::stable_sort(parts.begin(), parts.end(),
                     [](const SdiPart& a, const SdiPart& b) { return a.order < b.order; });
    database = *first->database;
    return parts;
}

// Where the body of a part starts (after its start tag's '>') and ends
// (at "</body>"), both found inside the part's own bytes.
struct BodySpan {
    size_t start;
    size_t end;
};

// A part with no complete body is refused: a part cut short would join
// with its closing tag missing.
std::optional<BodySpan> bodyOf(std::string_view part) {
    const size_t open = findCaseBlind(part, 0, "<body");
    if (open == std::string_view::npos) return std::nullopt;
    const size_t gt = part.find('>', open);
    if (gt == std::string_view::npos) return std::nullopt;
    const size_t close = findCaseBlind(part, gt + 1, "</body>");
    if (close == std::string_view::npos) return std::nullopt;
    return BodySpan{gt + 1, close};
}

// The joined file under construction: removed unless kept.
class PartialFile {
public:
    explicit PartialFile(const std::string& path) : path_(path) {}
    ~PartialFile() {
        fd_.reset();
        if (created_ && !kept_) ::unlink(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // Exclusive and private: a name planted beforehand (a symlink above
    // all) is refused, never followed or reused.
    bool create() {
        fd_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        created_ = fd_.valid();
        return created_;
    }
    bool write(std::string_view bytes) { return writeAll(fd_.get(), bytes.data(), bytes.size()); }
    bool close() {
        kept_ = fd_.close();
        return kept_;
    }

private:
    std::string path_;
    Fd fd_;
    bool created_ = false;
    bool kept_ = false;
};

// The private directory of one comparison and the two files in it, all
// removed when it goes.
class CompareFiles {
public:
    explicit CompareFiles(const std::string& tempPath) : dir_(tempPath + "ascXXXXXX") {
        made_ = ::mkdtemp(dir_.data()) != nullptr;
    }
    ~CompareFiles() {
        if (!made_) return;
        ::unlink(fileA().c_str());
        ::unlink(fileB().c_str());
        ::rmdir(dir_.c_str());
    }
    CompareFiles(const CompareFiles&) = delete;
    CompareFiles& operator=(const CompareFiles&) = delete;

    bool made() const { return made_; }
    std::string fileA() const { return dir_ + "/ascA.sgml"; }
    std::string fileB() const { return dir_ + "/ascB.sgml"; }

private:
    std::string dir_;
    bool made_ = false;
};

// A name past PATH_MAX could never be opened: it is a name that could not
// be made.
bool fitsPath(const std::string& path) {
    return path.size() < PATH_MAX;
}

// The comment of a library entry as its title: cut after the first ']'
// (title and bracketed identity kept, trailing words dropped); the library
// name when there is no comment or only blanks.
std::string titleFromComment(const std::string& comment, const std::string& name) {
    if (comment.find_first_not_of(" \t") == std::string::npos) return name;
    const size_t bracket = comment.find(']');
    return bracket == std::string::npos ? comment : comment.substr(0, bracket + 1);
}

}  // namespace

std::unique_ptr<KvoSrvCompare> newKvoSrvCompare(std::uint16_t flags) {
    return std::unique_ptr<KvoSrvCompare>(new (std::nothrow) KvoSrvCompare(flags));
}

KvoSrvCompare::~KvoSrvCompare() = default;

KvoSrvCompareResult KvoSrvCompare::prepareSdiFile(CgiHandler& cg, const std::string& library,
                                                  const std::string& fileName, std::string* database) {
    constexpr auto kFailed = KvoSrvCompareResult::kFailed;
    if (!cg.sess && !cg.establishDefaultSession()) return kFailed;
    // Each part arrives in storage of its own; the page buffer is not used
    // as scratch, so none of its old bytes can join the file.
    cg.freeDocBuf();
    std::string db;
    const std::vector<SdiPart> parts = listSdiParts(cg, library, db);
    if (parts.empty()) return kFailed;

    PartialFile file(fileName);
    if (!file.create()) {
        cg.setError(cg.msg(120, "kvosrvcompare/12"), htmlEscaped(fileName));
        return kFailed;
    }
    UzSession& sess = *cg.sess;
    std::string data;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i].name;
        std::unique_ptr<UzResponse> reply = sess.retrMem(db, literalMemberName(part), data);
        if (libraryUnavailable(cg, reply.get(), "kvosrvcompare/22", "kvosrvcompare/23")) return kFailed;
        // A failed unpack may still end in 200: the member's record decides.
        const UzRetrEntry* entry = reply ? reply->retr() : nullptr;
        if (!reply || reply->resultCode != kCodeOk || !entry || !entry->filled() || !entry->success) {
            cg.setError(cg.msg(121, "kvosrvcompare/13"), htmlEscaped(part), htmlEscaped(db), serverOf(cg),
                        replyReason(sess, reply.get()));
            return kFailed;
        }
        const std::optional<BodySpan> body = bodyOf(data);
        if (!body) {
            cg.setError(cg.msg(122, "kvosrvcompare/14"), htmlEscaped(part));
            return kFailed;
        }
        const std::string_view bytes(data);
        if (i == 0 && !file.write(bytes.substr(0, body->start))) {
            cg.setError(cg.msg(123, "kvosrvcompare/15"), std::strerror(errno), htmlEscaped(fileName));
            return kFailed;
        }
        if (!file.write(bytes.substr(body->start, body->end - body->start))) {
            cg.setError(cg.msg(124, "kvosrvcompare/16"), std::strerror(errno), htmlEscaped(fileName));
            return kFailed;
        }
    }
    // The close counts: a quota or NFS failure shows only there.
    if (!file.write(kSdiTail) || !file.close()) {
        cg.setError(cg.msg(124, "kvosrvcompare/16"), std::strerror(errno), htmlEscaped(fileName));
        return kFailed;
    }
    if (database) *database = db;
    return KvoSrvCompareResult::kOk;
}

std::optional<std::string> getDatabaseTitle(CgiHandler& cg, const std::string& database) {
    if (!cg.sess && !cg.establishDefaultSession()) return std::nullopt;
    const bool byNumber = allDigits(database);
    std::unique_ptr<UzResponse> reply = byNumber ? cg.sess->mllist(database) : cg.sess->list(database);
    if (reply && reply->resultCode == kCodeOk) {
        // Only that library's own entry counts: MLLIST of a hidden library
        // shows the next one.
        if (byNumber) {
            for (const UzMlListEntry* e = reply->mllist(); e && e->filled(); e = e->next.get()) {
                std::string id = e->ID;
                if (e->type == ML_NODE_TYPE_ZS && database == hashID(id.data()))
                    return titleFromComment(e->comment, *e->database);
            }
        } else {
            for (const UzListEntry* e = reply->list(); e && e->filled(); e = e->next.get()) {
                if (*e->database == database) return titleFromComment(e->comment, *e->database);
            }
        }
    }
    if (byNumber) {
        cg.setError(cg.msg(126, "kvosrvcompare/18"), htmlEscaped(database));
    } else {
        cg.setError(cg.msg(125, "kvosrvcompare/17"), htmlEscaped(database));
    }
    return std::nullopt;
}

KvoSrvCompareResult KvoSrvCompare::doKvoSrvCompare(CgiHandler& cg, const std::string& newLib,
                                                   const std::string& oldLib) {
    constexpr auto kFailed = KvoSrvCompareResult::kFailed;
    CompareFiles files(cg.TempPath);
    if (!files.made() || !fitsPath(files.fileA())) {
        cg.setError(cg.msg(109, "kvosrvcompare/1"));
        return kFailed;
    }
    if (!fitsPath(files.fileB())) {
        cg.setError(cg.msg(110, "kvosrvcompare/2"));
        return kFailed;
    }
    std::string newDb;
    std::string oldDb;
    if (prepareSdiFile(cg, newLib, files.fileA(), &newDb) != KvoSrvCompareResult::kOk) return kFailed;
    if (prepareSdiFile(cg, oldLib, files.fileB(), &oldDb) != KvoSrvCompareResult::kOk) return kFailed;
    const std::optional<std::string> newTitle = getDatabaseTitle(cg, newDb);
    if (!newTitle) return kFailed;
    const std::optional<std::string> oldTitle = getDatabaseTitle(cg, oldDb);
    if (!oldTitle) return kFailed;
    const std::string logo = kLogoLink + std::string(allDigits(newLib) ? "ID=" : "DB=") + newLib;

    std::unique_ptr<KvoOutput> ao = newKvoOutput(0);
    std::unique_ptr<KvoFormat> alf = ao ? newKvoHtmlFormat(ao.get()) : nullptr;
    if (!alf) {
        cg.setError(cg.msg(114, "kvosrvcompare/6"));
        return kFailed;
    }
    ao->kvoSetOutput(&cg, KVO_OUT_INTERNAL);
    const Value* cp = cg.valueList->findValue("CP");
    const bool codPod = cp && strcasecmp(cp->value.c_str(), "codpod") == 0;
    const Value* ddc = cg.valueList->findValue("DDC");
    std::unique_ptr<SdiCompare> cmp = newSdiCompare(*alf);
    if (!cmp) {
        cg.setError(cg.msg(115, "kvosrvcompare/7"));
        return kFailed;
    }
    cmp->documentType = classFilterOf(ddc ? &ddc->value : nullptr);
    // Side 1 is the older list: the second library's.
    const SdiCompareCode code =
        cmp->compareSdi(files.fileB(), files.fileA(), oldDb, newDb, *oldTitle, *newTitle, logo, codPod);
    if (code != SdiCompareCode::kOk) {
        cg.setError(cg.msg(116, "kvosrvcompare/8"), cmp->getError());
        return kFailed;
    }
    return KvoSrvCompareResult::kOk;
}

std::uint32_t classFilterOf(const std::string* ddc) {
    if (!ddc) return 0;
    std::uint32_t value = 0;
    for (size_t i = 0; i < ddc->size() && i < kClassDigitsMax; ++i) {
        const char c = (*ddc)[i];
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

}  // namespace ruva
