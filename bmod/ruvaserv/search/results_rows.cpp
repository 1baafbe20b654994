// The document rows of the results page, grouped under library and search
// type headings, and the notes that close them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "bmod/ruvaserv/search/hit_comment.h"
#include "bmod/ruvaserv/search/results_page_parts.h"
#include "bmod/ruvaserv/search/results_scripts.h"
#include "common/docmodel/comment_tokens.h"
#include "common/docmodel/docno.h"
#include "common/docmodel/qox_doctype.h"
#include "common/eucjp.h"
#include "common/search_expr.h"
#include "common/string_list.h"

namespace ruva {

using namespace results_page;

namespace {

constexpr const char* kUnknownType = "ZUnknown";
// The search types whose rows never carry the match anchor.
constexpr unsigned long kNoAnchorTypes =
    OST_TITLE | OST_DOCNO | OST_CTW | OST_KEYWORD_LOGICAL | OST_FOLTITLE | OST_TOPICTITLE;

std::string documentKey(const UzQxSearchEntry& e) {
    std::string key = e.ID;
    key += '\0';
    key += e.filename;
    return key;
}

// Of the entries of one document in one library, those of lower search
// type than an earlier one go; with a sorted page only the highest type
// stays. Entries without a file name are kept.
std::vector<UzQxSearchEntry*> withoutDuplicates(const std::vector<UzQxSearchEntry*>& hits, bool sorted) {
    std::unordered_map<std::string, unsigned long> highest;
    std::vector<UzQxSearchEntry*> kept;
    kept.reserve(hits.size());
    for (UzQxSearchEntry* e : hits) {
        if (e->filename.empty()) {
            kept.push_back(e);
            continue;
        }
        auto [at, fresh] = highest.try_emplace(documentKey(*e), e->searchType);
        if (fresh || e->searchType >= at->second) {
            at->second = e->searchType;
            kept.push_back(e);
        }
    }
    if (!sorted) return kept;
    std::erase_if(kept, [&](const UzQxSearchEntry* e) {
        return !e->filename.empty() && e->searchType < highest.at(documentKey(*e));
    });
    return kept;
}

// The class number that groups rows: the file name's decimal class, or
// for a summary the search type's own negative number.
int classNumber(const UzQxSearchEntry& e, const std::string& decimalClass) {
    if (!e.filename.empty()) return std::atoi(decimalClass.c_str());
    switch (e.searchType) {
        case OST_BODYTEXT:
            return -1;
        case OST_TITLE:
            return -2;
        case OST_KEYWORD_LOGICAL:
        case OST_CTW:
            return -3;
        case OST_DOCNO:
            return -4;
        case OST_TOPICTITLE:
            return -5;
        default:
            return 0;
    }
}

// The first hit word of a list, "" for none.
std::string firstWord(const StringList* words) {
    return words != nullptr && words->first != nullptr ? words->first->value : std::string();
}

// The counts of the libraries' summaries by search type; keyword and
// topic-title notes share one place, the later type's.
struct Notes {
    std::int64_t body = 0;
    std::int64_t title = 0;
    std::int64_t docno = 0;
    std::int64_t keyword = 0;
    std::int64_t topic = 0;
    unsigned long shared = 0;  // OST_CTW or OST_TOPICTITLE once either came

    void add(unsigned long type, unsigned hits) {
        auto sum = [&](std::int64_t& into) {
            into = std::min(into + static_cast<std::int64_t>(hits), kShownCountMax);
        };
        switch (type) {
            case OST_BODYTEXT:
                sum(body);
                break;
            case OST_TITLE:
                sum(title);
                break;
            case OST_DOCNO:
                sum(docno);
                break;
            case OST_KEYWORD_LOGICAL:
            case OST_CTW:
                sum(keyword);
                shared = OST_CTW;
                break;
            case OST_TOPICTITLE:
                sum(topic);
                shared = OST_TOPICTITLE;
                break;
            default:
                break;
        }
    }

    void write(KvoFormat& fmt) const {
        auto note = [&](const std::string& text) {
            fmt.writeListingInterHeader(text.c_str(), kRefineSuffix, 0);
        };
        if (shared == OST_CTW)
            note(formatChecked("%d documents found in keyword search", shownCount(keyword)));
        if (shared == OST_TOPICTITLE)
            note(formatChecked("%d documents found in topic-title search", shownCount(topic)));
        if (title > 0) note(formatChecked("%d hits found in title search", shownCount(title)));
        if (docno > 0) note(formatChecked("%d documents found in document number search", shownCount(docno)));
        if (body > 0) note(formatChecked("%d documents found in body text search", shownCount(body)));
    }
};

// The library a row belongs to, as its heading and rows show it.
struct RowLibrary {
    std::string title;
    std::string libId;                  // the comment's identity, "" for none
    std::optional<std::string> dbname;  // its file name, for the rows' links
};

// Steps 9 and 10 of the page over one request: the rows in their groups,
// then the closing notes.
class RowsWriter {
public:
    RowsWriter(SearchResultFmt& sr, KivoHandler& handler, KvoFormat& fmt, PreparedResults& out,
               const std::optional<std::string>& SL)
        : sr_(sr), cg_(sr.cg), sd_(sr.sd), handler_(handler), fmt_(fmt), ao_(*fmt.ao), out_(out), SL_(SL) {}

    // 0 with message 55 set when a library lookup fails.
    int writeRows();
    void writeClosing();

private:
    int startLibrary(const UzQxSearchEntry& e);
    void writeRow(const UzQxSearchEntry& e, const std::string& decimalClass);
    void advancedRecap(int count);
    void patternLine(int count, const std::string& paor);
    void japaneseLines();
    std::string text(const char* name) const {
        const std::string* v = field(cg_, name);
        return v ? *v : std::string();
    }

    SearchResultFmt& sr_;
    CgiHandler& cg_;
    SearchData& sd_;
    KivoHandler& handler_;
    KvoFormat& fmt_;
    KvoOutput& ao_;
    PreparedResults& out_;
    const std::optional<std::string>& SL_;

    bool fullText_ = false;
    bool phrase_ = false;
    Notes notes_;
    RowLibrary library_;
    int librariesShown_ = 0;
    int pfr_ = 0;
    int colorChoice_ = 0;
    bool restartShading_ = true;
    std::string lastRowType_;
    bool bodyDivider_ = false;
    std::string pa_;  // PA as the request gave it, before the rows take PAOR's
};

int RowsWriter::startLibrary(const UzQxSearchEntry& e) {
    const LibraryAnswer& answer = sr_.lookups.mllist(cg_, e.ID);
    if (!answer.ok) {
        failedLookup(sr_, answer, "SearchResultFmt/4");
        return 0;
    }
    library_ = RowLibrary{};
    if (answer.hasEntry) extractLibTitleId(answer.comment, library_.title, library_.libId);
    if (!fullText_ && !library_.libId.empty()) {
        std::string title;
        library_.dbname = sr_.lookups.dbFromLI(handler_, "[" + library_.libId + "]", title);
    }
    if (headingsFollow(cg_, out_, SL_)) {
        if (!(fieldIs(cg_, "ST", "AdvSearch") && librariesShown_ == 0))
            ao_.kvoWrite("<tr><td height=\"2\" colspan=\"3\">&nbsp;</td></tr>\n");
        // The name matches the library table's link to it.
        const std::string shownId =
            library_.libId.empty() ? std::string("&quot;&quot;") : pageText(library_.libId);
        ao_.kvoWrite("<tr bgcolor=\"#e5e5e5\">\n");
        ao_.kvoWrite("<th class=\"c4\" colspan=\"2\" align=\"left\">\n");
        ao_.kvoPrintf("<b>&nbsp; <a name=\"%s|%s\">%s</a>&nbsp;</b></th>\n", pageText(e.ID), shownId,
                      escapeHtmlKeepEntities(library_.title, true));
        ao_.kvoPrintf("<th class=\"c4\" align=\"left\">%s</th></tr>\n", pageText(library_.libId));
    }
    ++librariesShown_;
    return 1;
}

void RowsWriter::writeRow(const UzQxSearchEntry& e, const std::string& decimalClass) {
    const std::string typeName = e.filename[0] == 'h'
                                     ? std::string("Folder")
                                     : getQoxDoctypeString(decimalClassToQoxDoctype(decimalClass.c_str()));
    if (restartShading_) {
        // Groups of unknown type run on in one shading.
        if (!(typeName == kUnknownType && lastRowType_ == kUnknownType)) colorChoice_ = 0;
        restartShading_ = false;
    }
    lastRowType_ = typeName;

    const HitComment comment = readHitComment(e.comment);
    std::string title = comment.title;
    const int ctwFlag = comment.ctw.empty() ? 0 : 1;
    if (ctwFlag) {
        title = comment.ctw + ": " + comment.title;
        cg_.highlightFlag = 1;
    }
    std::string tokens = " ";
    if (e.searchType == OST_KEYWORD_LOGICAL || e.searchType == OST_CTW)
        tokens = firstWord(e.keywords.get());
    else if (e.searchType == OST_TOPICTITLE)
        tokens = firstWord(e.topics.get());

    if (out_.options.find("#SearchMatch1") != std::string::npos && (e.searchType & kNoAnchorTypes) == 0)
        fmt_.flags |= kKvoFormatMatchAnchor;
    else
        fmt_.flags &= static_cast<std::uint16_t>(~kKvoFormatMatchAnchor);
    if (bodyDivider_ && e.searchType == OST_BODYTEXT) {
        ao_.kvoWrite(
            "<tr><td class=\"s2\"><hr /></td><td class=\"s2\" align=\"center\"><b>Hits in body text</b></td>"
            "<td class=\"s2\"><hr /></td></tr>\n");
        bodyDivider_ = false;
    }
    fmt_.writeDocRowSearch(
        e.ID.c_str(), library_.dbname ? library_.dbname->c_str() : nullptr, e.filename.c_str(),
        isDocSearch(cg_) ? 1 : 0, &pfr_, title.c_str(), comment.engTitle.c_str(), comment.subTitle.c_str(),
        e.synopsis.c_str(), static_cast<int>(e.searchType), colorChoice_, 0, static_cast<int>(sd_.searchType),
        SL_ ? SL_->c_str() : nullptr, typeName.c_str(),
        fullText_ ? sd_.searchPat.c_str() : sd_.searchPatTitle.c_str(),
        fullText_ ? nullptr : sd_.searchPatDocNo.c_str(), comment.extn.c_str(), tokens.c_str(), e.isKwd,
        e.isTopic, ctwFlag, library_.libId.empty() ? nullptr : library_.libId.c_str());
    colorChoice_ ^= 1;
}

int RowsWriter::writeRows() {
    fullText_ = isFullText(cg_);
    phrase_ = isPhraseSearch(cg_, sd_);
    bodyDivider_ = fullText_ && !out_.isSorted;
    pa_ = text("PA");
    // The list writer reads PA for the rows' links and marks.
    if (const std::string* paor = field(cg_, "PAOR")) {
        const std::string value = *paor;
        cg_.valueList->addValue("PA", value.c_str());
    }
    const std::vector<UzQxSearchEntry*> rows =
        fullText_ ? withoutDuplicates(out_.hits, out_.isSorted) : out_.hits;
    const std::string* previousLib = nullptr;
    int previousClass = 0;
    unsigned long previousType = 0;
    for (const UzQxSearchEntry* e : rows) {
        if (e->ID.empty()) continue;
        std::string decimalClass;
        if (!e->filename.empty())
            filenameToDocnoParts(e->filename.c_str(), nullptr, &decimalClass, nullptr, nullptr, nullptr,
                                 nullptr);
        const int number = classNumber(*e, decimalClass);
        const bool newLibrary = previousLib == nullptr || *previousLib != e->ID;
        if (newLibrary && !startLibrary(*e)) return 0;
        if (newLibrary || number != previousClass || e->searchType != previousType ||
            !out_.fIgnoreSearchType) {
            pfr_ = 1;
            restartShading_ = true;
        }
        previousLib = &e->ID;
        previousClass = number;
        previousType = e->searchType;
        if (e->actualHits > 0) {
            if (!phrase_) notes_.add(e->searchType, e->actualHits);
        } else if (!e->filename.empty()) {
            writeRow(*e, decimalClass);
        }
    }
    return 1;
}

void RowsWriter::advancedRecap(int count) {
    ao_.kvoWrite("<tr><td colspan=\"3\">\n");
    fmt_.writeHorizontalDivider();
    ao_.kvoWrite("</td></tr></table>");
    ao_.kvoPrintf(
        "<table cellspacing=\"0\" cellpadding=\"1\"><tr><td class=\"c4\" colspan=\"2\"><b> %d </b> documents "
        "found "
        "matching</td></tr>\n",
        count);
    if ((sd_.searchType & OST_BODYTEXT) && !pa_.empty()) {
        const std::string body = text("PAOR");
        if (body.find('"') != std::string::npos)
            ao_.kvoPrintf(
                "<tr><td class=\"sf\">document body text:</td><td class=\"c4\"><b> %s </b></td></tr>",
                pageText(body));
        else
            ao_.kvoWrite("<tr><td class=\"sf\">document body text:</td><td class=\"c4\"> " +
                         dispSearchPattern(body) + "</td></tr>");
    }
    if (const std::string pat = text("PAT"); !pat.empty()) {
        const std::string plain = phrase_ || field(cg_, "LLF") ? pat : operatorPlusMinusSupport(pat);
        ao_.kvoPrintf("<tr><td class=\"sf\">title:</td><td class=\"c4\"><b> %s </b>&nbsp;</td></tr>",
                      pageText(shownPattern(plain)));
    }
    if (const std::string pac = text("PAC"); !pac.empty())
        ao_.kvoPrintf("<tr><td class=\"sf\">keyword:</td><td class=\"c4\"><b> %s </b> &nbsp;</td></tr>",
                      pageText(shownPattern(pac)));
    if (const std::string pad = text("PAD"); !pad.empty())
        ao_.kvoPrintf(
            "<tr><td class=\"sf\">document identity:</td><td class=\"c4\"><b> %s </b> &nbsp;</td></tr>",
            pageText(shownPattern(pad)));
}

void RowsWriter::patternLine(int count, const std::string& paor) {
    ao_.kvoWrite("<tr><td class=\"c4\" colspan=\"4\">");
    fmt_.writeHorizontalDivider();
    if (paor.find('"') != std::string::npos) {
        if (sr_.edition.phraseNote && out_.docMatchCount > kPhraseNoteMin)
            fmt_.writeListingInterHeader(
                formatChecked("<b>%d</b> documents found containing the words from the phrase <b>%s</b>",
                              count, pageText(paor))
                    .c_str(),
                kRefineSuffix, 0);
        else
            ao_.kvoPrintf("<b>%d</b> hits were found with search phrase <b>%s</b>", count, pageText(paor));
    } else {
        const std::string& pastr = sd_.searchPat.empty() ? pa_ : sd_.searchPat;
        ao_.kvoPrintf("<b>%d</b> documents matching ", count);
        ao_.kvoWrite(dispSearchPattern(pastr));
    }
    if (fieldIs(cg_, "STB", "1")) {
        ao_.kvoWrite("<script type=\"text/javascript\">\n//<![CDATA[\n");
        ao_.kvoWrite(collectionSearchScript("results"));
        ao_.kvoWrite("//]]>\n</script>");
    }
    ao_.kvoWrite("</td></tr>\n");
}

void RowsWriter::japaneseLines() {
    const JapaneseNotice notice = japaneseNotice();
    ao_.kvoWrite("</table>\n<table>");
    ao_.kvoWrite("<tr><td>");
    ao_.kvoWrite("<tr><td class=\"ca\">" + notice.english + "</td></tr>");
    ao_.kvoWrite("<tr><td class=\"ca\">" + notice.japanese + "</td></tr>");
}

void RowsWriter::writeClosing() {
    notes_.write(fmt_);
    const int count = shownCount(out_.docMatchCount);
    if (sd_.isAdvanced)
        advancedRecap(count);
    else if (const std::string* paor = field(cg_, "PAOR"))
        patternLine(count, *paor);
    const char* pattern = sd_.searchPat.c_str();
    if ((sd_.searchType & OST_BODYTEXT) &&
        (strEUCHiragana(pattern) != nullptr || strEUCKanji(pattern) != nullptr))
        japaneseLines();
    ao_.kvoWrite("</table>\n</body>\n</html>");
}

}  // namespace

int SearchResultFmt::writeResultRows(KivoHandler& handler, KvoFormat& fmt, PreparedResults& out,
                                     const std::optional<std::string>& SL) {
    RowsWriter rows(*this, handler, fmt, out, SL);
    if (!rows.writeRows()) return 0;
    rows.writeClosing();
    return 1;
}

}  // namespace ruva
