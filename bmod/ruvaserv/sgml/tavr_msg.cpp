#include "bmod/ruvaserv/sgml/tavr_msg.h"

#include <array>

namespace ruva {
namespace {

// Only "Contents" is worded, and no other language's text is known, so
// every row carries the English one.
constexpr int kWordedLabels = SMSG_CONTENTS + 1;
using LabelRow = std::array<const char*, kWordedLabels>;
constexpr LabelRow kEnglish = {"Contents"};

constexpr std::array<LabelRow, kTavrLangCount> kLabels = {
    kEnglish, kEnglish, kEnglish, kEnglish, kEnglish, kEnglish, kEnglish, kEnglish, kEnglish,
    kEnglish, kEnglish, kEnglish, kEnglish, kEnglish, kEnglish, kEnglish, kEnglish,
};

}  // namespace

const char* TavrMsg(TavrLang lang, TavrMessage msg) {
    if (msg < 0 || msg >= kWordedLabels) return nullptr;
    const int row = lang < kTavrLangCount ? lang : TAVRLANG_EN;
    return kLabels[static_cast<size_t>(row)][static_cast<size_t>(msg)];
}

}  // namespace ruva
