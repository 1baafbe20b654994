#include "bmod/unzipd/daemon/user_profile.h"

#include <strings.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/text.h"

namespace ruva {

LibType ExtensionToLibType(const char* extension) {
    static const struct {
        const char* ext;
        LibType type;
    } kTypes[] = {{"kvo", LIB_KIVO},  {"z", LIB_HTML}, {"zip", LIB_PAPER}, {"zdf", LIB_PDF},
                  {"zsw", LIB_SW},    {"zgp", LIB_GENERIC}, {"khx", LIB_KIVO}, {"ers", LIB_KIVO}};
    if (extension == nullptr) return LIB_UNKNOWN;
    for (const auto& t : kTypes)
        if (strcasecmp(extension, t.ext) == 0) return t.type;
    return LIB_UNKNOWN;
}

std::unique_ptr<UserProfile> newUserProfile() {
    std::unique_ptr<UserProfile> p(new (std::nothrow) UserProfile);
    if (!p) return nullptr;
    p->Systems = newStringList();
    if (!p->Systems) return nullptr;
    return p;
}

int UserProfile::setSystems(const char* text) {
    if (text == nullptr) {
        Systems.reset();
        return 1;
    }
    while (*text == ' ' || *text == '\t') ++text;
    if (*text == '\0' || std::strcmp(text, "0") == 0) {
        Systems.reset();
        return 1;
    }
    std::unique_ptr<StringList> list = newStringList();
    if (!list) return 0;
    if (std::strstr(text, kNoSystems) == nullptr) {
        const char* p = text;
        while (*p != '\0') {
            while (*p == ' ' || *p == '\t') ++p;
            long n = std::strtol(p, nullptr, 10);
            if (n > 0 && list->add(std::to_string(n).c_str()) == nullptr) return 0;
            const char* bar = std::strchr(p, '|');
            if (bar == nullptr) break;
            p = bar + 1;
        }
    }
    if (list->first == nullptr && list->add(kNoSystems) == nullptr) return 0;
    Systems = std::move(list);
    return 1;
}

void UserProfile::setBLOBTypes(const char* text) {
    long n = text != nullptr ? std::strtol(text, nullptr, 10) : -1;
    BLOBTypes = n < 0 ? -1 : static_cast<int>(n > INT_MAX ? INT_MAX : n);
}

int isSystemAllowed(const UserProfile* profile, int number) {
    if (profile == nullptr) return 0;
    if (!profile->Systems) return 1;
    std::string wanted = std::to_string(number);
    for (const String* s = profile->Systems->first; s != nullptr; s = s->next) {
        if (s->value == kNoSystems) return 0;
        if (s->value == wanted) return 1;
    }
    return 0;
}

int isBLOBTypeAllowed(const UserProfile* profile, const char* extension) {
    if (profile == nullptr) return 0;
    if (profile->BLOBTypes == -1) return 1;
    if (extension != nullptr && *extension == '.') ++extension;
    int type = ExtensionToLibType(extension);
    if (type == LIB_UNKNOWN) return 0;
    return (profile->BLOBTypes >> (type - 1)) & 1;
}

}  // namespace ruva
