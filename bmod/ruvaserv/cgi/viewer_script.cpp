#include "bmod/ruvaserv/cgi/viewer_script.h"

namespace ruva {

namespace {

constexpr std::string_view kMarker = "//@section ";
constexpr std::string_view kNextMarker = "\n//@section ";

}  // namespace

std::string_view viewerScript(std::string_view section) {
    return scriptSection(viewerScriptFile(), section);
}

std::string_view scriptSection(std::string_view file, std::string_view section) {
    for (size_t at = 0; at < file.size();) {
        size_t end = file.find('\n', at);
        if (end == std::string_view::npos) end = file.size();
        const std::string_view line = file.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(kMarker) || line.substr(kMarker.size()) != section) continue;
        if (at >= file.size()) return {};
        size_t next = file.find(kNextMarker, at - 1);
        next = next == std::string_view::npos ? file.size() : next + 1;
        return file.substr(at, next - at);
    }
    return {};
}

}  // namespace ruva
