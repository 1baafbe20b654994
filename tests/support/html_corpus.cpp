#include "tests/support/html_corpus.h"

#include <cmath>
#include <cstdio>
#include <iterator>

namespace ruva::bench {
namespace {

// splitmix64: small, fast and the same everywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
    // Skewed towards small indexes, as word use is.
    unsigned zipf(unsigned n) {
        double u = static_cast<double>(next() >> 11) / 9007199254740992.0;
        return static_cast<unsigned>(std::pow(u, 2.5) * n) % n;
    }

private:
    uint64_t state_;
};

const char* const kWords[] = {
    "the",
    "of",
    "to",
    "and",
    "a",
    "in",
    "is",
    "for",
    "that",
    "with",
    "on",
    "as",
    "be",
    "by",
    "this",
    "are",
    "an",
    "or",
    "from",
    "when",
    "it",
    "which",
    "each",
    "not",
    "can",
    "must",
    "may",
    "all",
    "value",
    "function",
    "returns",
    "parameter",
    "file",
    "library",
    "member",
    "document",
    "archive",
    "index",
    "table",
    "entry",
    "field",
    "record",
    "server",
    "client",
    "request",
    "response",
    "buffer",
    "length",
    "offset",
    "error",
    "status",
    "option",
    "default",
    "setting",
    "section",
    "chapter",
    "structure",
    "pointer",
    "string",
    "character",
    "number",
    "list",
    "name",
    "path",
    "directory",
    "search",
    "pattern",
    "result",
    "page",
    "command",
    "configuration",
    "database",
    "message",
    "connection",
    "process",
    "memory",
    "size",
    "following",
    "example",
    "described",
    "specified",
    "available",
    "required",
    "optional",
    "previous",
    "next",
    "first",
    "last",
    "new",
    "existing",
    "current",
    "system",
    "user",
    "program",
    "data",
    "text",
    "line",
    "word",
    "called",
    "used",
    "set",
    "given",
    "written",
    "read",
    "opened",
    "closed",
    "created",
    "deleted",
    "updated",
    "compressed",
    "stored",
    "copied",
    "within",
    "between",
    "after",
    "before",
    "only",
    "also",
    "then",
    "if",
    "otherwise",
    "however",
    "therefore",
    "see",
    "note",
    "refer",
    "maximum",
    "minimum",
    "number of",
    "type",
    "format",
    "version",
    "header",
    "attribute",
    "identifier",
    "catalogue",
    "revision",
    "language",
    "category",
    "title",
    "procedure",
    "operator",
    "maintenance",
    "installation",
    "manual",
    "reference",
    "guide",
    "valve",
    "pump",
    "pressure",
    "temperature",
    "sensor",
    "controller",
    "module",
    "assembly",
    "component",
    "inspection",
    "replacement",
    "torque",
    "clearance",
    "adjustment",
};

const char* const kCodeWords[] = {
    "int",    "char", "const",  "unsigned", "return", "if",    "else",  "for",   "while",  "struct",
    "size_t", "void", "static", "len",      "buf",    "ptr",   "count", "index", "result", "status",
    "entry",  "name", "offset", "flags",    "value",  "error", "node",  "next",  "data",   "file",
};

const char* const kTags[] = {"code", "em", "strong", "a", "var"};

class PageWriter {
public:
    PageWriter(uint64_t seed, std::string& out) : rng_(seed), out_(out) {}

    void page(size_t approxBytes) {
        unsigned chapter = rng_.below(400) + 1;
        char buf[256];
        std::snprintf(buf, sizeof buf,
                      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n"
                      "<html lang=\"en\">\n<head>\n"
                      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
                      "<title>Chapter %u: ",
                      chapter);
        out_ += buf;
        words(3 + rng_.below(5), false);
        out_ +=
            "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"../style/manual.css\">\n"
            "</head>\n<body bgcolor=\"#FFFFFF\">\n";
        nav(chapter);
        out_ += "<h1 class=\"chapter\">";
        words(3 + rng_.below(5), false);
        out_ += "</h1>\n";
        unsigned section = 0;
        while (out_.size() < start_ + approxBytes) {
            switch (rng_.below(10)) {
                case 0:
                    std::snprintf(buf, sizeof buf, "<h2><a name=\"sec%u_%u\">%u.%u</a> ", chapter, section,
                                  chapter, section);
                    out_ += buf;
                    ++section;
                    words(2 + rng_.below(6), false);
                    out_ += "</h2>\n";
                    break;
                case 1:
                    table();
                    break;
                case 2:
                    list();
                    break;
                case 3:
                    code();
                    break;
                default:
                    paragraph();
                    break;
            }
        }
        nav(chapter);
        out_ +=
            "<hr>\n<p class=\"footer\">Copyright &copy; Manual Publishing. All rights reserved.</p>\n"
            "</body>\n</html>\n";
    }

    void begin() { start_ = out_.size(); }

private:
    void words(unsigned n, bool markup) {
        for (unsigned i = 0; i < n; ++i) {
            if (i > 0) out_ += ' ';
            const char* w = kWords[rng_.zipf(std::size(kWords))];
            if (markup && rng_.below(25) == 0) {
                const char* tag = kTags[rng_.below(std::size(kTags))];
                if (tag[0] == 'a' && tag[1] == 0) {
                    char buf[96];
                    std::snprintf(buf, sizeof buf, "<a href=\"chapter_%04u.html#sec%u\">",
                                  rng_.below(400) + 1, rng_.below(12));
                    out_ += buf;
                } else {
                    out_ += '<';
                    out_ += tag;
                    out_ += '>';
                }
                out_ += w;
                out_ += "</";
                out_ += tag;
                out_ += '>';
            } else if (markup && rng_.below(40) == 0) {
                out_ += std::to_string(rng_.below(rng_.below(2) ? 100 : 65536));
            } else {
                out_ += w;
            }
        }
    }

    void sentence() {
        size_t at = out_.size();
        words(6 + rng_.below(16), true);
        if (out_[at] >= 'a' && out_[at] <= 'z') out_[at] = static_cast<char>(out_[at] - 'a' + 'A');
        out_ += rng_.below(8) == 0 ? ": " : ". ";
    }

    void paragraph() {
        out_ += "<p>";
        unsigned n = 1 + rng_.below(6);
        for (unsigned i = 0; i < n; ++i) sentence();
        out_.back() = '\n';
        out_ += "</p>\n";
    }

    void nav(unsigned chapter) {
        char buf[320];
        std::snprintf(buf, sizeof buf,
                      "<table width=\"100%%\" class=\"nav\"><tr>"
                      "<td align=\"left\"><a href=\"chapter_%04u.html\">Previous</a></td>"
                      "<td align=\"center\"><a href=\"index.html\">Contents</a></td>"
                      "<td align=\"right\"><a href=\"chapter_%04u.html\">Next</a></td></tr></table>\n",
                      chapter - 1, chapter + 1);
        out_ += buf;
    }

    void table() {
        out_ +=
            "<table border=\"1\" cellpadding=\"4\" cellspacing=\"0\">\n"
            "<tr><th>Name</th><th>Type</th><th>Description</th></tr>\n";
        unsigned rows = 2 + rng_.below(8);
        for (unsigned i = 0; i < rows; ++i) {
            out_ += "<tr><td valign=top nowrap><code>";
            out_ += kCodeWords[rng_.zipf(std::size(kCodeWords))];
            out_ += kCodeWords[rng_.below(std::size(kCodeWords))];
            out_ += "</code></td><td valign=top>";
            out_ += kCodeWords[rng_.below(10)];
            out_ += "</td><td>";
            words(4 + rng_.below(14), true);
            out_ += "</td></tr>\n";
        }
        out_ += "</table>\n";
    }

    void list() {
        out_ += rng_.below(2) ? "<ul>\n" : "<ol>\n";
        bool ordered = out_[out_.size() - 3] == 'o';
        unsigned items = 2 + rng_.below(6);
        for (unsigned i = 0; i < items; ++i) {
            out_ += "<li>";
            words(3 + rng_.below(12), true);
            out_ += "</li>\n";
        }
        out_ += ordered ? "</ol>\n" : "</ul>\n";
    }

    void code() {
        out_ += "<pre class=\"example\">\n";
        unsigned lines = 3 + rng_.below(12);
        unsigned indent = 0;
        for (unsigned i = 0; i < lines; ++i) {
            out_.append(4 * indent, ' ');
            const char* a = kCodeWords[rng_.zipf(std::size(kCodeWords))];
            const char* b = kCodeWords[rng_.below(std::size(kCodeWords))];
            char buf[160];
            switch (rng_.below(5)) {
                case 0:
                    std::snprintf(buf, sizeof buf, "if (%s-&gt;%s != NULL) {\n", a, b);
                    ++indent;
                    break;
                case 1:
                    std::snprintf(buf, sizeof buf, "%s = %s(%s, %u);\n", a, b, a, rng_.below(256));
                    break;
                case 2:
                    std::snprintf(buf, sizeof buf, "for (i = 0; i &lt; %s; i++) {\n", b);
                    ++indent;
                    break;
                case 3:
                    std::snprintf(buf, sizeof buf, "return %s;\n", a);
                    break;
                default:
                    if (indent > 0) {
                        --indent;
                        out_.resize(out_.size() - 4);
                        std::snprintf(buf, sizeof buf, "}\n");
                    } else {
                        std::snprintf(buf, sizeof buf, "/* %s %s */\n", a, b);
                    }
                    break;
            }
            out_ += buf;
        }
        while (indent-- > 0) {
            out_.append(4 * indent, ' ');
            out_ += "}\n";
        }
        out_ += "</pre>\n";
    }

    Rng rng_;
    std::string& out_;
    size_t start_ = 0;
};

}  // namespace

std::string htmlPage(uint64_t seed, size_t approxBytes) {
    std::string out;
    out.reserve(approxBytes + 1024);
    PageWriter writer(seed, out);
    writer.begin();
    writer.page(approxBytes);
    return out;
}

std::vector<std::string> htmlCorpus(uint64_t seed, size_t totalBytes) {
    Rng sizes(seed ^ 0x5EEDull);
    std::vector<std::string> pages;
    size_t total = 0;
    while (total < totalBytes) {
        // Log-uniform between 1 KB and 200 KB: many small pages, a few large.
        double u = static_cast<double>(sizes.next() >> 11) / 9007199254740992.0;
        size_t size = static_cast<size_t>(1024.0 * std::pow(200.0, u));
        pages.push_back(htmlPage(sizes.next(), size));
        total += pages.back().size();
    }
    return pages;
}

}  // namespace ruva::bench
