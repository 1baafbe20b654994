// The reply lines of GET, RETR and IDRETR as plain values, and where a
// retrieved file may go: what the session's retrieval operations decide,
// kept apart from the socket so that each rule can be tried on bytes alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ruva {

// The member RETR of a node ID answers with a generated page.
inline constexpr std::string_view kSubMainPage = "kvo_ml_sub_main_page";

// A framing line "300-Length <size> ...": GET names the archive after the
// size, RETR the library, the member and (not for the generated sub-folder
// page) the folder number, each in double quotes.
struct LengthFrame {
    size_t size = 0;
    std::string database;
    std::string filename;  // RETR only
    int folder = 0;        // RETR only; 0 when the line names none
    // The line held a NUL: a name may have been cut there, so it is not
    // the name the server sent.
    bool holdsNul = false;
};

// Null when the line is not "300-Length" (or "300 Length") followed by a
// decimal size that fits size_t and the archive's name.
std::optional<LengthFrame> parseGetFrame(std::string_view line);
// Null likewise, or when the member name is missing.
std::optional<LengthFrame> parseRetrFrame(std::string_view line);

// What the line after a member's bytes says about the member.
struct CrcLine {
    enum Kind {
        kCrc,           // "300-CRC 0x<hex>": the member is complete
        kMemberFailed,  // "500-Failed, <why>" and the like: the next member or the end follows
        kFinal,         // the reply ends here (an end line, 510, 511, 519, 577, 578, a failed local header)
        kMalformed,     // no code, or 300 without a CRC word: where the data ended is unknown
    };
    Kind kind = kMalformed;
    int code = 0;
    unsigned long crc = 0;
};
CrcLine parseCrcLine(std::string_view line);

// The file a retrieved archive or member goes to: outdir ("" the working
// directory), a '/' unless it ends in one, then the name's part after its
// last '/'. Null when that part is empty, "." or "..", or holds a NUL, or
// the path does not fit PATH_MAX with its NUL: a server's name never
// leaves outdir.
std::optional<std::string> outputPath(std::string_view outdir, std::string_view name);

// The head of an IDRETR entry line, `300 <size> "<library>" "<member>"`
// and two blanks, after which the section begins.
struct IdRetrHead {
    std::string sizeWord;
    size_t size = 0;
    std::string database;
    std::string filename;
    size_t sectionStart = 0;  // offset of the section in the line
};
// Null when the line is not of that form or the size word is not a
// decimal number of at most 18 digits.
std::optional<IdRetrHead> parseIdRetrHead(std::string_view line);

// One IDRETR section put together from its entry line and the raw bytes
// after it. The server writes the head, the section's `size` bytes (line
// ends and all) and one '\n'; the line reader stopped at the section's
// first '\n' or '\r', or cut the line at its limit. So the section is the
// rest of the line, the byte that ended it, then raw bytes up to `size`,
// and one '\n' must follow.
class IdRetrSection {
public:
    enum class State { kNeedBytes, kDone, kBad };

    // rest: the line after the head; ender: the byte that ended the line,
    // none when the line was cut at its limit.
    IdRetrSection(size_t size, std::string_view rest, std::optional<char> ender);

    State state() const { return state_; }
    // Raw bytes still wanted, the closing '\n' included; 0 unless kNeedBytes.
    size_t wanted() const;
    // Takes at most wanted() raw bytes; a closing byte other than '\n'
    // makes the section kBad.
    State feed(std::string_view bytes);
    // The section's bytes once kDone.
    std::string& text() { return text_; }

private:
    size_t size_;
    std::string text_;
    State state_ = State::kNeedBytes;
};

}  // namespace ruva
