// The vocabulary of ZIP comments. A library's archive comment holds its
// title, its library id in square brackets and marks:
//   My Library R2A [EN/LZN 702 0012 R2A] STA:REL CAT: kvocat,ff|0|1STA:x+
// (release state, category cookie and default bitmap, '+' at the end for a
// collection). A member comment holds blank-separated tokens as
// getNextToken cuts them, keywords compared without regard to case:
//   TITLE: "User Guide" SUBTITLE: "Intro" CAT:"1|0|ff"
// Also here: library kinds by file extension, ZIP method names, the ZIP file
// test, the archive comment of a mapped archive and the hash id of a
// catalogue listing entry.
//
// Comments are only read, never written: they may lie in pools shared by
// every daemon process. A comment passed as a view ends at its first NUL, as
// the stored text does; callers holding a null comment pass "".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/zip_format.h"  // ZipMethod

namespace ruva {

// Keywords of archive comments (searched anywhere, case as written).
inline constexpr std::string_view kStaInternal = "STA:INT";
inline constexpr std::string_view kStaPreliminary = "STA:PRE";
inline constexpr std::string_view kStaReleased = "STA:REL";
inline constexpr std::string_view kCategoryMark = "CAT:";
// At the start of an archive comment: container archives.
inline constexpr std::string_view k3ppContainer = "3PPCONTAINER:";
inline constexpr std::string_view kHtmlContainer = "HTMLCONTAINER:";

// Keyword tokens of member comments; the value is the next token.
inline constexpr std::string_view kTitleToken = "TITLE:";
inline constexpr std::string_view kSubtitleToken = "SUBTITLE:";
inline constexpr std::string_view kEngTitleToken = "ENGTITLE:";
inline constexpr std::string_view kExtnToken = "EXTN:";
inline constexpr std::string_view kCtwToken = "CTW:";
inline constexpr std::string_view kInfoToken = "INFO:";  // on "kvoversion.txt"

// Token scans of member comments look at this many characters.
inline constexpr size_t kMemberCommentScanMax = 1024;
// Longest library title before it is shortened to 77 characters and "...".
inline constexpr size_t kLibTitleMax = 80;
inline constexpr size_t kSubtitleMax = 199;

enum LibType {
    LIB_UNKNOWN = 0,
    LIB_KIVO = 1,     // "kvo"
    LIB_HTML = 2,     // "z"
    LIB_PAPER = 3,    // "zip"
    LIB_PDF = 4,      // "zdf"
    LIB_SW = 5,       // "zsw"
    LIB_GENERIC = 6,  // "zgp"
    LIB_HELP = 7,     // never derived from an extension
};

// Title and library id of an archive comment. The title is the text before
// the first '[' less the one character before it (the blank), shortened to
// its first 77 characters and "..." when longer than 80, then '&' escaped
// (AmpEsc). The id is the text between the first '[' and the first ']'.
// Both outputs are always set. Returns 1; no '[' gives "" and "", no ']' an
// empty id. A ']' before the first '[' returns 0 with both empty.
int extractLibTitleId(std::string_view comment, std::string& title, std::string& id);

// True when the library id (extractLibTitleId's form) is preliminary: the
// character after its last blank is 'P'. A blank only at position 0 does
// not count; without a blank the third character decides. An id shorter
// than three characters without a blank, or empty, is not preliminary.
bool isPrelLib(std::string_view libId);

// When the comment holds any of STA:INT, STA:PRE, STA:REL: released exactly
// when it holds STA:REL. Otherwise released unless the id is preliminary.
bool isReleasedLib(std::string_view comment, std::string_view libId);

// True when the comment is not empty and its last character is '+'.
bool isCollection(std::string_view comment);

// The category mark "CAT:", one separating character, the cookie name, ','
// and the default bitmap up to "STA:". When "CAT:" and a ',' after it are
// found the cookie name is set (from the fifth character after the mark's
// start up to the ','; "" when the ',' comes earlier), and the bitmap is set
// when "STA:" follows the ',' (everything between them, blanks included).
// Outputs not found are left as they were. Returns 1.
int extractCategorycomment(std::string_view comment, std::optional<std::string>& cookieName,
                           std::optional<std::string>& defaultBitmap);

// The library's category bitmap: the value of the request's cookie named by
// the category mark (HTTP_COOKIE), else the mark's default bitmap; when
// neither exists the output is left as it was. Returns 1.
int readCatValuefromCookie(std::string_view comment, std::optional<std::string>& bitmap);

// A member's category bitmap: after the first "CAT:", the text between the
// next '"' and the '"' after it. No value without "CAT:" or the two quotes.
std::optional<std::string> extractDocumentBitmap(std::string_view comment);

// The document title of a member comment, from its first 1024 characters:
// "TITLE:" takes the next token (a later one replaces it); "CTW:" and a
// token take that token and end the scan. No value for an empty comment or
// when neither keyword has a token after it.
std::optional<std::string> extractZipCommentTitle(std::string_view comment);

// The last "TITLE:" value of the first 1024 characters of a member comment.
// For a non-empty comment the subtitle becomes "" and then the token after
// each "SUBTITLE:", cut to 199 characters; an empty comment leaves it as it
// was and gives no value.
std::optional<std::string> extractDocTitlefrmZipComment(std::string_view comment, std::string& subtitle);

// The kind of a library file by the extension after its last '.', compared
// without regard to case; no '.' or another extension gives LIB_UNKNOWN.
LibType getLibType(std::string_view fileName);

// The hash id of a catalogue listing entry "version|hashid|name|...": the
// field between the first two '|'. The second '|' is overwritten with a NUL
// and a pointer to the field inside the entry is returned. A null entry, or
// one with fewer than two '|', gives "" and is left as it is.
const char* hashID(char* entry);

// "Stored", "Shrunk", "Reduce1".."Reduce4", "Imploded", "Tokenized",
// "Deflated" for 0..8, "Unknown[n]" for any other n.
std::string zipMethodName(unsigned method);

// The inverse of zipMethodName for 0..8, names compared without regard to
// case; any other name gives ZIPMETHOD_UNKNOWN.
ZipMethod methodNameToType(std::string_view name);

// 1 when the file has at least 64 bytes and begins with the local header
// signature; 0 when it cannot be opened or read, or is shorter.
int isZipFile(const char* fileName);

// The archive comment of a mapped archive of len bytes. Searches back for
// the end-of-central-directory signature, taking only one whose
// 22-byte record lies inside the mapping, and copies min(stored comment
// length, bytes after the record, bufSize) bytes into buf and a NUL after
// them: buf holds bufSize + 1 bytes. 1; 0 for a null argument or when no
// such record is found (buf untouched).
int extractMappedZipVolumeComment(const char* zip, size_t len, char* buf, size_t bufSize);

}  // namespace ruva
