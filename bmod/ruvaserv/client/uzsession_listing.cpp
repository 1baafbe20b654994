// The commands that ask a server about itself and its libraries.
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/listing_reply.h"
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {
namespace {

// MLNLIST's refusal when no folder is open for upload; the daemon then ends
// the session.
constexpr int kNoUploadFolder = 550;

// Reads the session's reply lines, each within wait seconds (0: the
// session's commandTimeout).
NextReplyLine lineReader(UzSession& session, time_t wait) {
    return [&session, wait] { return session.classifyLine(session.getPeerCommand(wait)); };
}

// Sends the command and reads its one reply line into a response of type;
// null when it cannot be sent or no line comes.
std::unique_ptr<UzResponse> singleLine(UzSession& session, std::string_view word, ResponseType type,
                                       void (*parse)(std::string_view, UzResponse&)) {
    auto r = UzSession::allocResponse(type);
    if (!r || !session.sendCommand(word)) return nullptr;
    const int length = session.getPeerCommand(0);
    if (length < 0) return nullptr;
    parse(std::string_view(session.getResultPrintout(), static_cast<size_t>(length)), *r);
    return r;
}

// Sends the command and reads an entry list with read; what is left of a
// reply that broke off is dropped with the connection.
std::unique_ptr<UzResponse> entryList(UzSession& session, std::string_view word, std::span<const UzArg> args,
                                      ResponseType type, bool (*read)(UzResponse&, const NextReplyLine&)) {
    auto r = UzSession::allocResponse(type);
    if (!r || !session.sendCommand(word, args)) return nullptr;
    if (!read(*r, lineReader(session, 0))) session.disconnect();
    return r;
}

}  // namespace

std::unique_ptr<UzResponse> UzSession::ver() {
    auto r = singleLine(*this, "VER", RT_CONNECT, parseVerLine);
    if (!r) return nullptr;
    const UzConnectEntry* c = r->connect();
    serverName = c && !c->comment.empty() ? c->comment : " ";
    return r;
}

std::unique_ptr<UzResponse> UzSession::help(std::optional<std::string_view> topic) {
    auto r = allocResponse(RT_HELP);
    if (!r) return nullptr;
    const int sent = topic ? sendCommand("HELP", {UzArg{*topic, UzArgKind::kFreeText}}) : sendCommand("HELP");
    if (!sent) return nullptr;
    if (!readHelpReply(*r, lineReader(*this, 0))) disconnect();
    return r;
}

std::unique_ptr<UzResponse> UzSession::info() {
    auto r = allocResponse(RT_INFO);
    if (!r || !sendCommand("INFO")) return nullptr;
    if (!readInfoReply(*r, lineReader(*this, 0))) disconnect();
    return r;
}

std::unique_ptr<UzResponse> UzSession::list(std::string_view library) {
    const UzArg args[] = {{library, UzArgKind::kLibrary}};
    return entryList(*this, "LIST", args, RT_LIST, readListReply);
}

std::unique_ptr<UzResponse> UzSession::mllist(std::string_view library) {
    const UzArg args[] = {{library, UzArgKind::kLibrary}};
    return entryList(*this, "MLLIST", args, RT_MLLIST, readMlReply);
}

std::unique_ptr<UzResponse> UzSession::mlnlist(std::string_view hashId, std::string_view userId) {
    const UzArg args[] = {{hashId, UzArgKind::kRaw}, {userId, UzArgKind::kRaw}};
    auto r = entryList(*this, "MLNLIST", args, RT_MLLIST, readMlReply);
    if (r && r->resultCode == kNoUploadFolder) disconnect();
    return r;
}

std::unique_ptr<UzResponse> UzSession::mlslist(std::string_view library, std::string_view check) {
    const UzArg args[] = {{library, UzArgKind::kFreeText}, {check, UzArgKind::kFreeText}};
    return entryList(*this, "MLSLIST", args, RT_MLSLIST, readMlReply);
}

std::unique_ptr<UzResponse> UzSession::slist() {
    return entryList(*this, "SLIST", {}, RT_SLIST, readSListReply);
}

std::unique_ptr<UzResponse> UzSession::cont(std::string_view library, std::optional<std::string_view> pattern) {
    return handleContCommand(library, pattern, false);
}

std::unique_ptr<UzResponse> UzSession::contv(std::string_view library, std::optional<std::string_view> pattern) {
    return handleContCommand(library, pattern, true);
}

std::unique_ptr<UzResponse> UzSession::handleContCommand(std::string_view library,
                                                         std::optional<std::string_view> pattern, bool verbose) {
    auto r = allocResponse(RT_CONT);
    if (!r) return nullptr;
    const UzArg args[] = {{library, UzArgKind::kLibrary}, {pattern.value_or(""), UzArgKind::kFreeText}};
    const std::string_view word = verbose ? "CONTV" : "CONT";
    if (!sendCommand(word, std::span<const UzArg>(args, pattern ? 2 : 1))) return nullptr;
    // A CONTV line may follow a catalogue refresh on the daemon's side.
    const time_t wait = verbose ? commandTimeout + uzWaits().settle.count() : 0;
    NextReplyLine next = lineReader(*this, wait);
    const UzLine first = next();
    if (first.kind == UzLineKind::kNone) return nullptr;
    if (!readContReply(*r, first, verbose, next)) disconnect();
    return r;
}

std::unique_ptr<UzResponse> UzSession::langList() {
    return singleLine(*this, "LANGLIST", RT_LANGLIST,
                      [](std::string_view line, UzResponse& r) { parseStatusLine(line, r, ""); });
}

std::unique_ptr<UzResponse> UzSession::blobTypes() {
    return singleLine(*this, "BLOBTYPES", RT_BLOBTYPES, [](std::string_view line, UzResponse& r) {
        parseStatusLine(line, r, getMsgStr(461, "uzsession/71"));
    });
}

std::unique_ptr<UzResponse> UzSession::quit() {
    auto r = singleLine(*this, "QUIT", RT_QUIT, [](std::string_view line, UzResponse& r) {
        parseStatusLine(line, r, getMsgStr(411, "uzsession/33"));
    });
    disconnect();
    return r;
}

}  // namespace ruva
