#include "bmod/unzipd/zip/zip_command.h"

#include <deque>

#include "common/string_format.h"

namespace ruva {

std::string zipLastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool zipStoredBySuffix(const std::string& iname, const std::string& suffixes) {
    bool store = false;
    size_t start = 0;
    while (!suffixes.empty() && start <= suffixes.size()) {
        size_t end = suffixes.find_first_of(":;", start);
        if (end == std::string::npos) end = suffixes.size();
        std::string suffix = suffixes.substr(start, end - start);
        if (!suffix.empty() && iname.size() >= suffix.size() &&
            iname.compare(iname.size() - suffix.size(), suffix.size(), suffix) == 0)
            store = true;
        start = end + 1;
    }
    return store;
}

namespace {

constexpr size_t kMaxZipComment = 2047;

const char* const kUsage[kZipUsageLines] = {
    "",
    "zip [-options] [-b path] [-t mmddyy] [-n suffixes] [-z comment] [[-c comment]...]",
    "    [zipfile list] [-xi list]",
};

// What an option's value is for.
enum class Value { None, Comment, ZipComment, TempDir, Date, Suffixes };

class Parser;
// An option letter's effect when it is read; false ends reading (a fault or
// help). Its value, when it takes one, comes later through take().
using Effect = bool (*)(Parser& p, char letter);

struct OptionRow {
    char letter;
    Value value;  // Value::None: takes no value
    Effect effect;
};

class Parser {
public:
    Parser(ZipAction action, ZipRequest& r) : action_(action), r_(r) {}
    void run(int argc, const char* const* argv);

    bool fail(std::string detail) {
        r_.failure = ZipFailure{kZipBadArgs, std::move(detail), 0};
        return false;
    }
    ZipAction action_;
    ZipRequest& r_;
    bool tSeen_ = false;
    int selecting_ = 0;  // 'i' or 'x' once a selection list began

private:
    bool option(const std::string& arg);
    bool take(Value v, const std::string& arg);
    bool parseDate(const std::string& text);
    void setArchive(std::string path, int at);

    std::deque<Value> pending_;  // values still owed, in the order of their letters
};

// "-i" and "-x" start the pattern list: there must be names to select from,
// or the archive's entries that update and freshen take without names.
bool startSelection(Parser& p, char letter) {
    bool names = false;
    for (const ZipCommandItem& it : p.r_.items) names = names || !it.isComment;
    bool takesAll = p.r_.archive && (p.action_ == ZIP_ACTION_UPDATE || p.action_ == ZIP_ACTION_FRESHEN);
    if (!names && !takesAll) return p.fail("nothing to select from");
    p.selecting_ = letter;
    return true;
}

// Help ends reading: the engine prints the usage and the run succeeds.
bool help(Parser& p, char) {
    p.r_.help = true;
    return false;
}

const OptionRow kOptions[] = {
    {'0', Value::None,
     [](Parser& p, char) {
         p.r_.method = 0;
         p.r_.level = 0;
         return true;
     }},
    {'1', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'2', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'3', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'4', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'5', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'6', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'7', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'8', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'9', Value::None,
     [](Parser& p, char c) {
         p.r_.level = c - '0';
         return true;
     }},
    {'?', Value::None, help},
    {'H', Value::None, help},
    {'h', Value::None, help},
    {'c', Value::Comment, [](Parser& p, char) { return p.r_.comadd = true; }},
    {'z', Value::ZipComment, [](Parser& p, char) { return p.r_.zipedit = true; }},
    {'j', Value::None, [](Parser& p, char) { return p.r_.junkPaths = true; }},
    {'D', Value::None,
     [](Parser& p, char) {
         p.r_.dirnames = 0;
         return true;
     }},
    {'b', Value::TempDir,
     [](Parser& p, char) { return !p.r_.archive || p.fail("use -b before zip file name"); }},
    {'t', Value::Date,
     [](Parser& p, char) {
         if (p.tSeen_) return p.fail("can only have one -t");
         p.tSeen_ = true;
         return true;
     }},
    {'n', Value::Suffixes, [](Parser& p, char) { return p.r_.suffixOption = true; }},
    {'i', Value::None, startSelection},
    {'x', Value::None, startSelection},
    {'q', Value::None,
     [](Parser& p, char) {
         p.r_.verbose = 0;
         return true;
     }},
    {'v', Value::None,
     [](Parser& p, char) {
         p.r_.verbose = 1;
         return true;
     }},
    // Accepted and ignored: system files, encryption, paths.
    {'S', Value::None, [](Parser&, char) { return true; }},
    {'e', Value::None, [](Parser&, char) { return true; }},
    {'p', Value::None, [](Parser&, char) { return true; }},
};

bool Parser::option(const std::string& arg) {
    for (size_t k = 1; k < arg.size(); ++k) {
        char c = arg[k];
        const OptionRow* row = nullptr;
        for (const OptionRow& o : kOptions)
            if (o.letter == c) row = &o;
        if (!row) return fail(format("no such option: %c", c));
        if (!row->effect(*this, c)) return false;
        if (row->value != Value::None) pending_.push_back(row->value);
    }
    return true;
}

bool Parser::take(Value v, const std::string& arg) {
    switch (v) {
        case Value::Comment:
            r_.items.push_back({true, arg});
            break;
        case Value::ZipComment:
            r_.zipComment += arg;
            if (r_.zipComment.size() > kMaxZipComment) r_.zipComment.resize(kMaxZipComment);
            break;
        case Value::TempDir:
            r_.tempdir = arg;
            break;
        case Value::Date:
            return parseDate(arg);
        case Value::Suffixes:
            r_.special = arg;
            r_.suffixGiven = true;
            break;
        case Value::None:
            break;
    }
    return true;
}

// "-t mmddyy": years before 80 are this century's.
bool Parser::parseDate(const std::string& text) {
    if (text.size() != 6) return fail("invalid date entered for -t option");
    for (char c : text)
        if (c < '0' || c > '9') return fail("invalid date entered for -t option");
    int m = (text[0] - '0') * 10 + (text[1] - '0');
    int d = (text[2] - '0') * 10 + (text[3] - '0');
    int y = (text[4] - '0') * 10 + (text[5] - '0');
    if (m < 1 || m > 12 || d < 1 || d > 31) return fail("invalid date entered for -t option");
    y += y < 80 ? 2000 : 1900;
    r_.before = static_cast<uint32_t>((y - 1980) << 25 | m << 21 | d << 16);
    return true;
}

void Parser::setArchive(std::string path, int at) {
    if (zipLastComponent(path).find('.') == std::string::npos) path += ".zip";
    r_.archive = std::move(path);
    r_.archiveAt = at;
    r_.verboseAtArchive = r_.verbose;
}

void Parser::run(int argc, const char* const* argv) {
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        bool ok = true;
        if (!pending_.empty()) {
            Value v = pending_.front();
            pending_.pop_front();
            ok = take(v, arg);
        } else if (arg == "-") {
            ok = fail("no such option: -");
        } else if (arg.size() > 1 && arg[0] == '-') {
            ok = option(arg);
        } else if (selecting_) {
            r_.patterns.emplace_back(selecting_ == 'i', arg);
        } else if (!r_.archive) {
            setArchive(arg, i);
        } else {
            r_.items.push_back({false, arg});
        }
        if (!ok) {
            r_.stopAt = i;
            return;
        }
    }
    // Values still owed at the end; a "-n" without its list is found later.
    bool ok = true;
    for (Value v : pending_) {
        if (!ok) break;
        if (v == Value::Comment) ok = fail("-C must be followed by comment string argument");
        if (v == Value::ZipComment) ok = fail("-z must be followed by comment string");
        if (v == Value::TempDir) ok = fail("-b must be followed by a path");
        if (v == Value::Date) ok = fail("invalid date entered for -t option");
    }
    if (ok && !r_.archive) ok = fail("no zip file name");
    if (!ok) r_.stopAt = argc;
}

}  // namespace

const char* zipUsageLine(size_t i) {
    return i < kZipUsageLines ? kUsage[i] : "";
}

ZipRequest parseZipCommand(ZipAction action, int argc, const char* const* argv) {
    ZipRequest r;
    Parser(action, r).run(argc, argv);
    return r;
}

ZipFailure checkZipOptions(ZipAction action, ZipRequest& r, const std::string& archive) {
    // Check 3: "-n" needs its list.
    if (r.suffixOption && !r.suffixGiven) return {kZipBadArgs, "missing suffix list", 0};
    if (r.level == 9 || r.special == ";" || r.special == ":") r.special.clear();
    // Check 4: deletion takes no storing and no comments.
    if (action == ZIP_ACTION_DELETE && (r.method == 0 || r.comadd || r.zipedit))
        return {kZipBadArgs, "invalid option(s) used with -d", 0};
    if (r.zipedit && r.zipComment.size() > kZipMaxNewText) return {kZipBadComment, archive, 0};
    return {};
}

}  // namespace ruva
