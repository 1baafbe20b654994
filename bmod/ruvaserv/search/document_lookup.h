// The library a direct document lookup searches and retrieves in, and the
// pieces of the lookup that need no session.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ruva {

struct DocumentLookup {
    std::string library;        // retrieval of FN and the index search; whole
    bool libraryIn83 = false;   // message 83 names library instead of the request's error
};

// The file-name pattern of a DO value: a value beginning with a digit (at
// most 12 characters) as "*<DO>-*", else the class words OPI, COD, POD,
// ADI, AI, DESC and MAN (case-blind); none for another word.
std::optional<std::string> lookupClassPattern(std::string_view DO);

// 1 when the file name's last extension equals ext case-blind; always 1
// for an empty ext.
int hasExtension(std::string_view filename, std::string_view ext);

}  // namespace ruva
