// Localized labels of TAVR documents by language. Only the "Contents"
// label is used and worded; every language has the English text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ruva {

// Document languages; the numbers are the table's row order.
enum TavrLang : uint8_t {
    TAVRLANG_AE = 0,
    TAVRLANG_DA = 1,
    TAVRLANG_DE = 2,
    TAVRLANG_EN = 3,
    TAVRLANG_ES = 4,
    TAVRLANG_FI = 5,
    TAVRLANG_FR = 6,
    TAVRLANG_IS = 7,
    TAVRLANG_IT = 8,
    TAVRLANG_NL = 9,
    TAVRLANG_NO = 10,
    TAVRLANG_PB = 11,
    TAVRLANG_PT = 12,
    TAVRLANG_SL = 13,
    TAVRLANG_SV = 14,
    TAVRLANG_JA = 15,
    TAVRLANG_X = 16,
    TAVRLANG_NOTSET = 255,
};

inline constexpr int kTavrLangCount = 17;      // AE to X
inline constexpr int kTavrMsgLabels = 36;      // labels per language
inline constexpr size_t kTavrMsgLabelMax = 36;  // characters of a label

// Label numbers within a language's row.
enum TavrMessage : int {
    SMSG_CONTENTS = 0,
};

// The label of msg in lang; NOTSET and any language outside the table give
// the English text. Null for a label number outside the table.
const char* TavrMsg(TavrLang lang, TavrMessage msg);

}  // namespace ruva
