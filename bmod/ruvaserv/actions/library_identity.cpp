#include "bmod/ruvaserv/actions/library_identity.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/library_name.h"
#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/docmodel/class_ref_readers.h"
#include "common/docmodel/comment_tokens.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/quoting.h"
#include "common/text_clean.h"
#include "common/tokens.h"

namespace ruva {

namespace {

// A collection's identity without blanks is kept to this many characters.
constexpr size_t kCollectionRefMax = 100;

// MLLIST of the field DB on the default session. Null when there is no DB
// (message 91), no session (its own message) or no 200 reply (message 92),
// each in cg's error text.
std::unique_ptr<UzResponse> listDbField(CgiHandler& cg) {
    const Value* db = cg.valueList->findValue("DB");
    if (!db || db->value.empty()) {
        cg.setError(cg.msg(91, "kivohandler/76"));
        return nullptr;
    }
    if (!cg.establishDefaultSession()) return nullptr;
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(db->value);
    if (!reply || reply->resultCode != 200) {
        cg.setError(cg.msg(92, "kivohandler/77"), makeAddrString(cg.sess->iaddr, cg.sess->port),
                    cg.sess->getError());
        return nullptr;
    }
    return reply;
}

// The session's address and error text for the failure messages; both ""
// when the request has no session.
std::string serverAddress(const CgiHandler& cg) {
    return cg.sess ? makeAddrString(cg.sess->iaddr, cg.sess->port) : std::string();
}
std::string sessionError(const CgiHandler& cg) { return cg.sess ? cg.sess->getError() : std::string(); }

// The first entry of a 200 reply, or null.
const UzMlListEntry* firstListed(const UzResponse* reply) {
    if (!reply || reply->resultCode != 200) return nullptr;
    const UzMlListEntry* entry = reply->mllist();
    return entry && entry->filled() ? entry : nullptr;
}

// The hash id of a listed library; hashID cuts the text it is given, and
// reply records stay as they came.
std::string entryHash(const UzMlListEntry& entry) {
    std::string id = entry.ID;
    return hashID(id.data());
}

// MLLIST of "[text]" as one token, an inner '"' escaped. A NUL goes on to
// the client, which refuses it as it refuses CR and LF.
std::unique_ptr<UzResponse> listByReference(UzSession& sess, std::string_view text) {
    const std::string bracketed = "[" + std::string(text) + "]";
    if (bracketed.find('\0') != std::string::npos) return sess.mllist(bracketed);
    return sess.mllist(quoteString(bracketed.c_str()));
}

// The default session, or false with the request object's reason as the
// handler's error text.
bool sessionReady(KivoHandler& kh) {
    if (kh.cg->establishDefaultSession()) return true;
    kh.setError("%s", kh.cg->getError());
    return false;
}

// The members of the collection whose hash id is given into subLibrary and
// libCount; false, both as they were, when the reference file cannot be had.
bool loadCollection(CgiHandler& cg, const std::string& hash) {
    std::optional<std::string> file = cg.sess->getFileData(hash, "library-references.xml");
    if (!file) return false;
    cg.subLibrary = parseLibRefFile(*file);
    cg.libCount = static_cast<int>(cg.subLibrary.size());
    return true;
}

// MLLIST of the field ID, else DB, on the session as it stands, and the
// first level-0 library of the reply (kept in reply); null with message 13
// or 92 in kh's error text.
const UzMlListEntry* requestLibrary(KivoHandler& kh, std::unique_ptr<UzResponse>& reply, bool tagged) {
    CgiHandler& cg = *kh.cg;
    const Value* named = cg.valueList->findValue("ID");
    if (!named || named->value.empty()) named = cg.valueList->findValue("DB");
    if (!named || named->value.empty()) {
        kh.setError(cg.msg(13, tagged ? "kivohandler/90" : nullptr));
        return nullptr;
    }
    if (cg.sess) reply = cg.sess->mllist(named->value);
    if (!reply || reply->resultCode != 200) {
        kh.setError(cg.msg(92, "kivohandler/91"), serverAddress(cg), sessionError(cg));
        reply.reset();
        return nullptr;
    }
    for (const UzMlListEntry* entry = reply->mllist(); entry && entry->filled(); entry = entry->next.get()) {
        if (entry->type == ML_NODE_TYPE_ZS && entry->level == 0) return entry;
    }
    kh.setError(cg.msg(13, tagged ? "kivohandler/92" : nullptr));
    reply.reset();
    return nullptr;
}

// The second word of a reply's text, quotes honoured: the library that
// 577 and 578 name.
std::string secondWord(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    char* cursor = copy.data();
    const char* word = getNextToken(&cursor);
    if (word) word = getNextToken(&cursor);
    return word ? word : "";
}

bool containsNoCase(std::string_view text, std::string_view part) {
    for (size_t i = 0; i + part.size() <= text.size(); ++i) {
        if (strncasecmp(text.data() + i, part.data(), part.size()) == 0) return true;
    }
    return false;
}

bool isListedCode(int code) { return code == 200 || code == 577 || code == 578; }

}  // namespace

int KivoHandler::getIDbyDbName() {
    if (!cg) return 0;
    std::unique_ptr<UzResponse> reply = listDbField(*cg);
    if (!reply) return 0;
    for (const UzMlListEntry* entry = reply->mllist(); entry && entry->filled(); entry = entry->next.get()) {
        // A folder first: the pattern names no single library.
        if (entry->type == ML_NODE_TYPE_SUB) return 1;
        if (entry->level != 0) continue;
        std::string field = entry->ID;
        cg->valueList->addValue("ID", hashID(field.data()));
        return 1;
    }
    return 0;
}

int KivoHandler::getLIbyHiddenID() {
    if (!cg) return 0;
    std::unique_ptr<UzResponse> reply = listDbField(*cg);
    if (!reply) return 0;
    const UzMlListEntry* first = reply->mllist();
    std::string title;
    std::string identity;
    extractLibTitleId(first && first->filled() ? first->comment : std::string(), title, identity);
    return cg->valueList->addValue("LI_Hidden", identity.c_str()) ? 1 : 0;
}

std::string notAvailableText(const CgiHandler& cg, std::string_view first, std::string_view second) {
    int index = 0;
    if (cg.flags & kCgiUseAuth) {
        index = strcasecmp(cg.servicename.c_str(), "Tessaport") == 0 ? 220 : 221;
    } else {
        index = strncasecmp(cg.useExtranet.c_str(), "Yes", 3) == 0 ? 222 : 224;
    }
    return formatChecked(cg.msg(index, nullptr), std::string(first), std::string(second));
}

std::string withoutBlanks(const std::string& text, size_t max) {
    std::string out(max + 1, '\0');
    removeSpaces(out.data(), text.c_str(), static_cast<int>(max));
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::string libraryRefDisplayForm(std::string_view reference) {
    std::string text;
    for (char c : reference) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isspace(u) || std::iscntrl(u)) continue;
        text += static_cast<char>(std::toupper(u));
    }
    std::string shown;
    size_t at = 0;
    if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
        const size_t slash = text.find('/');
        if (slash != std::string::npos) {
            shown = text.substr(0, slash + 1);
            at = slash + 1;
        }
    }
    const size_t number = std::min(text.find_first_of("0123456789", at), text.size());
    shown += text.substr(at, number - at);
    shown += ' ';
    const size_t revision = std::min(text.find_first_of("PR", number), text.size());
    const std::string digits = text.substr(number, revision - number);
    shown += digits.size() > 3 ? digits.substr(0, 3) + " " + digits.substr(3) : digits;
    shown += ' ';
    shown += text.substr(revision);
    return shown;
}

int KivoHandler::getLibTitleFromServer(std::string& title, std::string& libraryRef, std::string& entryId,
                                       bool tagged) {
    if (!cg) return 0;
    std::unique_ptr<UzResponse> reply;
    const UzMlListEntry* entry = requestLibrary(*this, reply, tagged);
    if (!entry) return 0;
    if (entry->comment.find(kCategoryMark) != std::string::npos) isCatEnabled = 1;
    extractLibTitleId(entry->comment, title, libraryRef);
    entryId = entry->ID;
    return 1;
}

int KivoHandler::getSolutionFromServer(int& collection, std::string& pairs) {
    pairs.clear();
    if (!cg) return 0;
    std::unique_ptr<UzResponse> reply;
    const UzMlListEntry* entry = requestLibrary(*this, reply, true);
    if (!entry) return 0;
    collection = ruva::isCollection(entry->comment) ? 1 : 0;
    if (!collection || cg->isCollection == 1) return 1;
    std::string title;
    std::string reference;
    extractLibTitleId(entry->comment, title, reference);
    const Value* id = cg->valueList->findValue("ID");
    const bool idGiven = id && !id->value.empty();
    cg->collectionHashId = idGiven ? std::atoi(id->value.c_str()) : getHashId(reference, nullptr);
    cg->libraryTitle = title;
    cg->libraryId = reference;
    const std::string compact = withoutBlanks(reference, kCollectionRefMax);
    if (cg->sess) loadCollection(*cg, entryHash(*entry));
    std::string members;
    createIDLIPair(members);
    if (!members.empty()) {
        pairs = members + "|" + (idGiven ? id->value : "0") + "-" + (compact.empty() ? "0" : compact);
    }
    return 1;
}

int KivoHandler::getFullFilename(std::optional<std::string>* library, std::optional<std::string>* file) {
    if (library) library->reset();
    if (file) file->reset();
    if (!library || !file || !cg) return 0;
    if (!cg->establishDefaultSession()) return 0;
    const std::string name = getLibraryName(*cg);
    std::unique_ptr<UzResponse> listed = cg->sess->mllist(name);
    if (!listed || listed->resultCode != 200) {
        cg->setError("%s", notAvailableText(*cg, serverAddress(*cg), sessionError(*cg)));
        return 0;
    }
    const Value* fn = cg->valueList->findValue("FN");
    if (!fn || fn->value.empty()) return 0;
    std::unique_ptr<UzResponse> listing = cg->sess->contv(name, fn->value);
    const int code = listing ? listing->resultCode : 0;
    if (code == 577 || code == 578) {
        const std::string named = escapeHtmlKeepEntities(secondWord(listing->resultMessage), false);
        if (code == 577) {
            cg->setError(cg->msg(7, "kivohandler/107"), named);
        } else {
            cg->setError(cg->msg(8, "kivohandler/108"), named);
        }
        return 0;
    }
    if (code != 200) {
        cg->setError(cg->msg(226, "kivohandler/95"), serverAddress(*cg), sessionError(*cg));
        return 0;
    }
    for (const UzContEntry* entry = listing->cont(); entry && entry->filled(); entry = entry->next.get()) {
        if (entry->database->empty() || entry->usize == 0) continue;
        std::string member = entry->filename;
        // A spreadsheet is served as the page converted from it.
        const size_t dot = member.rfind('.');
        if (containsNoCase(member, ".xl") && dot != std::string::npos) member = member.substr(0, dot) + ".html";
        *library = *entry->database;
        *file = std::move(member);
        return 1;
    }
    return 0;
}

int KivoHandler::getHashId(const std::string& reference, std::string* hashText) {
    if (!cg) return 0;
    if (!sessionReady(*this)) return 0;
    if (const Value* sl = cg->valueList->findValue("SL")) {
        cg->libraryId = sl->value;
        std::string title;
        if (getDBfromLI(title, "[" + sl->value + "]")) cg->libraryTitle = title;
        std::unique_ptr<UzResponse> listed = listByReference(*cg->sess, sl->value);
        if (const UzMlListEntry* entry = firstListed(listed.get()); entry && loadCollection(*cg, entryHash(*entry))) {
            cg->isCollection = 1;
            isCollection = 1;
        }
    }
    std::string memberTitle;
    for (const std::string& record : cg->subLibrary) {
        std::string identity;
        std::string name;
        if (!getLibIdNameFromLibRefString(record.c_str(), identity, name) || identity.empty()) continue;
        if (reference.size() >= identity.size() &&
            strncasecmp(reference.c_str(), identity.c_str(), identity.size()) == 0) {
            memberTitle = name;
        }
    }
    const std::string shown = libraryRefDisplayForm(reference);
    std::unique_ptr<UzResponse> reply = listByReference(*cg->sess, reference);
    if (!reply) {
        cg->setError("%s", notAvailableText(*cg, serverAddress(*cg), sessionError(*cg)));
        return 0;
    }
    const UzMlListEntry* entry = firstListed(reply.get());
    if (!entry) {
        if (strncasecmp(memberTitle.c_str(), "No Title", 8) == 0) memberTitle.clear();
        setError("%s", notAvailableText(*cg, escapeHtmlKeepEntities(memberTitle, false),
                                        escapeHtmlKeepEntities(shown, false)));
        return 0;
    }
    const std::string hash = entryHash(*entry);
    if (hashText) *hashText = hash;
    return std::atoi(hash.c_str());
}

int KivoHandler::resolveLibId(const char* liField, const char* idField, const char* dbField, bool setCurrentId) {
    if (!cg) return 0;
    ValueList& fields = *cg->valueList;
    Value* li = fields.findValue(liField);
    if (!li || fields.findValue(idField) || fields.findValue(dbField)) return 1;
    std::string hashText;
    const int hash = getHashId(li->value, &hashText);
    if (!hash) return 0;
    fields.removeValue(li);
    fields.addValue(idField, hashText.c_str());
    if (setCurrentId) cg->curId = hash;
    return 1;
}

std::optional<std::string> KivoHandler::getLifromID(std::string_view id) {
    if (!cg || !sessionReady(*this)) return std::nullopt;
    std::unique_ptr<UzResponse> reply = cg->sess->mllist(id);
    const UzMlListEntry* entry = firstListed(reply.get());
    if (!entry) return std::nullopt;
    std::string title;
    std::string reference;
    extractLibTitleId(entry->comment, title, reference);
    return reference;
}

bool KivoHandler::getLibraryType(std::string_view library) {
    if (!cg) return false;
    std::unique_ptr<Sdi> sdi = newSdi(0);
    if (!sdi || !cg->establishDefaultSession()) return false;
    std::unique_ptr<UzResponse> listing = cg->sess->contv(library, "*_sd1.sgml");
    if (!listing || !isListedCode(listing->resultCode)) return false;
    const UzContEntry* entry = listing->cont();
    if (!entry || !entry->filled() || entry->database->empty() || entry->filename.empty()) return false;
    // Sized by what RETR sends: a library rewritten since CONTV, or a
    // server that lies, may send more than was listed.
    std::string data;
    std::unique_ptr<UzResponse> reply = cg->sess->retrMem(library, entry->filename, data);
    if (!reply || !isListedCode(reply->resultCode)) return false;
    if (!sdi->registerInput(data.data(), data.size()) || !sdi->getMetaData()) return false;
    return !sdi->userinfo.has_value();
}

std::optional<std::string> KivoHandler::getDBfromLI(std::string& title, std::string_view reference) {
    if (!cg) return std::nullopt;
    const std::string text(reference);
    const std::string compact = withoutBlanks(text, text.size());
    if (!sessionReady(*this)) return std::nullopt;
    std::unique_ptr<UzResponse> reply = cg->sess->mllist(compact);
    const UzMlListEntry* entry = firstListed(reply.get());
    if (!entry) return std::nullopt;
    std::string database = *entry->database;
    std::string identity;
    extractLibTitleId(entry->comment, title, identity);
    return database;
}

int KivoHandler::createIDLIPair(std::string& pairs) {
    pairs.clear();
    if (!cg || !sessionReady(*this)) return 0;
    const size_t count = std::min(cg->subLibrary.size(), static_cast<size_t>(std::max(cg->libCount, 0)));
    bool first = true;
    for (size_t i = 0; i < count; ++i) {
        std::string identity;
        std::string name;
        if (!getLibIdNameFromLibRefString(cg->subLibrary[i].c_str(), identity, name) || identity.empty()) continue;
        std::unique_ptr<UzResponse> reply = listByReference(*cg->sess, identity);
        const UzMlListEntry* entry = firstListed(reply.get());
        if (!first) pairs += '|';
        first = false;
        pairs += entry ? entryHash(*entry) : "0";
        pairs += '-';
        pairs += identity;
    }
    return 1;
}

}  // namespace ruva
