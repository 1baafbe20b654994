// The latest revision of a library by its library id.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/docmodel/libid.h"

namespace ruva {
namespace {

// A revision: P or R, a first number, a letter group, an optional second
// number and an optional "/" suffix of which two characters count.
struct Rev {
    char letter = 0;
    long first = 0;
    std::string letters;
    bool hasSecond = false;
    long second = 0;
    bool hasSuffix = false;
    long suffix = 0;
};

long digitsAt(const char*& p) {
    long v = 0;
    while (std::isdigit(static_cast<unsigned char>(*p)) && v < 100000000) v = v * 10 + (*p++ - '0');
    while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    return v;
}

Rev parseRev(const char* text) {
    Rev r;
    const char* p = text;
    r.letter = *p ? *p++ : 0;
    r.first = digitsAt(p);
    while (std::isalpha(static_cast<unsigned char>(*p))) r.letters += *p++;
    if (std::isdigit(static_cast<unsigned char>(*p))) {
        r.hasSecond = true;
        r.second = digitsAt(p);
    }
    if (*p == '/') {
        r.hasSuffix = true;
        char two[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
        r.suffix = std::strtol(two, nullptr, 10);
    }
    return r;
}

// From the last P or R of the id to its end; none when there is no such
// letter or no digit follows it.
std::optional<std::string> extractRev(const std::string& id) {
    size_t at = id.find_last_of("PR");
    if (at == std::string::npos || at + 1 >= id.size() || !std::isdigit(static_cast<unsigned char>(id[at + 1])))
        return std::nullopt;
    return id.substr(at);
}

// 1 when a is later than b; equal ones keep the first found.
int getLatestLibRev(const char* a, const char* b) {
    Rev x = parseRev(a), y = parseRev(b);
    if (x.first != y.first) return x.first > y.first;
    if (x.letter != y.letter) return x.letter == 'R';
    if (x.letters.size() != y.letters.size()) return x.letters.size() > y.letters.size();
    if (x.letters != y.letters) return x.letters > y.letters;
    if (x.hasSecond != y.hasSecond) return !x.hasSecond;
    if (x.second != y.second) return x.second > y.second;
    if (x.hasSuffix != y.hasSuffix) return x.hasSuffix;
    return x.suffix > y.suffix;
}

}  // namespace

ZipStructure* findZipStructureByLi(const ZipList* zl, const char* text, ZipStructure* previous) {
    std::optional<std::string> id = text ? libidGetFromText(text) : std::nullopt;
    if (!id || id->empty() || zl == nullptr) return nullptr;
    size_t star = id->find('*');
    std::string prefix = id->substr(0, star);
    // The base is read from the prefix: read from the whole id an id like
    // "EN/DOCLIB1*" would pass over every candidate with a revision.
    std::string base = prefix.substr(0, prefix.find_first_of("PR"));
    ZipStructure* candidate = nullptr;
    ZipStructure* latest = nullptr;
    std::string latestRev;
    ZipStructure* zs = previous ? previous->getNextLZN() : zl->getFirstZipStructureLZN();
    for (; zs; zs = zs->getNextLZN()) {
        if (zs->libID == nullptr || *zs->libID == '\0') continue;
        std::string lid = zs->libID;
        if (star == std::string::npos) {
            if (lid == *id) return zs;
            continue;
        }
        if (lid.find(prefix) == std::string::npos) continue;
        candidate = zs;
        size_t pr = lid.find_first_of("PR");
        if (pr != std::string::npos && lid.substr(0, pr) != base) continue;
        std::optional<std::string> rev = extractRev(lid);
        if (!rev) continue;
        if (latest == nullptr || getLatestLibRev(rev->c_str(), latestRev.c_str())) {
            latest = zs;
            latestRev = *rev;
        }
    }
    return latest ? latest : candidate;
}

}  // namespace ruva
