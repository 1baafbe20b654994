#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/mimetype.h"
#include "common/docmodel/class_ref_readers.h"
#include "common/docmodel/comment_tokens.h"
#include "common/net_util.h"
#include "common/text_view.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr std::string_view kHttpScheme = "http:/";
constexpr std::string_view kQzlScheme = "qzl:/";
constexpr size_t kLibNameTaken = 16;  // characters of an LI value compared
constexpr size_t kImageNameMax = 14;
constexpr size_t kAddedValueMax = 3071;

// A link ends at a quote, a blank or '>': searching on to the tag's '>'
// would run across script text and cost O(page) per link.
size_t linkEnd(std::string_view page, size_t from) {
    const size_t end = page.find_first_of(std::string_view("\"' \t\r\n>\0", 9), from);
    return end == std::string_view::npos ? page.size() : end;
}

// The value offset of field name ("ID=") in query, counted only at a field
// start (the query's start, after '&' or "&amp;"), so that TSL= is not SL=.
size_t fieldValue(std::string_view query, std::string_view name) {
    for (size_t at = 0; at < query.size();) {
        if (startsCaseBlindAt(query, at, name)) return at + name.size();
        const size_t amp = query.find('&', at);
        if (amp == std::string_view::npos) break;
        at = amp + 1;
        if (startsCaseBlindAt(query, at, "amp;")) at += 4;
    }
    return std::string_view::npos;
}

bool hasField(std::string_view query, std::string_view name) {
    return fieldValue(query, name) != std::string_view::npos;
}

std::string encodedValue(const std::string& value) {
    return urlEncode(URLMODE_ENCODE_SCRIPT, value.c_str(), kAddedValueMax);
}

// The name of a "?ac=image&amp;im=<name>" link, or npos.
size_t imageNameStart(std::string_view query) {
    if (!startsCaseBlindAt(query, 0, "ac=image&")) return std::string_view::npos;
    size_t at = 9;
    if (startsCaseBlindAt(query, at, "amp;")) at += 4;
    at += 3;  // "im="
    return at <= query.size() ? at : std::string_view::npos;
}

// Whether a library reference's product number and revision, joined,
// begin with the LI value.
bool referenceMatches(const std::vector<std::string>& refs, std::string_view name) {
    for (const std::string& ref : refs) {
        const size_t bar = ref.find('|');
        if (bar == std::string::npos) continue;
        const size_t bar2 = ref.find('|', bar + 1);
        const std::string identity =
            ref.substr(0, bar) + ref.substr(bar + 1, bar2 == std::string::npos ? bar2 : bar2 - bar - 1);
        if (startsCaseBlindAt(identity, 0, name)) return true;
    }
    return false;
}

}  // namespace

const CgiHandler::LinkState& CgiHandler::libraryReferences() {
    LinkState& state = linkState_;
    if (state.fileFetched) return state;
    // One attempt per request, whatever it gives: every LI link would ask again.
    state.fileFetched = true;
    if (!establishDefaultSession()) return state;
    std::unique_ptr<UzResponse> reply = sess->mllist(std::to_string(curId));
    const UzMlListEntry* entry = reply && reply->resultCode == 200 ? reply->mllist() : nullptr;
    if (!entry || !entry->filled()) return state;
    std::string idField = entry->ID;
    const std::string hash = hashID(idField.data());
    if (hash != "0") return state;
    std::optional<std::string> data = sess->getFileData(hash, "library-references.xml");
    if (!data) return state;
    state.libRefs = parseLibRefFile(*data);
    std::string title, id;
    extractLibTitleId(entry->comment, title, id);
    std::erase(title, ' ');
    state.libTitle = title;
    return state;
}

int CgiHandler::writeContextFields(std::string_view query, std::string_view sep) {
    const std::string s(sep);
    std::string sl;
    const size_t li = fieldValue(query, "LI=");
    if (li != std::string_view::npos && curId != 0 && !hasField(query, "SL=")) {
        const std::string_view name = query.substr(li, kLibNameTaken);
        const LinkState& refs = libraryReferences();
        if (!name.empty() && referenceMatches(refs.libRefs, name)) sl = refs.libTitle;
    }
    const bool noIm = !hasField(query, "IM=");
    if (!hasField(query, "UZ=") && sess && (flags & kCgiAllowUzOnUrl) &&
        !dstWriteBuf("UZ=" + makeAddrString(sess->iaddr, sess->port) + s))
        return 0;
    if (!hasField(query, "OP=") && options && !dstWriteBuf(formatChecked("OP=%x", options) + s)) return 0;
    if (!hasField(query, "ID=") && noIm && curId && !dstWriteBuf(formatChecked("ID=%d", curId) + s)) return 0;
    if (!hasField(query, "DB=") && noIm && !curDb.empty() && !dstWriteBuf("DB=" + encodedValue(curDb) + s))
        return 0;
    if (!sl.empty() && !dstWriteBuf("SL=" + encodedValue(sl) + s)) return 0;
    return 1;
}

int CgiHandler::httpPostProcess(size_t& so, bool inScript) {
    const std::string_view page(docBuf ? docBuf : "", docBuf ? docSize : 0);
    if (so > page.size() || !startsAt(page, so, "kivo")) return 1;
    const bool qzl = so >= kQzlScheme.size() && startsCaseBlindAt(page, so - kQzlScheme.size(), kQzlScheme);
    so += 4;
    const size_t end = linkEnd(page, so);
    const bool hasQuery = so < end && page[so] == '?';
    const std::string_view query = hasQuery ? page.substr(so + 1, end - so - 1) : std::string_view();

    if (options & kOptPlainFileLinks) {
        // Look back at most 16 characters: "href=" belongs to this link only
        // when the scheme follows it closely.
        const size_t back = dstOffs < 16 ? dstOffs : 16;
        const std::string_view written(dstBuf ? dstBuf + dstOffs - back : "", dstBuf ? back : 0);
        size_t href = std::string_view::npos;
        for (size_t at = 0; at + 5 <= written.size(); ++at)
            if (startsCaseBlindAt(written, at, "href=")) href = at;
        const size_t scheme = qzl ? urlProto.size() : kHttpScheme.size();
        if (href != std::string_view::npos) {
            dstOffs = dstOffs - back + href + 5;
        } else if (dstOffs >= scheme) {
            dstOffs -= scheme;
        }
        if (dstBuf && dstOffs < dstbufSize) dstBuf[dstOffs] = '\0';
        if (href != std::string_view::npos && !dstWriteBuf("\"")) return 0;
        if (!hasQuery) return 1;
        std::string_view value;
        const size_t fn = fieldValue(query, "FN=");
        if (fn != std::string_view::npos) value = query.substr(fn, query.find('&', fn) - fn);
        so = end;
        if (href == std::string_view::npos) return dstWriteBuf(value);
        // The link's own closing quote was replaced by the one written here.
        if (so < page.size() && (page[so] == '"' || page[so] == '\'')) ++so;
        return dstWriteBuf(value) && dstWriteBuf("\"") ? 1 : 0;
    }

    if (!dstWriteBuf(kivoServName)) return 0;
    if (!hasQuery) return 1;
    ++so;
    if (!dstWriteBuf("?")) return 0;
    const std::string_view sep = inScript ? "&" : "&amp;";
    const size_t image = imageNameStart(query);
    if (image != std::string_view::npos) {
        const size_t nameEnd = query.find_first_of("\"'", image);
        const std::string_view name = query.substr(image, nameEnd == std::string_view::npos ? nameEnd : nameEnd - image);
        const int icon = name.size() <= kImageNameMax ? imageMapping(std::string(name).c_str()) : 0;
        if (icon) {
            so += image + name.size();
            const std::string s(sep);
            return dstWriteBuf(formatChecked("VR=%s", kSystemRevision) + s + "AC=TBIMG" + s +
                               formatChecked("IM=%d", icon));
        }
    }
    if (startsCaseBlindAt(query, 0, "ac=toolbar")) return 1;
    return writeContextFields(query, sep);
}


std::string getURL(const CgiHandler& cg, std::string_view fileName) {
    const char* query = std::getenv("QUERY_STRING");
    std::string url = cg.urlProto + cg.kivoServName + "?" + (query ? query : "");
    if (!fileName.empty()) {
        const size_t fn = url.find("FN=");
        if (fn != std::string::npos) {
            const size_t value = fn + 3;
            const size_t valueEnd = std::min(url.find('&', value), url.size());
            const std::string_view old = std::string_view(url).substr(value, valueEnd - value);
            const size_t dot = old.rfind('.');
            const bool html = dot != std::string_view::npos && old.size() - dot - 1 == 4 &&
                              startsCaseBlindAt(old, dot + 1, "html");
            url = url.substr(0, value) + (html ? std::string(fileName) + url.substr(valueEnd) : "");
        }
    }
    if (url.size() > kGetUrlMax) url.resize(kGetUrlMax);
    // The address goes into a script string as well as into a page.
    std::string out;
    for (const unsigned char c : encodeURL(url.c_str())) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == '<' || c == '>' || c == '`')
            out += formatChecked("%%%02X", static_cast<unsigned>(c));
        else
            out += static_cast<char>(c);
    }
    if (out.size() > kGetUrlMax) {
        // Never leave half an escape at the cut.
        size_t cut = kGetUrlMax;
        const size_t pct = out.rfind('%', cut - 1);
        if (pct != std::string::npos && pct + 3 > cut) cut = pct;
        out.resize(cut);
    }
    return out;
}

}  // namespace ruva
