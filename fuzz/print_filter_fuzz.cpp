// The print filter on any page: the scanner in each charset, then layout
// and PostScript, with the writer's promises checked. The page is a
// library member after post-processing, which any upload can supply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/ruvafilter/filter.h"
#include "bmod/ruvaserv/actions/ruvafilter/html_lines.h"
#include "bmod/ruvaserv/actions/ruvafilter/postscript.h"

namespace {

using namespace ruva::filter;

void checkLines(const PageText& page) {
    for (const LineSpan& line : page.lines) {
        if (line.start + static_cast<size_t>(line.length) > page.text.size()) std::abort();
    }
    for (char c : page.text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || (b >= 0x7F && b < 0xA0)) std::abort();  // only printable bytes reach the writer
    }
}

void checkPostScript(std::string_view ps) {
    if (!ps.starts_with("%!PS-Adobe-3.0\n") || !ps.ends_with("%%EOF\n")) std::abort();
    for (size_t at = 0; at < ps.size();) {
        const size_t end = ps.find('\n', at);
        if (end - at > kMaxPsLine) std::abort();
        at = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    for (Charset charset : {Charset::kLatin1, Charset::kUtf8, Charset::kEucJp})
        checkLines(htmlToLines(page, charset));
    const std::optional<std::string> ps = pageToPostScript(page, *findPaperSize("A5"));
    if (!ps) std::abort();  // far below the limit
    checkPostScript(*ps);
    return 0;
}
