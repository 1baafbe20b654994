#include "bmod/ruvaserv/cgi/kvo_text.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace ruva {

namespace {

// Entries marked "ours" have wordings of our own; the others go out byte
// for byte (header words, dates, page titles). Texts end up inside script
// strings and attributes: no quotes or apostrophes in them.
// clang-format off
constexpr const char* kTexts[] = {
    /* 0 */ "",
    /* 1 */ "",
    /* 2 */ "KIVO Error Message",
    /* 3 */ "Add an annotation to this document",  // ours
    /* 4 */ "Annotation",  // ours
    /* 5 */ "Document missing!",
    /* 6 */ "",
    /* 7 */ "",
    /* 8 */ "",
    /* 9 */ "Document Information",
    /* 10 */ "",
    /* 11 */ "Date",
    /* 12 */ "Rev",
    /* 13 */ "",
    /* 14 */ "Approved",
    /* 15 */ "Checked",
    /* 16 */ "",
    /* 17 */ "",
    /* 18 */ "This function is not available for Help documents.",  // ours
    /* 19 */ "This function is not available for document lists.",  // ours
    /* 20 */ "This function is not available until the document is completely loaded.",  // ours
    /* 21 */ "",
    /* 22 */ "Annotations cannot be made until the document is completely loaded, or while it is shown in a plug-in.",  // ours
    /* 23 */ "Annotations cannot be made on Help documents.",  // ours
    /* 24 */ "Annotations cannot be made on document lists.",  // ours
    /* 25 */ "The document cannot be printed until it is completely loaded.",  // ours
    /* 26 */ "Document lists cannot be printed.",  // ours
    /* 27 */ "Use the print button of the plug-in to print this document.",  // ours
    /* 28 */ "Printing is not supported by this browser.",  // ours
    /* 29 */ "Please wait until the current request has completed.",  // ours
    /* 30 */ "",
    /* 31 */ "",
    /* 32 */ "",
    /* 33 */ "",
    /* 34 */ "",
    /* 35 */ "",
    /* 36 */ "",
    /* 37 */ "",
    /* 38 */ "",
    /* 39 */ "",
    /* 40 */ "",
    /* 41 */ "",
    /* 42 */ "",
    /* 43 */ "",
    /* 44 */ "",
    /* 45 */ "",
    /* 46 */ "",
    /* 47 */ "",
    /* 48 */ "",
    /* 49 */ "",
    /* 50 */ "",
    /* 51 */ "About KIVOserv",  // ours
    /* 52 */ "KIVOserv",
    /* 53 */ " Unix",
    /* 54 */ "",
    /* 55 */ "Product Identity: ",
    /* 56 */ "",
    /* 57 */ "",
    /* 58 */ "",
    /* 59 */ "",
    /* 60 */ "",
    /* 61 */ "",
    /* 62 */ "",
    /* 63 */ "",
    /* 64 */ "",
    /* 65 */ "",
    /* 66 */ "",
    /* 67 */ "",
    /* 68 */ "",
    /* 69 */ "",
    /* 70 */ "",
    /* 71 */ "",
    /* 72 */ "",
    /* 73 */ "",
    /* 74 */ "",
    /* 75 */ "",
    /* 76 */ "",
    /* 77 */ "",
    /* 78 */ "",
    /* 79 */ "",
    /* 80 */ "",
    /* 81 */ "",
    /* 82 */ "",
    /* 83 */ "",
    /* 84 */ "",
    /* 85 */ "",
    /* 86 */ "",
    /* 87 */ "",
    /* 88 */ "",
    /* 89 */ "",
    /* 90 */ "Compare is now executing, please wait",
    /* 91 */ "",
    /* 92 */ "",
    /* 93 */ "",
    /* 94 */ "",
    /* 95 */ "",
    /* 96 */ "",
    /* 97 */ "",
    /* 98 */ "",
    /* 99 */ "",
    /* 100 */ "",
    /* 101 */ "",
    /* 102 */ "",
    /* 103 */ "",
    /* 104 */ "Status: 204 No response\n\n",
    /* 105 */ "Expires: ",
    /* 106 */ "Last-modified: ",
    /* 107 */ "Sun",
    /* 108 */ "Mon",
    /* 109 */ "Tue",
    /* 110 */ "Wed",
    /* 111 */ "Thu",
    /* 112 */ "Fri",
    /* 113 */ "Sat",
    /* 114 */ "Jan",
    /* 115 */ "Feb",
    /* 116 */ "Mar",
    /* 117 */ "Apr",
    /* 118 */ "May",
    /* 119 */ "Jun",
    /* 120 */ "Jul",
    /* 121 */ "Aug",
    /* 122 */ "Sep",
    /* 123 */ "Oct",
    /* 124 */ "Nov",
    /* 125 */ "Dec",
    /* 126 */ "Environment variables",
    /* 127 */ "",
    /* 128 */ "",
    /* 129 */ "",
    /* 130 */ "",
    /* 131 */ "",
    /* 132 */ "",
    /* 133 */ "",
    /* 134 */ "",
    /* 135 */ "",
    /* 136 */ "",
    /* 137 */ "",
    /* 138 */ "",
    /* 139 */ "",
    /* 140 */ "",
    /* 141 */ "",
    /* 142 */ "",
    /* 143 */ "",
    /* 144 */ "",
    /* 145 */ "",
    /* 146 */ "",
    /* 147 */ "",
    /* 148 */ "",
    /* 149 */ "Next search hit",  // ours
    /* 150 */ "",
    /* 151 */ "There are no more search hits in this document.",  // ours
    /* 152 */ "",
    /* 153 */ "",
    /* 154 */ "This document has no PDF version.",  // ours
    /* 155 */ "!Got this far during DEBUGGING!",
    /* 156 */ "",
    /* 157 */ "",
    /* 158 */ "",
    /* 159 */ "",
    /* 160 */ "",
    /* 161 */ "",
};
// clang-format on
static_assert(std::size(kTexts) == kTextCount);

TextTable gSelected;

}  // namespace

TextTable kivoTexts() { return kTexts; }

void setTextLanguage(const char* code) {
    gSelected = kivoTexts();
    if (code && gSelected[kTextCheckIndex][0] != '!') {
        std::fputs("Check the text array boundaries!", stdout);
        std::fflush(stdout);
        std::exit(255);
    }
}

std::string getTextStr(int index) {
    if (gSelected.empty()) setTextLanguage(nullptr);
    if (index < 0 || index >= static_cast<int>(gSelected.size())) return {};
    return gSelected[static_cast<std::size_t>(index)];
}

TableFormat textFormat(int index) { return TableFormat(getTextStr(index)); }

}  // namespace ruva
