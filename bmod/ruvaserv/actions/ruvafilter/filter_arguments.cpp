#include "bmod/ruvaserv/actions/ruvafilter/filter_arguments.h"

#include <array>

#include "common/text_view.h"

namespace ruva::filter {

namespace {

constexpr std::array<PaperSize, 5> kPaperSizes = {{
    {"A4", 595, 842},
    {"A3", 842, 1191},
    {"A5", 420, 595},
    {"Letter", 612, 792},
    {"Legal", 612, 1008},
}};

// Other names for rows above: the print action's "US" is Letter.
struct PaperAlias {
    const char* alias;
    const char* name;
};
constexpr std::array<PaperAlias, 2> kPaperAliases = {{{"", "A4"}, {"US", "Letter"}}};

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

}  // namespace

const PaperSize* findPaperSize(std::string_view name) {
    for (const PaperAlias& a : kPaperAliases) {
        if (equalsCaseBlind(name, a.alias)) name = a.name;
    }
    for (const PaperSize& p : kPaperSizes) {
        if (equalsCaseBlind(name, p.name)) return &p;
    }
    return nullptr;
}

int parseArguments(int argc, const char* const* argv, FilterArguments& args, std::string& error) {
    std::string_view size;
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() >= 2 && arg[0] == '-' && arg[1] == 'p') {
            size = arg.substr(2);
        } else if (arg == "-o") {
            if (i + 1 >= argc) {
                error = "-o needs a path";
                return kExitUsage;
            }
            args.output = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + std::string(arg);
            return kExitUsage;
        } else {
            args.input = arg;
            ++inputs;
        }
    }
    if (inputs != 1) {
        error = "usage: ruvafilter -p<size> [-o <path>] <file>";
        return kExitUsage;
    }
    args.paper = findPaperSize(size);
    if (!args.paper) {
        error = "unknown paper size '" + std::string(size) + "'";
        return kExitPaperSize;
    }
    return kExitOk;
}

}  // namespace ruva::filter
