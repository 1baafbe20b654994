// Content-type detection: a document type and subtype from the first bytes
// of a file, the display name and file extension of a type pair, and the
// name parsed back. Only content is looked at, never a file name.
#pragma once

#include <cstddef>
#include <string>

namespace ruva {

// Stored as one signed byte in index records; -1 means not determined.
enum DocType : signed char {
    DOCT_UNKNOWN = -1,
    DOCT_TEXT = 0,
    DOCT_BINARY = 1,
    DOCT_DOCPACK = 2,
    DOCT_PLEXPACK = 3,
    DOCT_HTML = 4,
    DOCT_SGML = 5,
    DOCT_VARA = 6,
    DOCT_POSTSCRIPT = 7,
    DOCT_SDIF = 8,
    DOCT_EBCDIC = 9,
    DOCT_LISTING = 10,
    DOCT_FRAMEMAKER = 11,
    DOCT_PDF = 12,
    DOCT_MILR28002 = 13,
    DOCT_ZIP = 14,
    DOCT_MICROSOFT = 15,
    DOCT_SSP = 16,
    DOCT_ST1013 = 17,
    DOCT_GZIP = 18,
    DOCT_XML = 19,
    DOCT_IDRAW = 20,
    DOCT_TIFF = 21,
    DOCT_SUNRASTER = 22,
    DOCT_GIF = 23,
    DOCT_XBITMAP = 24,
    DOCT_XPM = 25,
    DOCT_IPAINT = 26,
    DOCT_CGM = 27,
    DOCT_JPEG = 28,
    DOCT_UTF_16 = 29,
};

// 0 means none. SGML subtypes name the document type (DTD); 12 is unused.
enum SubDocType : unsigned char {
    DOC_SUBTYPE_UNKNOWN = 0,
    DOC_SUBTYPE_SGML_COD = 1,
    DOC_SUBTYPE_SGML_POD = 2,
    DOC_SUBTYPE_SGML_OPI = 3,
    DOC_SUBTYPE_SGML_VARA = 4,
    DOC_SUBTYPE_SGML_TAVR = 5,
    DOC_SUBTYPE_SGML_INCH = 6,
    DOC_SUBTYPE_SGML_ADI = 7,
    DOC_SUBTYPE_SGML_AI = 8,
    DOC_SUBTYPE_SGML_TAD = 9,
    DOC_SUBTYPE_SGML_DMD = 10,
    DOC_SUBTYPE_SGML_EBCEDML = 11,
    DOC_SUBTYPE_SGML_DOCLIST = 13,
    DOC_SUBTYPE_SGML_HTML = 14,
    DOC_SUBTYPE_SGML_UG = 15,
    DOC_SUBTYPE_SGML_MIND = 16,
    DOC_SUBTYPE_SGML_JP = 17,
    DOC_SUBTYPE_SGML_DESC = 18,
    DOC_SUBTYPE_SGML_BOOK = 19,
    DOC_SUBTYPE_VARA_SDLFLOW = 32,
    DOC_SUBTYPE_PLEXPACK_PLEXC = 40,
    DOC_SUBTYPE_PLEXPACK_PLEXM = 41,
    DOC_SUBTYPE_PLEXPACK_ASA = 42,
    DOC_SUBTYPE_PLEXPACK_PLEXRPD = 43,
    DOC_SUBTYPE_PLEXPACK_PVINDEX = 44,
    DOC_SUBTYPE_HTML_RUVA = 50,
    DOC_SUBTYPE_FRAME_MAKER = 54,
    DOC_SUBTYPE_FRAME_MIF = 55,
    DOC_SUBTYPE_PS_BEPSF = 64,
    DOC_SUBTYPE_PS_EPSF = 65,
    DOC_SUBTYPE_PDF_11 = 70,
    DOC_SUBTYPE_ZIP_3PPCONTAINER = 75,
    DOC_SUBTYPE_ZIP_HTMLCONTAINER = 76,
    DOC_SUBTYPE_MSOFT_WORD = 80,
    DOC_SUBTYPE_MSOFT_PPT = 81,
    DOC_SUBTYPE_MSOFT_RTF = 82,
    DOC_SUBTYPE_SSP_FEATSTRUCT = 86,
    DOC_SUBTYPE_IDRAW_VER3 = 90,
    DOC_SUBTYPE_IDRAW_COMPRESSED = 91,
    DOC_SUBTYPE_IDRAW_UNCOMPRESSED = 92,
    DOC_SUBTYPE_SGML_XTAVR = 93,
    DOC_SUBTYPE_SGML_HOB = 94,
    DOC_SUBTYPE_SGML_MANPAGE = 95,
    DOC_SUBTYPE_XML_XHTML = 96,
};

// Classifies dlen bytes of data by at most their first 2047: the signature
// tests on the bytes as they are, then read as EBCDIC, then as UTF-16 with
// the FE FF mark, else TEXT or BINARY by the control characters present. A
// ZIP's archive comment (read from all dlen bytes) gives the container
// subtypes. Returns 1 with both outputs set; 0 with nothing set when dlen
// is 7 or less or data is null. Either output may be null. The data are
// only read.
int getDocType(const void* data, size_t dlen, DocType* doctype, SubDocType* subtype);

// The signature, first-byte and tag tests over len bytes of buf; the first
// test that holds wins. Returns 1 when one matched; the type, and the
// subtype where one applies, are then set. *doctype is read as well: an XML
// type already set stays XML. Bytes from len on are never read; a fixed
// offset beyond len reads as 0. Null outputs are allowed.
int checkFileSig(const char* buf, size_t len, DocType* doctype, SubDocType* subtype);

// From an SGML/XML top element (the text after "<" or "<!DOCTYPE "):
// sets *subtype (first to 0) and returns 1 when the element name (at most
// 15 characters, cut at a blank or '>') or the public identifier names a
// known document type. A name match also makes *doctype SGML unless it is
// XML; a public-identifier match leaves *doctype as it is. topelement, when
// not null, receives the element name ("" when it does not begin with a
// letter). text is NUL-terminated; null gives 0.
int getSgmlSubtype(const char* text, DocType* doctype, SubDocType* subtype, std::string* topelement);

// Constant display name of a type pair (protocol text); "Unknown" for any
// pair without a name, including every type outside -1..29 (a type byte
// read as unsigned, 0xFF, names like -1).
const char* getDocTypeName(int doctype, int subtype);

// The partial inverse of getDocTypeName, case-blind: names it does not know
// give DOCT_UNKNOWN and subtype 0. Null name or outputs are allowed.
void getDocTypeFromName(const char* name, DocType* doctype, SubDocType* subtype);

// Constant file extension without the dot; "" when the pair has none.
const char* getDocTypeExt(int doctype, int subtype);

// Drops the zero byte of each big-endian UTF-16 pair of length bytes that
// begin with FE FF (skipped); other bytes are copied one at a time. Never
// reads past length, so a last pair cut after its zero byte gives nothing.
// out needs room for length bytes and is not NUL-terminated. Returns the
// bytes written; 0 without the mark or with null arguments.
size_t UTF16toUTF8(const char* utf16, char* out, size_t length);

// The public identifier of a "<!DOCTYPE x PUBLIC \"...\"" found within the
// first 1024 of dlen bytes, at most 79 characters; "" when there is none.
std::string getDtdInfo(const char* data, size_t dlen);

}  // namespace ruva
