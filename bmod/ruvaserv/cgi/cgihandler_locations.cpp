#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/docmodel/meta_scan.h"
#include "common/html_escape.h"
#include "common/text_view.h"
#include "common/url_code.h"

namespace ruva {

namespace {

// META slots of scanMetaData.
constexpr size_t kMetaDocName = 9;
constexpr size_t kMetaDocNo = 10;
constexpr size_t kMetaRev = 17;
constexpr size_t kMetaGenerator = 32;

constexpr size_t kPreviousPageSize = 8192;
constexpr std::string_view kTopAnchor = "<a name=\"TOP\">&nbsp;</a>";
constexpr std::string_view kTopAnchorBare = "<a name=TOP>&nbsp;</a>";

// A redirection's query: parts joined by one '&', each part whole or not at
// all, so that no field arrives cut or empty at the far end.
class QueryBuilder {
public:
    void add(std::string_view part) {
        if (part.empty()) return;
        const size_t sep = query_.empty() ? 0 : 1;
        if (query_.size() + sep + part.size() > kLocationQueryMax) return;
        if (sep) query_ += '&';
        query_ += part;
    }
    // name=value with the value coded for a query; nothing for an empty one.
    void field(std::string_view name, std::string_view value) {
        if (value.empty()) return;
        add(std::string(name) +
            urlEncode(URLMODE_ENCODE_SCRIPT, std::string(value).c_str(), kLocationQueryMax));
    }
    void fragment(std::string_view text) {
        if (text.empty() || query_.size() + 1 + text.size() > kLocationQueryMax) return;
        query_ += '#';
        query_ += text;
    }
    const std::string& text() const { return query_; }

private:
    std::string query_;
};

// Texts that go into the target as they are: a CR or LF would end the
// Location line and start a header of the request's choosing, a blank would
// end the address.
std::string controlsCoded(std::string_view text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x21 || c == 0x7F)
            out += formatChecked("%%%02X", static_cast<unsigned>(c));
        else
            out += static_cast<char>(c);
    }
    return out;
}

// opts may begin with '&' or hold empty fields; those would make "&&",
// which ends the front end's own field parsing.
std::string joinedOptions(std::string_view opts) {
    std::string out;
    for (size_t at = 0; at <= opts.size();) {
        const size_t end = std::min(opts.find('&', at), opts.size());
        if (end > at) {
            if (!out.empty()) out += '&';
            out += opts.substr(at, end - at);
        }
        at = end + 1;
    }
    return out;
}

std::string_view fieldText(const CgiHandler& cg, const char* name) {
    const Value* v = cg.valueList ? cg.valueList->findValue(name) : nullptr;
    return v ? std::string_view(v->value) : std::string_view();
}

// The daemon's address travels in URLs only with AllowUZonURL: the
// caller's, else the request's own UZ field.
void addServer(QueryBuilder& q, const CgiHandler& cg, std::string_view uz) {
    if (!(cg.flags & kCgiAllowUzOnUrl)) return;
    if (!uz.empty())
        q.add("UZ=" + controlsCoded(uz));
    else
        q.field("UZ=", fieldText(cg, "UZ"));
}

void writeLocation(CgiHandler& cg, std::string_view target) {
    if (cg.cgifile && !(cg.flags & kCgiResponseDone)) {
        const std::string line = "Location: " + std::string(target) + "\n\n";
        std::fwrite(line.data(), 1, line.size(), cg.cgifile);
        std::fflush(cg.cgifile);
    }
    cg.flags |= kCgiResponseDone;
}

// "?query" after the program's own address.
void redirectToProgram(CgiHandler& cg, const QueryBuilder& q) {
    writeLocation(cg, CgiHandler::headerValue(cg.urlProto + cg.kivoServName) + "?" + q.text());
}

}  // namespace

int CgiHandler::locationDbTop() {
    const Value* id = valueList->findValue("ID");
    const bool fromDb = id == nullptr;
    const Value* library = fromDb ? valueList->findValue("DB") : id;
    // The first file field present counts, even when it is empty.
    const Value* file = nullptr;
    if (library) {
        for (const char* name : {"FN", "TI", "CW"})
            if ((file = valueList->findValue(name)) != nullptr) break;
    }

    QueryBuilder q;
    addServer(q, *this, "");
    q.field("DT=", fieldText(*this, "DT"));
    if (library && file && !file->value.empty()) q.field(fromDb ? "DB=" : "ID=", library->value);
    q.add("AC=link");
    q.field("MP=", fieldText(*this, "MP"));
    options &= ~kOptBit8;
    q.add(formatChecked("OP=%x", options));
    redirectToProgram(*this, q);
    return 1;
}

int CgiHandler::locationDbFile(std::string_view uz, std::string_view dbID, std::string_view fn,
                               std::string_view opts) {
    std::string chapter;
    if (Value* ch = valueList->findValue("CH"); ch && !ch->value.empty()) {
        chapter = ch->value.substr(0, kCurChMax);
        valueList->removeValue(ch);
    }

    QueryBuilder q;
    addServer(q, *this, uz);
    q.field("VR=", fieldText(*this, "VR"));
    q.field("DT=", fieldText(*this, "DT"));
    if (!dbID.empty())
        q.field(dbID.find('.') != std::string_view::npos ? "DB=" : "ID=", dbID);
    else if (const std::string_view id = fieldText(*this, "ID"); !id.empty())
        q.field("ID=", id);
    else
        q.field("DB=", fieldText(*this, "DB"));
    q.field("FN=", fn);
    q.field("IX=", fieldText(*this, "IX"));
    if (const std::string_view sl = fieldText(*this, "SL"); !sl.empty()) q.add("SL=" + controlsCoded(sl));
    q.add("AC=LINK");
    if (options) q.add(formatChecked("OP=%x", options));
    q.add(controlsCoded(joinedOptions(opts)));
    q.fragment(controlsCoded(chapter));
    redirectToProgram(*this, q);
    return 1;
}

int CgiHandler::locationKivo(std::string_view uz) {
    QueryBuilder q;
    addServer(q, *this, uz);
    // kivoName holds urlProto already.
    writeLocation(*this, headerValue(kivoName) + (q.text().empty() ? "" : "?" + q.text()));
    return 1;
}

int CgiHandler::outputPrevious() {
    if (!allocDocBuf(kPreviousPageSize)) {
        setError(msg(214, "cgihandler/16"), static_cast<unsigned long>(kPreviousPageSize));
        return 0;
    }
    docSize = 0;
    // The toolbar frame may be missing when the page is opened on its own.
    if (!docPrintf("%s%s<head><title></title></head>"
                   "<body onload=\"if (top.kivotbar &amp;&amp; top.kivotbar.enableBut) "
                   "top.kivotbar.enableBut('b3'); window.history.go(-2);\">"
                   "</body></html>\n",
                   kXhtmlDoctype, kXhtmlStartTag)) {
        setError(msg(214, "cgihandler/16"), static_cast<unsigned long>(kPreviousPageSize));
        return 0;
    }
    flags |= kCgiWholePage;
    return 1;
}

int CgiHandler::writeMetaHeader(size_t& so) {
    const std::string_view page(docBuf ? docBuf : "", docBuf ? docSize : 0);
    // Most pages are not the generator's: one name's scan decides, not
    // the thirty of the whole table.
    if (scanMetaValue(page, kMetaGenerator).find("KIVOprod") == std::string::npos) return 1;
    std::array<std::string, kMetaSlots> meta;
    scanMetaData(meta, page);

    if (!dstWriteBuf("<p align=\"right\" class=\"IDENTITY\">")) return 0;
    size_t anchor = 0;
    if (startsCaseBlindAt(page, so, kTopAnchor))
        anchor = kTopAnchor.size();
    else if (startsCaseBlindAt(page, so, kTopAnchorBare))
        anchor = kTopAnchorBare.size();
    if (anchor) {
        if (!dstWriteBuf(kTopAnchor)) return 0;
        so += anchor;
    }
    // The values are HTML of the document: entities stay, markup becomes text.
    return dstPrintf(
        "<font size=\"2\">%s<br />%s %s</font><hr align=\"right\" size=\"1\" width=\"200\"></p>\n",
        escapeHtmlKeepEntities(meta[kMetaDocName], false), escapeHtmlKeepEntities(meta[kMetaDocNo], false),
        escapeHtmlKeepEntities(meta[kMetaRev], false));
}

}  // namespace ruva
