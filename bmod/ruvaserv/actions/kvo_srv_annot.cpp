#include "bmod/ruvaserv/actions/kvo_srv_annot.h"

#include <new>
#include <optional>
#include <utility>

#include "bmod/ruvaserv/actions/anno_record.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr int kIconAnnotHover = 15;  // zannchg
constexpr int kIconAnnot = 14;       // annchg, the button's own

std::string_view leadingDigitsAndDots(std::string_view text) {
    size_t n = 0;
    while (n < text.size() && (isAsciiDigit(static_cast<unsigned char>(text[n])) || text[n] == '.')) ++n;
    return text.substr(0, n);
}

// The inserter runs inside a page that is being served: its own failures
// must not turn into the page's error text.
class KeptError {
public:
    explicit KeptError(CgiHandler& cg) : cg_(cg), saved_(cg.getError()) {}
    ~KeptError() { cg_.setError("%s", saved_); }

private:
    CgiHandler& cg_;
    std::string saved_;
};

}  // namespace

int AnnotationMarks::checkNameAttr(std::string_view tag) {
    if (next_ >= annoFList_.size()) {
        currChapRef_.clear();
        return 0;
    }
    const size_t gt = tag.find('>');
    if (gt == std::string_view::npos) return 0;
    const std::string_view head = tag.substr(0, gt);
    const size_t name = findCaseBlind(head, 0, "name=");
    if (name == std::string_view::npos) return 0;
    std::string_view value = head.substr(name + 5);
    if (!value.empty() && value.front() == '"') value.remove_prefix(1);
    std::string ref;
    bool title = false;
    if (startsCaseBlindAt(value, 0, "CHAPTER")) {
        ref = leadingDigitsAndDots(value.substr(7));
    } else if (startsCaseBlindAt(value, 0, "TITLE")) {
        title = true;
        ref = "A";
        ref += leadingDigitsAndDots(value.substr(5));
    } else {
        return 0;
    }
    if (ref.size() > kChapRefMax) ref.resize(kChapRefMax);
    currChapRef_ = ref;
    // A member no heading carries (a typed "2.99") would otherwise stop the
    // walk there; the title stands before every chapter and passes none.
    if (!title) {
        while (next_ < annoFList_.size() && chapcmp(annoFList_[next_].szChapter, ref) < 0) ++next_;
    }
    if (next_ < annoFList_.size() && annoFList_[next_].szChapter == ref) {
        current_ = next_++;
        return 1;
    }
    if (ref != "A") return 0;
    currChapRef_ = "ALL";
    // The whole-document member is taken only while it is still the next
    // one: a second title anchor must not take a chapter's member.
    if (next_ < annoFList_.size() && annoFList_[next_].szChapter == "0") current_ = next_++;
    return 1;
}

int AnnotationMarks::insertAnnotGif(std::string_view an) {
    if (an == currChapRef_ || an == "ALL" || annoFList_.empty()) return 1;
    af_->formatAnnotationGif("gifURL", docname_, currChapRef_, annoFList_.front().szChapter);
    return 1;
}

int AnnotationMarks::insertAnnotationIfRequested(std::string_view fn, std::string_view an) {
    if (annoFList_.empty()) return 0;
    if (an != currChapRef_ && an != "ALL") return 1;
    const AnnoZip& member = annoFList_[current_];
    if (currChapRef_ == "ALL" && member.szChapter != "0") return 1;
    AnnoStruct as;
    {
        KeptError kept(*an_->cg);
        if (an_->getAnnotFile(member, &as) != AnnoRead::kFound) return 1;
    }
    af_->formatAnnotation(std::string(fn), as);
    return 1;
}

int AnnotationMarks::insertJavaScript() {
    af_->insertJavaScript();
    return 1;
}

int AnnotationMarks::insertButVariables() {
    ao_->kvoWrite("zannchg = new Image (34,34);\n    zannchg.src = \"");
    ao_->kvoPrintURL();
    ao_->kvoPrintf("VR=%s&AC=TBIMG&IM=%d\";\n", kSystemRevision, kIconAnnotHover);
    ao_->kvoWrite("    annchg = new Image (34,34);\n    annchg.src = \"");
    ao_->kvoPrintURL();
    ao_->kvoPrintf("VR=%s&AC=TBIMG&IM=%d\";\n    ", kSystemRevision, kIconAnnot);
    return 1;
}

int AnnotationMarks::insertButton() {
    ao_->kvoWrite("<td width=\"34\" valign=\"center\">\n\n<a href='javascript:openAnEd(\"");
    ao_->kvoPrintURL();
    ao_->kvoWrite("AC=ANNOED&AN=NEW\")' ");
    ao_->kvoPrintf(
        "onMouseOver=\"chg('annot','zannchg'); status='%s'; return true; \" "
        "onMouseOut=\"chg('annot','annchg')\">"
        "<img width=\"34\" height=\"34\" border=\"0\" src=\"",
        getTextStr(3));
    ao_->kvoPrintURL();
    ao_->kvoPrintf("VR=%s&AC=TBIMG&IM=%d\" name=\"annot\" alt=\"%s\" /></a>\n</TD>\n", kSystemRevision,
                   kIconAnnot, getTextStr(4));
    return 1;
}

std::unique_ptr<KvoSrvAnnot> newKvoSrvAnnot(std::string_view docname, CgiHandler& cg) {
    std::unique_ptr<AnnotationMarks> marks(new (std::nothrow) AnnotationMarks(docname));
    if (!marks) return nullptr;
    marks->ao_ = newKvoOutput(0);
    if (marks->ao_) marks->ao_->kvoSetOutput(&cg, KVO_OUT_EXTERNAL);
    marks->an_ = newAnnotation(&cg);
    if (marks->ao_ && marks->an_) marks->af_ = newAnnotationFmt(marks->an_.get(), marks->ao_.get());
    if (!marks->af_) {
        marks->status = -2;
        return marks;
    }
    // The toolbar and metadata pages are no document names: they cost no
    // listing.
    marks->status = -1;
    if (checkAnnoDocName(marks->docname_) != 0) return marks;
    std::optional<std::vector<AnnoZip>> members;
    {
        KeptError kept(cg);
        members = marks->an_->getAnnotFiles(marks->docname_, false);
    }
    if (!members || members->empty()) return marks;
    marks->annoFList_ = std::move(*members);
    marks->status = 0;
    return marks;
}

}  // namespace ruva
