#include "common/docmodel/meta_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace ruva {
namespace {

using namespace std::string_literals;
using Slots = std::array<std::string, kMetaSlots>;

constexpr const char* kNbsp = "&nbsp;";

TEST(MetaScan, JapaneseDocnoFillsSlot10) {
    Slots values;
    EXPECT_EQ(scanMetaData(values, "<META NAME=\"DOCNO\" CONTENT=\"1/1553-CXA 123 4567 Uja\">"), 1);
    for (size_t i = 0; i < kMetaSlots; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(values[i], i == 10 ? "1/1553-CXA 123 4567 Uja" : kNbsp);
    }
}

TEST(MetaScan, Values) {
    const std::string big(10000, 'x');
    const struct {
        const char* name;
        std::string text;
        size_t slot;
        std::string value;
        int japanese;
    } cases[] = {
        {"quoted", "<meta name=\"REV\" content=\"R1A  x\">", 17, "R1A  x", 0},
        {"apostrophe-quoted", "<meta name='TITLE' content='Say \"hi\"'>", 25, "Say \"hi\"", 0},
        {"unquoted to '>'", "<meta name=REV content=R1A>", 17, "R1A", 0},
        {"unquoted to white space", "<meta name=REV content=R1A\tlang=ja>", 17, "R1A", 0},
        {"unquoted to the end", "<meta name=REV content=R1A", 17, "R1A", 0},
        {"quote not closed runs to the end", "<meta name=REV content=\"R1A>", 17, "R1A>", 0},
        {"name at offset 0 does not count", "DOCNO=x", 10, kNbsp, 0},
        {"name after another letter does not count", "<meta name=XREV content=R1A>", 17, kNbsp, 0},
        {"no '=' before '>'", "<meta name=\"REV\"> content=\"R1A\"", 17, kNbsp, 0},
        {"no '=' at all", "<meta name=\"REV\"", 17, kNbsp, 0},
        {"empty value", "<meta name=\"REV\" content=\"\">", 17, kNbsp, 0},
        {"only the first counting name", "<meta name=\"REV\"><meta name=\"REV\" content=\"B\">", 17, kNbsp,
         0},
        {"TITLE inside SUBTITLE passed over",
         "<meta name=\"SUBTITLE\" content=\"Sub\"><meta name=\"TITLE\" content=\"Main\">", 25, "Main", 0},
        {"SUBTITLE read too",
         "<meta name=\"SUBTITLE\" content=\"Sub\"><meta name=\"TITLE\" content=\"Main\">", 22, "Sub", 0},
        {"names are case-sensitive", "<meta name=\"rev\" content=\"R1A\">", 17, kNbsp, 0},
        {"quoted value cut to 255", "<meta name=\"INFO\" content=\"" + big + "\">", 13, big.substr(0, 255),
         0},
        {"unquoted value cut to 255", "<meta name=INFO content=" + big + ">", 13, big.substr(0, 255), 0},
        {"NUL ends the text", "<meta name=REV content=R1\0A>"s, 17, "R1", 0},
        {"LANG ja", "<meta name='LANG' content='ja'>", 14, "ja", 1},
        {"LANG JA", "<meta name=\"LANG\" content=\"JA\">", 14, "JA", 1},
        {"LANG en", "<meta name=\"LANG\" content=\"en\">", 14, "en", 0},
        {"DOCNO UJA", "<meta name=\"DOCNO\" content=\"1553-CXA 1 UJA\">", 10, "1553-CXA 1 UJA", 1},
        {"DOCNO Uen", "<meta name=\"DOCNO\" content=\"1553-CXA 1 Uen\">", 10, "1553-CXA 1 Uen", 0},
        {"Uja at offset 0 is no DOCNO", "DOCNO=\"1 Uja\"", 10, kNbsp, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Slots values;
        EXPECT_EQ(scanMetaData(values, c.text), c.japanese);
        EXPECT_EQ(values[c.slot], c.value);
        // The one-slot reader gives what the whole scan gives.
        EXPECT_EQ(scanMetaValue(c.text, c.slot), c.value);
    }
    EXPECT_EQ(scanMetaValue("<meta name=REV content=R1A>", 1), kNbsp);  // a slot without a name
    EXPECT_EQ(scanMetaValue("<meta name=REV content=R1A>", kMetaSlots), kNbsp);
}

TEST(MetaScan, EveryNamedSlot) {
    const char* names[kMetaSlots] = {
        "APPR",      "",           "CHECKED",    "COMPANY", "",          "CONFIDENTIALITY",
        "CRIGHT",    "CTW",        "DATE",       "DOCNAME", "DOCNO",     "",
        "ENGTITLE",  "INFO",       "LANG",       "PREP",    "REF",       "REV",
        "",          "",           "",           "SUBRESP", "SUBTITLE",  "USER",
        "",          "TITLE",      "SRCDOCTYPE", "SRCDTD",  "FILTERPRG", "FILTERART",
        "FILTERREV", "FILTERTIME", "GENERATOR",
    };
    std::string page = "<html><head>\n";
    // Unnamed slots must stay empty whatever the page holds.
    page += "<meta name=\"\" content=\"stray\">\n";
    for (const char* name : names) {
        if (*name) page += "<meta name=\"" + std::string(name) + "\" content=\"v-" + name + "\">\n";
    }
    page += "</head></html>\n";
    Slots values;
    values.fill("stale");
    EXPECT_EQ(scanMetaData(values, page), 0);
    for (size_t i = 0; i < kMetaSlots; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(values[i], *names[i] ? "v-" + std::string(names[i]) : kNbsp);
    }
    values.fill("stale");
    EXPECT_EQ(scanMetaData(values, ""), 0);
    for (const std::string& value : values) EXPECT_EQ(value, kNbsp);
}

}  // namespace
}  // namespace ruva
