// The commands that bring archives, members and sections from a server.
#include "bmod/ruvaserv/client/uzsession_retrieval.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/fd_io.h"
#include "common/html_escape.h"
#include "common/text_view.h"
#include "common/tokens.h"

namespace ruva {
namespace {

// The first three characters as a reply code, or -1 when they are not
// three digits.
int replyCode(std::string_view line) {
    if (line.size() < 3) return -1;
    int code = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return -1;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

// What a final line says after its four code characters.
std::string textAfterCode(std::string_view line) {
    return std::string(upToNul(replyText(line)));
}

// The words after the four code characters, read as the server's own
// tokenizer reads them (quotes, \"), from a private copy. A NUL ends the
// words.
std::vector<std::string> wordsAfterCode(std::string_view line) {
    std::vector<std::string> words;
    if (line.size() <= 4) return words;
    std::string work(line.substr(4));
    char* cursor = work.data();
    while (char* word = getNextToken(&cursor)) words.emplace_back(word);
    return words;
}

std::optional<size_t> decimalSize(std::string_view word) {
    size_t value = 0;
    const char* end = word.data() + word.size();
    auto [stop, ec] = std::from_chars(word.data(), end, value);
    if (word.empty() || ec != std::errc() || stop != end) return std::nullopt;
    return value;
}

// A CRC-32 in hexadecimal, "0x" before it or not.
std::optional<unsigned long> hexCrc(std::string_view word) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.remove_prefix(2);
    unsigned long value = 0;
    const char* end = word.data() + word.size();
    auto [stop, ec] = std::from_chars(word.data(), end, value, 16);
    if (word.empty() || ec != std::errc() || stop != end || value > 0xFFFFFFFFUL) return std::nullopt;
    return value;
}

std::optional<LengthFrame> parseFrame(std::string_view line, bool member) {
    if (replyCode(line) != 300) return std::nullopt;
    std::vector<std::string> words = wordsAfterCode(line);
    const size_t needed = member ? 4 : 3;  // "Length", size, names
    if (words.size() < needed || words[0] != "Length") return std::nullopt;
    std::optional<size_t> size = decimalSize(words[1]);
    if (!size) return std::nullopt;
    LengthFrame frame;
    frame.size = *size;
    frame.database = std::move(words[2]);
    if (member) {
        frame.filename = std::move(words[3]);
        // The generated sub-folder page names no folder.
        if (words.size() > 4) frame.folder = atoi(words[4].c_str());
    }
    frame.holdsNul = line.find('\0') != std::string_view::npos;
    return frame;
}

// A file written under a temporary name beside its target and renamed
// when complete, so that a cut transfer never leaves a short file under
// the target's name, nor truncates a file that was there.
class PartFile {
public:
    PartFile() = default;
    ~PartFile() { discard(); }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // false with errno set.
    bool open(const std::string& target) {
        discard();
        size_t slash = target.rfind('/');
        part_ = target.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".uzpart-XXXXXX";
        fd_.reset(::mkostemp(part_.data(), O_CLOEXEC));
        if (!fd_.valid()) {
            part_.clear();
            return false;
        }
        // The mode a plain create would give; mkstemp makes it 0600.
        mode_t mask = ::umask(0);
        ::umask(mask);
        // Left 0600 when this fails: readable still by its owner.
        (void)::fchmod(fd_.get(), 0666 & ~mask);
        target_ = target;
        return true;
    }
    bool write(const char* data, size_t n) { return writeAll(fd_.get(), data, n); }
    // Gives the file its target's name; false (the part removed) when the
    // data did not all reach the disk or the rename fails.
    bool commit() {
        bool ok = fd_.close() && ::rename(part_.c_str(), target_.c_str()) == 0;
        if (ok) part_.clear();
        discard();
        return ok;
    }
    void discard() {
        fd_.reset();
        if (!part_.empty()) ::unlink(part_.c_str());
        part_.clear();
    }

private:
    Fd fd_;
    std::string part_;
    std::string target_;
};

// Messages of one command's data transfer.
struct DataMessages {
    int surplusWrite;  // the bytes read with the header line did not all reach the file
    const char* surplusWriteTag;
    int pieceWrite;  // a piece read afterwards did not
    const char* pieceWriteTag;
    int socketError;  // "%s": the system's error text
    const char* socketErrorTag;
    int memory;
    const char* memoryTag;
    // For socketError when the data stopped coming; null: message 460.
    const char* stoppedReason;
};

constexpr DataMessages kRetrData = {443, "uzsession/54", 449, "uzsession/60", 450, "uzsession/61",
                                    448, "uzsession/59", nullptr};
constexpr DataMessages kGetData = {387, "uzsession/8", 391, "uzsession/12", 392, "uzsession/13",
                                   390, "uzsession/11", "connection closed or no data in time"};

// The reading of one reply after its command went out: the session's line
// reader and raw reads, and the response it fills. A failure before the
// reply's last line disconnects, so the rest is never read as the next
// reply.
class ReplyReader {
public:
    ReplyReader(UzSession& session, UzResponse& response, time_t wait)
        : s_(session), r_(response), wait_(wait) {}

protected:
    // The first line, read by the operation (n characters), into line_;
    // its code.
    int takeFirstLine(int n) {
        line_ = std::string_view(s_.getResultPrintout(), static_cast<size_t>(n));
        return replyCode(line_);
    }
    // The next line into line_; false when none came.
    bool readLine() {
        int n = s_.getPeerCommand(wait_);
        if (n < 0) return false;
        line_ = std::string_view(s_.getResultPrintout(), static_cast<size_t>(n));
        return true;
    }
    // Ends the command before its reply is read to the end.
    void fail(std::string message) {
        r_.resultCode = 500;
        r_.resultMessage = std::move(message);
        r_.clientMessage = true;
        s_.disconnect();
    }
    // size bytes of raw data, each piece to file when given and to data
    // when given; with direct (room for size bytes) read straight into it.
    // false when the command was aborted.
    bool receive(size_t size, PartFile* file, const std::string& path, std::string* data, char* direct,
                 const DataMessages& m);
    // A file that got all its bytes could not be kept: the reply goes on,
    // the command fails.
    void keepFailed(int index, const char* tag, const std::string& path) {
        failure_ = formatChecked(msgFormat(index, tag), htmlEscaped(path));
        localFailure_ = true;
        failureIsClients_ = true;
    }
    // The final line just read ends the command.
    void finish(int code) {
        r_.resultCode = localFailure_ ? 500 : code;
        r_.resultMessage = failure_ ? *failure_ : textAfterCode(line_);
        r_.clientMessage = failure_ && failureIsClients_;
    }

    UzSession& s_;
    UzResponse& r_;
    time_t wait_;
    std::string_view line_;
    // Why an archive or member failed; the end line does not replace it.
    std::optional<std::string> failure_;
    bool localFailure_ = false;
    bool failureIsClients_ = false;  // failure_ is a table message, not the server's text
};

bool ReplyReader::receive(size_t size, PartFile* file, const std::string& path, std::string* data, char* direct,
                          const DataMessages& m) {
    char piece[kDataChunk];
    for (size_t left = size; left > 0;) {
        const bool fromSurplus = s_.restCnt > 0;
        // Never more than left: direct holds exactly size bytes.
        char* to = direct ? direct + (size - left) : piece;
        ssize_t got = s_.readPayload(to, direct ? left : std::min(left, sizeof piece));
        if (got <= 0) {
            // Closed or silent before the announced length: a short
            // payload, never a complete one.
            if (got < 0) {
                fail(formatChecked(msgFormat(m.socketError, m.socketErrorTag), strerror(errno)));
            } else if (m.stoppedReason) {
                fail(formatChecked(msgFormat(m.socketError, m.socketErrorTag), m.stoppedReason));
            } else {
                fail(formatChecked(msgFormat(460, "uzsession/61")));
            }
            return false;
        }
        if (file && !file->write(to, static_cast<size_t>(got))) {
            fail(fromSurplus ? formatChecked(msgFormat(m.surplusWrite, m.surplusWriteTag), htmlEscaped(path))
                              : formatChecked(msgFormat(m.pieceWrite, m.pieceWriteTag), htmlEscaped(path)));
            return false;
        }
        if (data) {
            try {
                data->append(to, static_cast<size_t>(got));
            } catch (const std::bad_alloc&) {
                fail(formatChecked(msgFormat(m.memory, m.memoryTag)));
                return false;
            }
        }
        left -= static_cast<size_t>(got);
    }
    return true;
}

// One RETR reply: every member to a file under outdir, or the first
// member's bytes into data (the others read and dropped; the record
// describes the member data holds).
class RetrReader : public ReplyReader {
public:
    RetrReader(UzSession& session, UzResponse& response, time_t wait, std::optional<std::string_view> outdir,
               std::string* data, UzMemberSink* sink)
        : ReplyReader(session, response, wait), outdir_(outdir), data_(data), sink_(sink) {}

    // The first line has been read (n characters).
    void read(int n);

private:
    enum class Step { kNextMember, kEnd, kAborted };
    Step member();
    Step afterMember();
    bool placeFile(UzRetrEntry& entry, const LengthFrame& frame, PartFile& file);
    void end(int code);

    // Into memory: data_ or sink_ given.
    bool toMemory() const { return data_ || sink_; }

    std::optional<std::string_view> outdir_;
    std::string* data_;
    UzMemberSink* sink_;
    int members_ = 0;
    bool firstFailed_ = false;
};

void RetrReader::read(int n) {
    const int code = takeFirstLine(n);
    if (code < 0) {
        fail(formatChecked(msgFormat(441, "uzsession/52")));
        return;
    }
    if (code != 300) {
        // A refusal (no member, bad library, 514 for the sub-folder page)
        // or an end without members.
        r_.resultCode = code;
        r_.resultMessage = textAfterCode(line_);
        // Any other 3xx line is not final: its rest would be read as the
        // next reply.
        if (code > 300 && code <= 399) s_.disconnect();
        return;
    }
    r_.resultCode = code;
    Step step = Step::kNextMember;
    while (step == Step::kNextMember) step = member();
}

RetrReader::Step RetrReader::member() {
    std::optional<LengthFrame> frame = parseRetrFrame(line_);
    if (!frame) {
        fail(formatChecked(msgFormat(441, "uzsession/52")));
        return Step::kAborted;
    }
    r_.folder = frame->folder;
    // Into memory only the first member is kept.
    const bool keep = !toMemory() || members_ == 0;
    ++members_;
    UzRetrEntry* entry = nullptr;
    if (keep) {
        entry = r_.nextEntry<UzRetrEntry>();
        if (!entry) {
            fail(formatChecked(msgFormat(447, "uzsession/58")));
            return Step::kAborted;
        }
        entry->database = frame->database;
        entry->filename = frame->filename;
        entry->size = frame->size;
    }
    PartFile file;
    if (outdir_ && !placeFile(*entry, *frame, file)) return Step::kAborted;
    if (data_ && keep) data_->reserve(std::min(frame->size, kRetrReserveMax));
    std::string* into = data_ && keep ? data_ : nullptr;
    char* direct = nullptr;
    if (sink_ && keep && !(direct = sink_->room(frame->size))) {
        fail(formatChecked(msgFormat(kRetrData.memory, kRetrData.memoryTag)));
        return Step::kAborted;
    }
    if (!receive(frame->size, outdir_ ? &file : nullptr, entry ? entry->outname : std::string(), into, direct,
                 kRetrData)) {
        return Step::kAborted;
    }
    if (!readLine()) {
        fail(formatChecked(msgFormat(444, "uzsession/55")));
        return Step::kAborted;
    }
    CrcLine crc = parseCrcLine(line_);
    switch (crc.kind) {
    case CrcLine::kCrc:
        if (!entry) break;
        entry->crc = crc.crc;
        if (outdir_ && !file.commit()) {
            keepFailed(443, "uzsession/54", entry->outname);
            break;
        }
        entry->success = 1;
        break;
    case CrcLine::kMemberFailed:
        // The server could not send this member; the next one or the end
        // line follows.
        if (entry) {
            failure_ = textAfterCode(line_);
            failureIsClients_ = false;
        }
        if (members_ == 1) firstFailed_ = true;
        break;
    case CrcLine::kFinal:
        if (members_ == 1) firstFailed_ = true;
        end(crc.code);
        return Step::kEnd;
    case CrcLine::kMalformed:
        fail(formatChecked(msgFormat(445, "uzsession/56")));
        return Step::kAborted;
    }
    return afterMember();
}

// A name that would leave outdir, or a file that cannot be made, ends the
// command: the member's bytes are on their way and nowhere to go.
bool RetrReader::placeFile(UzRetrEntry& entry, const LengthFrame& frame, PartFile& file) {
    std::optional<std::string> path = frame.holdsNul ? std::nullopt : outputPath(*outdir_, frame.filename);
    if (!path) {
        fail(formatChecked(msgFormat(442, "uzsession/53"), htmlEscaped(frame.filename)));
        return false;
    }
    entry.outname = *path;
    if (!file.open(*path)) {
        fail(formatChecked(msgFormat(442, "uzsession/53"), htmlEscaped(*path)));
        return false;
    }
    return true;
}

RetrReader::Step RetrReader::afterMember() {
    for (;;) {
        if (!readLine()) {
            fail(formatChecked(msgFormat(446, "uzsession/57")));
            return Step::kAborted;
        }
        const int code = replyCode(line_);
        if (code == 300) return Step::kNextMember;
        if (code < 0) {
            fail(formatChecked(msgFormat(446, "uzsession/57")));
            return Step::kAborted;
        }
        if (code > 300 && code <= 399) continue;
        end(code);
        return Step::kEnd;
    }
}

void RetrReader::end(int code) {
    finish(code);
    // The bytes in data are not the member's: never a success, though the
    // server's end line says so.
    if (toMemory() && firstFailed_ && r_.resultCode < 300) r_.resultCode = 500;
}

// One GET reply: every archive to a file under outdir.
class GetReader : public ReplyReader {
public:
    GetReader(UzSession& session, UzResponse& response, time_t wait, std::string_view outdir)
        : ReplyReader(session, response, wait), outdir_(outdir) {}

    // The first line has been read (n characters).
    void read(int n);

private:
    // The archive whose header is in line_; true when the next archive's
    // header followed it.
    bool archive();

    std::string_view outdir_;
};

void GetReader::read(int n) {
    const int code = takeFirstLine(n);
    if (code < 0) {
        fail(formatChecked(msgFormat(385, "uzsession/6")));
        return;
    }
    r_.resultCode = code;
    if (code < 200 || code > 399) {
        r_.resultMessage = "Failed to get, " + textAfterCode(line_);
        return;
    }
    if (code <= 299) {
        // No library matched: nothing to write, and nothing more comes.
        r_.resultMessage = textAfterCode(line_);
        return;
    }
    if (code != 300) {
        fail(formatChecked(msgFormat(385, "uzsession/6")));
        return;
    }
    while (archive()) {
    }
}

bool GetReader::archive() {
    std::optional<LengthFrame> frame = parseGetFrame(line_);
    if (!frame) {
        fail(formatChecked(msgFormat(385, "uzsession/6")));
        return false;
    }
    UzGetEntry* entry = r_.nextEntry<UzGetEntry>();
    if (!entry) {
        fail(formatChecked(msgFormat(389, "uzsession/10")));
        return false;
    }
    entry->database = frame->database;
    entry->size = frame->size;
    std::optional<std::string> path = frame->holdsNul ? std::nullopt : outputPath(outdir_, frame->database);
    PartFile file;
    if (!path || !file.open(*path)) {
        fail(formatChecked(msgFormat(386, "uzsession/7"), htmlEscaped(path ? *path : frame->database)));
        return false;
    }
    entry->outname = *path;
    if (!receive(frame->size, &file, *path, nullptr, nullptr, kGetData)) return false;
    if (!readLine()) {
        fail(formatChecked(msgFormat(388, "uzsession/9")));
        return false;
    }
    const int code = replyCode(line_);
    if (code == 200 || code == 300) {
        if (file.commit()) {
            entry->success = 1;
        } else {
            keepFailed(387, "uzsession/8", *path);
        }
        if (code == 300) return true;
    } else if (code < 0 || (code > 300 && code <= 399)) {
        fail(formatChecked(msgFormat(388, "uzsession/9")));
        return false;
    }
    finish(code);
    return false;
}

// One IDRETR reply: a record per section.
class IdRetrReader : public ReplyReader {
public:
    using ReplyReader::ReplyReader;

    // The first line has been read (n characters).
    void read(int n);

private:
    // The entry in line_; false when the command was aborted.
    bool entry(int code);
    // The section after head, or none when the command was aborted.
    std::optional<std::string> section(const IdRetrHead& head);
};

void IdRetrReader::read(int n) {
    takeFirstLine(n);
    UzLine line = s_.classifyLine(n);
    // Only the column header is skipped: a first line may be the answer.
    if (line.kind == UzLineKind::kHeader && line.code == 300) {
        if (!readLine()) {
            fail(formatChecked(msgFormat(427, "uzsession/40")));
            return;
        }
    }
    for (;;) {
        line = s_.classifyLine(static_cast<int>(line_.size()));
        switch (line.kind) {
        case UzLineKind::kNone:
            fail(formatChecked(msgFormat(427, "uzsession/40")));
            return;
        case UzLineKind::kShort:
            fail(formatChecked(msgFormat(430, "uzsession/41")));
            return;
        case UzLineKind::kError:
        case UzLineKind::kEnd:
            r_.resultCode = line.code;
            r_.resultMessage = std::string(line.text);
            return;
        case UzLineKind::kHeader:  // "310-Failed to unzip ...": the final line follows
            break;
        case UzLineKind::kEntry:
            if (!entry(line.code)) return;
            break;
        }
        if (!readLine()) {
            fail(formatChecked(msgFormat(427, "uzsession/40")));
            return;
        }
    }
}

bool IdRetrReader::entry(int code) {
    std::optional<IdRetrHead> head = code == 300 ? parseIdRetrHead(line_) : std::nullopt;
    if (!head) {
        fail(formatChecked(msgFormat(430, "uzsession/41")));
        return false;
    }
    std::optional<std::string> text;
    try {
        text = section(*head);
    } catch (const std::bad_alloc&) {
        fail(formatChecked(msgFormat(448, "uzsession/59")));
        return false;
    }
    if (!text) return false;
    UzIdRetrEntry* record = r_.nextEntry<UzIdRetrEntry>();
    if (!record) {
        fail(formatChecked(msgFormat(431, "uzsession/42")));
        return false;
    }
    record->size = head->sizeWord;
    record->database = head->database;
    record->filename = head->filename;
    record->context = std::move(*text);
    return true;
}

// The section is taken byte for byte (a size word the bytes do not keep,
// or a section above the limit, leaves the reply's end unknown: 430).
std::optional<std::string> IdRetrReader::section(const IdRetrHead& head) {
    std::optional<char> ender;
    if (line_.size() < kReplyLineMax) ender = s_.dropLf ? '\r' : '\n';
    IdRetrSection text(head.size, line_.substr(head.sectionStart), ender);
    char piece[kDataChunk];
    while (text.state() == IdRetrSection::State::kNeedBytes) {
        ssize_t got = s_.readPayload(piece, std::min(text.wanted(), sizeof piece));
        if (got <= 0) break;
        text.feed(std::string_view(piece, static_cast<size_t>(got)));
    }
    if (text.state() != IdRetrSection::State::kDone) {
        fail(formatChecked(msgFormat(430, "uzsession/41")));
        return std::nullopt;
    }
    return std::move(text.text());
}

// RETR lines wait for a member to be unpacked; after an update the server
// refreshes its catalogue first.
time_t retrLineWait(std::string_view member, time_t commandTimeout) {
    const UzWaits& waits = uzWaits();
    if (member == kSubMainPage) return static_cast<time_t>(waits.retrMainPage.count());
    return std::max(static_cast<time_t>(waits.retr.count()), commandTimeout + static_cast<time_t>(waits.settle.count()));
}

}  // namespace

std::optional<LengthFrame> parseGetFrame(std::string_view line) {
    return parseFrame(line, false);
}

std::optional<LengthFrame> parseRetrFrame(std::string_view line) {
    return parseFrame(line, true);
}

CrcLine parseCrcLine(std::string_view line) {
    CrcLine result;
    result.code = replyCode(line);
    if (result.code < 0) return result;
    if (result.code == 300) {
        std::vector<std::string> words = wordsAfterCode(line);
        std::optional<unsigned long> crc = words.size() >= 2 && words[0] == "CRC" ? hexCrc(words[1]) : std::nullopt;
        if (crc) {
            result.kind = CrcLine::kCrc;
            result.crc = *crc;
        }
        return result;
    }
    switch (result.code) {
    case 510:  // these end the whole reply of every command
    case 511:
    case 519:
    case 577:
    case 578:
        result.kind = CrcLine::kFinal;
        return result;
    default:
        break;
    }
    const bool endLine = result.code >= 200 && result.code <= 299;
    const bool localHeader = startsAt(line, 4, "Failed to read Local Header");
    result.kind = endLine || localHeader ? CrcLine::kFinal : CrcLine::kMemberFailed;
    return result;
}

std::optional<IdRetrHead> parseIdRetrHead(std::string_view line) {
    if (!startsAt(line, 0, "300 ")) return std::nullopt;
    size_t pos = 4;
    while (pos < line.size() && isAsciiDigit(byteAt(line, pos))) ++pos;
    // 18 digits always fit size_t; more is no section size.
    if (pos == 4 || pos - 4 > 18) return std::nullopt;
    IdRetrHead head;
    head.sizeWord = std::string(line.substr(4, pos - 4));
    head.size = *decimalSize(head.sizeWord);
    // The names are written inside quotes as they are, without escapes.
    std::string* names[] = {&head.database, &head.filename};
    for (std::string* name : names) {
        if (!startsAt(line, pos, " \"")) return std::nullopt;
        pos += 2;
        size_t close = line.find('"', pos);
        if (close == std::string_view::npos) return std::nullopt;
        *name = std::string(line.substr(pos, close - pos));
        pos = close + 1;
    }
    if (!startsAt(line, pos, "  ")) return std::nullopt;
    head.sectionStart = pos + 2;
    return head;
}

IdRetrSection::IdRetrSection(size_t size, std::string_view rest, std::optional<char> ender) : size_(size) {
    if (size > kIdRetrSectionMax || rest.size() > size) {
        state_ = State::kBad;
        return;
    }
    text_.reserve(size);
    text_.assign(rest);
    if (rest.size() < size) {
        // The line ended inside the section: its end byte is the section's.
        if (ender) text_ += *ender;
    } else if (ender) {
        // The line alone holds the section: its end is the closing '\n'.
        state_ = *ender == '\n' ? State::kDone : State::kBad;
    }
}

size_t IdRetrSection::wanted() const {
    return state_ == State::kNeedBytes ? size_ - text_.size() + 1 : 0;
}

IdRetrSection::State IdRetrSection::feed(std::string_view bytes) {
    if (state_ != State::kNeedBytes) return state_;
    size_t body = std::min(size_ - text_.size(), bytes.size());
    text_.append(bytes.substr(0, body));
    bytes.remove_prefix(body);
    if (!bytes.empty()) state_ = bytes == "\n" ? State::kDone : State::kBad;
    return state_;
}

std::optional<std::string> outputPath(std::string_view outdir, std::string_view name) {
    size_t slash = name.rfind('/');
    std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (base.empty() || base == "." || base == ".." || base.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string path(outdir);
    if (!path.empty() && path.back() != '/') path += '/';
    path += base;
    if (path.find('\0') != std::string::npos || path.size() >= PATH_MAX) return std::nullopt;
    return path;
}

std::unique_ptr<UzResponse> UzSession::get(std::string_view library, std::string_view outdir) {
    std::unique_ptr<UzResponse> response = allocResponse(RT_GET);
    if (!response) {
        setError(msgFormat(390, "uzsession/11"));
        return nullptr;
    }
    const time_t wait = static_cast<time_t>(uzWaits().get.count());
    if (!sendCommand("GET", {{library, UzArgKind::kLibrary}})) return nullptr;
    int n = getPeerCommand(wait);
    if (n < 0) return nullptr;
    GetReader(*this, *response, wait, outdir).read(n);
    return response;
}

std::unique_ptr<UzResponse> UzSession::retr(std::string_view library, std::string_view member,
                                            std::string_view outdir) {
    return handleRetrCommand(library, member, outdir, nullptr);
}

std::unique_ptr<UzResponse> UzSession::retrMem(std::string_view library, std::string_view member,
                                               std::string& data) {
    return handleRetrCommand(library, member, std::nullopt, &data);
}

std::unique_ptr<UzResponse> UzSession::retrMem(std::string_view library, std::string_view member,
                                               UzMemberSink& sink) {
    return runRetr(library, member, std::nullopt, nullptr, &sink);
}

std::unique_ptr<UzResponse> UzSession::handleRetrCommand(std::string_view library, std::string_view member,
                                                         std::optional<std::string_view> outdir,
                                                         std::string* data) {
    if (outdir.has_value() == (data != nullptr)) {
        setError(msgFormat(440, "uzsession/51"));
        return nullptr;
    }
    return runRetr(library, member, outdir, data, nullptr);
}

std::unique_ptr<UzResponse> UzSession::runRetr(std::string_view library, std::string_view member,
                                               std::optional<std::string_view> outdir, std::string* data,
                                               UzMemberSink* sink) {
    if (data) data->clear();
    if (data || sink) memDataBufLen = 0;
    std::unique_ptr<UzResponse> response = allocResponse(RT_RETR);
    if (!response) {
        setError(msgFormat(448, "uzsession/59"));
        return nullptr;
    }
    const time_t wait = retrLineWait(member, commandTimeout);
    if (!sendCommand("RETR", {{library, UzArgKind::kLibrary}, {member, UzArgKind::kFreeText}})) return nullptr;
    int n = getPeerCommand(wait);
    if (n < 0) return nullptr;
    RetrReader(*this, *response, wait, outdir, data, sink).read(n);
    if (data) memDataBufLen = data->size();
    const UzRetrEntry* first = response->retr();
    if (sink && first && first->filled() && first->success) memDataBufLen = first->size;
    return response;
}

std::optional<std::string> UzSession::getFileData(std::string_view library, std::string_view member) {
    memDataBufLen = 0;
    // Only a member CONTV lists is fetched: a missing one is none, not an
    // empty block.
    std::unique_ptr<UzResponse> listing = contv(library, member);
    if (!listing || listing->resultCode != 200 || !listing->cont() || !listing->cont()->filled()) {
        return std::nullopt;
    }
    std::string data;
    std::unique_ptr<UzResponse> reply = retrMem(library, member, data);
    if (!reply || reply->resultCode != 200 || !reply->retr() || !reply->retr()->success) {
        memDataBufLen = 0;
        return std::nullopt;
    }
    return data;
}

std::unique_ptr<UzResponse> UzSession::idretr(std::string_view pattern, std::string_view library,
                                              std::string_view member, std::string_view doctype) {
    std::unique_ptr<UzResponse> response = allocResponse(RT_IDRETR);
    if (!response) {
        setError(msgFormat(431, "uzsession/42"));
        return nullptr;
    }
    const time_t wait = static_cast<time_t>(uzWaits().idretr.count());
    if (!sendCommand("IDRETR", {{pattern, UzArgKind::kPattern},
                                {library, UzArgKind::kLibrary},
                                {member, UzArgKind::kFreeText},
                                {doctype, UzArgKind::kFreeText}})) {
        return nullptr;
    }
    int n = getPeerCommand(wait);
    if (n < 0) return nullptr;
    IdRetrReader(*this, *response, wait).read(n);
    return response;
}

}  // namespace ruva
