// The five annotation requests: the annotations page (ANNOTS), the edit
// form (ANNOED), and the create, update and remove of one annotation
// (ANNOCR, ANNOUP, ANNORM). Names are checked before anything is sent: the
// daemon reads wildcards, blanks and a leading '-' in them as patterns,
// separators and options.
#include <strings.h>

#include <memory>
#include <string>

#include "bmod/ruvaserv/actions/annotation.h"
#include "bmod/ruvaserv/actions/annotation_fmt.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "common/docmodel/docno.h"

namespace ruva {

namespace {

constexpr time_t kAnnoExpirePeriod = 1;

bool is(const std::string& word, const char* name) {
    return strcasecmp(word.c_str(), name) == 0;
}

// The page, failed or not, is an HTML page that is not kept.
struct AnnotPageType {
    explicit AnnotPageType(CgiHandler& cg) : cg(cg) {}
    ~AnnotPageType() {
        cg.mimeType = "text/html";
        cg.mimeFilename = "annotupd.html";
        cg.expirePeriod = kAnnoExpirePeriod;
    }
    CgiHandler& cg;
};

class AnnotRequest {
public:
    AnnotRequest(CgiHandler& cg, const std::string& word) : cg(cg), word(word) {}

    int run();

private:
    std::string field(const char* name) const { return valueOf(*cg.valueList, name); }
    int fail(int message, const char* tag) {
        cg.setError(cg.msg(message, tag));
        return 0;
    }
    // The store's message when it set one, else message/tag.
    int failWith(int message, const char* tag) {
        if (cg.getError().empty()) cg.setError(cg.msg(message, tag));
        return 0;
    }
    int store(bool createNew);
    int remove();
    int done(int message, const char* tag);

    CgiHandler& cg;
    const std::string& word;
    std::unique_ptr<KvoOutput> ao;
    std::unique_ptr<Annotation> an;
    std::unique_ptr<AnnotationFmt> af;
    std::string fn;
    std::string an_;  // AN
    std::string rev;
};

int AnnotRequest::run() {
    // With the switch off, crafted addresses would still write to the
    // shared archive.
    if (!(cg.flags & kCgiUseAnnotation)) return fail(466, "annotact/17");
    ao = newKvoOutput(0);
    if (!ao) return fail(127, "annotact/1");
    an = newAnnotation(&cg);
    if (!an) return fail(128, "annotact/2");
    af = newAnnotationFmt(an.get(), ao.get());
    if (!af) return fail(129, "annotact/3");
    ao->kvoSetOutput(&cg, KVO_OUT_INTERNAL);

    fn = field("FN");
    if (fn.empty()) return fail(130, "annotact/4");
    switch (checkAnnoDocName(fn)) {
        case 0:
            break;
        case kAnnoMsgNotDocument:
            return fail(kAnnoMsgNotDocument, "annotact/16");
        default:
            return fail(kAnnoMsgBadName, "annotact/14");
    }
    if (!filenameToDocno(fn.c_str(), nullptr, &rev, nullptr)) rev.clear();

    if (is(word, "ANNOTS")) return af->getAnnotationDoc(fn, "") == 0 ? 1 : failWith(131, "annotact/5");

    const bool create = is(word, "ANNOCR");
    an_ = field("AN");
    if (create) {
        if (an_.empty() || an_[0] == ' ') an_ = "0";
    } else if (an_.empty()) {
        return fail(132, "annotact/6");
    }
    const bool update = is(word, "ANNOUP");
    if (checkAnnoChapter(fn, an_, create || update) != 0) return fail(kAnnoMsgBadChapter, "annotact/15");

    if (is(word, "ANNOED")) return af->getUpdateForm(fn, an_, nullptr) == 0 ? 1 : failWith(131, "annotact/5");
    if (is(word, "ANNORM")) return remove();
    if (!create && !update) return fail(139, "annotact/13");
    if (field("AU").empty()) return fail(134, "annotact/8");
    if (field("AH").empty()) return fail(136, "annotact/10");
    return store(create);
}

int AnnotRequest::store(bool createNew) {
    AnnoStruct as = newAnnoStruct(field("AH"), field("AU"), field("AT"), an_, an->annoDate(), an->annoTime(),
                                  rev, "HTMLTEXT", annoDocIsJapanese(fn));
    const std::string version = field("AV");
    // A form carries the version it was built from; a request without one
    // is not checked.
    const int result =
        an->putAnnotation(fn, as, createNew, !createNew && !version.empty() ? &version : nullptr);
    if (result == kAnnoFailed) return 0;
    if (result == kAnnoJoined) return af->getUpdateForm(fn, an_, &as) == 0 ? 1 : failWith(131, "annotact/5");
    return createNew ? done(137, "annotact/11") : done(138, "annotact/12");
}

int AnnotRequest::remove() {
    const std::string version = field("AV");
    const int result = an->removeAnnotation(fn, an_, version.empty() ? nullptr : &version);
    if (result == kAnnoChanged) return fail(469, "annotact/18");
    if (result != kAnnoDone) return 0;
    return done(133, "annotact/7");
}

int AnnotRequest::done(int message, const char* tag) {
    if (af->generateOKresponse() != 0) return fail(message, tag);
    return 1;
}

}  // namespace

int KivoHandler::annotAction(const std::string& word) {
    if (!cg || !cg->valueList) return 0;
    AnnotPageType type(*cg);
    return AnnotRequest(*cg, word).run();
}

}  // namespace ruva
