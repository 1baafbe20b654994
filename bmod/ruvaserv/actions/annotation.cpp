#include "bmod/ruvaserv/actions/annotation.h"

#include <algorithm>
#include <array>
#include <new>
#include <unordered_set>
#include <utility>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/html_escape.h"
#include "common/string_format.h"
#include "common/text.h"

namespace ruva {

namespace {

constexpr int kCodeOk = 200;
constexpr int kCodeBeingUpdated = 577;
constexpr int kCodeRemoved = 578;

// Put between a stored text and a new one when both are offered together.
constexpr std::string_view kTextSeparator = "\r\n- - - - -\r\n";

const std::string kArchive(kAnnoArchive);

// The member straight into the store's buffer, refused above the bound
// whatever the listing said: the reply decides how much comes.
class BoundedSink : public UzMemberSink {
public:
    explicit BoundedSink(std::string& buffer) : buffer_(buffer) {}
    char* room(size_t size) override {
        if (size > kAnnoMemberMax) return nullptr;
        buffer_.assign(size, '\0');
        return buffer_.data();
    }

private:
    std::string& buffer_;
};

std::string foldedName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = static_cast<char>(asciiUpper(static_cast<unsigned char>(c)));
    return folded;
}

void appendText(AnnoStruct& as, std::string_view stored) {
    std::string joined(stored);
    if (!stored.empty() && !as.text.empty()) joined += kTextSeparator;
    joined += as.text;
    as.text = std::move(joined);
}

std::string stamp(time_t t, bool date) {
    struct tm parts {};
    if (!localtime_r(&t, &parts)) return date ? "0000-00-00" : "00:00:00";
    if (date) {
        return format("%04u-%02u-%02u", static_cast<unsigned>(parts.tm_year + 1900),
                      static_cast<unsigned>(parts.tm_mon + 1), static_cast<unsigned>(parts.tm_mday));
    }
    return format("%02u:%02u:%02u", static_cast<unsigned>(parts.tm_hour), static_cast<unsigned>(parts.tm_min),
                  static_cast<unsigned>(parts.tm_sec));
}

// A member's record as newAnnoStruct makes it: the text cut, the fixed
// fields forced.
AnnoStruct recordOf(std::string_view bytes, std::string_view member) {
    const AnnoStruct read = decodeAnnoRecord(bytes);
    return newAnnoStruct(read.header, read.user, read.text, read.chapter, read.date, read.time, read.docrev,
                         read.type, annoDocIsJapanese(member));
}

// A library being updated or removed (577, 578) is reported as such: the
// archive is there, only not now.
bool reportedUnavailable(CgiHandler& cg, const UzResponse* reply) {
    if (!reply || (reply->resultCode != kCodeBeingUpdated && reply->resultCode != kCodeRemoved)) return false;
    const bool removed = reply->resultCode == kCodeRemoved;
    cg.setError(removed ? cg.msg(8, "annotation/11") : cg.msg(7, "annotation/10"),
                htmlEscaped(libraryOfReply(reply->resultMessage)));
    return true;
}

// A listing's reply that cannot be used sets the reason.
bool listingAnswered(CgiHandler& cg, const UzResponse* reply) {
    if (reportedUnavailable(cg, reply)) return false;
    if (!reply || reply->resultCode != kCodeOk) {
        cg.setError(cg.msg(141, "annotation/2"), cg.sess->getServerAddr(), replyReason(*cg.sess, reply));
        return false;
    }
    return true;
}

}  // namespace

int addToAnnoZipList(std::vector<AnnoZip>& list, std::string_view name, size_t usize) {
    try {
        AnnoZip entry{std::string(name), annoChapterOf(name), usize};
        auto at = list.end();
        if (!list.empty()) {
            if (chapcmp(entry.szChapter, list.front().szChapter) < 0) {
                at = list.begin();
            } else {
                // The list stays sorted: the first later entry not below
                // the new one is found by halves, not by a walk per entry.
                at = std::lower_bound(list.begin() + 1, list.end(), entry,
                                      [](const AnnoZip& later, const AnnoZip& added) {
                                          return chapcmp(later.szChapter, added.szChapter) < 0;
                                      });
            }
        }
        list.insert(at, std::move(entry));
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

AnnoStruct newAnnoStruct(std::string_view header, std::string_view user, std::string_view text,
                         std::string_view chapter, std::string_view date, std::string_view time,
                         std::string_view docrev, std::string_view type, bool eucJp) {
    AnnoStruct as;
    as.header = header;
    as.user = user;
    as.text = text.substr(0, annoTextCut(text, eucJp));
    as.chapter = chapter;
    as.date = date;
    as.time = time;
    as.docrev = docrev;
    as.type = type;
    return as;
}

std::string annoDateOf(time_t t) {
    return stamp(t, true);
}
std::string annoTimeOf(time_t t) {
    return stamp(t, false);
}

std::unique_ptr<Annotation> newAnnotation(CgiHandler* cg) {
    if (!cg) return nullptr;
    return std::unique_ptr<Annotation>(new (std::nothrow) Annotation(cg));
}

std::string Annotation::annoDate() {
    if (!clock_) clock_ = ::time(nullptr);
    return annoDateOf(*clock_);
}

std::string Annotation::annoTime() {
    if (!clock_) clock_ = ::time(nullptr);
    return annoTimeOf(*clock_);
}

bool Annotation::haveSession(int message, const char* tag) {
    if (cg->establishDefaultSession() && cg->sess) return true;
    // The session's own reason (refused, unreachable) says more.
    if (cg->getError().empty()) cg->setError(cg->msg(message, tag));
    return false;
}

bool Annotation::checkDocName(const std::string& docname) {
    const int message = checkAnnoDocName(docname);
    if (message == 0) return true;
    cg->setError(cg->msg(message, message == kAnnoMsgNotDocument ? "annotation/12" : "annotation/13"));
    return false;
}

bool Annotation::checkChapter(const std::string& docname, const std::string& chapter) {
    if (checkAnnoChapter(docname, chapter, false) == 0) return true;
    cg->setError(cg->msg(kAnnoMsgBadChapter, "annotation/14"));
    return false;
}

std::vector<std::string> Annotation::getAnnotationList(const std::string& docname) {
    std::vector<std::string> chapters;
    if (auto members = getAnnotFiles(docname, false)) {
        for (AnnoZip& member : *members) chapters.push_back(std::move(member.szChapter));
    }
    return chapters;
}

std::optional<std::vector<AnnoZip>> Annotation::getAnnotFiles(const std::string& docname, bool allRevs) {
    if (!checkDocName(docname) || !haveSession(140, "annotation/1")) return std::nullopt;
    std::unique_ptr<UzResponse> reply = cg->sess->contv(kAnnoArchive, annoListPattern(docname, allRevs));
    if (!listingAnswered(*cg, reply.get())) return std::nullopt;
    std::vector<AnnoZip> members;
    // Several "annot.anx" libraries may list one name: the first is the one
    // RETR of that name gives.
    std::unordered_set<std::string> seen;
    for (const UzContEntry* entry = reply->cont(); entry && entry->filled(); entry = entry->next.get()) {
        if (entry->database->empty() || entry->filename.empty() || !annoMemberNameOk(entry->filename))
            continue;
        if (!seen.insert(foldedName(entry->filename)).second) continue;
        if (!addToAnnoZipList(members, entry->filename, entry->usize)) {
            cg->setError(cg->msg(142, "annotation/3"), cg->sess->getError(), htmlEscaped(*entry->database),
                         htmlEscaped(entry->filename));
            return std::nullopt;
        }
    }
    return members;
}

AnnoRead Annotation::getAnnotation(const std::string& docname, const std::string& chapter, AnnoStruct* as) {
    if (!checkDocName(docname) || !checkChapter(docname, chapter)) return AnnoRead::kFailed;
    return getAnnotFile(annoMemberName(docname, chapter), as);
}

AnnoRead Annotation::getAnnotFile(const std::string& name, AnnoStruct* as) {
    if (!annoMemberNameOk(name)) {
        cg->setError(cg->msg(kAnnoMsgBadChapter, "annotation/14"));
        return AnnoRead::kFailed;
    }
    std::string file = name;
    bool missing = false;
    if (!cg->retrieveFile(kArchive, file, &missing)) {
        if (!missing) return AnnoRead::kFailed;
        cg->setError(nullptr);
        memberVersion_ = kAnnoNoVersion;
        return AnnoRead::kAbsent;
    }
    const std::string_view bytes =
        cg->docBuf ? std::string_view(cg->docBuf, cg->docSize) : std::string_view();
    memberVersion_ = annoVersionOf(bytes);
    if (as) *as = recordOf(bytes, name);
    return AnnoRead::kFound;
}

AnnoRead Annotation::getAnnotFile(const AnnoZip& member, AnnoStruct* as) {
    if (!retrieveFile(member.szFName, member.usize)) return AnnoRead::kFailed;
    if (as) *as = recordOf(buffer_, member.szFName);
    return AnnoRead::kFound;
}

bool Annotation::retrieveFile(const std::string& name, size_t usize) {
    buffer_.clear();
    if (usize > kAnnoMemberMax) {
        cg->setError(cg->msg(147, "annotation/8"), static_cast<unsigned long>(usize));
        return false;
    }
    if (!annoMemberNameOk(name)) {
        cg->setError(cg->msg(kAnnoMsgBadChapter, "annotation/14"));
        return false;
    }
    if (!haveSession(140, "annotation/1")) return false;
    BoundedSink sink(buffer_);
    std::unique_ptr<UzResponse> reply = cg->sess->retrMem(kAnnoArchive, literalMemberName(name), sink);
    const UzRetrEntry* entry = reply ? reply->retr() : nullptr;
    if (reply && reply->resultCode == kCodeOk && entry && entry->filled() && entry->success) return true;
    buffer_.clear();
    if (reportedUnavailable(*cg, reply.get())) return false;
    cg->setError(cg->msg(148, "annotation/9"), replyReason(*cg->sess, reply.get()), htmlEscaped(name),
                 kArchive);
    return false;
}

std::optional<std::vector<AnnoStruct>> Annotation::getAnnotations(const std::string& docname, bool allRevs) {
    std::optional<std::vector<AnnoZip>> members = getAnnotFiles(docname, allRevs);
    if (!members) return std::nullopt;
    std::vector<AnnoStruct> records;
    records.reserve(members->size());
    for (const AnnoZip& member : *members) {
        AnnoStruct as;
        if (getAnnotFile(member, &as) != AnnoRead::kFound) return std::nullopt;
        records.push_back(std::move(as));
    }
    std::stable_sort(records.begin(), records.end(), [](const AnnoStruct& a, const AnnoStruct& b) {
        if (const int rev = annoRevCompare(a.docrev, b.docrev); rev != 0) return rev > 0;
        return chapcmp(a.chapter, b.chapter) < 0;
    });
    return records;
}

Annotation::Version Annotation::checkVersion(const std::string& member, const std::string& version) {
    if (!haveSession(140, "annotation/1")) return Version::kFailed;
    std::unique_ptr<UzResponse> reply = cg->sess->contv(kAnnoArchive, literalMemberName(member));
    if (!listingAnswered(*cg, reply.get())) return Version::kFailed;
    for (const UzContEntry* entry = reply->cont(); entry && entry->filled(); entry = entry->next.get()) {
        if (entry->database->empty() || !annoNamesEqual(entry->filename, member)) continue;
        const std::string listed = annoVersion(static_cast<uint32_t>(entry->crc));
        return annoNamesEqual(listed, version) ? Version::kCurrent : Version::kChanged;
    }
    return version == kAnnoNoVersion ? Version::kCurrent : Version::kChanged;
}

int Annotation::joinStored(const std::string& member, AnnoStruct& as) {
    AnnoStruct stored;
    switch (getAnnotFile(member, &stored)) {
        case AnnoRead::kFailed:
            return kAnnoFailed;
        case AnnoRead::kAbsent:
            return kAnnoJoined;
        case AnnoRead::kFound:
            appendText(as, stored.text);
            return kAnnoJoined;
    }
    return kAnnoFailed;
}

void Annotation::quitAfterUpdate() {
    // Its line comes once the daemon has refreshed its catalogue. A failed
    // QUIT leaves the update done.
    if (cg->sess) cg->sess->quit();
}

int Annotation::putAnnotation(const std::string& docname, AnnoStruct& as, bool createNew,
                              const std::string* version) {
    if (!checkDocName(docname)) return kAnnoFailed;
    if (!checkChapter(docname, as.chapter)) return kAnnoFailed;
    const std::string member = annoMemberName(docname, as.chapter);
    if (createNew) {
        AnnoStruct stored;
        switch (getAnnotFile(member, &stored)) {
            case AnnoRead::kFailed:
                return kAnnoFailed;
            case AnnoRead::kFound:
                appendText(as, stored.text);
                return kAnnoJoined;
            case AnnoRead::kAbsent:
                break;
        }
    } else if (version) {
        switch (checkVersion(member, *version)) {
            case Version::kFailed:
                return kAnnoFailed;
            case Version::kChanged:
                return joinStored(member, as);
            case Version::kCurrent:
                break;
        }
    }
    if (!haveSession(143, "annotation/4")) return kAnnoFailed;
    const std::array<std::string, kAnnoFieldCount> fields = annoRecordFields(as, annoDocIsJapanese(docname));
    std::array<std::string_view, kAnnoFieldCount> strings;
    std::copy(fields.begin(), fields.end(), strings.begin());
    std::unique_ptr<UzResponse> reply = cg->sess->updatafile(kAnnoArchive, member, strings);
    if (!reply || reply->resultCode != kCodeOk) {
        cg->setError(cg->msg(144, "annotation/5"), htmlEscaped(member), kArchive,
                     replyReason(*cg->sess, reply.get()));
        return kAnnoFailed;
    }
    quitAfterUpdate();
    return kAnnoDone;
}

int Annotation::removeAnnotation(const std::string& docname, const std::string& chapter,
                                 const std::string* version) {
    if (!checkDocName(docname)) return kAnnoFailed;
    if (!checkChapter(docname, chapter)) return kAnnoFailed;
    const std::string member = annoMemberName(docname, chapter);
    if (version) {
        switch (checkVersion(member, *version)) {
            case Version::kFailed:
                return kAnnoFailed;
            case Version::kChanged:
                return kAnnoChanged;
            case Version::kCurrent:
                break;
        }
    }
    if (!haveSession(145, "annotation/6")) return kAnnoFailed;
    std::unique_ptr<UzResponse> reply = cg->sess->rmfile(kAnnoArchive, member);
    if (!reply || reply->resultCode != kCodeOk) {
        cg->setError(cg->msg(146, "annotation/7"), replyReason(*cg->sess, reply.get()), htmlEscaped(member),
                     kArchive);
        return kAnnoFailed;
    }
    quitAfterUpdate();
    return kAnnoDone;
}

}  // namespace ruva
