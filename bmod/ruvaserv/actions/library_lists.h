// Library lists of the listdb and cmplistdb markers.
#pragma once

#include <string>
#include <string_view>

namespace ruva {

// A library's name as lists show it: its first 63 characters, cut at a
// dot third from the end, else at one fourth from the end.
std::string databaseDisplayName(std::string_view name);

}  // namespace ruva
