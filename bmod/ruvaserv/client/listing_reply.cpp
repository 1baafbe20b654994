#include "bmod/ruvaserv/client/listing_reply.h"

#include <cstdlib>
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/docmodel/comment_tokens.h"
#include "common/text_view.h"
#include "common/tokens.h"

namespace ruva {
namespace {

// The code of a failure the client finds itself.
constexpr int kClientFailure = 500;
// Codes of a CONT library header: anything outside ends the reply.
constexpr int kHeaderCodeMin = 300;
constexpr int kHeaderCodeMax = 399;
constexpr int kOkCode = 200;

// The words of one line, from a copy: getNextToken cuts in place.
class Words {
public:
    explicit Words(std::string_view text) : copy_(text), cursor_(copy_.data()) {}
    Words(const Words&) = delete;
    Words& operator=(const Words&) = delete;

    // Null at the end.
    const char* next() { return getNextToken(&cursor_); }
    std::string nextOrEmpty() {
        const char* w = next();
        return w ? w : "";
    }

private:
    std::string copy_;
    char* cursor_;
};

size_t sizeValue(const char* word) { return word ? std::strtoull(word, nullptr, 10) : 0; }
int intValue(const char* word) { return word ? static_cast<int>(std::strtol(word, nullptr, 10)) : 0; }
time_t timeValue(const char* word) { return word ? static_cast<time_t>(std::strtoll(word, nullptr, 10)) : 0; }

std::string withoutLeadingBlanks(std::string_view w) {
    while (!w.empty() && isAsciiSpace(byteAt(w, 0))) w.remove_prefix(1);
    return std::string(w);
}

bool fail(UzResponse& r, int message, const char* tag) {
    r.resultCode = kClientFailure;
    r.resultMessage = getMsgStr(message, tag);
    r.clientMessage = true;
    return false;
}

bool finish(UzResponse& r, const UzLine& line) {
    r.resultCode = line.code;
    r.resultMessage = std::string(line.text);
    return true;
}

struct ListMessages {
    int end;
    const char* endTag;
    int shortReply;
    const char* shortTag;
    int memory;
    const char* memoryTag;
};

constexpr ListMessages kListMessages{395, "uzsession/16", 396, "uzsession/17", 397, "uzsession/18"};
constexpr ListMessages kMlListMessages{398, "uzsession/19", 399, "uzsession/20", 402, "uzsession/21"};
constexpr ListMessages kMlsListMessages{400, "uzsession/19", 401, "uzsession/20", 403, "uzsession/21"};
constexpr ListMessages kSListMessages{412, "uzsession/36", 413, "uzsession/37", 414, "uzsession/38"};

template <class T>
bool readEntries(UzResponse& r, const ListMessages& m, void (*parse)(std::string_view, T&),
                 const NextReplyLine& next) {
    for (;;) {
        const UzLine line = next();
        switch (line.kind) {
            case UzLineKind::kNone:
                return fail(r, m.end, m.endTag);
            case UzLineKind::kShort:
                return fail(r, m.shortReply, m.shortTag);
            case UzLineKind::kError:
            case UzLineKind::kEnd:
                return finish(r, line);
            case UzLineKind::kHeader:
                r.resultCode = line.code;
                break;
            case UzLineKind::kEntry: {
                r.resultCode = line.code;
                T* entry = r.nextEntry<T>();
                if (!entry) return fail(r, m.memory, m.memoryTag);
                parse(line.text, *entry);
                break;
            }
        }
    }
}

struct InfoLabel {
    std::string_view label;
    size_t UzInfoEntry::*field;  // null: startTime
};

// In the order lines are matched: a line takes the first label it holds.
constexpr InfoLabel kInfoLabels[] = {
    {"time:", nullptr},
    {"sessions:", &UzInfoEntry::numSessions},
    {"databases:", &UzInfoEntry::dbCount},
    {"Sub-systems:", &UzInfoEntry::subCount},
    {"files:", &UzInfoEntry::fileCount},
    {"Database pool", &UzInfoEntry::dbOccupation},
    {"CentralHeader pool", &UzInfoEntry::chOccupation},
    {"Name pool", &UzInfoEntry::nmOccupation},
    {"Estimated cache", &UzInfoEntry::cacheMem},
    {"Change", &UzInfoEntry::changePeriod},
    {"New", &UzInfoEntry::newPeriod},
    {"Next", &UzInfoEntry::nextChange},
};

}  // namespace

void parseListEntry(std::string_view fields, UzListEntry& entry) {
    Words words(fields);
    const char* database = words.next();
    if (!database) return;
    entry.database = withoutLeadingBlanks(database);
    entry.size = sizeValue(words.next());
    entry.entries = intValue(words.next());
    entry.ctime = timeValue(words.next());
    entry.comment = words.nextOrEmpty();
}

void parseMlEntry(std::string_view fields, UzMlListEntry& entry) {
    Words words(fields);
    const char* type = words.next();
    if (!type) return;
    entry.type = std::string_view(type) == "SUB" ? ML_NODE_TYPE_SUB : ML_NODE_TYPE_ZS;
    entry.level = intValue(words.next());
    entry.database = withoutLeadingBlanks(words.nextOrEmpty());
    entry.ID = words.nextOrEmpty();
    entry.size = sizeValue(words.next());
    entry.entries = intValue(words.next());
    entry.ctime = timeValue(words.next());
    const char* first = words.next();
    const char* second = words.next();
    if (entry.type == ML_NODE_TYPE_SUB) {
        entry.comment = first ? first : "";
        entry.LibState = second ? second : "";
        return;
    }
    // A library line ends in its state; a library without a comment has
    // nothing else after ctime.
    const char* comment = nullptr;
    const char* state = first;
    for (const char* w = second; w; w = words.next()) {
        comment = first;
        state = w;
    }
    entry.comment = comment ? comment : "";
    entry.LibState = state ? state : "";
}

void parseSListEntry(std::string_view fields, UzSListEntry& entry) {
    Words words(fields);
    const char* address = words.next();
    if (!address) return;
    entry.address = address;
    entry.comment = words.nextOrEmpty();
}

void parseContEntry(std::string_view fields, bool verbose, UzContEntry& entry) {
    Words words(fields);
    if (verbose) {
        entry.usize = sizeValue(words.next());
        const char* method = words.next();
        entry.method = methodNameToType(method ? method : "");
        entry.csize = sizeValue(words.next());
        words.next();  // the ratio
        const char* crc = words.next();
        // "-" on the generated main page reads as 0.
        entry.crc = crc ? std::strtoul(crc, nullptr, 16) : 0;
    }
    entry.filename = words.nextOrEmpty();
    entry.comment = words.nextOrEmpty();
}

std::string_view lastWord(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && !isAsciiAlnum(byteAt(text, end - 1))) --end;
    if (end == 0) return {};
    size_t start = end;
    while (start > 0 && !isAsciiSpace(byteAt(text, start - 1))) --start;
    // What follows the last letter or digit belongs to the word ("lib_").
    while (end < text.size() && !isAsciiSpace(byteAt(text, end))) ++end;
    return text.substr(start, end - start);
}

void parseInfoLine(std::string_view text, UzInfoEntry& info) {
    for (const InfoLabel& l : kInfoLabels) {
        if (text.find(l.label) == std::string_view::npos) continue;
        const std::string word(lastWord(text));
        if (l.field) {
            info.*l.field = sizeValue(word.c_str());
        } else {
            info.startTime = timeValue(word.c_str());
        }
        return;
    }
}

void parseVerLine(std::string_view line, UzResponse& response) {
    if (line.size() <= 2) {
        response.resultCode = kClientFailure;
        return;
    }
    response.resultCode = intValue(std::string(line).c_str());
    response.resultMessage = std::string(replyText(line));
    // Another code's words are an error text, not the server's identity.
    if (response.resultCode != kOkCode) return;
    Words words(response.resultMessage);
    UzConnectEntry* c = response.connect();
    if (!c || !words.next()) return;
    c->servName = words.nextOrEmpty();
    c->article = words.nextOrEmpty();
    c->revision = words.nextOrEmpty();
    c->comment = words.nextOrEmpty();
}

void parseStatusLine(std::string_view line, UzResponse& response, std::string_view noWordMessage) {
    Words words(line);
    const char* code = words.next();
    if (!code) {
        response.resultCode = kClientFailure;
        response.resultMessage = std::string(noWordMessage);
        return;
    }
    // strtol stops at the '-' of "200-See you later.".
    response.resultCode = intValue(code);
    response.resultMessage = std::string(replyText(line));
}

bool langListIsOnlyEn(std::string_view codes) {
    Words words(codes);
    const char* first = words.next();
    if (!first || words.next()) return false;
    const std::string_view code(first);
    return code.size() == 2 && startsCaseBlindAt(code, 0, "EN");
}

bool readListReply(UzResponse& response, const NextReplyLine& next) {
    return readEntries<UzListEntry>(response, kListMessages, parseListEntry, next);
}

bool readMlReply(UzResponse& response, const NextReplyLine& next) {
    const ListMessages& m = response.type == RT_MLSLIST ? kMlsListMessages : kMlListMessages;
    const bool complete = readEntries<UzMlListEntry>(response, m, parseMlEntry, next);
    UzMlListEntry* first = response.first<UzMlListEntry>();
    if (first && first->filled()) {
        const int top = first->level;
        for (UzMlListEntry* e = first; e; e = e->next.get()) e->level = e->level > top ? e->level - top : 0;
    }
    return complete;
}

bool readSListReply(UzResponse& response, const NextReplyLine& next) {
    return readEntries<UzSListEntry>(response, kSListMessages, parseSListEntry, next);
}

bool readHelpReply(UzResponse& response, const NextReplyLine& next) {
    for (;;) {
        const UzLine line = next();
        switch (line.kind) {
            case UzLineKind::kNone:
            case UzLineKind::kShort:
                return fail(response, 393, "uzsession/14");
            case UzLineKind::kHeader:
                response.resultCode = line.code;
                break;
            case UzLineKind::kEnd:
                return finish(response, line);
            case UzLineKind::kEntry:
            case UzLineKind::kError:
                // Nothing follows an error line either: it is the answer.
                if (UzHelpEntry* h = response.help()) h->message = std::string(line.text);
                return finish(response, line);
        }
    }
}

bool readInfoReply(UzResponse& response, const NextReplyLine& next) {
    for (;;) {
        const UzLine line = next();
        switch (line.kind) {
            case UzLineKind::kNone:
                return fail(response, 394, "uzsession/15");
            case UzLineKind::kShort:  // holds no label
            case UzLineKind::kHeader:
                break;
            case UzLineKind::kEnd:
            case UzLineKind::kError:
                return finish(response, line);
            case UzLineKind::kEntry:
                response.resultCode = line.code;
                if (UzInfoEntry* info = response.info()) parseInfoLine(line.text, *info);
                break;
        }
    }
}

bool readContReply(UzResponse& response, UzLine line, bool verbose, const NextReplyLine& next) {
    for (;;) {
        // line is a library header, or the line that ends the reply.
        if (line.kind == UzLineKind::kNone) return fail(response, 437, "uzsession/48");
        if (line.kind == UzLineKind::kShort) return fail(response, 435, "uzsession/46");
        if (line.kind == UzLineKind::kError || line.kind == UzLineKind::kEnd || line.code < kHeaderCodeMin ||
            line.code > kHeaderCodeMax)
            return finish(response, line);
        response.resultCode = line.code;
        const std::string database(lastWord(line.text));
        if (database.empty()) return fail(response, 436, "uzsession/47");
        for (;;) {
            line = next();
            if (line.kind == UzLineKind::kNone) return fail(response, 437, "uzsession/48");
            if (line.kind == UzLineKind::kShort) return fail(response, 438, "uzsession/49");
            if (line.kind != UzLineKind::kEntry) break;
            response.resultCode = line.code;
            UzContEntry* entry = response.nextEntry<UzContEntry>();
            if (!entry) return fail(response, 439, "uzsession/50");
            parseContEntry(line.text, verbose, *entry);
            entry->database = database;
        }
    }
}

}  // namespace ruva
