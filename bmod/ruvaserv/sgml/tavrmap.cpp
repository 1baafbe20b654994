#include "bmod/ruvaserv/sgml/tavrmap.h"

#include <cstdint>
#include <string_view>

namespace ruva {
namespace {

// One row per element: its name, flags and its children by name in stored
// order, separated by single blanks. The row's position is the tag number.
struct TavrRow {
    const char* name;
    uint8_t flags;
    const char* children;
};

// clang-format off
constexpr TavrRow kTavrRows[] = {
    /*   0 */ {"EMPH", 0x04, "EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF FORMULA TNOTE"},
    /*   1 */ {"QUOTE", 0x04, "EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF FORMULA TNOTE INPUT OUTPUT OBJECT KEYSTROKE RESOURCE-ID"},
    /*   2 */ {"SUBS", 0x04, "EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF FORMULA TNOTE"},
    /*   3 */ {"SUPS", 0x04, "EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF FORMULA TNOTE"},
    /*   4 */ {"LITERAL", 0x04, "EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF FORMULA TNOTE"},
    /*   5 */ {"P", 0x04, "ASIS EMPH FORMULA GRAPHICS LITERAL PREFORM QUOTE SUBS SUPS XREF OUTPUT INPUT KEYSTROKE OBJECT LINK WRAP EQ-INLINE PROD-NO DOC-NO RESOURCE-ID"},
    /*   6 */ {"GRAPHICS", 0x01, ""},
    /*   7 */ {"XREF", 0x01, ""},
    /*   8 */ {"ASIS", 0x04, ""},
    /*   9 */ {"PREFORM", 0x04, "DEFAULT EMPH"},
    /*  10 */ {"LIST", 0x00, "P LIST-ITEM BRIDGE"},
    /*  11 */ {"DEF-LIST", 0x00, "DL-ITEM BRIDGE P"},
    /*  12 */ {"STEP-LIST", 0x00, "SL-ITEM BRIDGE P"},
    /*  13 */ {"NOTE", 0x00, "P LIST"},
    /*  14 */ {"ADMONITION", 0x00, "P GRAPHICS"},
    /*  15 */ {"TABLE", 0x00, "CAPTION SOURCE TGROUP"},
    /*  16 */ {"GRID", 0x00, "TGROUP"},
    /*  17 */ {"FIGURE", 0x00, "CAPTION GRAPHICS SOURCE"},
    /*  18 */ {"EXAMPLE", 0x00, "CAPTION ASIS PREFORM SOURCE"},
    /*  19 */ {"BLOCK", 0x00, "LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION FAULT-LIST INPUT OUTPUT RESOURCE-ID SELECTION-LIST"},
    /*  20 */ {"FORMULA", 0x00, "F EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF TNOTE"},
    /*  21 */ {"EQUATION", 0x00, "FD CAPTION LEGEND SOURCE"},
    /*  22 */ {"BODY", 0x00, "LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION TITLED-BLOCK CHL1"},
    /*  23 */ {"CHL1", 0x00, "LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION TITLE STITLE TITLED-BLOCK CHL2 FAULT-LIST INPUT OUTPUT RESOURCE-ID SELECTION-LIST PROCED"},
    /*  24 */ {"CHL2", 0x00, "LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION TITLE STITLE TITLED-BLOCK CHL3 FAULT-LIST INPUT OUTPUT RESOURCE-ID SELECTION-LIST PROCED"},
    /*  25 */ {"CHL3", 0x00, "LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION TITLE STITLE TITLED-BLOCK CHL4 FAULT-LIST INPUT OUTPUT RESOURCE-ID SELECTION-LIST PROCED"},
    /*  26 */ {"CHL4", 0x00, "LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION TITLE STITLE TITLED-BLOCK CHL5 FAULT-LIST INPUT OUTPUT RESOURCE-ID SELECTION-LIST PROCED"},
    /*  27 */ {"CHL5", 0x00, "LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION TITLE STITLE TITLED-BLOCK FAULT-LIST INPUT OUTPUT RESOURCE-ID SELECTION-LIST PROCED"},
    /*  28 */ {"LIST-ITEM", 0x00, "P NOTE ADMONITION GRID LIST"},
    /*  29 */ {"DL-ITEM", 0x00, "TERM GRAPHICS DEF"},
    /*  30 */ {"SL-ITEM", 0x00, "P NOTE ADMONITION GRID DEF-LIST BRIDGE"},
    /*  31 */ {"TERM", 0x04, "EQ-INLINE SUBS SUPS"},
    /*  32 */ {"DEF", 0x00, "P NOTE ADMONITION GRID LIST"},
    /*  33 */ {"BRIDGE", 0x00, "P NOTE ADMONITION GRID"},
    /*  34 */ {"TNOTE", 0x04, "EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF FORMULA KEYSTROKE OBJECT LINK WRAP RESOURCE-ID EQ-INLINE"},
    /*  35 */ {"CAPTION", 0x04, ""},
    /*  36 */ {"SOURCE", 0x04, ""},
    /*  37 */ {"DEFAULT", 0x04, ""},
    /*  38 */ {"REAR", 0x00, "REFERENCE-LIST GLOSSARY-LIST"},
    /*  39 */ {"REFERENCE-LIST", 0x00, "RF-ITEM"},
    /*  40 */ {"RF-ITEM", 0x00, "DOC-NO TITLE SUBTITLE DOC-NAME"},
    /*  41 */ {"GLOSSARY-LIST", 0x00, "GL-ITEM"},
    /*  42 */ {"GL-ITEM", 0x00, "TERM EXPANSION EXPANSIONS"},
    /*  43 */ {"EXPANSION", 0x00, "P"},
    /*  44 */ {"FD", 0x02, ""},
    /*  45 */ {"F", 0x02, ""},
    /*  46 */ {"TGROUP", 0x00, "COLSPEC SPANSPEC THEAD TFOOT TBODY"},
    /*  47 */ {"COLSPEC", 0x01, ""},
    /*  48 */ {"SPANSPEC", 0x01, ""},
    /*  49 */ {"THEAD", 0x00, "COLSPEC ROW"},
    /*  50 */ {"TFOOT", 0x00, "COLSPEC ROW"},
    /*  51 */ {"TBODY", 0x00, "ROW TABLE"},
    /*  52 */ {"ROW", 0x00, "ENTRY ENTRYTBL"},
    /*  53 */ {"ENTRYTBL", 0x00, "COLSPEC SPANSPEC THEAD TBODY"},
    /*  54 */ {"ENTRY", 0x04, "EMPH QUOTE SUBS SUPS LITERAL GRAPHICS XREF FORMULA TNOTE T:P TBL-LIST PREFORM"},
    /*  55 */ {"TAVR", 0x00, "META-DATA XLINKS HY-LOCATIONS FRONT BODY REAR BACK"},
    /*  56 */ {"HY-LOCATIONS", 0x00, "REF-BY-TITLE"},
    /*  57 */ {"REF-BY-TITLE", 0x00, "TITLE"},
    /*  58 */ {"FRONT", 0x00, "DIST-INFO TITLE-PAGE ENCLOSURE-LIST ABSTRACT TITLED-BLOCK"},
    /*  59 */ {"DIST-INFO", 0x00, "RECEIVERS PRESENT NOT-PRESENT INFO-COPY"},
    /*  60 */ {"RECEIVERS", 0x00, "PERSON"},
    /*  61 */ {"PRESENT", 0x00, "PERSON"},
    /*  62 */ {"NOT-PRESENT", 0x00, "PERSON"},
    /*  63 */ {"INFO-COPY", 0x00, "PERSON"},
    /*  64 */ {"TITLE-PAGE", 0x00, "GRAPHICS COPYRIGHT DISCLAIMER TRADEMARK-LIST"},
    /*  65 */ {"COPYRIGHT", 0x00, "P"},
    /*  66 */ {"DISCLAIMER", 0x00, "P"},
    /*  67 */ {"TRADEMARK-LIST", 0x00, "TM-ITEM"},
    /*  68 */ {"TM-ITEM", 0x00, "TRADEMARK OWNER"},
    /*  69 */ {"TRADEMARK", 0x04, ""},
    /*  70 */ {"OWNER", 0x04, ""},
    /*  71 */ {"ENCLOSURE-LIST", 0x00, "EN-ITEM"},
    /*  72 */ {"EN-ITEM", 0x00, "DOC-NO TITLE"},
    /*  73 */ {"ABSTRACT", 0x00, "P"},
    /*  74 */ {"TITLED-BLOCK", 0x00, "TITLE LIST DEF-LIST STEP-LIST P NOTE ADMONITION GRID FIGURE TABLE EXAMPLE BLOCK EQUATION FAULT-LIST SELECTION-LIST INPUT OUTPUT RESOURCE-ID"},
    /*  75 */ {"TITLE", 0x04, ""},
    /*  76 */ {"META-DATA", 0x00, "CONFIDENTIALITY DOC-NAME DOC-INFO DOC-ID COMPANY-ID PART-OF TITLE SUBTITLE STITLE ENGLISH-TITLE USER-INFO DRAFTED-BY APPROVED-BY CHECKED-BY FACTUAL-SUPERVISOR TRANSLATED-BY"},
    /*  77 */ {"DOC-ID", 0x00, "DOC-NO LANGUAGE REV DATE"},
    /*  78 */ {"DOC-NO", 0x04, ""},
    /*  79 */ {"LANGUAGE", 0x0C, ""},
    /*  80 */ {"REV", 0x04, ""},
    /*  81 */ {"DATE", 0x00, "Y M D"},
    /*  82 */ {"Y", 0x04, ""},
    /*  83 */ {"M", 0x04, ""},
    /*  84 */ {"D", 0x04, ""},
    /*  85 */ {"DOC-NAME", 0x04, ""},
    /*  86 */ {"DOC-INFO", 0x04, ""},
    /*  87 */ {"CONFIDENTIALITY", 0x01, ""},
    /*  88 */ {"COMPANY-ID", 0x00, "BUSINESS-UNIT COMPANY-NAME COMPANY-SYMBOL COMPANY-ADDRESS PHONE"},
    /*  89 */ {"BUSINESS-UNIT", 0x04, ""},
    /*  90 */ {"COMPANY-NAME", 0x04, ""},
    /*  91 */ {"COMPANY-SYMBOL", 0x00, "GRAPHICS"},
    /*  92 */ {"DRAFTED-BY", 0x00, "PERSON"},
    /*  93 */ {"CHECKED-BY", 0x00, "PERSON"},
    /*  94 */ {"FACTUAL-SUPERVISOR", 0x00, "PERSON"},
    /*  95 */ {"APPROVED-BY", 0x00, "PERSON"},
    /*  96 */ {"TRANSLATED-BY", 0x00, "PERSON"},
    /*  97 */ {"PART-OF", 0x04, ""},
    /*  98 */ {"SUBTITLE", 0x04, ""},
    /*  99 */ {"STITLE", 0x04, ""},
    /* 100 */ {"ENGLISH-TITLE", 0x04, ""},
    /* 101 */ {"USER-INFO", 0x04, ""},
    /* 102 */ {"PERSON", 0x00, "NAME SIGNATURE INITIALS LOCATION COMPANY DEPARTMENT EXT-ADDR PHONE"},
    /* 103 */ {"NAME", 0x04, ""},
    /* 104 */ {"LOCATION", 0x04, ""},
    /* 105 */ {"COMPANY", 0x04, ""},
    /* 106 */ {"DEPARTMENT", 0x04, ""},
    /* 107 */ {"EXT-ADDR", 0x04, "LINE"},
    /* 108 */ {"PHONE", 0x00, "ECN-CODE EXTENSION PUBLIC-NO"},
    /* 109 */ {"ECN-CODE", 0x04, ""},
    /* 110 */ {"EXTENSION", 0x04, ""},
    /* 111 */ {"PUBLIC-NO", 0x04, ""},
    /* 112 */ {"SIGNATURE", 0x04, ""},
    /* 113 */ {"INITIALS", 0x04, ""},
    /* 114 */ {"BACK", 0x00, "REFERENCE GLOSSARY"},
    /* 115 */ {"PROD-NO", 0x04, ""},
    /* 116 */ {"REFERENCE", 0x00, "REFERENCE-LIST P"},
    /* 117 */ {"GLOSSARY", 0x00, "GLOSSARY-LIST P"},
    /* 118 */ {"EQ-INLINE", 0x00, "F EMPH GRAPHICS LITERAL QUOTE SUBS SUPS XREF TNOTE"},
    /* 119 */ {"SELECTION-LIST", 0x00, "P SELECTION-ITEM BRIDGE"},
    /* 120 */ {"SELECTION-ITEM", 0x00, "P SELECTION-LIST LIST NOTE GRID ADMONITION"},
    /* 121 */ {"FAULT-LIST", 0x00, "FT-ITEM"},
    /* 122 */ {"FT-ITEM", 0x00, "FT-TYPE FT-DESC FT-ACTION"},
    /* 123 */ {"FT-TYPE", 0x04, ""},
    /* 124 */ {"FT-DESC", 0x04, ""},
    /* 125 */ {"FT-ACTION", 0x04, ""},
    /* 126 */ {"VAR", 0x04, ""},
    /* 127 */ {"INPUT", 0x04, "VAR"},
    /* 128 */ {"OUTPUT", 0x04, "VAR"},
    /* 129 */ {"RESOURCE-ID", 0x04, "VAR"},
    /* 130 */ {"KEYSTROKE", 0x04, "VAR"},
    /* 131 */ {"OBJECT", 0x04, ""},
    /* 132 */ {"T:P", 0x04, "EMPH QUOTE SUBS SUPS LITERAL GRAPHICS EQ-INLINE KEYSTROKE RESOURCE-ID XREF WRAP TNOTE LINK OBJECT"},
    /* 133 */ {"TBL-LIST", 0x00, "TBL-ITEM"},
    /* 134 */ {"TBL-ITEM", 0x04, "EMPH QUOTE SUBS SUPS LITERAL GRAPHICS EQ-INLINE OBJECT KEYSTROKE RESOURCE-ID XREF TNOTE T:P"},
    /* 135 */ {"WRAP", 0x04, "SUBS SUPS EMPH LITERAL INPUT OUTPUT OBJECT KEYSTROKE RESOURCE-ID GRAPHICS XREF QUOTE WRAP"},
    /* 136 */ {"DOC", 0x04, "META-DATA HY-LOCATIONS XLINKS FRONT BODY BACK REAR"},
    /* 137 */ {"XLINKS", 0x00, "XLINK-EXTENDED"},
    /* 138 */ {"XLINK-EXTENDED", 0x00, "XLINK-LOCATOR XLINK-ARC"},
    /* 139 */ {"XLINK-LOCATOR", 0x00, ""},
    /* 140 */ {"XLINK-ARC", 0x00, ""},
    /* 141 */ {"COMPANY-ADDRESS", 0x00, "LINE"},
    /* 142 */ {"LEGEND", 0x00, "LEGEND-ITEM"},
    /* 143 */ {"LEGEND-ITEM", 0x00, "TERM MEANING"},
    /* 144 */ {"MEANING", 0x04, "SUBS SUPS EQ-INLINE"},
    /* 145 */ {"LINE", 0x04, ""},
    /* 146 */ {"LINK", 0x04, "SUBS SUPS EMPH LITERAL INPUT OUTPUT OBJECT KEYSTROKE RESOURCE-ID GRAPHICS XREF QUOTE WRAP"},
    /* 147 */ {"SET", 0x00, "SET:META-DATA XLINKS SET:FRONT PARTS SET:BACK"},
    /* 148 */ {"SET:META-DATA", 0x00, "CONFIDENTIALITY DOC-NAME DOC-INFO DOC-ID COMPANY-ID PART-OF TITLE SUBTITLE STITLE ENGLISH-TITLE USER-INFO DRAFTED-BY APPROVED-BY CHECKED-BY FACTUAL-SUPERVISOR TRANSLATED-BY PROD-ID DATE LANGUAGE"},
    /* 149 */ {"SET:FRONT", 0x00, "ADMIN TITLE-PAGE ENCLOSURE-LIST"},
    /* 150 */ {"PARTS", 0x00, "DOC XREF"},
    /* 151 */ {"SET:BACK", 0x00, "APPENDIX XREF SET:REFERENCE ACRABB SET:GLOSSARY"},
    /* 152 */ {"ADMIN", 0x00, "CONFIDENTIALITY DOC-ID COMPANY-ID DRAFTED-BY APPROVED-BY FACTUAL-SUPERVISOR TRANSLATED-BY"},
    /* 153 */ {"SET:REFERENCE", 0x00, "META-DATA P REFERENCE-LIST"},
    /* 154 */ {"SET:GLOSSARY", 0x00, "META-DATA P GLOSSARY-LIST ADMIN"},
    /* 155 */ {"ACRABB", 0x00, "ADMIN P GLOSSARY-LIST META-DATA"},
    /* 156 */ {"ACTDESCR", 0x04, "ZUL GRAPHICS EMPH XREF"},
    /* 157 */ {"ACTION", 0x04, "ZUL XREF EMPH"},
    /* 158 */ {"ACTIVITY", 0x00, "TITLE ADMONITION STEP TABLE FIGURE BLOCK"},
    /* 159 */ {"STEPACT", 0x00, "PROC-EXAMPLE ACTDESCR ADMONITION CMD NONCMD NOTE P PRMINFO STEPINFO STEPPRT STEPRESULT LIST"},
    /* 160 */ {"OPTION", 0x00, "ACTION ADMONITION CASE NOTE STEPINFO"},
    /* 161 */ {"PROCED", 0x00, "TITLE P STEP ACTIVITY ADMONITION"},
    /* 162 */ {"ZUL", 0x04, "META-DATA P GLOSSARY-LIST"},
    /* 163 */ {"STEP", 0x00, "STEPACT TABLE BLOCK FIGURE JUMP"},
    /* 164 */ {"APPENDIX", 0x00, "META-DATA XLINKS BLOCK BODY FORM XREF"},
    /* 165 */ {"CASE", 0x04, "ZUL EMPH XREF"},
    /* 166 */ {"CMD", 0x04, ""},
    /* 167 */ {"VALLIST", 0x00, "TERM DEF"},
    /* 168 */ {"PRMINFO", 0x00, "VALREF VALRANGE P VALLIST DESCR PRM"},
    /* 169 */ {"DESCR", 0x04, "ZUL XREF"},
    /* 170 */ {"FORM", 0x00, "DOC-NO TITLE GRAPHICS TABLE"},
    /* 171 */ {"SET:DOC-ID", 0x00, "DOC-NO LANGUAGE REV RSTATE"},
    /* 172 */ {"NONCMD", 0x04, "ZUL EMPH XREF"},
    /* 173 */ {"QUESTION", 0x04, "ZUL EMPH XREF"},
    /* 174 */ {"STEPINFO", 0x04, "ZUL EMPH XREF"},
    /* 175 */ {"STEPRESULT", 0x04, "ZUL EMPH XREF"},
    /* 176 */ {"JUMP", 0x00, "OPTLIST NOTE STEPINFO QUESTION"},
    /* 177 */ {"OPTLIST", 0x00, "OPTION"},
    /* 178 */ {"PRM", 0x04, ""},
    /* 179 */ {"VALREF", 0x04, "ZUL XREF"},
    /* 180 */ {"PROC-EXAMPLE", 0x04, ""},
    /* 181 */ {"STEPPRT", 0x04, ""},
    /* 182 */ {"VALRANGE", 0x04, ""},
    /* 183 */ {"PROD-ID", 0x00, "PROD-NO RSTATE"},
    /* 184 */ {"RSTATE", 0x04, ""},
    /* 185 */ {"EXPANSIONS", 0x00, "REFEXPANSION EXPANSION"},
    /* 186 */ {"REFEXPANSION", 0x00, "P"},
};
// clang-format on
static_assert(std::size(kTavrRows) == kTavrTagCount);

// Not constexpr: reaching it during constant evaluation fails the build,
// which is how a misspelt child name or an oversized row shows up.
void tavrTableError(const char*) {}

consteval uint8_t tavrTagNumber(std::string_view name) {
    for (size_t i = 0; i < kTavrTagCount; ++i) {
        if (name == kTavrRows[i].name) return static_cast<uint8_t>(i);
    }
    tavrTableError("unknown child name");
    return kTagMapEnd;
}

consteval TagEntry tavrEntry(const TavrRow& row) {
    TagEntry e{};
    e.flags = row.flags;
    std::string_view name = row.name;
    if (name.empty() || name.size() > kTagNameMax) tavrTableError("bad element name");
    for (size_t i = 0; i < name.size(); ++i) e.name[i] = name[i];
    for (size_t i = 0; i < kTagMapChildren; ++i) e.map[i] = kTagMapEnd;
    std::string_view rest = row.children;
    size_t n = 0;
    while (!rest.empty()) {
        size_t blank = rest.find(' ');
        std::string_view child = rest.substr(0, blank);
        if (n == kTagMapChildren) tavrTableError("too many children");
        e.map[n++] = tavrTagNumber(child);
        rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    }
    return e;
}

consteval std::array<TagEntry, kTavrTagCount> buildTavrTags() {
    std::array<TagEntry, kTavrTagCount> tags{};
    for (size_t i = 0; i < kTavrTagCount; ++i) tags[i] = tavrEntry(kTavrRows[i]);
    return tags;
}

}  // namespace

constexpr std::array<TagEntry, kTavrTagCount> kTavrTags = buildTavrTags();

}  // namespace ruva
