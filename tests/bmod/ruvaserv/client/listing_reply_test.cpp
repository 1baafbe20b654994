// The listing replies read from lines as the daemon writes them; the loops
// are fed lines already classified, so no socket is involved.
#include "bmod/ruvaserv/client/listing_reply.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {
namespace {

// The fields of an entry line: what follows its four code characters.
std::string_view fieldsOf(std::string_view line) { return line.substr(4); }

// A line of the kind the session's classification gives it.
UzLine lineOf(UzLineKind kind, std::string_view raw) {
    const int code = std::atoi(std::string(raw.substr(0, 3)).c_str());
    return {kind, code, raw.size() > 4 ? raw.substr(4) : std::string_view()};
}
UzLine entry(std::string_view raw) { return lineOf(UzLineKind::kEntry, raw); }
UzLine header(std::string_view raw) { return lineOf(UzLineKind::kHeader, raw); }
UzLine endLine(std::string_view raw) { return lineOf(UzLineKind::kEnd, raw); }
UzLine errorLine(std::string_view raw) { return lineOf(UzLineKind::kError, raw); }
UzLine shortLine() { return {UzLineKind::kShort, 0, {}}; }

// Plays lines in order, then "no line"; counts what the reader took, so a
// reader that reads past the reply's final line shows it.
struct Script {
    std::vector<UzLine> lines;
    size_t taken = 0;
    NextReplyLine next() {
        return [this] { return taken < lines.size() ? lines[taken++] : (++taken, UzLine{}); };
    }
};

// ---- entry lines

struct MlCase {
    const char* name;
    std::string_view line;
    MlNodeType type;
    int level;
    const char* database;
    const char* ID;
    size_t size;
    int entries;
    time_t ctime;
    const char* comment;
    const char* LibState;
};

const MlCase kMlCases[] = {
    {"library with comment", "300   DB     2 \"   guide.kvo\"  \"R2A|123456|guide.kvo|\" \t    20480    12 1700000000 \"User Guide\" TRUE",
     ML_NODE_TYPE_ZS, 2, "guide.kvo", "R2A|123456|guide.kvo|", 20480, 12, 1700000000, "User Guide", "TRUE"},
    // The state is the last word; without a comment it must not become one.
    {"library without comment", "300   DB     3 \"reference.kvo\"  \"R1A|77|reference.kvo|\" \t     1024     3 1700000001  FALSE",
     ML_NODE_TYPE_ZS, 3, "reference.kvo", "R1A|77|reference.kvo|", 1024, 3, 1700000001, "", "FALSE"},
    {"version with blanks", "300   DB     0 \"       a.kvo\"  \"EN/LZN 1 R1A|5|a.kvo|\" \t        1     1          2 \"a \\\"b\\\"\" FALSE",
     ML_NODE_TYPE_ZS, 0, "a.kvo", "EN/LZN 1 R1A|5|a.kvo|", 1, 1, 2, "a \"b\"", "FALSE"},
    {"folder", "300  SUB     2            - S|42|-|\t\t\t-     - 1700000002 \"Product A\"",
     ML_NODE_TYPE_SUB, 2, "-", "S|42|-|", 0, 0, 1700000002, "Product A", ""},
    {"folder without description", "300  SUB     1            - S|7|-|\t\t\t-     - 1700000003 ",
     ML_NODE_TYPE_SUB, 1, "-", "S|7|-|", 0, 0, 1700000003, "", ""},
    {"type word merely beginning with SUB", "300 SUBS 1 \"x.kvo\" \"R1A|9|x.kvo|\" 1 1 1 TRUE",
     ML_NODE_TYPE_ZS, 1, "x.kvo", "R1A|9|x.kvo|", 1, 1, 1, "", "TRUE"},
};

TEST(ListingReply, MlEntryLinesFillEveryField) {
    for (const MlCase& c : kMlCases) {
        SCOPED_TRACE(c.name);
        UzMlListEntry e;
        parseMlEntry(fieldsOf(c.line), e);
        ASSERT_TRUE(e.database.has_value());
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.level, c.level);
        EXPECT_EQ(*e.database, c.database);
        EXPECT_EQ(e.ID, c.ID);
        EXPECT_EQ(e.size, c.size);
        EXPECT_EQ(e.entries, c.entries);
        EXPECT_EQ(e.ctime, c.ctime);
        EXPECT_EQ(e.comment, c.comment);
        EXPECT_EQ(e.LibState, c.LibState);
    }
}

TEST(ListingReply, EntryLineWithoutWordsFillsNothing) {
    UzMlListEntry ml;
    parseMlEntry("", ml);
    EXPECT_FALSE(ml.filled());
    UzListEntry list;
    parseListEntry("  ", list);
    EXPECT_FALSE(list.filled());
    UzSListEntry slist;
    parseSListEntry("", slist);
    EXPECT_FALSE(slist.filled());
}

struct ListCase {
    const char* name;
    std::string_view line;
    const char* database;
    size_t size;
    int entries;
    time_t ctime;
    const char* comment;
};

const ListCase kListCases[] = {
    {"padded name", "300 \"    guide.kvo\"    20480    12 1700000000 \"User Guide\"", "guide.kvo", 20480, 12, 1700000000,
     "User Guide"},
    {"no comment", "300 \"reference.kvo\"     1024     3 1700000001 ", "reference.kvo", 1024, 3, 1700000001, ""},
    {"plain comment", "300 \"        a.kvo\"        1     1          2 Abc", "a.kvo", 1, 1, 2, "Abc"},
};

TEST(ListingReply, ListEntryLinesDropTheNamePadding) {
    for (const ListCase& c : kListCases) {
        SCOPED_TRACE(c.name);
        UzListEntry e;
        parseListEntry(fieldsOf(c.line), e);
        ASSERT_TRUE(e.database.has_value());
        EXPECT_EQ(*e.database, c.database);
        EXPECT_EQ(e.size, c.size);
        EXPECT_EQ(e.entries, c.entries);
        EXPECT_EQ(e.ctime, c.ctime);
        EXPECT_EQ(e.comment, c.comment);
    }
}

TEST(ListingReply, SListEntryLines) {
    UzSListEntry named;
    parseSListEntry(fieldsOf("300 10.0.0.1:9229 \"Main server\""), named);
    EXPECT_EQ(named.address, "10.0.0.1:9229");
    EXPECT_EQ(named.comment, "Main server");
    UzSListEntry bare;
    parseSListEntry(fieldsOf("300 10.0.0.2:9230 "), bare);
    EXPECT_EQ(bare.address, "10.0.0.2:9230");
    EXPECT_EQ(bare.comment, "");
}

struct ContCase {
    const char* name;
    bool verbose;
    std::string_view line;
    const char* filename;
    const char* comment;
    size_t usize;
    size_t csize;
    unsigned long crc;
    ZipMethod method;
};

const ContCase kContCases[] = {
    {"comment with blanks", false, "300 1551-abc10101uen.a.html \"Title: a b\"", "1551-abc10101uen.a.html",
     "Title: a b", 0, 0, 0, ZIPMETHOD_STORED},
    {"comment with quotes and a trailing blank", false, "300 x.html \"say \\\"hi\\\" \"", "x.html", "say \"hi\" ",
     0, 0, 0, ZIPMETHOD_STORED},
    {"no comment", false, "300 index.sgml", "index.sgml", "", 0, 0, 0, ZIPMETHOD_STORED},
    {"verbose", true, "300     4096     Deflated     1000 75% deadbeef 1551-abc10101uen.a.html \"Title: a b\"",
     "1551-abc10101uen.a.html", "Title: a b", 4096, 1000, 0xdeadbeef, ZIPMETHOD_DEFLATED},
    {"verbose stored, no comment", true, "300       12       Stored       12  0% 0000abcd a.txt", "a.txt", "", 12, 12,
     0xabcd, ZIPMETHOD_STORED},
    {"verbose main page", true, "300    4096   Stored   4096    0        -   kvo_ml_sub_main_page",
     "kvo_ml_sub_main_page", "", 4096, 4096, 0, ZIPMETHOD_STORED},
    {"verbose unknown method", true, "300       10   Unknown[99]       10  0% 00000001 b.bin", "b.bin", "", 10, 10, 1,
     ZIPMETHOD_UNKNOWN},
};

TEST(ListingReply, ContEntryLines) {
    for (const ContCase& c : kContCases) {
        SCOPED_TRACE(c.name);
        UzContEntry e;
        parseContEntry(fieldsOf(c.line), c.verbose, e);
        EXPECT_EQ(e.filename, c.filename);
        EXPECT_EQ(e.comment, c.comment);
        EXPECT_EQ(e.usize, c.usize);
        EXPECT_EQ(e.csize, c.csize);
        EXPECT_EQ(e.crc, c.crc);
        EXPECT_EQ(e.method, c.method);
    }
}

TEST(ListingReply, LastWordScansBackToTheBlankBeforeIt) {
    const struct {
        std::string_view text;
        std::string_view word;
    } cases[] = {
        {"Contents of Database guide.kvo", "guide.kvo"},
        {"  Length       Method     Size Ratio CRC-32 123456", "123456"},
        {"Number of databases: 3", "3"},
        {"Server start/reconfiguration time: [2026-01-02 10:20 ] 1767349200", "1767349200"},
        {"Contents of Database lib_", "lib_"},
        {"trailing blank x.kvo ", "x.kvo"},
        {"single", "single"},
        {"", ""},
        {" .- ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(lastWord(c.text), c.word);
    }
}

// ---- single-line replies

TEST(ListingReply, VerLineFillsTheConnectRecordOnlyOn200) {
    const struct {
        const char* name;
        std::string_view line;
        int code;
        const char* message;
        bool filled;
        const char* servName;
        const char* article;
        const char* revision;
        const char* comment;
    } cases[] = {
        {"daemon", "200 Version: ruvadaemon \"CXA 113 01\" R19K \"Test server\"", 200,
         "Version: ruvadaemon \"CXA 113 01\" R19K \"Test server\"", true, "ruvadaemon", "CXA 113 01", "R19K",
         "Test server"},
        {"empty comment", "200 Version: unknown \"unknown\" R10C \"\"", 200,
         "Version: unknown \"unknown\" R10C \"\"", true, "unknown", "unknown", "R10C", ""},
        {"words missing", "200 Version: x", 200, "Version: x", true, "x", "", "", ""},
        {"no first word", "200 ", 200, "", false, "", "", "", ""},
        {"refused", "400 Unknown command <VER>. Try HELP.", 400, "Unknown command <VER>. Try HELP.", false, "", "",
         "", ""},
        {"short", "20", 500, "", false, "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = allocResponse(RT_CONNECT);
        ASSERT_NE(r, nullptr);
        parseVerLine(c.line, *r);
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message);
        const UzConnectEntry* e = r->connect();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->filled(), c.filled);
        EXPECT_EQ(e->servName.value_or(""), c.servName);
        EXPECT_EQ(e->article, c.article);
        EXPECT_EQ(e->revision, c.revision);
        EXPECT_EQ(e->comment, c.comment);
    }
}

TEST(ListingReply, StatusLinesKeepTheTextAsSent) {
    const struct {
        const char* name;
        ResponseType type;
        std::string_view line;
        int code;
        const char* message;
    } cases[] = {
        {"languages", RT_LANGLIST, "200 en sv  ", 200, "en sv  "},
        {"no language", RT_LANGLIST, "200 EN", 200, "EN"},
        {"blob types", RT_BLOBTYPES, "200 1 3  ", 200, "1 3  "},
        {"quit", RT_QUIT, "200-See you later.", 200, "See you later."},
        {"refused", RT_LANGLIST, "400 Unknown command <LANGLIST>. Try HELP.", 400, "Unknown command <LANGLIST>. Try HELP."},
        {"four characters", RT_BLOBTYPES, "200 ", 200, ""},
        {"no word", RT_QUIT, "   ", 500, "none"},
        {"empty", RT_BLOBTYPES, "", 500, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = allocResponse(c.type);
        ASSERT_NE(r, nullptr);
        parseStatusLine(c.line, *r, "none");
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message);
    }
}

TEST(ListingReply, OnlyEnglishIsTestedWithoutRegardToCase) {
    const struct {
        std::string_view codes;
        bool onlyEn;
    } cases[] = {
        {"EN", true}, {"en  ", true}, {"En", true}, {"en sv  ", false}, {"sv", false}, {"ENG", false}, {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.codes));
        EXPECT_EQ(langListIsOnlyEn(c.codes), c.onlyEn);
    }
}

// ---- whole replies

TEST(ListingReply, InfoReplyFillsTheLabelledNumbers) {
    Script s{{
        header("300-Server Information:"),
        entry("300 Server start/reconfiguration time: [2026-01-02 10:20 UTC] 1767349200"),
        entry("300 Number of client sessions: 7"),
        entry("300 Number of active sessions: 2"),
        entry("300 Number of databases: 3"),
        entry("300 Number of Sub-systems: 4"),
        entry("300 Total number of files: 25"),
        entry("300 Estimated cache memory requirement (in bytes): 9000"),
        entry("300 ZipStructure Pool: Heaps 1, usedItems 3, itemSize 376"),
        entry("300 CentralHeader Pool: Heaps 1, usedItems 25, itemSize 72"),
        entry("300 Name Pool: Heaps 1, allocSize 4096"),
        endLine("200-INFO executed."),
    }};
    auto r = allocResponse(RT_INFO);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(readInfoReply(*r, s.next()));
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(r->resultMessage, "INFO executed.");
    const UzInfoEntry& i = *r->info();
    EXPECT_EQ(i.startTime, 1767349200);
    EXPECT_EQ(i.numSessions, 2u);  // the active sessions: the later line
    EXPECT_EQ(i.dbCount, 3u);
    EXPECT_EQ(i.subCount, 4u);
    EXPECT_EQ(i.fileCount, 25u);
    EXPECT_EQ(i.cacheMem, 9000u);
    EXPECT_EQ(i.dbOccupation + i.chOccupation + i.nmOccupation, 0u);
    EXPECT_EQ(i.changePeriod + i.newPeriod + i.nextChange, 0u);
}

// A reply-level case: the lines played, what the reader gives, and how
// many lines it took (never one past the final line).
struct ReplyCase {
    const char* name;
    std::vector<UzLine> lines;
    bool complete;
    int code;
    std::string message;
    size_t taken;
};

void expectReply(const ReplyCase& c, ResponseType type, bool (*read)(UzResponse&, const NextReplyLine&)) {
    SCOPED_TRACE(c.name);
    Script s{c.lines};
    auto r = allocResponse(type);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(read(*r, s.next()), c.complete);
    EXPECT_EQ(r->resultCode, c.code);
    EXPECT_EQ(r->resultMessage, c.message);
    EXPECT_EQ(s.taken, c.taken);
}

TEST(ListingReply, InfoReplyEndsOnAnErrorLine) {
    const ReplyCase cases[] = {
        // The error's words hold a label; it still ends the reply.
        {"unknown command", {errorLine("400 Unknown command <INFO>. Try HELP."), entry("300 Number of databases: 9")},
         true, 400, "Unknown command <INFO>. Try HELP.", 1},
        {"no end line", {header("300-Server Information:"), entry("300 Number of databases: 3")}, false, 500,
         getMsgStr(394, "uzsession/15"), 3},
        {"short line ignored", {shortLine(), endLine("200-INFO executed.")}, true, 200, "INFO executed.", 2},
    };
    for (const ReplyCase& c : cases) expectReply(c, RT_INFO, readInfoReply);
}

TEST(ListingReply, HelpReplyKeepsTheHelpLineAndItsCode) {
    const ReplyCase cases[] = {
        {"commands", {entry("200 Supported commands: BLOBTYPES CONT CONTV")}, true, 200,
         "Supported commands: BLOBTYPES CONT CONTV", 1},
        {"one command", {entry("200 UPDFILE dbpat/ID file length -- Add a file")}, true, 200,
         "UPDFILE dbpat/ID file length -- Add a file", 1},
        {"no such command", {errorLine("400 No such command <USER>")}, true, 400, "No such command <USER>", 1},
        {"header first", {header("300-Help follows"), entry("200 x -- y")}, true, 200, "x -- y", 2},
        {"end line", {header("300-Help follows"), endLine("200-HELP executed.")}, true, 200, "HELP executed.", 2},
        {"no line", {}, false, 500, getMsgStr(393, "uzsession/14"), 1},
    };
    for (const ReplyCase& c : cases) expectReply(c, RT_HELP, readHelpReply);

    Script s{{entry("200 LIST [dbpat] -- List available databases")}};
    auto r = allocResponse(RT_HELP);
    ASSERT_NE(r, nullptr);
    readHelpReply(*r, s.next());
    EXPECT_EQ(r->help()->message, "LIST [dbpat] -- List available databases");
}

TEST(ListingReply, EntryListRepliesEndOnTheirFinalLine) {
    const ReplyCase cases[] = {
        {"only the end line", {header("300-Database     Size    Entries CTime \"Comment\""), endLine("200-LIST executed.")},
         true, 200, "LIST executed.", 2},
        {"broken off", {header("300-Database"), entry("300 \"a.kvo\" 1 1 1")}, false, 500,
         getMsgStr(395, "uzsession/16"), 3},
        {"short line", {entry("300 \"a.kvo\" 1 1 1"), shortLine(), endLine("200-LIST executed.")}, false, 500,
         getMsgStr(396, "uzsession/17"), 2},
        {"error", {errorLine("500-Out of memory in ruvadaemon"), endLine("200-LIST executed.")}, true, 500,
         "Out of memory in ruvadaemon", 1},
    };
    for (const ReplyCase& c : cases) expectReply(c, RT_LIST, readListReply);

    const ReplyCase mlCases[] = {
        {"invalid database", {errorLine("511 Invalid database 'x*'")}, true, 511, "Invalid database 'x*'", 1},
        {"broken off", {header("300-Type Level")}, false, 500, getMsgStr(398, "uzsession/19"), 2},
    };
    for (const ReplyCase& c : mlCases) expectReply(c, RT_MLLIST, readMlReply);
    const ReplyCase mlsCases[] = {
        {"broken off", {}, false, 500, getMsgStr(400, "uzsession/19"), 1},
        {"short", {shortLine()}, false, 500, getMsgStr(401, "uzsession/20"), 1},
    };
    for (const ReplyCase& c : mlsCases) expectReply(c, RT_MLSLIST, readMlReply);
    const ReplyCase slistCases[] = {
        {"broken off", {header("300-Address \"Comment\"")}, false, 500, getMsgStr(412, "uzsession/36"), 2},
    };
    for (const ReplyCase& c : slistCases) expectReply(c, RT_SLIST, readSListReply);
}

TEST(ListingReply, EmptyListReplyKeepsOneUnfilledRecord) {
    Script s{{header("300-Database     Size    Entries CTime \"Comment\""), endLine("200-LIST executed.")}};
    auto r = allocResponse(RT_LIST);
    ASSERT_NE(r, nullptr);
    readListReply(*r, s.next());
    ASSERT_NE(r->list(), nullptr);
    EXPECT_FALSE(r->list()->filled());
    EXPECT_EQ(r->list()->next, nullptr);
}

std::vector<int> levelsOf(const UzResponse& r) {
    std::vector<int> levels;
    for (const UzMlListEntry* e = r.mllist(); e; e = e->next.get()) levels.push_back(e->level);
    return levels;
}

TEST(ListingReply, MlLevelsCountFromTheReplysFirstEntry) {
    const struct {
        const char* name;
        std::vector<UzLine> lines;
        std::vector<int> levels;
    } cases[] = {
        {"sub-folder listing",
         {entry("300  SUB     2            - S|42|-|\t\t\t-     - 1 \"A\""),
          entry("300   DB     3 \"       a.kvo\"  \"R1A|1|a.kvo|\" \t        1     1          1  TRUE"),
          entry("300  SUB     2            - S|43|-|\t\t\t-     - 1 \"B\"")},
         {0, 1, 0}},
        // One library of a folder: at its folder's level, yet the top.
        {"single library", {entry("300   DB     2 \"       a.kvo\"  \"R1A|1|a.kvo|\" \t        1     1          1  TRUE")}, {0}},
        {"never below 0",
         {entry("300  SUB     2            - S|42|-|\t\t\t-     - 1 \"A\""),
          entry("300  SUB     1            - S|40|-|\t\t\t-     - 1 \"Up\"")},
         {0, 0}},
        {"whole tree", {entry("300  SUB     0            - S|1|-|\t\t\t-     - 1 \"Root\""),
                        entry("300  SUB     1            - S|2|-|\t\t\t-     - 1 \"A\"")},
         {0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script s{c.lines};
        s.lines.push_back(endLine("200-MLLIST executed."));
        auto r = allocResponse(RT_MLLIST);
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(readMlReply(*r, s.next()));
        EXPECT_EQ(levelsOf(*r), c.levels);
    }
}

std::vector<std::string> contRecords(const UzResponse& r) {
    std::vector<std::string> records;
    for (const UzContEntry* e = r.cont(); e && e->filled(); e = e->next.get())
        records.push_back(*e->database + "/" + e->filename);
    return records;
}

TEST(ListingReply, ContReplyEndsOnEveryFinalLine) {
    const struct {
        ReplyCase reply;
        std::vector<std::string> records;
    } cases[] = {
        {{"two libraries",
          {header("300-Contents of Database guide.kvo"), entry("300 a.html"), entry("300 b.html \"B b\""),
           header("300-Contents of Database reference.kvo"), entry("300 c.html"), endLine("200-CONT executed.")},
          true, 200, "CONT executed.", 6},
         {"guide.kvo/a.html", "guide.kvo/b.html", "reference.kvo/c.html"}},
        // The second library changed after the scan: the reply ends there,
        // and nothing more is read.
        {{"library changed",
          {header("300-Contents of Database guide.kvo"), entry("300 a.html"),
           errorLine("577 Library \"reference.kvo\" is being updated. Please perform this operation after some time."),
           entry("300 never.html")},
          true, 577, "Library \"reference.kvo\" is being updated. Please perform this operation after some time.", 3},
         {"guide.kvo/a.html"}},
        {{"library removed", {errorLine("578 Library \"guide.kvo\" has been removed.")}, true, 578,
          "Library \"guide.kvo\" has been removed.", 1},
         {}},
        {{"empty folder", {errorLine("510 Node contains no databases \"Product A\"")}, true, 510,
          "Node contains no databases \"Product A\"", 1},
         {}},
        {{"syntax error", {errorLine("400 Syntax error in CONT command. Try HELP CONT")}, true, 400,
          "Syntax error in CONT command. Try HELP CONT", 1},
         {}},
        {{"header without name", {header("300-")}, false, 500, getMsgStr(436, "uzsession/47"), 1}, {}},
        {{"short first line", {shortLine()}, false, 500, getMsgStr(435, "uzsession/46"), 1}, {}},
        {{"short entry", {header("300-Contents of Database g.kvo"), entry("300 a.html"), shortLine()}, false, 500,
          getMsgStr(438, "uzsession/49"), 3},
         {"g.kvo/a.html"}},
        {{"broken off", {header("300-Contents of Database g.kvo"), entry("300 a.html")}, false, 500,
          getMsgStr(437, "uzsession/48"), 3},
         {"g.kvo/a.html"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.name);
        Script s{c.reply.lines};
        s.taken = 1;
        auto r = allocResponse(RT_CONT);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(readContReply(*r, s.lines.front(), false, s.next()), c.reply.complete);
        EXPECT_EQ(r->resultCode, c.reply.code);
        EXPECT_EQ(r->resultMessage, c.reply.message);
        EXPECT_EQ(s.taken, c.reply.taken);
        EXPECT_EQ(contRecords(*r), c.records);
    }
}

TEST(ListingReply, ContvReplyOfTheMainPage) {
    Script s{{header("300-Length   Method  Size  Ratio   CRC-32  123456"),
              entry("300    4096   Stored   4096    0        -   kvo_ml_sub_main_page"),
              endLine("200-CONTV executed.")}};
    s.taken = 1;
    auto r = allocResponse(RT_CONT);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(readContReply(*r, s.lines.front(), true, s.next()));
    EXPECT_EQ(r->resultCode, 200);
    const UzContEntry* e = r->cont();
    ASSERT_TRUE(e->filled());
    EXPECT_EQ(*e->database, "123456");
    EXPECT_EQ(e->filename, "kvo_ml_sub_main_page");
    EXPECT_EQ(e->usize, 4096u);
    EXPECT_EQ(e->next, nullptr);
}

}  // namespace
}  // namespace ruva
