// Document numbers: the display form people type ("1/1553-CXA 123 4567 Uen")
// and the member file name that stores the document
// ("1_1553-CXA1234567Uen.R1A.html": stem, revision, type). Positions are
// counted from 0. Every result is a string of the caller's; limits are cuts
// that keep what fits.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace ruva {

inline constexpr size_t kDocnoNameMax = 255;    // characters of a name that are split
inline constexpr size_t kDocnoFieldMax = 63;    // number field of a split name
inline constexpr size_t kDocnoRevMax = 15;      // revision field
inline constexpr size_t kDocnoTypeMax = 15;     // type field
inline constexpr size_t kDocnoPartMax = 64;     // each part of filenameToDocnoParts
inline constexpr size_t kDocnoDisplayMax = 63;  // display form of filenameToDocno

// File name "<stem>.<rev>.<type>" of a typed number. The number counts
// from its first character after leading white space; it is refused (no
// value) when null, empty, holding any of "_@${[]}?!#=`^~" or without a
// digit. The stem drops white space, controls and bytes from 128 up, writes
// '/' as '_', and lower-cases the letters after an upper-case 'U' at
// position 3 or later that follows no upper-case letter and precedes a
// letter ("UEN" -> "Uen"). The revision loses its white space and writes
// '/' as '_'; null or blank gives "<stem>..". The type loses its white space
// and is lower-cased; "" gives "*", null leaves the name ending in '.'.
std::optional<std::string> docnoToFilename(const char* docno, const char* rev, const char* ftype);

// Splits the first 255 characters of a name into number (cut to 63),
// revision (15) and type (15). Fields are the non-empty runs between dots;
// two dots right after the number mean an empty revision. Returns 1; 0 when
// there is no field at all (outputs untouched) or no revision field (the
// number is set, revision "" and no type). A missing type is no value.
// Any output may be null.
int splitDocnoFilename(const char* fname, std::string* docno, std::string* rev,
                       std::optional<std::string>* ftype);

// Cuts a member file name into prefix, decimal class, individual number,
// variant (with its leading '-'), language and revision, each at most 64
// characters; '_' inside the individual number and the variant is written
// '/'. All outputs are emptied first; any may be null. 1, or 0 when the name
// does not split (splitDocnoFilename 0).
int filenameToDocnoParts(const char* fname, std::string* prefix, std::string* decclass, std::string* ind,
                         std::string* variant, std::string* lang, std::string* rev);

// The display form (at most 63 characters) of a member file name, its
// revision with '_' written '/' ("" when empty) and its type as stored (no
// value when the name has none). Outputs are emptied first; any may be
// null. 1, or 0 when the name does not split.
int filenameToDocno(const char* fname, std::string* docno, std::string* rev,
                    std::optional<std::string>* ftype);

// 1 unless the typed text looks like a document number: only blanks, '+',
// '-', '/', digits and ASCII letters, fewer than 60 non-blank characters,
// and a '-' right after four or more digits (blanks between them allowed).
// Null gives 1.
int docnoLooksInvalid(const char* docno);

// Splits "number revision" at its last blank after trailing white space is
// removed. The word after it is the revision when it begins with a letter,
// '*' or '?' and is not a language ('U' and a letter); it is then cut from
// art. Returns 1 when rev is not empty. Null gives 0 with both empty.
int docnoToArtRev(const char* docno, std::string& art, std::string& rev);

// The QoxDocType of a member file name: its decimal class (from
// filenameToDocnoParts) looked up in the decimal-class table; 0 when the
// name does not split. Defined beside that table.
int docnoToQoxDoctype(const char* fname);

// Document number (cut to 32) and revision (cut to 8) from the text of a
// document: the first <DOCNO> or <DOC-NO> tag or :DOCNO. marker, and the
// first <REV> tag or :REV. marker (names in any case). A tag's value runs
// from its '>' to the next '<', a marker's from its '.' to the next ':' or
// '<'; leading and trailing blanks dropped. The whole text is reduced by
// collectAscii first, so a line break inside a value vanishes. 1 when a
// number was found. Nothing calls it.
int getDocnoRev(const char* text, size_t len, std::string& docno, std::string& rev);

// Copies the printable ASCII of inlen bytes (dropping controls, bytes above
// 'z' and from 128 up) into out, at most max characters. Returns out's
// length. Null in gives "".
size_t collectAscii(const char* in, size_t inlen, std::string& out, size_t max);

}  // namespace ruva
