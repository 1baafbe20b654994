// Answers requests about the Japanese and EBCDIC converters, one line each,
// for the python3 checks. Bytes travel as lower-case hex ("-" for none).
//
//   jis C1 C2      -> jis2sjis of the two hex bytes
//   e2s HEX        -> euc2sj of the text
//   s2e HEX        -> sj2euc of the text
//   alnum HEX      -> iseucalnum of the text's first character: 0 or 1
//   utf8 FROM TO   -> for each code point FROM..TO (decimal), a line
//                     "HEX CODE": ucsToUTF8 and utf8ToUCS of that result
//   ebc            -> the 256 bytes 0x00-0xFF through ebcnasc
//   asc            -> ascebc of each byte 0x00-0x7F
//
// Exit status 2 on a request it does not understand.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "common/ebcdic.h"
#include "common/eucjp.h"

namespace {

std::string toHex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

bool fromHex(const std::string& hex, std::string& out) {
    out.clear();
    if (hex == "-") return true;
    if (hex.size() % 2) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned value;
        if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1) return false;
        out += static_cast<char>(value);
    }
    return true;
}

bool answer(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    std::string argument;
    std::string text;
    words >> command;
    if (command == "jis") {
        unsigned c1;
        unsigned c2;
        if (!(words >> std::hex >> c1 >> c2)) return false;
        const ruva::BytePair sj =
            ruva::jis2sjis(static_cast<unsigned char>(c1), static_cast<unsigned char>(c2));
        std::printf("%02x%02x\n", sj.first, sj.second);
    } else if (command == "e2s" || command == "s2e" || command == "alnum") {
        if (!(words >> argument) || !fromHex(argument, text) || text.find('\0') != std::string::npos)
            return false;
        if (command == "e2s") {
            std::printf("%s\n", toHex(ruva::euc2sj(text.c_str(), text.size() + 1)).c_str());
        } else if (command == "s2e") {
            std::printf("%s\n", toHex(ruva::sj2euc(text.c_str())).c_str());
        } else {
            std::printf("%d\n", ruva::iseucalnum(text.c_str()) ? 1 : 0);
        }
    } else if (command == "utf8") {
        uint64_t from;
        uint64_t to;
        if (!(words >> from >> to) || to > UINT32_MAX || from > to) return false;
        for (uint64_t code = from; code <= to; ++code) {
            const std::string utf8 = ruva::ucsToUTF8(static_cast<uint32_t>(code));
            std::printf("%s %" PRIu32 "\n", toHex(utf8).c_str(), ruva::utf8ToUCS(utf8.c_str()));
        }
    } else if (command == "ebc") {
        char table[256];
        for (int i = 0; i < 256; ++i) table[i] = static_cast<char>(i);
        // ebcnasc takes at most 255 bytes a call.
        ruva::ebcnasc(table, 255);
        ruva::ebcnasc(table + 255, 1);
        std::printf("%s\n", toHex(std::string(table, sizeof table)).c_str());
    } else if (command == "asc") {
        std::string table;
        for (int i = 0; i < 128; ++i) {
            // Byte 0 cannot stand in a text; 0x80 reaches the same entry.
            char one[2] = {static_cast<char>(i == 0 ? 0x80 : i), 0};
            ruva::ascebc(one);
            table += one[0];
        }
        std::printf("%s\n", toHex(table).c_str());
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!answer(line)) {
            std::fprintf(stderr, "jp_codec_probe: bad request: %s\n", line.c_str());
            return 2;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
