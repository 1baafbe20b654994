// Features put into a seeded page for the benches that post-process it.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace ruva::bench {

// Puts make(n) after a blank outside tags, starting about every interval
// bytes of the grown page, between the body marker and "</body>"; gives
// how many were put in.
template <class Make>
size_t insertEvery(std::string& page, size_t interval, Make make) {
    const size_t from = page.find("<!--@BODY-->");
    const size_t to = page.rfind("</body>");
    std::string out = page.substr(0, from);
    out.reserve(page.size() * 2);
    size_t count = 0;
    size_t since = 0;
    bool inTag = false;
    for (size_t i = from; i < to; ++i) {
        const char c = page[i];
        out += c;
        ++since;
        if (c == '<') inTag = true;
        if (c == '>') inTag = false;
        if (c == ' ' && !inTag && since >= interval) {
            const std::string piece = make(count++);
            out += piece;
            since = piece.size();
        }
    }
    out.append(page, to, std::string::npos);
    page = std::move(out);
    return count;
}

}  // namespace ruva::bench
