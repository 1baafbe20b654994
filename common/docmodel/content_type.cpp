#include "common/docmodel/content_type.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "common/docmodel/comment_tokens.h"
#include "common/ebcdic.h"
#include "common/text.h"
#include "common/zip_format.h"

namespace ruva {

namespace {

// At most this many bytes are examined; the scratch copies hold one more,
// zero-filled, so fixed offsets past a short input read 0.
constexpr size_t kScanMax = 2047;
constexpr size_t kScratch = 2048;
// Archive comment bytes looked at for the container marks.
constexpr size_t kZipCommentMax = 31;
// Longest top element and public identifier getSgmlSubtype looks at.
constexpr size_t kTopElementMax = 15;
constexpr size_t kPublicIdMax = 95;
// getDtdInfo's window and result limit.
constexpr size_t kDtdWindow = 1024;
constexpr size_t kDtdInfoMax = 79;

using namespace std::string_view_literals;

// Bounded view of the bytes under test: nothing at or past n is read, and
// an offset past the end reads as 0, as in the zero-filled scratch copy.
// Every search covers all n bytes, NULs included.
struct Bytes {
    const unsigned char* p;
    size_t n;

    unsigned char at(size_t i) const { return i < n ? p[i] : 0; }

    bool startsWith(size_t pos, std::string_view s) const {
        return pos <= n && n - pos >= s.size() && std::memcmp(p + pos, s.data(), s.size()) == 0;
    }
    bool startsWithCaseless(size_t pos, std::string_view s) const {
        if (pos > n || n - pos < s.size()) return false;
        for (size_t i = 0; i < s.size(); ++i)
            if (asciiLower(p[pos + i]) != asciiLower(static_cast<unsigned char>(s[i]))) return false;
        return true;
    }

    // Offset of the first s at or after from (and wholly before end); npos
    // when absent.
    size_t find(std::string_view s, size_t from = 0, size_t end = std::string_view::npos) const {
        if (end > n) end = n;
        if (s.empty() || from > end || end - from < s.size()) return std::string_view::npos;
        const unsigned char* base = p + from;
        size_t left = end - from;
        const unsigned char first = static_cast<unsigned char>(s[0]);
        while (left >= s.size()) {
            const void* hit = std::memchr(base, first, left - s.size() + 1);
            if (!hit) break;
            const unsigned char* h = static_cast<const unsigned char*>(hit);
            if (std::memcmp(h + 1, s.data() + 1, s.size() - 1) == 0) return static_cast<size_t>(h - p);
            left -= static_cast<size_t>(h + 1 - base);
            base = h + 1;
        }
        return std::string_view::npos;
    }
    bool contains(std::string_view s, size_t from = 0) const {
        return find(s, from) != std::string_view::npos;
    }

    // Case-blind (ASCII) find.
    size_t findCaseless(std::string_view s, size_t from = 0) const {
        if (s.empty() || from > n || n - from < s.size()) return std::string_view::npos;
        const unsigned char first = asciiLower(static_cast<unsigned char>(s[0]));
        for (size_t i = from; i + s.size() <= n; ++i) {
            if (asciiLower(p[i]) == first && startsWithCaseless(i, s)) return i;
        }
        return std::string_view::npos;
    }
    bool containsCaseless(std::string_view s, size_t from = 0) const {
        return findCaseless(s, from) != std::string_view::npos;
    }

    // The bytes from pos on (none when pos is past the end).
    Bytes from(size_t pos) const { return pos < n ? Bytes{p + pos, n - pos} : Bytes{p + n, 0}; }

    size_t skipSpace(size_t i) const {
        while (i < n && isAsciiSpace(p[i])) ++i;
        return i;
    }
};

constexpr size_t npos = std::string_view::npos;

// The fixed signatures, in test order: the first that holds wins. IDRAW
// 0x12 and MICROSOFT choose their subtype afterwards.
struct Signature {
    std::string_view bytes;
    DocType type;
    SubDocType subtype;
};
constexpr Signature kSignatures[] = {
    {"\x06\x05\x28\xC6"sv, DOCT_SDIF, DOC_SUBTYPE_UNKNOWN},
    {"\xAA\xBB\x00\x11\x0C\x00"sv, DOCT_IDRAW, DOC_SUBTYPE_IDRAW_VER3},
    {"\xAA\xBB\x00\x12\x0C\x00"sv, DOCT_IDRAW, DOC_SUBTYPE_UNKNOWN},
    {"\xAA\xBB\x00\x55\x0C\x00"sv, DOCT_IPAINT, DOC_SUBTYPE_UNKNOWN},
    {"MM\x00\x2A"sv, DOCT_TIFF, DOC_SUBTYPE_UNKNOWN},
    {"II\x00\x2A"sv, DOCT_TIFF, DOC_SUBTYPE_UNKNOWN},
    {"II\x2A\x00"sv, DOCT_TIFF, DOC_SUBTYPE_UNKNOWN},
    {"\x59\xA6\x6A\x95"sv, DOCT_SUNRASTER, DOC_SUBTYPE_UNKNOWN},
    {"GIF8"sv, DOCT_GIF, DOC_SUBTYPE_UNKNOWN},
    {"\xC5\xD0\xD3\xC6"sv, DOCT_POSTSCRIPT, DOC_SUBTYPE_PS_BEPSF},
    {"\xD0\xCF\x11\xE0"sv, DOCT_MICROSOFT, DOC_SUBTYPE_UNKNOWN},
    {kZipFileMagic, DOCT_ZIP, DOC_SUBTYPE_UNKNOWN},
    {"#define "sv, DOCT_XBITMAP, DOC_SUBTYPE_UNKNOWN},  // with "_width" and "_height"
    {"/* XPM */"sv, DOCT_XPM, DOC_SUBTYPE_UNKNOWN},
    {"srcdocid:"sv, DOCT_MILR28002, DOC_SUBTYPE_UNKNOWN},
    {"\x1B.(;"sv, DOCT_ST1013, DOC_SUBTYPE_UNKNOWN},
    {"IN;"sv, DOCT_ST1013, DOC_SUBTYPE_UNKNOWN},
    {"\x00"sv, DOCT_CGM, DOC_SUBTYPE_UNKNOWN},  // with "CGM" in the first 128 bytes
    {"BEGMF"sv, DOCT_CGM, DOC_SUBTYPE_UNKNOWN},
    {"\xFF\xD8\xFF\xE0"sv, DOCT_JPEG, DOC_SUBTYPE_UNKNOWN},
    {"\x1F\x8B\x08"sv, DOCT_GZIP, DOC_SUBTYPE_UNKNOWN},
};
constexpr size_t kCgmWindow = 128;

// OLE2 directory names in UTF-16LE: each letter at every second byte.
struct OleName {
    std::string_view letters;
    SubDocType subtype;
};
constexpr OleName kOleNames[] = {
    {"WordDoc"sv, DOC_SUBTYPE_MSOFT_WORD},
    {"PP4"sv, DOC_SUBTYPE_MSOFT_PPT},
    {"PowerPo"sv, DOC_SUBTYPE_MSOFT_PPT},
};

// Top element names, compared case-blind as whole names. HTML's subtype
// depends on the type (XHTML under XML).
struct NamedSubtype {
    std::string_view name;
    SubDocType subtype;
};
constexpr NamedSubtype kTopElements[] = {
    {"ADI"sv, DOC_SUBTYPE_SGML_ADI},         {"AI"sv, DOC_SUBTYPE_SGML_AI},
    {"BOOK"sv, DOC_SUBTYPE_SGML_BOOK},       {"COD"sv, DOC_SUBTYPE_SGML_COD},
    {"DESC"sv, DOC_SUBTYPE_SGML_DESC},       {"DMD"sv, DOC_SUBTYPE_SGML_DMD},
    {"DOCLIST"sv, DOC_SUBTYPE_SGML_DOCLIST}, {"VARA"sv, DOC_SUBTYPE_SGML_VARA},
    {"EBCEDML"sv, DOC_SUBTYPE_SGML_EBCEDML}, {"HTML"sv, DOC_SUBTYPE_SGML_HTML},
    {"INCH"sv, DOC_SUBTYPE_SGML_INCH},       {"JP"sv, DOC_SUBTYPE_SGML_JP},
    {"MIND"sv, DOC_SUBTYPE_SGML_MIND},       {"OPI"sv, DOC_SUBTYPE_SGML_OPI},
    {"POD"sv, DOC_SUBTYPE_SGML_POD},         {"TAVR"sv, DOC_SUBTYPE_SGML_TAVR},
    {"SET"sv, DOC_SUBTYPE_SGML_HOB},         {"TAD"sv, DOC_SUBTYPE_SGML_TAD},
    {"UG"sv, DOC_SUBTYPE_SGML_UG},
};

// Texts searched for in a public identifier, in this order; exact case
// except "DTD desc".
constexpr NamedSubtype kPublicIds[] = {
    {"DTD VARA"sv, DOC_SUBTYPE_SGML_VARA},
    {"DTD ADI"sv, DOC_SUBTYPE_SGML_ADI},
    {"DTD AI"sv, DOC_SUBTYPE_SGML_AI},
    {"DTD BOOK"sv, DOC_SUBTYPE_SGML_BOOK},
    {"DTD COD"sv, DOC_SUBTYPE_SGML_COD},
    {"DTD desc"sv, DOC_SUBTYPE_SGML_DESC},
    {"DTD DMD"sv, DOC_SUBTYPE_SGML_DMD},
    {"DTD EBCEDML"sv, DOC_SUBTYPE_SGML_EBCEDML},
    {"DTD INCH"sv, DOC_SUBTYPE_SGML_INCH},
    {"DTD jpEXU"sv, DOC_SUBTYPE_SGML_JP},
    {"DTD MIND"sv, DOC_SUBTYPE_SGML_MIND},
    {"DTD OPI"sv, DOC_SUBTYPE_SGML_OPI},
    {"DTD POD"sv, DOC_SUBTYPE_SGML_POD},
    {"DTD TAVR"sv, DOC_SUBTYPE_SGML_TAVR},
    {"DTD XTAVR"sv, DOC_SUBTYPE_SGML_XTAVR},
    {"DTD HOB"sv, DOC_SUBTYPE_SGML_HOB},
    {"DTD TAD"sv, DOC_SUBTYPE_SGML_TAD},
    {"DTD UG"sv, DOC_SUBTYPE_SGML_UG},
    {"DTD MANPAGE Uja"sv, DOC_SUBTYPE_SGML_MANPAGE},
};
constexpr std::string_view kCaselessPublicId = "DTD desc"sv;

// Names and extensions by type pair. A row with kAll applies to every
// subtype of a type that has no numbered rows; kOther to every subtype a
// numbered row does not list. A pair with no row has no name.
constexpr int kAll = -1;
constexpr int kOther = -2;
struct PairText {
    DocType type;
    int subtype;
    const char* text;
};
constexpr PairText kNames[] = {
    {DOCT_TEXT, kAll, "Text"},
    {DOCT_BINARY, kAll, "Binary"},
    {DOCT_DOCPACK, kAll, "DocPack"},
    {DOCT_PLEXPACK, 0, "PV"},
    {DOCT_PLEXPACK, 40, "PV-PLEXC"},
    {DOCT_PLEXPACK, 41, "PV-PLEXM"},
    {DOCT_PLEXPACK, 42, "PV-ASA"},
    {DOCT_PLEXPACK, 43, "PV-PLEXRPD"},
    {DOCT_PLEXPACK, 44, "PV-PVINDEX"},
    {DOCT_PLEXPACK, kOther, "PV-Unknown"},
    {DOCT_HTML, 0, "HTML"},
    {DOCT_HTML, 50, "HTML-Ruva"},
    {DOCT_HTML, kOther, "HTML-Unknown"},
    {DOCT_SGML, 1, "SGML-COD"},
    {DOCT_SGML, 2, "SGML-POD"},
    {DOCT_SGML, 3, "SGML-OPI"},
    {DOCT_SGML, 4, "SGML-VARA"},
    {DOCT_SGML, 5, "SGML-TAVR"},
    {DOCT_SGML, 6, "SGML-INCH"},
    {DOCT_SGML, 7, "SGML-ADI"},
    {DOCT_SGML, 8, "SGML-AI"},
    {DOCT_SGML, 9, "SGML-TAD"},
    {DOCT_SGML, 10, "SGML-DMD"},
    {DOCT_SGML, 11, "SGML-EBCEDML"},
    {DOCT_SGML, 13, "SGML-DOCLIST"},
    {DOCT_SGML, 14, "SGML-HTML"},
    {DOCT_SGML, 15, "SGML-UG"},
    {DOCT_SGML, 16, "SGML-MIND"},
    {DOCT_SGML, 17, "SGML-JP"},
    {DOCT_SGML, 18, "SGML-DESC"},
    {DOCT_SGML, 19, "SGML-BOOK"},
    {DOCT_SGML, 93, "SGML-XTAVR"},
    {DOCT_SGML, 94, "SGML-HOB"},
    {DOCT_SGML, 95, "SGML-MANPAGE"},
    {DOCT_SGML, kOther, "SGML-Unknown"},
    {DOCT_VARA, 0, "VARA"},
    {DOCT_VARA, 32, "VARA-SDLFLOW"},
    {DOCT_POSTSCRIPT, 0, "PS"},
    {DOCT_POSTSCRIPT, 64, "PS-BEPSF"},
    {DOCT_POSTSCRIPT, 65, "PS-EPSF"},
    {DOCT_SDIF, kAll, "SDIF"},
    {DOCT_LISTING, kAll, "Listing"},
    {DOCT_FRAMEMAKER, 54, "FrameMaker"},
    {DOCT_FRAMEMAKER, 55, "Frame-MIF"},
    {DOCT_PDF, 0, "PDF"},
    {DOCT_PDF, 70, "PDF-1.1"},
    {DOCT_MILR28002, kAll, "MILR28002"},
    {DOCT_ZIP, 0, "ZIP"},
    {DOCT_ZIP, 75, "ZIP-3PPCONTAINER"},
    {DOCT_ZIP, 76, "ZIP-HTMLCONTAINER"},
    {DOCT_MICROSOFT, 0, "MS-Unknown"},
    {DOCT_MICROSOFT, 80, "MS-WORD"},
    {DOCT_MICROSOFT, 81, "MS-PPT"},
    {DOCT_MICROSOFT, 82, "MS-RTF"},
    {DOCT_SSP, 86, "SSP-FeatStruct"},
    {DOCT_ST1013, kAll, "ST1013228A"},
    {DOCT_GZIP, kAll, "GZIP"},
    {DOCT_XML, 0, "XML"},
    {DOCT_XML, 93, "XML-XTAVR"},
    {DOCT_XML, 94, "XML-HOB"},
    {DOCT_IDRAW, 90, "IDraw-V3"},
    {DOCT_IDRAW, 91, "IDraw-Compr"},
    {DOCT_IDRAW, 92, "IDraw-Uncompr"},
    {DOCT_TIFF, kAll, "TIFF"},
    {DOCT_SUNRASTER, kAll, "SunRaster"},
    {DOCT_GIF, kAll, "GIF"},
    {DOCT_XBITMAP, kAll, "XBitmap"},
    {DOCT_XPM, kAll, "XPM"},
    {DOCT_IPAINT, kAll, "IslandPaint"},
    {DOCT_CGM, kAll, "CGM"},
    {DOCT_JPEG, kAll, "JPEG"},
};
constexpr PairText kExtensions[] = {
    {DOCT_TEXT, kAll, "ansi"},    {DOCT_BINARY, kAll, "bin"},    {DOCT_DOCPACK, kAll, "dp"},
    {DOCT_PLEXPACK, kAll, "pxp"}, {DOCT_HTML, kAll, "html"},     {DOCT_SGML, kAll, "sgml"},
    {DOCT_SDIF, kAll, "sgml"},    {DOCT_VARA, kAll, "vara"},     {DOCT_POSTSCRIPT, kAll, "ps"},
    {DOCT_LISTING, kAll, "list"}, {DOCT_FRAMEMAKER, 54, "fm"},   {DOCT_FRAMEMAKER, 55, "mif"},
    {DOCT_PDF, kAll, "pdf"},      {DOCT_MILR28002, kAll, "mil"}, {DOCT_ZIP, kAll, "zip"},
    {DOCT_MICROSOFT, 0, "ms"},    {DOCT_MICROSOFT, 80, "doc"},   {DOCT_MICROSOFT, 81, "ppt"},
    {DOCT_MICROSOFT, 82, "rtf"},  {DOCT_SSP, 86, "fts"},         {DOCT_ST1013, kAll, "hpg"},
    {DOCT_GZIP, kAll, "gz"},      {DOCT_IDRAW, kAll, "drw"},     {DOCT_TIFF, kAll, "tif"},
    {DOCT_SUNRASTER, kAll, "rs"}, {DOCT_GIF, kAll, "gif"},       {DOCT_XBITMAP, kAll, "xbm"},
    {DOCT_XPM, kAll, "xpm"},      {DOCT_IPAINT, kAll, "ipt"},    {DOCT_CGM, kAll, "cgm"},
    {DOCT_JPEG, kAll, "jpg"},
};

template <size_t N>
const char* lookupPair(const PairText (&table)[N], int doctype, int subtype, const char* none) {
    const char* all = nullptr;
    const char* other = nullptr;
    for (const PairText& row : table) {
        if (row.type != doctype) continue;
        if (row.subtype == subtype) return row.text;
        if (row.subtype == kAll) all = row.text;
        if (row.subtype == kOther) other = row.text;
    }
    if (all) return all;
    if (other) return other;
    return none;
}

// getDocTypeFromName: names by their first letter. A whole name must match
// entirely, a prefix starts the name; subtypes follow a prefix after '-'.
enum class NameForm { kWhole, kPrefix };
struct TypeName {
    std::string_view name;
    NameForm form;
    DocType type;
};
constexpr TypeName kTypeNames[] = {
    {"BINARY"sv, NameForm::kWhole, DOCT_BINARY},  {"DOCPACK"sv, NameForm::kWhole, DOCT_DOCPACK},
    {"VARA"sv, NameForm::kWhole, DOCT_VARA},      {"LISTING"sv, NameForm::kWhole, DOCT_LISTING},
    {"TEXT"sv, NameForm::kWhole, DOCT_TEXT},      {"XML"sv, NameForm::kWhole, DOCT_XML},
    {"SDIF"sv, NameForm::kWhole, DOCT_SDIF},      {"GZIP"sv, NameForm::kPrefix, DOCT_GZIP},
    {"HTML"sv, NameForm::kPrefix, DOCT_HTML},     {"MS-"sv, NameForm::kPrefix, DOCT_MICROSOFT},
    {"PV"sv, NameForm::kPrefix, DOCT_PLEXPACK},   {"PS"sv, NameForm::kPrefix, DOCT_POSTSCRIPT},
    {"SGML"sv, NameForm::kPrefix, DOCT_SGML},     {"SSP"sv, NameForm::kPrefix, DOCT_SSP},
    {"ST1013"sv, NameForm::kPrefix, DOCT_ST1013}, {"ZIP"sv, NameForm::kPrefix, DOCT_ZIP},
};
constexpr NamedSubtype kMsNames[] = {
    {"WORD"sv, DOC_SUBTYPE_MSOFT_WORD},
    {"PPT"sv, DOC_SUBTYPE_MSOFT_PPT},
    {"RTF"sv, DOC_SUBTYPE_MSOFT_RTF},
};
constexpr NamedSubtype kPvNames[] = {
    {"PLEXC"sv, DOC_SUBTYPE_PLEXPACK_PLEXC},
    {"PLEXM"sv, DOC_SUBTYPE_PLEXPACK_PLEXM},
    {"ASA"sv, DOC_SUBTYPE_PLEXPACK_ASA},
    {"PVINDEX"sv, DOC_SUBTYPE_PLEXPACK_PVINDEX},
};
constexpr NamedSubtype kPsNames[] = {
    {"BEPSF"sv, DOC_SUBTYPE_PS_BEPSF},
    {"EPSF"sv, DOC_SUBTYPE_PS_EPSF},
};
constexpr NamedSubtype kSgmlNames[] = {
    {"COD"sv, DOC_SUBTYPE_SGML_COD},         {"POD"sv, DOC_SUBTYPE_SGML_POD},
    {"OPI"sv, DOC_SUBTYPE_SGML_OPI},         {"VARA"sv, DOC_SUBTYPE_SGML_VARA},
    {"TAVR"sv, DOC_SUBTYPE_SGML_TAVR},       {"XTAVR"sv, DOC_SUBTYPE_SGML_XTAVR},
    {"HOB"sv, DOC_SUBTYPE_SGML_HOB},         {"INCH"sv, DOC_SUBTYPE_SGML_INCH},
    {"ADI"sv, DOC_SUBTYPE_SGML_ADI},         {"AI"sv, DOC_SUBTYPE_SGML_AI},
    {"TAD"sv, DOC_SUBTYPE_SGML_TAD},         {"DMD"sv, DOC_SUBTYPE_SGML_DMD},
    {"EBCEDML"sv, DOC_SUBTYPE_SGML_EBCEDML}, {"HTML"sv, DOC_SUBTYPE_SGML_HTML},
    {"UG"sv, DOC_SUBTYPE_SGML_UG},           {"MIND"sv, DOC_SUBTYPE_SGML_MIND},
    {"JP"sv, DOC_SUBTYPE_SGML_JP},           {"DESC"sv, DOC_SUBTYPE_SGML_DESC},
    {"BOOK"sv, DOC_SUBTYPE_SGML_BOOK},       {"MANPAGE"sv, DOC_SUBTYPE_SGML_MANPAGE},
};
constexpr NamedSubtype kZipNames[] = {
    {"3PPCONTAINER"sv, DOC_SUBTYPE_ZIP_3PPCONTAINER},
    {"HTMLCONTAINER"sv, DOC_SUBTYPE_ZIP_HTMLCONTAINER},
};

bool equalsCaseless(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(static_cast<unsigned char>(a[i])) != asciiLower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
bool startsCaseless(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsCaseless(text.substr(0, prefix.size()), prefix);
}

template <size_t N>
SubDocType subtypeAfterDash(std::string_view rest, const NamedSubtype (&names)[N]) {
    if (rest.empty() || rest[0] != '-') return DOC_SUBTYPE_UNKNOWN;
    rest.remove_prefix(1);
    for (const NamedSubtype& row : names)
        if (equalsCaseless(rest, row.name)) return row.subtype;
    return DOC_SUBTYPE_UNKNOWN;
}

// getSgmlSubtype over a bounded text that also ends at its first NUL.
int sgmlSubtype(Bytes text, DocType* doctype, SubDocType* subtype, std::string* topelement) {
    if (const void* nul = std::memchr(text.p, 0, text.n))
        text.n = static_cast<size_t>(static_cast<const unsigned char*>(nul) - text.p);
    *subtype = DOC_SUBTYPE_UNKNOWN;

    size_t nameLen = 0;
    while (nameLen < kTopElementMax && nameLen < text.n && text.p[nameLen] != ' ' && text.p[nameLen] != '>')
        ++nameLen;
    std::string_view name(reinterpret_cast<const char*>(text.p), nameLen);
    if (name.empty() || !isAsciiAlpha(static_cast<unsigned char>(name[0]))) {
        if (topelement) topelement->clear();
        return 0;
    }
    if (topelement) topelement->assign(name);

    for (const NamedSubtype& row : kTopElements) {
        if (!equalsCaseless(name, row.name)) continue;
        *subtype = row.subtype;
        if (*subtype == DOC_SUBTYPE_SGML_HTML && *doctype == DOCT_XML) *subtype = DOC_SUBTYPE_XML_XHTML;
        if (*doctype != DOCT_XML) *doctype = DOCT_SGML;
        return 1;
    }

    size_t i = text.skipSpace(nameLen);
    if (!text.startsWith(i, "PUBLIC "sv)) return 0;
    i = text.skipSpace(i + 7);
    if (text.at(i) != '"') return 0;
    ++i;
    size_t idLen = 0;
    while (idLen < kPublicIdMax && i + idLen < text.n && text.p[i + idLen] != '"') ++idLen;
    Bytes publicId{text.p + i, idLen};
    for (const NamedSubtype& row : kPublicIds) {
        bool found =
            row.name == kCaselessPublicId ? publicId.containsCaseless(row.name) : publicId.contains(row.name);
        if (found) {
            *subtype = row.subtype;
            return 1;
        }
    }
    return 0;
}

// The tag tests, q just after a '<'. Returns 1 on a match, 0 to go on with
// the tests that close checkFileSig.
int tagTests(Bytes b, size_t q, DocType* doctype, SubDocType* subtype) {
    q = b.skipSpace(q);
    for (;;) {
        if (b.startsWithCaseless(q, "!DOCTYPE"sv)) {
            q = b.skipSpace(q + 8);
            if (*doctype != DOCT_XML) *doctype = DOCT_SGML;
            sgmlSubtype(b.from(q), doctype, subtype, nullptr);
            return 1;
        }
        if (b.startsWith(q, "MIFFile "sv)) {
            *doctype = DOCT_FRAMEMAKER;
            *subtype = DOC_SUBTYPE_FRAME_MIF;
            return 1;
        }
        if (b.startsWith(q, "MakerFile "sv)) {
            *doctype = DOCT_FRAMEMAKER;
            *subtype = DOC_SUBTYPE_FRAME_MAKER;
            return 1;
        }
        if (b.startsWith(q, "!--"sv)) {
            size_t end = b.find("--"sv, q + 3);
            size_t after = end == npos ? b.n : end + 2;
            size_t doctypeAt = b.findCaseless("!DOCTYPE"sv, after);
            if (doctypeAt != npos) {
                q = doctypeAt;
                continue;
            }
            size_t lt = b.find("<"sv, after);
            if (lt == npos) return 0;
            q = b.skipSpace(lt + 1);
            continue;
        }
        for (std::string_view tag : {"HTML"sv, "HR>"sv, "TITLE>"sv, "H1>"sv, "PRE>"sv}) {
            if (!b.startsWithCaseless(q, tag)) continue;
            *doctype = DOCT_HTML;
            if (b.containsCaseless("<META NAME=DOCNO"sv) || b.containsCaseless("<META NAME=\"DOCNO"sv))
                *subtype = DOC_SUBTYPE_HTML_RUVA;
            return 1;
        }
        return sgmlSubtype(b.from(q), doctype, subtype, nullptr);
    }
}

// VARA, with the SDL flow subtype when ":SDL" occurs anywhere.
int setVara(Bytes b, DocType* doctype, SubDocType* subtype) {
    *doctype = DOCT_VARA;
    if (b.containsCaseless(":SDL"sv)) *subtype = DOC_SUBTYPE_VARA_SDLFLOW;
    return 1;
}

int set(DocType* doctype, SubDocType* subtype, DocType type, SubDocType sub) {
    *doctype = type;
    *subtype = sub;
    return 1;
}

// The tests keyed by the first byte; 1 on a match, 0 to go on with the
// closing tests.
int firstByteTests(Bytes b, DocType* doctype, SubDocType* subtype) {
    switch (b.at(0)) {
        case '\f':
            if (b.startsWith(1, "H."sv)) return set(doctype, subtype, DOCT_LISTING, DOC_SUBTYPE_UNKNOWN);
            return 0;
        case '1':
            if (b.startsWith(0, "1H"sv)) return set(doctype, subtype, DOCT_LISTING, DOC_SUBTYPE_UNKNOWN);
            return 0;
        case '%':
            if (b.startsWith(0, "%!PS"sv) || b.contains("%%BoundingBox"sv)) {
                *doctype = DOCT_POSTSCRIPT;
                if (b.contains(" EPSF-"sv)) *subtype = DOC_SUBTYPE_PS_EPSF;
                return 1;
            }
            if (b.startsWith(0, "%PDF"sv)) {
                *doctype = DOCT_PDF;
                if (b.startsWith(4, "-1.1"sv)) *subtype = DOC_SUBTYPE_PDF_11;
                return 1;
            }
            return 0;
        case ')':
            if (b.startsWith(0, ")START_HEADER"sv))
                return set(doctype, subtype, DOCT_VARA, DOC_SUBTYPE_VARA_SDLFLOW);
            return 0;
        case '.':
            if (b.at(1) == '*' && (b.containsCaseless(":TEXT"sv) || b.contains("\n.*"sv, 2)))
                return setVara(b, doctype, subtype);
            return 0;
        case ':':
            if (b.startsWithCaseless(0, ":TEXT"sv)) return setVara(b, doctype, subtype);
            return 0;
        case 'A':
            if (b.startsWith(0, "ASA"sv))
                return set(doctype, subtype, DOCT_PLEXPACK, DOC_SUBTYPE_PLEXPACK_ASA);
            return 0;
        case 'P':
            if (b.startsWith(0, "PLEXC"sv))
                return set(doctype, subtype, DOCT_PLEXPACK, DOC_SUBTYPE_PLEXPACK_PLEXC);
            if (b.startsWith(0, "PLEXM"sv))
                return set(doctype, subtype, DOCT_PLEXPACK, DOC_SUBTYPE_PLEXPACK_PLEXM);
            if (b.startsWith(0, "PLEXRPD"sv))
                return set(doctype, subtype, DOCT_PLEXPACK, DOC_SUBTYPE_PLEXPACK_PLEXRPD);
            return 0;
        case '{':
            if (b.startsWith(0, "{\\rtf"sv))
                return set(doctype, subtype, DOCT_MICROSOFT, DOC_SUBTYPE_MSOFT_RTF);
            return 0;
        case '<': {
            // Processing instructions first; "<?xml" makes the type XML.
            size_t p = 0;
            while (b.at(p + 1) == '?') {
                if (b.startsWith(p, "<?xml"sv)) *doctype = DOCT_XML;
                size_t gt = b.find(">"sv, p + 2);
                if (gt == npos) return 0;
                p = b.skipSpace(gt + 1);
                if (b.at(p) != '<') return 0;
            }
            return tagTests(b, p + 1, doctype, subtype);
        }
        default: {
            size_t p = b.skipSpace(0);
            if (b.at(p) == '<') return tagTests(b, p + 1, doctype, subtype);
            if (b.startsWith(p, "DOC-NAME    :"sv))
                return set(doctype, subtype, DOCT_SSP, DOC_SUBTYPE_SSP_FEATSTRUCT);
            return 0;
        }
    }
}

SubDocType oleSubtype(Bytes b) {
    for (size_t p = 4; p < b.n; ++p) {
        for (const OleName& ole : kOleNames) {
            size_t k = 0;
            while (k < ole.letters.size() && b.at(p + 2 * k) == static_cast<unsigned char>(ole.letters[k]))
                ++k;
            if (k == ole.letters.size()) return ole.subtype;
        }
    }
    return DOC_SUBTYPE_UNKNOWN;
}

int signatureTests(Bytes b, DocType* doctype, SubDocType* subtype) {
    for (const Signature& sig : kSignatures) {
        if (!b.startsWith(0, sig.bytes)) continue;
        switch (sig.type) {
            case DOCT_XBITMAP:
                if (!b.contains("_width"sv) || !b.contains("_height"sv)) continue;
                break;
            case DOCT_CGM:
                if (sig.bytes.size() == 1 && !Bytes{b.p, std::min(b.n, kCgmWindow)}.contains("CGM"sv))
                    continue;
                break;
            default:
                break;
        }
        *doctype = sig.type;
        *subtype = sig.subtype;
        if (sig.type == DOCT_IDRAW && sig.bytes[3] == 0x12)
            *subtype = (b.at(11) & 0x80) ? DOC_SUBTYPE_IDRAW_COMPRESSED : DOC_SUBTYPE_IDRAW_UNCOMPRESSED;
        if (sig.type == DOCT_MICROSOFT) *subtype = oleSubtype(b);
        return 1;
    }
    return 0;
}

}  // namespace

int checkFileSig(const char* buf, size_t len, DocType* doctype, SubDocType* subtype) {
    DocType typeScratch = DOCT_UNKNOWN;
    SubDocType subScratch = DOC_SUBTYPE_UNKNOWN;
    if (!doctype) doctype = &typeScratch;
    if (!subtype) subtype = &subScratch;
    if (!buf) return 0;
    Bytes b{reinterpret_cast<const unsigned char*>(buf), len};

    if (signatureTests(b, doctype, subtype)) return 1;
    if (firstByteTests(b, doctype, subtype)) return 1;
    if (b.containsCaseless(":TEXT."sv)) return setVara(b, doctype, subtype);
    if (b.contains("DocPack"sv)) {
        *doctype = DOCT_DOCPACK;
        return 1;
    }
    return 0;
}

int getDocType(const void* data, size_t dlen, DocType* doctype, SubDocType* subtype) {
    if (!data) return 0;
    const size_t scan = dlen < kScratch ? dlen : kScanMax;
    if (scan <= 7) return 0;
    DocType typeScratch;
    SubDocType subScratch;
    if (!doctype) doctype = &typeScratch;
    if (!subtype) subtype = &subScratch;
    *doctype = DOCT_UNKNOWN;
    *subtype = DOC_SUBTYPE_UNKNOWN;

    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::array<char, kScratch> buf{};
    std::memcpy(buf.data(), bytes, scan);

    if (checkFileSig(buf.data(), scan, doctype, subtype)) {
        if (*doctype == DOCT_ZIP) {
            char text[kZipCommentMax + 1] = "";
            extractMappedZipVolumeComment(static_cast<const char*>(data), dlen, text, kZipCommentMax);
            std::string_view comment(text);
            if (comment.starts_with("3PPCONTAINER:"sv)) *subtype = DOC_SUBTYPE_ZIP_3PPCONTAINER;
            if (comment.starts_with("HTMLCONTAINER:"sv)) *subtype = DOC_SUBTYPE_ZIP_HTMLCONTAINER;
        }
        return 1;
    }

    // The same bytes read as EBCDIC; the last one becomes the terminator.
    std::array<char, kScratch> ebc = buf;
    for (size_t done = 0; done < scan;) {
        int chunk = static_cast<int>(std::min<size_t>(scan - done, 255));
        ebcnasc(ebc.data() + done, chunk);
        done += static_cast<size_t>(chunk);
    }
    ebc[scan - 1] = '\0';
    if (checkFileSig(ebc.data(), scan - 1, doctype, subtype)) {
        *doctype = DOCT_EBCDIC;
        return 1;
    }

    std::array<char, kScratch> utf8{};
    size_t converted = UTF16toUTF8(buf.data(), utf8.data(), scan);
    if (converted != 0 && checkFileSig(utf8.data(), converted, doctype, subtype)) {
        *doctype = DOCT_UTF_16;
        return 1;
    }

    *doctype = DOCT_TEXT;
    for (size_t i = 0; i < scan; ++i) {
        unsigned char c = bytes[i];
        if (isAsciiControl(c) && c != '\r' && c != '\n' && c != '\t') {
            *doctype = DOCT_BINARY;
            break;
        }
    }
    return 1;
}

int getSgmlSubtype(const char* text, DocType* doctype, SubDocType* subtype, std::string* topelement) {
    DocType typeScratch = DOCT_UNKNOWN;
    SubDocType subScratch = DOC_SUBTYPE_UNKNOWN;
    if (!doctype) doctype = &typeScratch;
    if (!subtype) subtype = &subScratch;
    if (!text) {
        *subtype = DOC_SUBTYPE_UNKNOWN;
        if (topelement) topelement->clear();
        return 0;
    }
    return sgmlSubtype(Bytes{reinterpret_cast<const unsigned char*>(text), std::strlen(text)}, doctype,
                       subtype, topelement);
}

const char* getDocTypeName(int doctype, int subtype) {
    return lookupPair(kNames, doctype, subtype, "Unknown");
}

const char* getDocTypeExt(int doctype, int subtype) {
    return lookupPair(kExtensions, doctype, subtype, "");
}

void getDocTypeFromName(const char* name, DocType* doctype, SubDocType* subtype) {
    DocType type = DOCT_UNKNOWN;
    SubDocType sub = DOC_SUBTYPE_UNKNOWN;
    std::string_view text = name ? std::string_view(name) : std::string_view();
    for (const TypeName& row : kTypeNames) {
        bool match =
            row.form == NameForm::kWhole ? equalsCaseless(text, row.name) : startsCaseless(text, row.name);
        if (!match) continue;
        type = row.type;
        std::string_view rest = text.substr(row.name.size());
        switch (type) {
            case DOCT_HTML:
                if (startsCaseless(rest, "-RUVA"sv)) sub = DOC_SUBTYPE_HTML_RUVA;
                break;
            case DOCT_MICROSOFT:
                for (const NamedSubtype& ms : kMsNames)
                    if (equalsCaseless(rest, ms.name)) sub = ms.subtype;
                break;
            case DOCT_PLEXPACK:
                sub = subtypeAfterDash(rest, kPvNames);
                break;
            case DOCT_POSTSCRIPT:
                sub = subtypeAfterDash(rest, kPsNames);
                break;
            case DOCT_SGML:
                sub = subtypeAfterDash(rest, kSgmlNames);
                break;
            case DOCT_SSP:
                if (equalsCaseless(rest, "-FeatStruct"sv)) sub = DOC_SUBTYPE_SSP_FEATSTRUCT;
                break;
            case DOCT_ZIP:
                sub = subtypeAfterDash(rest, kZipNames);
                break;
            default:
                break;
        }
        break;
    }
    if (doctype) *doctype = type;
    if (subtype) *subtype = sub;
}

size_t UTF16toUTF8(const char* utf16, char* out, size_t length) {
    if (!utf16 || !out || length < 2) return 0;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(utf16);
    if (in[0] != 0xFE || in[1] != 0xFF) return 0;
    size_t written = 0;
    for (size_t i = 2; i < length;) {
        if (in[i] == 0) {
            if (i + 1 >= length) break;  // a pair cut after its zero byte
            out[written++] = static_cast<char>(in[i + 1]);
            i += 2;
        } else {
            out[written++] = static_cast<char>(in[i]);
            ++i;
        }
    }
    return written;
}

std::string getDtdInfo(const char* data, size_t dlen) {
    if (!data) return {};
    Bytes b{reinterpret_cast<const unsigned char*>(data), std::min(dlen, kDtdWindow)};
    size_t doctypeAt = b.find("!DOCTYPE "sv);
    if (doctypeAt == npos) return {};
    size_t publicAt = b.find("PUBLIC "sv, doctypeAt + 9);
    if (publicAt == npos) return {};
    size_t i = b.skipSpace(publicAt + 7);
    if (b.at(i) != '"') return {};
    ++i;
    size_t idLen = 0;
    while (idLen < kDtdInfoMax && i + idLen < b.n && b.p[i + idLen] != '"') ++idLen;
    return std::string(reinterpret_cast<const char*>(b.p + i), idLen);
}

}  // namespace ruva
