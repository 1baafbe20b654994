// CHNGLANG: the library and document in another language. The page it
// writes holds one assignment of the values switchLib (js/language_switch.js)
// reads; that script reloads the frameset on the other library.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/error_argument.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/library_identity.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "common/docmodel/comment_tokens.h"
#include "common/docmodel/libid.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/quoting.h"
#include "common/text.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr size_t kSwitchPageSize = 5000;
// A coded value is at most three bytes per byte of a decoded field.
constexpr size_t kCodedValueMax = 3 * kFieldDecodeLimit;
// English libraries may be published under this prefix, or under none.
constexpr const char* kEnglishAlternative = "AE";
constexpr int kBeingUpdated = 577;
constexpr int kRemoved = 578;

// The request as the switch reads it (step 1 and 2).
struct SwitchRequest {
    std::string language;  // LU, upper case
    bool external = false;
    bool search = false;
    std::string library;   // ID, else DB
    std::string document;  // "" in search mode
};

// The library the new frameset opens.
struct SwitchTarget {
    std::string idString;  // "version|hash|name|" of its listing entry
    std::string hash;
    std::string database;
    std::string title;        // "" when not switched
    std::string lastPattern;  // the last MLLIST argument
    bool secondStart = false;
};

std::string upperCased(std::string text) {
    for (char& c : text) c = static_cast<char>(asciiUpper(static_cast<unsigned char>(c)));
    return text;
}

// The language code of a document name, looked for on an upper-cased copy:
// listings give names in lower case, and the code follows an upper-case 'U'.
bool findLanguageCode(const std::string& name, size_t& start, size_t& length) {
    return docidFindLanguageCode(upperCased(name).c_str(), &start, &length) == 1;
}

// The name with its language code replaced, the rest as given; unchanged
// when it has no code.
std::string replaceLanguageCode(const std::string& name, std::string_view code) {
    size_t start = 0;
    size_t length = 0;
    if (!findLanguageCode(name, start, length)) return name;
    return name.substr(0, start) + std::string(code) + name.substr(start + length);
}

bool readRequest(const CgiHandler& cg, SwitchRequest& request) {
    const ValueList& fields = *cg.valueList;
    request.external = hasFilledValue(fields, "EXT");
    request.search = hasFilledValue(fields, "SCH");
    request.library = hasFilledValue(fields, "ID") ? valueOf(fields, "ID") : valueOf(fields, "DB");
    if (request.library.empty()) return false;
    if (!request.search) {
        const std::string fn = valueOf(fields, "FN");
        if (fn.empty()) return false;
        request.document = request.external ? fn : replaceLanguageCode(fn, "*");
    }
    request.language = upperCased(valueOf(fields, "LU"));
    return !request.language.empty();
}

// The last entry of a 200 reply with a library name; null for none.
const UzMlListEntry* lastLibrary(const UzResponse& reply) {
    const UzMlListEntry* last = nullptr;
    for (const UzMlListEntry* entry = reply.mllist(); entry && entry->filled(); entry = entry->next.get()) {
        if (!entry->database->empty()) last = entry;
    }
    return last;
}

// The entry's ID string, hash id and name into target; false when the hash
// id is not all decimal digits, as the script takes it for one.
bool takeEntry(const UzMlListEntry& entry, SwitchTarget& target) {
    target.idString = entry.ID;
    std::string copy = entry.ID;
    target.hash = hashID(copy.data());
    target.database = *entry.database;
    if (target.hash.empty()) return false;
    for (char c : target.hash) {
        if (!isAsciiDigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// MLLIST of "[identifier]"; the listing when it is a 200 reply.
std::unique_ptr<UzResponse> listIdentifier(CgiHandler& cg, const std::string& identifier,
                                           SwitchTarget& target) {
    target.lastPattern = quoteString(("[" + identifier + "]").c_str());
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(target.lastPattern);
    if (!reply || reply->resultCode != 200) return nullptr;
    return reply;
}

// Step 5: the library whose identifier carries LU as its prefix; for
// English also the AE and the unprefixed identifier. 0 with the reason in
// cg's error text, or none when the reply lists no library.
int switchLibrary(CgiHandler& cg, const SwitchRequest& request, const UzMlListEntry& current,
                  SwitchTarget& target) {
    const std::optional<std::string> old = libidGetFromText(current.comment.c_str());
    if (!old || old->empty()) {
        cg.setError(cg.msg(95, "kivohandler/83"), errorArgument(request.language));
        return 0;
    }
    struct Try {
        const char* code;  // null: no prefix
        const char* noIdentifierTag;
    };
    const Try tries[] = {{request.language.c_str(), "kivohandler/98"},
                         {kEnglishAlternative, "kivohandler/99"},
                         {nullptr, "kivohandler/100"}};
    const bool english = request.language == kDefaultLanguageCode;
    std::string named;
    std::unique_ptr<UzResponse> reply;
    for (const Try& t : tries) {
        const std::optional<std::string> identifier = libidSetLanguageCode(old->c_str(), t.code);
        if (!identifier) {
            cg.setError(cg.msg(1, t.noIdentifierTag));
            return 0;
        }
        if (named.empty()) named = *identifier;
        reply = listIdentifier(cg, *identifier, target);
        if (reply || !english) break;
    }
    if (!reply) {
        cg.setError(cg.msg(94, english ? "kivohandler/101" : "kivohandler/84"), errorArgument(named));
        return 0;
    }
    const UzMlListEntry* entry = lastLibrary(*reply);
    if (!entry || !takeEntry(*entry, target)) return 0;
    std::string identity;
    extractLibTitleId(entry->comment, target.title, identity);
    return 1;
}

// Step 6: the document of the same number in the new library. 0 with the
// reason in cg's error text.
int switchDocument(CgiHandler& cg, SwitchRequest& request, const SwitchTarget& target) {
    std::unique_ptr<UzResponse> listing = cg.sess->contv(target.hash, request.document);
    const int code = listing ? listing->resultCode : 0;
    if (code == kBeingUpdated || code == kRemoved) {
        cg.setError(cg.msg(code == kBeingUpdated ? 7 : 8,
                           code == kBeingUpdated ? "kivohandler/105" : "kivohandler/106"),
                    errorArgument(libraryOfReply(listing->resultMessage)));
        return 0;
    }
    if (code != 200) {
        cg.setError(cg.msg(93, "kivohandler/85"), errorArgument(request.document),
                    errorArgument(target.lastPattern));
        return 0;
    }
    const UzContEntry* found = nullptr;
    for (const UzContEntry* entry = listing->cont(); entry && entry->filled(); entry = entry->next.get()) {
        if (!entry->database->empty() && entry->usize != 0) {
            found = entry;
            break;
        }
    }
    if (!found) {
        cg.setError(cg.msg(93, "kivohandler/86"), errorArgument(request.document),
                    errorArgument(target.lastPattern));
        return 0;
    }
    size_t start = 0;
    size_t length = 0;
    if (findLanguageCode(found->filename, start, length)) {
        request.document[request.document.find('*')] = 'x';
        request.document = replaceLanguageCode(request.document, found->filename.substr(start, length));
    } else {
        request.document = found->filename;
    }
    return 1;
}

// How a passed-on field is coded in the new address.
enum class Pass {
    kLink,          // encodeLinkValue
    kScript,        // urlEncode for script strings
    kExternalLink,  // encodeLinkValue, only in external mode
    kDocument,      // NF: the document name, or SEARCH
    kSwitchMark,    // SW=1, always
};

struct PassedField {
    const char* field;
    const char* param;
    Pass pass;
};

// The order the new frameset's pages were written for.
constexpr PassedField kPassedFields[] = {
    {"ST", "ST", Pass::kLink},        {"DO", "DO", Pass::kLink},          {"BA", "BA", Pass::kLink},
    {"OD", "OD", Pass::kLink},        {"MT", "MT", Pass::kLink},          {"SP", "SP", Pass::kLink},
    {"LD", "LD", Pass::kLink},        {"PAT", "PAT", Pass::kScript},      {"PAD", "PAD", Pass::kLink},
    {"PAC", "PAC", Pass::kScript},    {"PA", "PA", Pass::kScript},        {"SL", "SL", Pass::kLink},
    {"MLIDS", "MLIDS", Pass::kLink},  {"IX", "IX", Pass::kExternalLink},  {"LLF", "LLF", Pass::kLink},
    {nullptr, "NF", Pass::kDocument}, {"STB", "STB", Pass::kLink},        {"CH", "HC", Pass::kScript},
    {"ORPA", "ORPA", Pass::kScript},  {nullptr, "SW", Pass::kSwitchMark}, {"WK", "WK", Pass::kScript},
};

// "&ST=...&SW=1..." for the new address, every value coded.
std::string passedQuery(const CgiHandler& cg, const SwitchRequest& request) {
    std::string query;
    for (const PassedField& p : kPassedFields) {
        std::string value;
        switch (p.pass) {
            case Pass::kDocument:
                value = encodeLinkValue(request.document.empty() ? "SEARCH" : request.document);
                break;
            case Pass::kSwitchMark:
                value = "1";
                break;
            case Pass::kScript:
                value =
                    urlEncode(URLMODE_ENCODE_SCRIPT, valueOf(*cg.valueList, p.field).c_str(), kCodedValueMax);
                break;
            case Pass::kExternalLink:
                if (!request.external) continue;
                [[fallthrough]];
            case Pass::kLink:
                value = encodeLinkValue(valueOf(*cg.valueList, p.field));
                break;
        }
        if (!value.empty()) query += std::string("&") + p.param + "=" + value;
    }
    return query;
}

// The one assignment switchLib reads; every text script-escaped.
std::string switchValues(const CgiHandler& cg, const SwitchRequest& request, const SwitchTarget& target) {
    // The comment's title holds '&' as "&amp;"; a document title is text.
    std::string title = target.title;
    for (size_t at = title.find("&amp;"); at != std::string::npos; at = title.find("&amp;", at + 1))
        title.erase(at + 1, 4);
    const bool oldNetscape = cg.browserType >= BROWSER_NETSCAPE_1 && cg.browserType <= BROWSER_NETSCAPE_4;
    return "var kvLangSwitch = {pd: '" + escapeScriptString(target.idString) + "', hashId: '" + target.hash +
           "', title: '" + escapeScriptString(title) + "', kivo2: " + (target.secondStart ? "1" : "0") +
           ", plusCoded: " + (oldNetscape ? "1" : "0") + ", query: '" +
           escapeScriptString(passedQuery(cg, request)) + "'};\n";
}

int writeSwitchPage(CgiHandler& cg, const SwitchRequest& request, const SwitchTarget& target) {
    return cg.docPrintf("%s%s\n<head>\n<title>Switching document language: Message</title>\n", kXhtmlDoctype,
                        kXhtmlStartTag) &&
           cg.docWriteBuf("<script type=\"text/javascript\">\n<!--\n") &&
           cg.docWriteBuf(switchValues(cg, request, target)) && cg.docWriteBuf(languageSwitchScriptFile()) &&
           cg.docWriteBuf(
               "//-->\n</script>\n</head>\n<body onload=\"window.switchLib()\">\n<br /><br /><center>\n") &&
           (request.external ||
            cg.docWriteBuf("<big>Switching to another language, please stand by for Results!</big>\n")) &&
           cg.outputTail();
}

}  // namespace

int KivoHandler::externalLinkAction() {
    if (!cg) return 0;
    // A missing field leaves no text: entry names the request instead.
    SwitchRequest request;
    if (!readRequest(*cg, request)) return 0;
    if (!cg->establishDefaultSession()) return 0;
    SwitchTarget target;
    {
        std::unique_ptr<UzResponse> reply = cg->sess->mllist(request.library);
        if (!reply || reply->resultCode != 200) {
            cg->setError("%s", notAvailableText(*cg, makeAddrString(cg->sess->iaddr, cg->sess->port),
                                                cg->sess->getError()));
            return 0;
        }
        const UzMlListEntry* current = lastLibrary(*reply);
        if (!current) return 0;
        if (request.external) {
            if (!takeEntry(*current, target)) return 0;
        } else if (!switchLibrary(*cg, request, *current, target)) {
            return 0;
        }
    }
    // The address opens the new library's start page, so that is the one
    // asked about.
    target.secondStart = std::strcmp(secondEditionStart(*cg, target.hash), "kivo2.html") == 0;
    if (!request.search && !request.external && request.document.find('*') != std::string::npos &&
        !switchDocument(*cg, request, target)) {
        return 0;
    }
    cg->freeDocBuf();
    if (!cg->allocDocBuf(kSwitchPageSize)) {
        setError(cg->msg(81, "kivohandler/66"), static_cast<unsigned long>(kSwitchPageSize));
        return 0;
    }
    cg->docSize = 0;
    if (!writeSwitchPage(*cg, request, target)) {
        setError(cg->msg(81, "kivohandler/66"), static_cast<unsigned long>(cg->docbufSize));
        return 0;
    }
    return 1;
}

}  // namespace ruva
