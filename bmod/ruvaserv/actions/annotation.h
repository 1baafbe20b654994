// The annotation store: annotations are members of the archive "annot.anx"
// on the document server, listed (CONTV), read (RETR), written (UPDFILE)
// and removed (RMFILE) over the request's default session. The front end
// keeps none of its own. One store lives for one request; the annotation
// action and the annotation marks of a document page each make one.
//
// Failures are reported through the request's setError with a message of
// the table; the caller decides whether the page shows it. "Failed" is
// never "absent": a library being updated (577) right after another
// user's save fails the read rather than passing for an empty archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/anno_record.h"

namespace ruva {

class CgiHandler;

// One annotation member as listed.
struct AnnoZip {
    std::string szFName;    // member name as the listing gives it
    std::string szChapter;  // annoChapterOf(szFName), kept whole however long
    size_t usize = 0;       // uncompressed size from the listing: a hint
};

// Inserts a listed member into list in chapter order: in front when its
// chapter sorts before the first entry's (chapcmp), else before the first
// later entry whose chapter is not below its own, else at the end. So an
// equal chapter goes behind the first entry and before older equal ones.
// 1, or 0 when memory runs out.
int addToAnnoZipList(std::vector<AnnoZip>& list, std::string_view name, size_t usize);

// A record of copies of the arguments: the text cut (annoTextCut with
// eucJp), version "1.0" and scope "G" whatever was read or given.
AnnoStruct newAnnoStruct(std::string_view header, std::string_view user, std::string_view text,
                         std::string_view chapter, std::string_view date, std::string_view time,
                         std::string_view docrev, std::string_view type, bool eucJp = false);

// Local date "YYYY-MM-DD" and time "hh:mm:ss" of t.
std::string annoDateOf(time_t t);
std::string annoTimeOf(time_t t);

enum class AnnoRead {
    kFound,
    kAbsent,  // no archive, or no such member: the error text is cleared
    kFailed,  // the error text says why
};

// Results of putAnnotation and removeAnnotation.
inline constexpr int kAnnoDone = 0;
inline constexpr int kAnnoFailed = -1;
// putAnnotation wrote nothing: the chapter holds an annotation already, or
// another one than the form was built from. The record's text is now the
// stored text, a separator and the new text, for the form to offer.
inline constexpr int kAnnoJoined = 101;
// removeAnnotation removed nothing: the member is not the version the
// form was built from (the caller reports message 469).
inline constexpr int kAnnoChanged = 102;

class Annotation {
public:
    explicit Annotation(CgiHandler* cg) : cg(cg) {}
    Annotation(const Annotation&) = delete;
    Annotation& operator=(const Annotation&) = delete;

    // Always 0.
    int isAnnotated() const { return 0; }

    // The chapters of docname's annotations in its own revision, in
    // chapter order; empty when there are none or the listing failed.
    std::vector<std::string> getAnnotationList(const std::string& docname);

    // docname's annotation members in chapter order: its own revision, or
    // with allRevs every revision. Empty when the listing named none; none
    // when it failed or docname is not a document file name (refused
    // before anything is sent). Members whose names fail annoMemberNameOk
    // are left out; of equal names (case-blind) the first listed is kept.
    std::optional<std::vector<AnnoZip>> getAnnotFiles(const std::string& docname, bool allRevs);

    // The stored annotation of docname's chapter, read through the
    // request's retrieval, which replaces the request's document buffer,
    // MIME type, library time and error text.
    AnnoRead getAnnotation(const std::string& docname, const std::string& chapter, AnnoStruct* as);
    // The member name through the request's retrieval, as getAnnotation.
    AnnoRead getAnnotFile(const std::string& name, AnnoStruct* as);
    // A listed member into this store's own buffer: never touches the
    // request's document buffer, so the annotation marks may read while the
    // page is copied out of it. kFound or kFailed.
    AnnoRead getAnnotFile(const AnnoZip& member, AnnoStruct* as);

    // Every annotation of docname (allRevs as getAnnotFiles), ordered by
    // revision descending (bytes, ASCII case-blind), then chapter
    // ascending, ties in listing order. Empty when there are none; none
    // when the listing or any member's read failed.
    std::optional<std::vector<AnnoStruct>> getAnnotations(const std::string& docname, bool allRevs);

    // Stores as in the member of docname's as.chapter: kAnnoDone,
    // kAnnoFailed (also for a docname that is not a document file name:
    // message 465), or kAnnoJoined when createNew is set and the member
    // exists, or when version (a form's AV) is given and the member is not
    // that version any more; memberVersion() is then the stored one's.
    // After the write the session says QUIT and waits for its line: the
    // daemon reads it once its catalogue is refreshed, so a reload then
    // sees the change. UPDFILE is never sent twice.
    int putAnnotation(const std::string& docname, AnnoStruct& as, bool createNew,
                      const std::string* version = nullptr);
    // Removes the member of docname's chapter: kAnnoDone, kAnnoFailed, or
    // kAnnoChanged when version is given and the member is not that version.
    // QUIT follows a removal as it follows a write.
    int removeAnnotation(const std::string& docname, const std::string& chapter,
                         const std::string* version = nullptr);

    // The version (AV) of the member last read by getAnnotFile through the
    // request, kAnnoNoVersion when it was absent; "" before any read.
    const std::string& memberVersion() const { return memberVersion_; }

    // Now's local date and time, both from one reading of the clock taken
    // at the first call of either.
    std::string annoDate();
    std::string annoTime();

    CgiHandler* cg;  // not owned

private:
    bool haveSession(int message, const char* tag);
    bool checkDocName(const std::string& docname);
    bool checkChapter(const std::string& docname, const std::string& chapter);
    // The own road: RETR of name into buffer_, at most kAnnoMemberMax
    // bytes whatever the listing said.
    bool retrieveFile(const std::string& name, size_t usize);
    // CONTV of the member: whether it is still the version given.
    enum class Version { kCurrent, kChanged, kFailed };
    Version checkVersion(const std::string& member, const std::string& version);
    // The stored text joined before as.text; kAnnoJoined or kAnnoFailed.
    int joinStored(const std::string& member, AnnoStruct& as);
    void quitAfterUpdate();

    std::string buffer_;
    std::string memberVersion_;
    std::optional<time_t> clock_;
};

// The store for the request cg; null when cg is null or memory runs out.
std::unique_ptr<Annotation> newAnnotation(CgiHandler* cg);

}  // namespace ruva
