// Writes list pages for the markup checks: the six page frames, a page of
// the plain writers and one of the search writers, with realistic or with
// hostile request values.
//
//   list_pages frames DIR            frame-<name>.html for each frame
//   list_pages plain|search FILE [--hostile] [--base URL]
//
// --base replaces "qzl:/kivo?" with URL, as post-processing does, so that a
// browser can load the icons.

#include <cstdio>
#include <cstring>
#include <string>

#include "bmod/ruvaserv/output/htmloutput.h"

namespace {

enum class Mode { kFrames, kPlain, kSearch };

struct Options {
    Mode mode = Mode::kFrames;
    std::string target;  // a directory for frames, else the file
    bool hostile = false;
    std::string base;  // "" keeps "qzl:/kivo?"
};

int usage() {
    std::fputs("usage: list_pages frames DIR | list_pages plain|search FILE [--hostile] [--base URL]\n",
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
        } else {
            return false;
        }
    }
    return true;
}

int writeFrames(const Options&) {
    return 1;
}

int writePlainPage(const Options&) {
    return 1;
}

int writeSearchPage(const Options&) {
    return 1;
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
