// The word table: which operation each AC word reaches, with the fields
// and bits its preparation leaves.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::RecordingKivoHandler;

std::string lowered(std::string word) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

// Every other letter upper-cased, beginning with a lower one: "lInK".
std::string mixed(std::string word) {
    for (size_t i = 0; i < word.size(); ++i) {
        const auto c = static_cast<unsigned char>(word[i]);
        word[i] = static_cast<char>(i % 2 ? std::toupper(c) : std::tolower(c));
    }
    return word;
}

// As entry names a word: its first character upper-cased.
std::string asNamed(std::string word) {
    if (!word.empty()) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    return word;
}

// The options every row starts from: the carried bit 0x40 and the
// external-search mark.
constexpr uint32_t kStartOptions = 0x240;

struct WordRow {
    const char* word;
    const char* operation;  // the recorder's; "" for the request object's own
    bool bodyHandlers;      // flag 0x200 after the preparation
    uint32_t options;       // after the preparation
    const char* mime;       // mimeType after the row
};

// ID is given, so that the rows needing a library have one and nothing
// asks the server for it; SEARCHEXT's collection check sends VER.
const WordRow kWordRows[] = {
    {"ABOUT", "outputAbout", true, 0x200, ""},
    {"ANNOTS", "annotAction", false, 0x240, ""},
    {"ANNOCR", "annotAction", false, 0x240, ""},
    {"ANNOED", "annotAction", false, 0x240, ""},
    {"ANNORM", "annotAction", false, 0x240, ""},
    {"ANNOUP", "annotAction", false, 0x240, ""},
    {"ADVSEARCH", "runSearchOperation(kAdvanced)", false, 0x240, ""},
    {"BLANK", "", false, 0x240, ""},
    {"BODY", "linkAction", true, 0x241, ""},
    {"BOOKMARK", "BookmarkAction", false, 0x240, ""},
    {"CHNGLANG", "externalLinkAction", false, 0x240, ""},
    {"COMPMEXT", "mainPageAction(0)", true, 0x240, ""},
    {"COMPSEL", "outputCompareSelect", false, 0x240, ""},
    {"COMPMSG", "outputCompareMessage", true, 0x240, ""},
    {"COMPEXT", "outputCompareMessage", true, 0x240, ""},
    {"COMPEXE", "compareAction", true, 0x240, ""},
    {"COMPBUT", "linkAction", true, 0x200, ""},
    {"COMPARE", "outputCompareMessage", true, 0x240, ""},
    {"CONREF", "topicContent", true, 0x240, ""},
    {"DOCNOTREE", "docNoTreeAction", true, 0x240, ""},
    {"DOCSEARCH", "runSearchOperation(kDocument)", false, 0x240, ""},
    {"EXPORT", "linkAction", true, 0x300, ""},
    {"IMAGE", "imageAction", true, 0x200, ""},
    {"INFO", "infoAction", true, 0x240, ""},
    {"INSTANT", "writeInstantResultsPage", true, 0x240, ""},
    {"JSNOTESINLINE", "writeJSFunctions", true, 0x240, "text/javascript"},
    {"JSCMENU", "", true, 0x240, "text/javascript"},
    {"LINK", "linkAction", true, 0x200, ""},
    {"LINKEXT", "mainPageAction(0)", true, 0x240, ""},
    {"PRINT", "printAction", true, 0x240, ""},
    {"PRINTA4", "locationPrint(PSIZE_A4)", true, 0x240, ""},
    {"PRINTUS", "locationPrint(PSIZE_US)", true, 0x240, ""},
    {"PREVIOUS", "", true, 0x240, ""},
    // The external mark goes into the search request.
    {"SEARCH", "runSearchOperation(kSearch)", true, 0x0, ""},
    // Without a list the entry page runs, which sets the mark itself.
    {"SEARCHEXT", "mainPageAction(0)", true, 0x240, ""},
    {"SEARCHMSG", "outputSearchMessage(SEARCHMSG)", true, 0x240, ""},
    {"SORTMSG", "outputSearchMessage(SORTMSG)", true, 0x240, ""},
    {"SUB_MAIN", "linkAction", true, 0x240, ""},
    {"TOOLBAR", "toolbarAction", false, 0x240, ""},
    {"TREEFRAME", "writeDummyTreeFrame", true, 0x240, ""},
    {"UP", "", true, 0x240, ""},
};

TEST(Dispatcher, EveryWordInEveryCaseReachesItsOperation) {
    for (const WordRow& row : kWordRows) {
        for (const std::string& word : {std::string(row.word), lowered(row.word), mixed(row.word)}) {
            SCOPED_TRACE(word);
            ActionRequest cg({.replies = {test::verLine()}, .fields = {{"ID", "12"}, {"FN", "a.html"}}});
            ASSERT_TRUE(cg.ok());
            cg->options = kStartOptions;
            auto& kh = cg.useHandler<RecordingKivoHandler>();
            EXPECT_EQ(kh.entry(word.c_str()), 1);
            std::string expected = row.operation;
            if (expected == "annotAction") expected += "(" + asNamed(word) + ")";
            EXPECT_EQ(kh.operations(), expected);
            EXPECT_EQ((cg->flags & kCgiBodyHandlers) != 0, row.bodyHandlers);
            EXPECT_EQ(cg->options, row.options);
            EXPECT_EQ(cg->mimeType, row.mime);
            if (!kh.calls.empty()) {
                EXPECT_EQ(kh.calls[0].options, row.options);
                EXPECT_EQ(kh.calls[0].flags, cg->flags);
            }
            EXPECT_EQ(kh.getError(), "");
        }
    }
}

// The ANNO prefix and the words no row has: message 10 names the word as
// entry read it, and nothing runs or is written.
TEST(Dispatcher, WordsWithoutARowAnswerMessage10) {
    struct {
        const char* word;
        const char* operation;
    } const cases[] = {
        {"AnnoXyz", "annotAction(AnnoXyz)"},
        {"anno", "annotAction(Anno)"},
        {"HELP", ""},
        {"NOTELI", ""},
        {"NOTECR", ""},
        {"Fxyz", ""},
        {"fxyz", ""},
        {"9X", ""},
        {"Vx", ""},
        {"LINK ", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        ActionRequest cg({.fields = {{"ID", "12"}}});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        const int result = kh.entry(c.word);
        EXPECT_EQ(kh.operations(), c.operation);
        if (*c.operation) continue;
        EXPECT_EQ(result, 0);
        EXPECT_EQ(kh.getError(), formatChecked(msgFormat(10, "kivohandler/2"), asNamed(c.word)));
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), "");
    }
}

// A word from outside is escaped and cut, so the tag span stays whole.
TEST(Dispatcher, NamedWordIsEscapedAndCut) {
    struct {
        std::string word;
        std::string shown;
    } const cases[] = {
        {"Fa'b", "Fa&#39;b"},
        {"F&#34;x", "F&#34;x"},  // stored quotes render once
        {"F" + std::string(199, 'x'), "F" + std::string(199, 'x')},
        {"F" + std::string(300, 'x'), "F" + std::string(199, 'x') + "..."},
        // A cut never splits a reference.
        {"F" + std::string(196, 'x') + "'", "F" + std::string(196, 'x') + "..."},
        {"F" + std::string(194, 'x') + "'yyy", "F" + std::string(194, 'x') + "&#39;..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word.substr(0, 20));
        ActionRequest cg;
        ASSERT_TRUE(cg.ok());
        KivoHandler& kh = cg.handler();
        EXPECT_EQ(kh.entry(c.word.c_str()), 0);
        EXPECT_EQ(kh.getError(), formatChecked(msgFormat(10, "kivohandler/2"), c.shown));
        EXPECT_TRUE(kh.getError().ends_with("]</span>"));
    }
}

TEST(Dispatcher, SubMainOpensTheSubLibraryPage) {
    struct {
        const char* id;  // null: no field
        const char* wantId;
    } const cases[] = {{nullptr, "9999"}, {"", "9999"}, {"44", "44"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id ? c.id : "(none)");
        ActionRequest cg({.fields = {{"AC", "SUB_MAIN"}, {"FN", "x.html"}}});
        ASSERT_TRUE(cg.ok());
        if (c.id) cg.field("ID", c.id);
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        EXPECT_EQ(kh.entry("SUB_MAIN"), 1);
        ASSERT_EQ(kh.operations(), "linkAction");
        EXPECT_EQ(kh.calls[0].field("ID"), c.wantId);
        EXPECT_EQ(kh.calls[0].field("AC"), std::nullopt);
        EXPECT_EQ(kh.calls[0].field("FN"), "kvo_ml_sub_main_page");
    }
}

// LINK's library: LI becomes ID and curId by the reference's MLLIST; a DB
// gets its id without leaving the look-up's text behind.
TEST(Dispatcher, LinkResolvesItsLibrary) {
    {
        ActionRequest cg(
            {.replies = {test::verLine(), test::mlReply(test::dbLine("guide.kvo", 12, "Guide [EN/G 1]"))},
             .fields = {{"LI", "EN/G 1"}}});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        EXPECT_EQ(kh.entry("LINK"), 1);
        ASSERT_EQ(kh.operations(), "linkAction");
        EXPECT_EQ(kh.calls[0].field("ID"), "12");
        EXPECT_EQ(kh.calls[0].field("LI"), std::nullopt);
        EXPECT_EQ(cg->curId, 12);
        EXPECT_EQ(cg.sent(), "VER\nMLLIST \"[EN/G 1]\"\n");
    }
    {
        ActionRequest cg(
            {.replies = {test::verLine(), test::mlReply(test::dbLine("guide.kvo", 12, "Guide [EN/G 1]"))},
             .fields = {{"DB", "guide.kvo"}}});
        ASSERT_TRUE(cg.ok());
        cg->setError("%s", "earlier");
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        EXPECT_EQ(kh.entry("link"), 1);
        ASSERT_EQ(kh.operations(), "linkAction");
        EXPECT_EQ(kh.calls[0].field("ID"), "12");
        EXPECT_EQ(cg->getError(), "earlier");
        EXPECT_EQ(cg.sent(), "VER\nMLLIST \"guide.kvo\"\n");
    }
    {
        // An unknown DB: the look-up's message 92 does not stay.
        ActionRequest cg(
            {.replies = {test::verLine(), "511 Invalid database 'x.kvo'\n"}, .fields = {{"DB", "x.kvo"}}});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        EXPECT_EQ(kh.entry("LINK"), 1);
        EXPECT_EQ(kh.calls[0].field("ID"), std::nullopt);
        EXPECT_EQ(cg->getError(), "");
    }
}

// Rows that need a library refuse a request naming none, each with its
// own tag; nothing is asked or written.
TEST(Dispatcher, MissingLibraryGivesMessage13WithTheRowsTag) {
    struct {
        const char* word;
        const char* tag;
        test::Fields fields;
    } const cases[] = {
        {"LINK", "kivohandler/NOID1", {{"FN", "a.html"}}},
        {"SEARCH", "kivohandler/NOID2", {{"PA", "x"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        ActionRequest cg({.fields = c.fields});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        EXPECT_EQ(kh.entry(c.word), 0);
        EXPECT_EQ(kh.operations(), "");
        EXPECT_EQ(kh.getError(), formatChecked(msgFormat(13, c.tag)));
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), "");
    }
}

// LINK's LI that the server does not know: the not-available text, no
// action.
TEST(Dispatcher, UnknownReferenceStopsTheRow) {
    ActionRequest cg(
        {.replies = {test::verLine(), "511 Invalid database '[EN/NONE]'\n"}, .fields = {{"LI", "EN/NONE"}}});
    ASSERT_TRUE(cg.ok());
    auto& kh = cg.useHandler<RecordingKivoHandler>();
    EXPECT_EQ(kh.entry("LINK"), 0);
    EXPECT_EQ(kh.operations(), "");
    EXPECT_NE(kh.getError(), "");
    EXPECT_EQ(cg.written(), "");
}

// COMPSEL, COMPMSG, COMPEXT and COMPEXE resolve both libraries; curId
// stays.
TEST(Dispatcher, CompareRowsResolveBothLibraries) {
    ActionRequest cg({.replies = {test::verLine(), test::mlReply(test::dbLine("new.kvo", 12, "New [EN/N 1]")),
                                  test::mlReply(test::dbLine("old.kvo", 7, "Old [EN/O 1]"))},
                      .fields = {{"LI", "EN/N 1"}, {"LC", "EN/O 1"}}});
    ASSERT_TRUE(cg.ok());
    auto& kh = cg.useHandler<RecordingKivoHandler>();
    EXPECT_EQ(kh.entry("compexe"), 1);
    ASSERT_EQ(kh.operations(), "compareAction");
    EXPECT_EQ(kh.calls[0].field("ID"), "12");
    EXPECT_EQ(kh.calls[0].field("IC"), "7");
    EXPECT_EQ(cg->curId, 0);
    EXPECT_EQ(cg.sent(), "VER\nMLLIST \"[EN/N 1]\"\nMLLIST \"[EN/O 1]\"\n");
}

// An action that fails without saying why gets message 476 naming the
// word; one that wrote its answer has answered.
class SilentHandler : public RecordingKivoHandler {
public:
    using RecordingKivoHandler::RecordingKivoHandler;
    bool writes = false;
    std::string text;
    int imageAction() override {
        if (writes) cg->flags |= kCgiResponseDone;
        if (!text.empty()) setError("%s", text);
        return 0;
    }
};

TEST(Dispatcher, FailureAlwaysHasOneAnswer) {
    struct {
        const char* name;
        bool writes;
        std::string handlerText;
        std::string requestText;
        int result;
        std::string error;
    } const cases[] = {
        {"silent", false, "", "", 0, formatChecked(msgFormat(476, "kivohandler/0"), "Image")},
        {"own text", false, "mine", "", 0, "mine"},
        {"request's text", false, "", "theirs", 0, ""},
        {"wrote its page", true, "", "", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.fields = {{"FN", "a.gif"}}});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<SilentHandler>();
        kh.writes = c.writes;
        kh.text = c.handlerText;
        if (!c.requestText.empty()) cg->setError("%s", c.requestText);
        EXPECT_EQ(kh.entry("image"), c.result);
        EXPECT_EQ(kh.getError(), c.error);
    }
}

TEST(Dispatcher, BlankPageTakesItsColour) {
    struct {
        const char* bg;  // null: no field
        const char* colour;
    } const cases[] = {{nullptr, "000000"}, {"", "000000"}, {"ff0000", "ff0000"}, {"ff0000ee", "ff0000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bg ? c.bg : "(none)");
        ActionRequest cg;
        ASSERT_TRUE(cg.ok());
        if (c.bg) cg.field("BG", c.bg);
        EXPECT_EQ(cg.handler().entry("BLANK"), 1);
        EXPECT_TRUE(cg.page().ends_with(std::string("<body bgcolor=\"#") + c.colour + "\"></body></html>\n"));
    }
}

}  // namespace
}  // namespace ruva
