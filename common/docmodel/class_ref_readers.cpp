#include "common/docmodel/class_ref_readers.h"

#include <algorithm>

#include "common/docmodel/qox_doctype.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

namespace {

// Class files pad their numbers freely ("155 31"); the lookup wants them bare.
std::string withoutSpace(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (!isAsciiSpace(c) && !isAsciiControl(c)) out += c;
    }
    return out;
}

// The content of a class file comes from a library member: it must not close
// the attribute or open a tag of the page it is written into.
void appendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "&#34;";
                break;
            case '<':
                out += "&#60;";
                break;
            case '>':
                out += "&#62;";
                break;
            default:
                out += c;
        }
    }
}

// Content of the first <name> element of a library, "" when it or its
// closing tag is missing there.
std::string_view elementContent(std::string_view library, std::string_view name) {
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const size_t start = library.find(open);
    if (start == std::string_view::npos) return {};
    const size_t contentStart = start + open.size();
    const size_t end = library.find(close, contentStart);
    if (end == std::string_view::npos) return {};
    return library.substr(contentStart, end - contentStart);
}

}  // namespace

int sortDecimalClassCallback(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int d = asciiLower(a[i]) - asciiLower(b[i]);
        if (d != 0) return d;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string parseDecimalClass(std::string_view text) {
    constexpr std::string_view kListOpen = "<dec-classes>";
    constexpr std::string_view kListClose = "</dec-classes>";
    constexpr std::string_view kClassOpen = "<dc>";
    constexpr std::string_view kClassClose = "</dc>";
    text = upToNul(text);

    std::vector<std::string> entries;
    size_t pos = 0;
    while (entries.size() < kDecimalClassOptionsMax) {
        const size_t open = text.find(kListOpen, pos);
        if (open == std::string_view::npos) break;
        const size_t listStart = open + kListOpen.size();
        const size_t close = findCaseBlind(text, listStart, kListClose);
        const size_t listEnd = close == std::string_view::npos ? text.size() : close;
        const std::string_view list = text.substr(listStart, listEnd - listStart);

        size_t p = 0;
        while (entries.size() < kDecimalClassOptionsMax) {
            const size_t dc = list.find(kClassOpen, p);
            if (dc == std::string_view::npos) break;
            const size_t contentStart = dc + kClassOpen.size();
            const size_t dcEnd = findCaseBlind(list, contentStart, kClassClose);
            if (dcEnd == std::string_view::npos) break;
            const std::string_view content = list.substr(contentStart, dcEnd - contentStart);
            const QoxDocType type = decimalClassToQoxDoctype(withoutSpace(content).c_str());
            if (type != QOXDOC_UNKNOWN && type != QOXDOC_INST) {
                std::string entry = getQoxDoctypeString(type);
                entry += " (";
                entry += content.substr(0, kDecimalClassEntryMax);
                entry += ')';
                if (entry.size() > kDecimalClassEntryMax) entry.resize(kDecimalClassEntryMax);
                entries.push_back(std::move(entry));
            }
            p = dcEnd + kClassClose.size();
        }
        if (close == std::string_view::npos) break;
        pos = close + kListClose.size();
    }

    std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
        return sortDecimalClassCallback(a, b) < 0;
    });

    std::string options;
    for (const std::string& entry : entries) {
        const size_t left = entry.find('(');
        const size_t right = entry.find(')', left == std::string::npos ? 0 : left + 1);
        if (left == std::string::npos || right == std::string::npos) continue;
        options += "            <option value=\"";
        appendEscaped(options, withoutSpace(std::string_view(entry).substr(left + 1, right - left - 1)));
        options += "\">";
        appendEscaped(options, entry);
        options += "</option>\n";
    }
    return options;
}

std::vector<std::string> parseLibRefFile(std::string_view text) {
    constexpr std::string_view kListOpen = "<library-references>";
    constexpr std::string_view kListClose = "</library-references>";
    constexpr std::string_view kLibraryOpen = "<library>";
    constexpr std::string_view kLibraryClose = "</library>";
    text = upToNul(text);

    std::vector<std::string> records;
    const size_t open = text.find(kListOpen);
    if (open == std::string_view::npos) return records;
    const size_t listStart = open + kListOpen.size();
    const size_t listEnd = std::min(findCaseBlind(text, listStart, kListClose), text.size());
    const std::string_view list = text.substr(listStart, listEnd - listStart);

    size_t p = 0;
    while (records.size() < kLibRefRecordsMax) {
        const size_t library = list.find(kLibraryOpen, p);
        if (library == std::string_view::npos) break;
        const size_t body = library + kLibraryOpen.size();
        // A library without an element must not take the next library's.
        const size_t end =
            std::min({list.find(kLibraryClose, body), list.find(kLibraryOpen, body), list.size()});
        const std::string_view fields = list.substr(body, end - body);
        std::string record = withoutSpace(elementContent(fields, "prod-no"));
        record += '|';
        record += withoutSpace(elementContent(fields, "rstate"));
        record += '|';
        record += elementContent(fields, "title");
        records.push_back(std::move(record));
        p = end;
    }
    return records;
}

int getLibIdNameFromLibRefString(const char* record, std::string& identity, std::string& name) {
    identity.clear();
    name.clear();
    if (!record) return 0;
    const std::string_view text(record);
    const size_t first = text.find('|');
    if (first == std::string_view::npos) {
        identity = text;
    } else {
        const size_t second = text.find('|', first + 1);
        identity = text.substr(0, first);
        identity += text.substr(first + 1, second == std::string_view::npos ? second : second - first - 1);
        name = text.substr(text.rfind('|') + 1);
    }
    if (name.empty()) name = "No Title";
    return 1;
}

}  // namespace ruva
