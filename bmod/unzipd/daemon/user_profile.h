// What one client session may see: the allowed folder numbers ("systems")
// and the allowed library types (BLOB types).
#pragma once

#include <memory>

#include "common/docmodel/comment_tokens.h"
#include "common/string_list.h"

namespace ruva {

// Library type of a file extension (without its dot, case ignored): kvo,
// khx and ers 1, z 2, zip 3, zdf 4, zsw 5, zgp 6, anything else 0.
LibType ExtensionToLibType(const char* extension);

// The marker entry of Systems that allows no system.
inline constexpr const char* kNoSystems = "-1";

class UserProfile {
public:
    ~UserProfile() = default;  // delUP
    UserProfile(const UserProfile&) = delete;
    UserProfile& operator=(const UserProfile&) = delete;

    // Null: all systems. After leading blanks, "" or "0": all. A text that
    // holds "-1" anywhere (also "-10"): none. Else the '|'-separated
    // numbers above 0 (blanks before each skipped), none left: none. 1, or
    // 0 when memory runs out.
    int setSystems(const char* text);
    // Null or a negative number: all types (-1); else the number's bits,
    // bit t-1 for type t.
    void setBLOBTypes(const char* text);

    std::unique_ptr<StringList> Systems;  // null: all; kNoSystems: none
    int BLOBTypes = -1;

private:
    friend std::unique_ptr<UserProfile> newUserProfile();
    UserProfile() = default;
};

// All types, no system until setSystems. Null when memory runs out.
std::unique_ptr<UserProfile> newUserProfile();

// A null profile allows nothing.
int isSystemAllowed(const UserProfile* profile, int number);
// extension may begin with one dot. A type-0 extension (let in by a custom
// IncludePattern) is allowed only when every type is.
int isBLOBTypeAllowed(const UserProfile* profile, const char* extension);

}  // namespace ruva
