#include "bmod/ruvaserv/sgml/tavr_msg.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ruva {
namespace {

TEST(TavrMsg, EveryLanguageHasTheContentsLabel) {
    for (int lang = 0; lang < kTavrLangCount; ++lang) {
        SCOPED_TRACE(lang);
        const char* label = TavrMsg(static_cast<TavrLang>(lang), SMSG_CONTENTS);
        ASSERT_NE(label, nullptr);
        EXPECT_STREQ(label, "Contents");
        EXPECT_LE(std::strlen(label), kTavrMsgLabelMax);
    }
    EXPECT_STREQ(TavrMsg(TAVRLANG_NOTSET, SMSG_CONTENTS), "Contents");
    EXPECT_STREQ(TavrMsg(static_cast<TavrLang>(kTavrLangCount), SMSG_CONTENTS), "Contents");
}

TEST(TavrMsg, UnknownLabelGivesNull) {
    EXPECT_EQ(TavrMsg(TAVRLANG_EN, static_cast<TavrMessage>(-1)), nullptr);
    EXPECT_EQ(TavrMsg(TAVRLANG_EN, static_cast<TavrMessage>(kTavrMsgLabels)), nullptr);
}

}  // namespace
}  // namespace ruva
