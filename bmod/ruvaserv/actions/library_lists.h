// Library lists of the listdb and cmplistdb markers: the libraries a LIST
// reply names, as table rows or drop-down options. The KivoHandler
// operations (outputListDb, sortListDb, normalListDb, compareListDb) are
// declared with the handler; this unit defines them and the helpers below.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

struct UzListEntry;

// Characters of a library name that lists show at most.
inline constexpr size_t kDisplayNameMax = 63;

// A library's name as lists show it: its first 63 characters, cut at a
// dot third from the end (name longer than 3), else at one fourth from the
// end (name longer than 4). "lib.kvo" gives "lib", ".kvo" stays.
std::string databaseDisplayName(std::string_view name);

// The text a list shows for an entry: its comment, or the display name
// when the comment is empty (LIST writes "" for a blank one).
std::string listEntryText(const UzListEntry& entry);

// std::stable_sort orders of sortListDb: true when a goes before b.
// Order 1: the shown texts (comment, else the name) compared ASCII
// case-blind. Order 2: the later modification time first.
bool listDbSortCommentCallback(const UzListEntry& a, const UzListEntry& b);
bool listDbSortCTimeCallback(const UzListEntry& a, const UzListEntry& b);

}  // namespace ruva
