#include "bmod/ruvaserv/actions/annotation_fmt.h"

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/annotation.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "common/docmodel/docno.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr size_t kAnnoDocBufSize = 65536;
constexpr size_t kFormBufSize = 16384;
constexpr size_t kOkBufSize = 4096;

constexpr std::string_view kFontFamily = "helvetica, arial, sans-serif";

// Stored text between tags or in a double-quoted attribute.
std::string html(std::string_view text) {
    return escapeHtmlKeepEntities(text, false);
}
// In a single-quoted attribute.
std::string html1(std::string_view text) {
    return escapeHtmlKeepEntities(text, true);
}
std::string link(std::string_view value) {
    return encodeLinkValue(value);
}
// A script string's body inside a single-quoted attribute.
std::string scriptArg(std::string_view text) {
    return html1(escapeScriptString(text));
}

// The parts of a document file name as the edit links need them, the stem
// whole: "stem.rev.type"; a name without a type has none.
struct DocParts {
    std::string stem;
    std::string rev;
    std::optional<std::string> type;
};

DocParts docParts(std::string_view docname) {
    DocParts parts;
    const size_t first = docname.find('.');
    parts.stem = docname.substr(0, first);
    if (first == std::string_view::npos) return parts;
    const size_t second = docname.find('.', first + 1);
    parts.rev = docname.substr(first + 1, second == std::string_view::npos ? second : second - first - 1);
    if (second != std::string_view::npos) parts.type = std::string(docname.substr(second + 1));
    return parts;
}

// The number shown for a document; the whole name when it is not a
// document-number file name.
std::string displayNumber(const std::string& docname, std::string* rev) {
    std::string number;
    if (!filenameToDocno(docname.c_str(), &number, rev, nullptr)) {
        number = docname;
        if (rev) rev->clear();
    }
    return number;
}

std::string requestField(const KvoOutput& ao, const char* name) {
    return ao.cg && ao.cg->valueList ? valueOf(*ao.cg->valueList, name) : std::string();
}

// "&DB=…&ID=…" of the request's fields that are filled, link-encoded;
// separator between and before them.
std::string libraryFields(const KvoOutput& ao, std::string_view separator) {
    std::string out;
    for (const char* name : {"DB", "ID"}) {
        const std::string value = requestField(ao, name);
        if (value.empty()) continue;
        out += separator;
        out += name;
        out += '=';
        appendLinkValue(out, value);
    }
    return out;
}

std::string pageHead(std::string_view title, const std::string& docname) {
    std::string s = std::string(kXhtmlDoctype) + kXhtmlStartTag + "\n<head>\n";
    if (annoDocIsJapanese(docname))
        s += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-jp\" />\n";
    s += "<title>";
    s += title;
    return s + "</title>\n";
}

std::string styleSheet() {
    std::string s = "<style type=\"text/css\">\n";
    s += "body, td, th, input, textarea { font-family: ";
    s += kFontFamily;
    s += "; font-size: 10pt; }\n"
         "a:link, a:visited { color: #004499; }\na:hover { color: #ee4444; }\n"
         "th.annohead { text-align: left; background-color: #e8e8e8; }\n"
         "td.annorev { color: #ee4444; }\ntd.annotext { padding-bottom: 8px; }\n"
         "</style>\n";
    return s;
}

// The texts openAnEd's alerts read; the main page has them already.
std::string openerTexts() {
    std::string s = "var kvTexts = kvTexts || {};\n";
    for (int n : {22, 23, 24})
        s += "kvTexts[" + std::to_string(n) + "] = '" + escapeScriptString(getTextStr(n)) + "';\n";
    return s;
}

std::string_view section(std::string_view name) {
    return scriptSection(annotEditScriptFile(), name);
}

// The server address the edit form sends back, only where addresses may
// travel in links.
std::optional<std::string> serverField(const CgiHandler* cg) {
    if (!cg || !(cg->flags & kCgiAllowUzOnUrl)) return std::nullopt;
    return cg->sess ? makeAddrString(cg->sess->iaddr, cg->sess->port) : cg->docServAddr;
}

}  // namespace

AnnotationFmt::~AnnotationFmt() {
    if (ao) ao->kvoCloseOutput();
}

int AnnotationFmt::formatAnnotationGif(const std::string&, const std::string& docname,
                                       const std::string& chapRef, const std::string& firstChapRef) {
    const bool all = chapRef == "ALL";
    ao->kvoWrite("<a href=\"");
    ao->kvoPrintURL();
    ao->kvoWrite("FN=" + link(docname) + "&amp;AN=" + link(chapRef));
    if (!all)
        ao->kvoWrite("#CHAPTER" + link(chapRef));
    else if (firstChapRef != "0")
        ao->kvoWrite("#CHAPTER" + link(firstChapRef));
    ao->kvoWrite("\"><img src=\"");
    ao->kvoPrintURL();
    ao->kvoPrintf("AC=TBIMG&amp;IM=%d\" border=\"0\" align=\"right\" alt=\"%s\" /></a>", 1,
                  all ? "Show all annotations" : "Show this annotation");
    return 0;
}

int AnnotationFmt::formatEditURL(const std::string& docname, const std::string& chapter) {
    ao->kvoWrite("'javascript:openAnEd(\"");
    ao->kvoPrintURL();
    ao->kvoWrite(
        scriptArg("FN=" + link(docname) + "&AC=ANNOED&AN=" + link(chapter) + libraryFields(*ao, "&")));
    ao->kvoWrite("\")'");
    return 0;
}

int AnnotationFmt::formatAnnotation(const std::string& docname, const AnnoStruct& as) {
    ao->kvoWrite(
        "<table width=\"100%\" cellspacing=\"0\" cellpadding=\"4\" "
        "style=\"background-color: #fffce9; border: 1px solid #999999;\">\n<tr><td><b>" +
        html(as.header) + "</b> <font color=\"#808080\">" + html(as.user) +
        "</font></td>\n<td align=\"right\"><input type=\"button\" value=\"Edit\" "
        "title=\"Edit the Annotation. The modification time will also be saved.\" onclick=");
    formatEditURL(docname, as.chapter);
    ao->kvoWrite(" /></td></tr>\n<tr><td colspan=\"2\"><i>Comment:</i> " + html(as.date) +
                 "</td></tr>\n<tr><td colspan=\"2\">" + html(as.text) + "</td></tr>\n</table>\n");
    return 0;
}

int AnnotationFmt::formatAnnoTable(const std::string& docname, const std::vector<AnnoStruct>& list,
                                   const std::string&) {
    std::string number;
    if (!splitDocnoFilename(docname.c_str(), &number, nullptr, nullptr)) number = docname;
    const DocParts doc = docParts(docname);
    ao->kvoWrite(
        "<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"3\">\n"
        "<tr><td colspan=\"6\"><h3>Annotations&nbsp;for&nbsp;" +
        html(number) +
        "</h3></td></tr>\n<tr><th class=\"annohead\">Revision</th><th class=\"annohead\">Section</th>"
        "<th class=\"annohead\">Name/Signature</th><th class=\"annohead\">Header</th>"
        "<th class=\"annohead\">Last Modified</th><th class=\"annohead\"></th></tr>\n");
    if (list.empty()) {
        ao->kvoWrite("<tr><td colspan=\"6\">No annotations made for this document.</td></tr>\n</table>\n");
        return 0;
    }
    const AnnoStruct* previous = nullptr;
    for (const AnnoStruct& as : list) {
        std::string row = "<tr><td class=\"annorev\">";
        if (!previous || !annoNamesEqual(previous->docrev, as.docrev)) {
            // The anchor lets showAnn land on the revision's rows.
            const bool current = annoNamesEqual(as.docrev, doc.rev);
            row += "<a name=\"rev" + link(as.docrev) + "\"></a><font color=\"#ee4444\">";
            row += current ? "<b>" + html(as.docrev) + "</b>" : html(as.docrev);
            row += "</font>";
        }
        previous = &as;
        row += "</td><td>";
        if (as.chapter.empty() || as.chapter[0] != '0') row += html(as.chapter);
        row += "</td><td>" + html(as.user) + "</td><td><a href=\"";
        ao->kvoWrite(row);
        ao->kvoPrintURL();
        std::string target = doc.stem + "." + as.docrev;
        if (doc.type) target += "." + *doc.type;
        ao->kvoWrite("FN=" + link(docname) + "#CHAPTER" + link(as.chapter) + "\">" + html(as.header) +
                     "</a></td>\n<td>" + html(as.date) +
                     "</td><td><input type=\"button\" value=\"Edit\" onclick='openAnEd(\"" +
                     scriptArg("qzl:/kivo?FN=" + link(target) + "&AC=ANNOED&AN=" + link(as.chapter)) +
                     "\")' /></td></tr>\n<tr><td></td><td valign=\"top\"><i>Comment:</i></td>"
                     "<td colspan=\"4\" class=\"annotext\">" +
                     html(as.text) + "</td></tr>\n");
    }
    ao->kvoWrite("</table>\n");
    return 0;
}

int AnnotationFmt::getAnnotationDoc(const std::string& docname, const std::string& gifURL) {
    std::optional<std::vector<AnnoStruct>> list = an->getAnnotations(docname, true);
    if (!list) return 1;
    const std::string number = displayNumber(docname, nullptr);
    if (ao->kvoOpenOutput(kAnnoDocBufSize) != kKvoOpenOk) return 1;
    ao->kvoWrite(pageHead("Annotations for " + html(number), docname) + styleSheet());
    insertJavaScript();
    // The toolbar's bookmark menu stays open over the frames until a click
    // elsewhere closes it.
    ao->kvoWrite(
        "</head>\n<body bgcolor=\"#FFFFFF\" "
        "onmousedown=\"try{if(top.kivotbar&amp;&amp;top.kivotbar.closeBmMenu)"
        "top.kivotbar.closeBmMenu();}catch(e){}\">\n");
    formatAnnoTable(docname, *list, gifURL);
    ao->kvoWrite("</body></html>\n");
    return 0;
}

int AnnotationFmt::getUpdateForm(const std::string& docname, const std::string& chapter,
                                 const AnnoStruct* as) {
    std::string rev;
    const std::string number = displayNumber(docname, &rev);
    const std::string today = an->annoDate();
    AnnoStruct record;
    bool exists = as != nullptr;
    std::string version(kAnnoNoVersion);
    if (as) {
        record = *as;
        if (!an->memberVersion().empty()) version = an->memberVersion();
    } else {
        switch (an->getAnnotation(docname, chapter, &record)) {
            case AnnoRead::kFailed:
                return 1;
            case AnnoRead::kFound:
                exists = true;
                version = an->memberVersion();
                break;
            case AnnoRead::kAbsent:
                // A new one keeps the chapter asked for when it could be
                // stored there ("NEW" from the toolbar cannot).
                record = AnnoStruct();
                if (checkAnnoChapter(docname, chapter, true) == 0) record.chapter = chapter;
                break;
        }
    }
    if (ao->kvoOpenOutput(kFormBufSize) != kKvoOpenOk) return 1;
    std::string s = pageHead("Edit Annotation for " + html(number) + " " + html(rev), docname);
    s += "<script type=\"text/javascript\">\n<!--\n";
    if (as) {
        s += "alert(\"An annotation already exists for this chapter or document. Both texts are shown; "
             "Replace will replace the stored annotation.\");\n";
    }
    s += section("frame");
    s += section("form");
    s += "//-->\n</script>\n" + styleSheet() + "</head>\n<body bgcolor=\"#FFFFFF\">\n";
    s += "<form name=\"edannot\" action=\"qzl:/kivo\" method=\"post\" onsubmit=\"return validate();\">\n";
    s += std::string("<input type=\"hidden\" name=\"AC\" value=\"") + (exists ? "ANNOUP" : "ANNOCR") +
         "\" />\n";
    if (const std::optional<std::string> uz = serverField(ao->cg))
        s += "<input type=\"hidden\" name=\"UZ\" value=\"" + html(*uz) + "\" />\n";
    s += "<input type=\"hidden\" name=\"FN\" value=\"" + html(docname) + "\" />\n";
    s += "<input type=\"hidden\" name=\"AV\" value=\"" + html(version) + "\" />\n";
    s += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"3\">\n";
    s += "<tr><td>Name/Signature:</td><td><input type=\"text\" name=\"AU\" size=\"30\" maxlength=\"30\" "
         "value=\"" +
         html(record.user) + "\" />&nbsp;Date:&nbsp;" + today + "</td></tr>\n";
    s += "<tr><td>Header:</td><td><input type=\"text\" name=\"AH\" size=\"50\" maxlength=\"250\" value=\"" +
         html(record.header) +
         "\" />&nbsp;<input type=\"button\" value=\"Show Document\" onclick='showDoc(\"" +
         scriptArg("qzl:/kivo?FN=" + link(docname) + libraryFields(*ao, "&amp;")) + "\")' /></td></tr>\n";
    if (exists) {
        s += "<tr><td>Attached&nbsp;to&nbsp;section:</td><td>" + html(record.chapter) +
             "<input type=\"hidden\" name=\"AN\" value=\"" + html(record.chapter) + "\" /></td></tr>\n";
    } else {
        s += "<tr><td>Attach&nbsp;to&nbsp;section:</td><td><input type=\"text\" name=\"AN\" size=\"10\" "
             "maxlength=\"10\" value=\"" +
             html(record.chapter) + "\" /></td></tr>\n";
    }
    // The parser drops one line end right after the start tag: a text that
    // begins with one keeps it.
    s += "<tr><td colspan=\"2\">Enter&nbsp;your&nbsp;comments&nbsp;here:<br />\n"
         "<textarea name=\"AT\" rows=\"10\" cols=\"80\">\n" +
         html(record.text) + "</textarea></td></tr>\n</table>\n";
    s += std::string("<input type=\"submit\" value=\"") + (as ? "Replace" : "Save") + "\" />\n";
    if (exists) {
        s += "<input type=\"button\" value=\"Remove\" onclick='location.href=\"" +
             scriptArg("qzl:/kivo?AC=ANNORM&FN=" + link(docname) + "&AN=" + link(record.chapter) +
                       "&AV=" + link(version)) +
             "\"' />\n";
    }
    s += "<input type=\"button\" value=\"Cancel\" onclick=\"window.close()\" />\n</form>\n</body></html>\n";
    ao->kvoWrite(s);
    ao->kvoCloseOutput();
    return 0;
}

int AnnotationFmt::insertJavaScript() {
    ao->kvoWrite("<script type=\"text/javascript\">\n<!--\n" + openerTexts() + std::string(section("open")) +
                 "//-->\n</script>\n");
    return 0;
}

int AnnotationFmt::generateOKresponse() {
    if (ao->kvoOpenOutput(kOkBufSize) != kKvoOpenOk) return 1;
    ao->kvoWrite(std::string(kXhtmlDoctype) + kXhtmlStartTag +
                 "\n<head>\n<title>Edit Annotation OK</title>\n</head>\n<body bgcolor=\"#FFFFFF\">\n"
                 "<script type=\"text/javascript\">\n<!--\n" +
                 std::string(section("frame")) + std::string(section("ok")) +
                 "//-->\n</script>\n<p>Action done</p>\n</body></html>\n");
    ao->kvoCloseOutput();
    return 0;
}

std::unique_ptr<AnnotationFmt> newAnnotationFmt(Annotation* an, KvoOutput* ao) {
    if (!an || !ao) return nullptr;
    return std::unique_ptr<AnnotationFmt>(new (std::nothrow) AnnotationFmt(an, ao));
}

}  // namespace ruva
