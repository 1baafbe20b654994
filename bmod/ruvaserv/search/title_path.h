// The title of a folder path: a folder title is the names of its folders
// joined by '|'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ruva {

// The text from the last '|' on, the '|' included; none when path holds no
// '|'. Callers skip the '|'.
std::optional<std::string> extractTitleFromPath(std::string_view path);

}  // namespace ruva
