// One annotation as it is stored: a member of the shared archive
// "annot.anx" holding ten fields, each followed by one NUL byte and nothing
// else. The member is named after the document's file name and the chapter
// the annotation belongs to. This unit writes and reads those bytes, holds
// the rules a name must pass before it reaches the document server, and the
// chapter order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ruva {

inline constexpr std::string_view kAnnoArchive = "annot.anx";
inline constexpr size_t kAnnoFieldCount = 10;
// The text is cut to this many bytes.
inline constexpr size_t kAnnoTextMax = 2000;
// Document and member names, in characters.
inline constexpr size_t kAnnoNameMax = 255;
// A chapter typed for a new or updated annotation: digits and dots.
inline constexpr size_t kAnnoChapterMax = 11;
// Members are read into memory up to this size; larger ones are refused.
inline constexpr size_t kAnnoMemberMax = 65536;
// The version (AV) of a form that made a new annotation.
inline constexpr std::string_view kAnnoNoVersion = "0";

// Messages the name rules give (the caller adds its tag).
inline constexpr int kAnnoMsgBadName = 463;
inline constexpr int kAnnoMsgBadChapter = 464;
inline constexpr int kAnnoMsgNotDocument = 465;

// One annotation, fields in stored order. version, type and scope hold the
// only values ever written.
struct AnnoStruct {
    std::string header;   // AH, the title line
    std::string user;     // AU, name or signature
    std::string text;     // AT, at most kAnnoTextMax bytes
    std::string chapter;  // "0" for the whole document
    std::string date;     // "YYYY-MM-DD", local time of the last change
    std::string time;     // "hh:mm:ss"
    std::string docrev;   // the revision part of the document's file name
    std::string version = "1.0";
    std::string type = "HTMLTEXT";
    std::string scope = "G";
};

// ---- the record's bytes

// How many bytes of text the 2000-byte cut keeps: all of a shorter text;
// else at most kAnnoTextMax, never ending inside a character reference
// ("&#8364;", "&#x20AC;": the form browsers send characters outside the
// page's charset) nor, with eucJp, inside an EUC-JP character.
size_t annoTextCut(std::string_view text, bool eucJp);

// True when the document is Japanese (its stem ends in the language code
// "Uja", any case as listings fold names): its texts are EUC-JP.
bool annoDocIsJapanese(std::string_view docname);

// The ten fields as written: control bytes (NUL among them) dropped from
// every field, except CR, LF and TAB in the text; the text then cut
// (annoTextCut). UPDFILE sends each followed by its NUL.
std::array<std::string, kAnnoFieldCount> annoRecordFields(const AnnoStruct& as, bool eucJp);
// Those fields each followed by one NUL: the member's bytes.
std::string encodeAnnoRecord(const AnnoStruct& as, bool eucJp);

// The fields of a member as stored, read only inside bytes: each ends at
// its NUL or at the end of the bytes; missing ones are ""; bytes after the
// tenth NUL are ignored. Nothing is cut or forced here (newAnnoStruct
// does), but version and scope keep their only values.
AnnoStruct decodeAnnoRecord(std::string_view bytes);

// The version a form carries (AV): the member's CRC-32 as the listing
// gives it, 8 lower-case hexadecimal digits.
std::string annoVersion(uint32_t crc);
std::string annoVersionOf(std::string_view memberBytes);

// ---- names
//
// Every name here goes on a command line: no wildcard, blank or leading
// '-' may pass, for the daemon reads them as patterns, separators and
// options.

// 0 when fn is a document file name: at most kAnnoNameMax characters of
// letters, digits and "-_+.", first a letter or digit (else
// kAnnoMsgBadName), exactly two dots with stem and type not empty, the
// revision between them may be (else kAnnoMsgNotDocument).
int checkAnnoDocName(std::string_view fn);
// 0 when an may name a chapter of docname (a valid document name): letters,
// digits and "-_+.", first a letter or digit, the member name within
// kAnnoNameMax. With numeric also 1 to kAnnoChapterMax digits and dots,
// first a digit. Else kAnnoMsgBadChapter.
int checkAnnoChapter(std::string_view docname, std::string_view an, bool numeric);
// True when a member name may go to the server or be taken from a listing:
// at most kAnnoNameMax characters of letters, digits and "-_+.", first a
// letter or digit.
bool annoMemberNameOk(std::string_view name);

// The member of docname's chapter: docname up to its last '.', then the
// chapter; a name without '.' stays as it is.
std::string annoMemberName(std::string_view docname, std::string_view chapter);
// The CONTV pattern of docname's members: the part after the last '.'
// becomes '*' ("stem.A.*"); with allRevs the last part is dropped first,
// so every revision matches ("stem.*"); a name without '.' gets ".*".
std::string annoListPattern(std::string_view docname, bool allRevs);
// The chapter of a member name: what follows its second '.'; "0" when it
// has fewer than two.
std::string annoChapterOf(std::string_view member);

// Names and revisions compare ASCII case-blind: the daemon folds names in
// its listings.
bool annoNamesEqual(std::string_view a, std::string_view b);
// <0, 0, >0 as a sorts before, with or after b, bytes compared with ASCII
// letters folded.
int annoRevCompare(std::string_view a, std::string_view b);

// Dotted chapter references compared numerically, component by component:
// -1, 0 or 1. A component is the run of digits at its start (none counts
// 0), compared by value whatever its length; "3.10" follows "3.9", "1.2"
// equals "1.2.0", "01" equals "1".
int chapcmp(std::string_view a, std::string_view b);

}  // namespace ruva
