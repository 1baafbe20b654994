// Writes list pages for the markup checks: the six page frames, a page of
// the plain writers and one of the search writers, with realistic or with
// hostile request values.
//
//   list_pages frames DIR            frame-<name>.html for each frame
//   list_pages plain|search FILE [--hostile] [--base URL] [--values VFILE]
//
// --base replaces "qzl:/kivo?" with URL, as post-processing does, so that a
// browser can load the icons. --values writes the request's fields as the
// value list holds them (after its character checks), one NAME=value a line,
// for a check of what the links give back.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/valuelist.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"

namespace {

enum class Mode { kFrames, kPlain, kSearch };

struct Options {
    Mode mode = Mode::kFrames;
    std::string target;  // a directory for frames, else the file
    bool hostile = false;
    std::string base;    // "" keeps "qzl:/kivo?"
    std::string values;  // "" writes no value file
};

int usage() {
    std::fputs("usage: list_pages frames DIR | list_pages plain|search FILE [--hostile] [--base URL] "
               "[--values VFILE]\n",
               stderr);
    return 2;
}

bool parseArgs(int argc, char** argv, Options* opts) {
    if (argc < 3) return false;
    if (std::strcmp(argv[1], "frames") == 0) {
        opts->mode = Mode::kFrames;
    } else if (std::strcmp(argv[1], "plain") == 0) {
        opts->mode = Mode::kPlain;
    } else if (std::strcmp(argv[1], "search") == 0) {
        opts->mode = Mode::kSearch;
    } else {
        return false;
    }
    opts->target = argv[2];
    for (int i = 3; i < argc; ++i) {
        if (opts->mode != Mode::kFrames && std::strcmp(argv[i], "--hostile") == 0) {
            opts->hostile = true;
        } else if (opts->mode != Mode::kFrames && std::strcmp(argv[i], "--base") == 0 && i + 1 < argc) {
            opts->base = argv[++i];
        } else if (opts->mode != Mode::kFrames && std::strcmp(argv[i], "--values") == 0 && i + 1 < argc) {
            opts->values = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

struct Field {
    const char* name;
    const char* value;
};

// Every hostile value holds quotes, a backslash, a script end, a tag with a
// handler and a script breakout.
constexpr char kHostile[] = "'\"\\</script><img src=x onerror=alert(1)>');alert(1);//";

int writeFile(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return 1;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return (std::fclose(f) == 0 && ok) ? 0 : 1;
}

// A request with fields, a channel on its document buffer and a writer.
class PageRun {
public:
    explicit PageRun(const std::vector<Field>& fields)
        : cg_(ruva::newCgiHandler(ruva::kKivoservFlags, environ)) {
        if (!cg_) return;
        for (const Field& f : fields) cg_->valueList->addValue(f.name, f.value);
        ao_.kvoSetOutput(cg_.get(), ruva::KVO_OUT_INTERNAL);
        if (ao_.kvoOpenOutput(0) != ruva::kKvoOpenOk) return;
        fmt_ = ruva::newKvoHtmlFormat(&ao_);
    }
    ruva::KvoFormat* fmt() const { return fmt_.get(); }

    // The page with every "qzl:/kivo?" replaced by base (when given).
    int save(const std::string& path, const std::string& base, const std::string& values = "") const {
        if (!values.empty() && saveValues(values) != 0) return 1;
        std::string page(cg_->docBuf, cg_->docSize);
        static constexpr char kProgramUrl[] = "qzl:/kivo?";
        if (!base.empty()) {
            for (std::size_t at = page.find(kProgramUrl); at != std::string::npos;
                 at = page.find(kProgramUrl, at + base.size())) {
                page.replace(at, std::strlen(kProgramUrl), base);
            }
        }
        return writeFile(path, page);
    }

private:
    int saveValues(const std::string& path) const {
        std::string text;
        for (const ruva::Value* v = cg_->valueList->firstValue(); v != nullptr; v = cg_->valueList->nextValue(v)) {
            text += v->name + "=" + v->value + "\n";
        }
        return writeFile(path, text);
    }

    std::unique_ptr<ruva::CgiHandler> cg_;
    ruva::KvoOutput ao_{0};
    std::unique_ptr<ruva::KvoFormat> fmt_;
};

int writeFrames(const Options& opts) {
    const struct {
        const char* name;
        std::vector<Field> fields;
        const char* langCode;
    } frames[] = {
        {"plain", {}, nullptr},
        {"search", {{"AC", "search"}}, nullptr},
        {"collection", {{"AC", "SEARCHEXT"}, {"SL", "x"}}, nullptr},
        {"docsearch", {{"AC", "SEARCH"}, {"ST", "DocSearch"}}, nullptr},
        {"catchword", {{"CW", "x"}}, nullptr},
        {"japanese", {}, "uJA"},
    };
    for (const auto& frame : frames) {
        PageRun run(frame.fields);
        if (run.fmt() == nullptr) return 1;
        run.fmt()->openDoc("List", frame.langCode);
        run.fmt()->closeDoc();
        if (run.save(opts.target + "/frame-" + frame.name + ".html", "") != 0) return 1;
    }
    return 0;
}

// A comparison report: headers, the list head, rows of every icon and a
// block of differences.
int writePlainPage(const Options& opts) {
    const char* value = opts.hostile ? kHostile : "a b";
    const std::string hostileName = std::string("1551-ABC10101Uen.A.htm") + (opts.hostile ? kHostile : "");
    PageRun run({{"PA", value}, {"ST", opts.hostile ? kHostile : "FullText"}});
    ruva::KvoFormat* fmt = run.fmt();
    if (fmt == nullptr) return 1;
    const char* title = opts.hostile ? kHostile : "Library &amp; notes";
    const char* lib = opts.hostile ? kHostile : "lib2";
    fmt->openDoc(title, nullptr);
    fmt->writeMainHeader("Comparison 100% done");
    fmt->writeListingHeader("Changes");
    fmt->writeCompareHeader(title, "New library");
    fmt->writeListingSubHeader("Documents", 1);
    fmt->writeListingHeadTitles();
    const struct {
        const char* fn;
        int force_icon;
    } rows[] = {
        {"1551-ABC10101Uen.A.pdf", '1'}, {"1551-ABC10102Uen.B.htm", '2'}, {"1551-ABC10103Uen.A.gif", '3'},
        {"1551-ABC10104Uen.C", '6'},     {"1551-ABC10105Uen.A.pdf", 0},   {"h1551-ABC10106Uen.A.htm", 0},
        {hostileName.c_str(), 0},
    };
    int shade = 0;
    for (const auto& row : rows) {
        fmt->writeDocRow(lib, row.fn, 0, nullptr, title, title, "A synopsis of the document", 0, shade,
                         row.force_icon);
        shade ^= 1;
    }
    fmt->writeDocRow("123", "1551-ABC10107Uen.A.htm", 1, nullptr, "By id", "", "", 0, 0, 0);
    fmt->writeTableCellRow("<pre>- old line\n+ new line</pre>");
    fmt->writeBlankRow();
    fmt->closeList();
    fmt->writeHorizontalDivider();
    fmt->closeDoc();
    return run.save(opts.target, opts.base, opts.values);
}

// A search results page: the header, the list head and hits of each kind.
int writeSearchPage(const Options& opts) {
    const char* v = opts.hostile ? kHostile : nullptr;
    auto pick = [v](const char* realistic) { return v != nullptr ? v : realistic; };
    PageRun run({{"AC", "search"},
                 {"PA", pick("install setup")},
                 {"PAOR", pick("install setup")},
                 {"ST", opts.hostile ? kHostile : "Fulltext"},
                 {"CH", pick("3")},
                 {"SL", pick("x")},
                 {"PAT", pick("install")},
                 {"PAD", pick("ABC10101")},
                 {"PAC", pick("setup")},
                 {"DB", pick("lib2")},
                 {"DO", pick("doc")},
                 {"BA", pick("TITLE")},
                 {"OD", pick("1")},
                 {"MT", "1"},
                 {"SP", "1"}});
    ruva::KvoFormat* fmt = run.fmt();
    if (fmt == nullptr) return 1;
    const std::string hostileName = std::string("1551-ABC10101Uen.A.htm") + (opts.hostile ? kHostile : "");
    const std::string tokens = opts.hostile ? std::string(kHostile) + "|" + kHostile + "|" : "Install|12|Setup|3|";
    const char* title = pick("Install &amp; setup");
    const char* lib = pick("lib2");
    const char* sl = opts.hostile ? kHostile : nullptr;
    fmt->openDoc("Kivo Browser - Search Results", nullptr);
    fmt->writeListingHeaderSearch("Search Results", 3);
    fmt->writeRow("<td class=\"td_sy\"></td></tr></table></th></tr>\n");
    fmt->writeListingHeadTitlesSearch();
    const struct {
        const char* fn;
        int searchType;
        const char* SL;
        const char* tokens;
        int isKwd;
        int isTopic;
        const char* extn;
    } hits[] = {
        {"1551-ABC10101Uen.A.htm", 0, nullptr, "", 0, 0, ""},
        {"1551-ABC10102Uen.A.pdf", 2048, sl, "", 0, 0, ""},
        {"1551-ABC10103Uen.A.htm", 1024, nullptr, pick("a b|c"), 1, 0, ""},
        {"1551-ABC10104Uen.A.htm", 1024, sl, pick("a b|c"), 1, 0, ""},
        {"1551-ABC10105Uen.A.htm", 512, nullptr, tokens.c_str(), 0, 1, ""},
        {"1551-ABC10106Uen.A.xls", 256, nullptr, "", 0, 0, "xls"},
        {"h1551-ABC10107Uen.A", 16384, nullptr, "", 0, 0, ""},
        {hostileName.c_str(), 0, sl, "", 2, 2, ""},
    };
    int shade = 0;
    for (const auto& hit : hits) {
        int first = 1;
        const char* shown = hit.searchType == 16384 ? pick("docs a|Folder") : title;
        fmt->flags = hit.searchType == 0 ? ruva::kKvoFormatMatchAnchor : 0;
        fmt->writeDocRowSearch(lib, pick("lib2"), hit.fn, 0, &first, shown, pick("English"), pick("Sub"),
                               "a <span class=\"ch\">b</span> &amp; c", hit.searchType, shade, 0, 0, hit.SL,
                               "Description", "install", "", hit.extn, hit.tokens, hit.isKwd, hit.isTopic, 0,
                               pick("17"));
        shade ^= 1;
    }
    fmt->closeList();
    fmt->closeDoc();
    return run.save(opts.target, opts.base, opts.values);
}

}  // namespace

int main(int argc, char** argv) {
    Options opts;
    if (!parseArgs(argc, argv, &opts)) return usage();
    switch (opts.mode) {
        case Mode::kFrames:
            return writeFrames(opts);
        case Mode::kPlain:
            return writePlainPage(opts);
        case Mode::kSearch:
            return writeSearchPage(opts);
    }
    return 1;
}
