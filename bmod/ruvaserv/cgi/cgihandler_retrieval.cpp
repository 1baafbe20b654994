// One member of one library from the document server into docBuf, with
// its MIME type, file name, folder flag and library time.
#include <algorithm>
#include <cstring>
#include <strings.h>
#include <memory>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/mimetype.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "common/html_escape.h"

namespace ruva {

namespace {

// Member and library names as the server lists them; a longer one would be
// cut into the name of another member, so it is refused.
constexpr size_t kListedNameMax = 255;

constexpr int kCodeOk = 200;
constexpr int kCodeBeingUpdated = 577;
constexpr int kCodeRemoved = 578;

enum class PdfMode { kNone, kPdfItself, kFramePage };

bool holdsControlByte(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool allDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Replaces the first `from` in text by `to` (same length); false when none.
bool replaceFirst(std::string& text, std::string_view from, std::string_view to) {
    const size_t at = text.find(from);
    if (at == std::string::npos) return false;
    text.replace(at, from.size(), to);
    return true;
}

// Only libraries count towards docCTime: a folder line carries the name
// "-" and would make one library count two.
bool isLibraryEntry(const UzListEntry& entry) { return !entry.database->empty(); }
bool isLibraryEntry(const UzMlListEntry& entry) {
    return entry.type == ML_NODE_TYPE_ZS && !entry.database->empty() && *entry.database != "-";
}

// The member straight into a new docBuf of the length the reply announces.
class DocBufSink : public UzMemberSink {
public:
    explicit DocBufSink(CgiHandler& cg) : cg_(cg) {}
    char* room(size_t size) override {
        asked = size;
        failed = !cg_.allocDocBuf(size);
        return failed ? nullptr : cg_.docBuf;
    }
    size_t asked = 0;
    bool failed = false;  // the buffer could not be had

private:
    CgiHandler& cg_;
};

std::string withoutControlBytes(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (!holdsControlByte(std::string_view(&c, 1))) out += c;
    }
    return out;
}

}  // namespace

int CgiHandler::retrieveFile(const std::string& library, std::string& file, bool* missing) {
    if (missing) *missing = false;
    // An empty library would shift the file into the library's place.
    if (library.empty()) {
        setError(msg(472, "cgihandler/22"), htmlEscaped(library));
        return 0;
    }
    // A line end would let the request write a second command.
    if (holdsControlByte(library) || holdsControlByte(file)) {
        setError(msg(227, "cgihandler/25"), htmlEscaped(file), htmlEscaped(library));
        return 0;
    }
    if (!sess && !establishDefaultSession()) return 0;

    PdfMode mode = PdfMode::kNone;
    if (replaceFirst(file, ".fdp", ".pdf")) {
        mode = PdfMode::kPdfItself;
    } else if (file.find(".pdf") != std::string::npos) {
        const Value* ac = valueList ? valueList->findValue("AC") : nullptr;
        if (!ac || strcasecmp(ac->value.c_str(), "IMAGE") != 0) mode = PdfMode::kFramePage;
    }

    if (!checkLibrary(library, missing)) return 0;
    std::string database;
    std::string member;
    if (!listMember(library, file, database, member, missing)) return 0;
    if (mode == PdfMode::kFramePage) replaceFirst(member, ".pdf", ".fdp");
    if (!retrieveMember(database, member)) return 0;

    if (mode == PdfMode::kFramePage) replaceFirst(member, ".fdp", ".htm");
    mimeType.clear();
    const size_t dot = member.rfind('.');
    if (dot != std::string::npos) {
        if (const char* type = getMimeTypeByExtension(member.c_str() + dot + 1)) {
            mimeType = std::string(type).substr(0, kMimeTypeMax);
            // It goes into Content-Disposition.
            mimeFilename = withoutControlBytes(member).substr(0, kMimeFilenameMax);
        }
    }
    return 1;
}

int CgiHandler::checkLibrary(const std::string& library, bool* missing) {
    const bool byNumber = allDigits(library);
    std::unique_ptr<UzResponse> reply = byNumber ? sess->mllist(library) : sess->list(library);
    if (!reply || reply->resultCode != kCodeOk) {
        if (byNumber) {
            setError(msg(472, "cgihandler/22"), htmlEscaped(library));
        } else {
            setError(msg(473, "cgihandler/23"), htmlEscaped(library));
        }
        return 0;
    }
    size_t count = 0;
    time_t ctime = 0;
    auto tally = [&](const auto* entry) {
        for (; entry && entry->filled(); entry = entry->next.get()) {
            if (!isLibraryEntry(*entry)) continue;
            ++count;
            ctime = entry->ctime;
        }
    };
    if (byNumber) {
        tally(reply->mllist());
    } else {
        tally(reply->list());
    }
    if (!byNumber && count == 0) {
        if (missing) *missing = true;
        setError(msg(473, "cgihandler/23"), htmlEscaped(library));
        return 0;
    }
    docCTime = count == 1 ? ctime : 0;
    return 1;
}

int CgiHandler::listMember(const std::string& library, const std::string& file, std::string& database,
                           std::string& member, bool* missing) {
    std::unique_ptr<UzResponse> reply = sess->contv(library, file);
    if (reply && (reply->resultCode == kCodeBeingUpdated || reply->resultCode == kCodeRemoved)) {
        const bool removed = reply->resultCode == kCodeRemoved;
        setError(removed ? msg(8, "cgihandler/44") : msg(7, "cgihandler/43"),
                 htmlEscaped(libraryOfReply(reply->resultMessage)));
        return 0;
    }
    if (!reply || reply->resultCode != kCodeOk) {
        setError(msg(226, "cgihandler/24"), sess->getServerAddr(), sess->getError());
        return 0;
    }
    const UzContEntry* entry = reply->cont();
    for (; entry && entry->filled(); entry = entry->next.get()) {
        if (!entry->database->empty() && entry->usize != 0) break;
    }
    const bool found = entry && entry->filled();
    if (!found || entry->database->size() > kListedNameMax || entry->filename.size() > kListedNameMax) {
        if (missing && !found) *missing = true;
        setError(msg(227, "cgihandler/25"), htmlEscaped(file), htmlEscaped(library));
        return 0;
    }
    database = *entry->database;
    member = entry->filename;
    return 1;
}

int CgiHandler::retrieveMember(const std::string& database, const std::string& member) {
    freeDocBuf();
    // The reply, not the listing, says how long the member is: the wait
    // page or a changed library differ from the listed size.
    DocBufSink sink(*this);
    std::unique_ptr<UzResponse> reply = sess->retrMem(database, literalMemberName(member), sink);
    // A failed command may leave part of a member behind.
    const UzRetrEntry* entry = reply ? reply->retr() : nullptr;
    const bool ok = reply && reply->resultCode == kCodeOk && entry && entry->filled() && entry->success;
    if (!ok) freeDocBuf();
    if (reply && (reply->resultCode == kCodeBeingUpdated || reply->resultCode == kCodeRemoved)) {
        const bool removed = reply->resultCode == kCodeRemoved;
        setError(removed ? msg(8, "cgihandler/46") : msg(7, "cgihandler/45"),
                 htmlEscaped(libraryOfReply(reply->resultMessage)));
        return 0;
    }
    if (sink.failed) {
        setError(msg(228, "cgihandler/26"), static_cast<unsigned long>(sink.asked), htmlEscaped(member));
        return 0;
    }
    // A failed unpack may still end in 200: the member's record decides.
    if (!ok) {
        setError(msg(229, "cgihandler/27"), htmlEscaped(member), htmlEscaped(database), sess->getServerAddr(),
                 replyReason(*sess, reply.get()));
        return 0;
    }
    folder = reply->folder;
    return 1;
}

}  // namespace ruva
