#include "bmod/ruvaserv/cgi/kvo_msg.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/kvo_text.h"

namespace ruva {
namespace {

// The longest tag any caller gives.
constexpr const char* kLongestTag = "SearchResultFmt/mem1";

std::string span(std::string_view tag) {
    return "<span style='color:#D8D8D8'> [" + std::string(tag) + "]</span>";
}

TEST(KvoMsg, LookUpByNumberAndTag) {
    struct {
        int index;
        const char* tag;
        const char* want;
    } const cases[] = {
        {106, "kivoserv/6", "Failed to create session, %s\n.<br><br><span style='color:#D8D8D8'> [kivoserv/6]</span>"},
        {101, nullptr, "Failed to create a CgiHandler\n.<br><br>"},
        {7, "cgihandler/43",
         "Library %s is being updated. Please perform this operation after some time.<br><br>"
         "<span style='color:#D8D8D8'> [cgihandler/43]</span>"},
        {8, nullptr, "Library %s has been removed.<br><br>"},
        {480, "x/1", ""},
        {-1, "x/1", ""},
        {2, "x/1", ""},  // an empty entry
        {479, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(getMsgStr(c.index, c.tag), c.want);
    }
}

TEST(KvoMsg, TwoResultsInOneExpressionStayApart) {
    std::string both = getMsgStr(101, "kivoserv/1") + "|" + getMsgStr(102, "kivoserv/2");
    EXPECT_EQ(both, "Failed to create a CgiHandler\n.<br><br>" + span("kivoserv/1") + "|" +
                        "Failed to retrieve config info : %s.<br><br>" + span("kivoserv/2"));
}

TEST(KvoMsg, EveryEntryFitsWithTheLongestTag) {
    TextTable table = kivoMessages();
    ASSERT_EQ(table.size(), static_cast<size_t>(kMessageCount));
    for (int i = 0; i < kMessageCount; ++i) {
        std::string_view entry = table[static_cast<size_t>(i)];
        if (entry.empty()) continue;
        SCOPED_TRACE(i);
        std::string got = getMsgStr(i, kLongestTag);
        EXPECT_LE(got.size(), kMessageLimit);
        EXPECT_EQ(got, std::string(entry) + span(kLongestTag));
    }
}

// Every conversion the formatter is built for, and no other: a width or a
// "%f" in an entry would go out unformatted.
TEST(KvoMsg, EveryConversionInEveryEntryIsOneOfOurs) {
    for (TextTable table : {kivoMessages(), kivoTexts()}) {
        for (size_t i = 0; i < table.size(); ++i) {
            std::string_view entry = table[i];
            for (size_t p = entry.find('%'); p != std::string_view::npos; p = entry.find('%', p)) {
                std::string_view rest = entry.substr(p + 1);
                size_t len = rest.starts_with("lu") || rest.starts_with("ld") ? 2 : 1;
                bool ours = !rest.empty() && (len == 2 || std::string_view("sdiuxc%").find(rest[0]) !=
                                                               std::string_view::npos);
                EXPECT_TRUE(ours) << "entry " << i << ": " << entry;
                p += 1 + len;
            }
        }
    }
}

// The not-available messages replace one another by configuration, so they
// take the same arguments.
TEST(KvoMsg, NotAvailableMessagesTakeTheArgumentsOf220) {
    for (int n : {220, 221, 222, 224}) {
        SCOPED_TRACE(n);
        std::string page = formatChecked(msgFormat(n, nullptr), "lib.kvo", "127.0.0.1:9229");
        EXPECT_NE(page.find("<b>lib.kvo</b> 127.0.0.1:9229 is not available"), std::string::npos) << page;
    }
}

TEST(KvoMsg, CutKeepsTheSpanAndConversionsWhole) {
    const std::string longText(700, 'a');
    const std::string straddling = std::string(597, 'b') + "%lu tail";
    const std::string hugeTag(1000, 't');
    const char* entries[] = {longText.c_str(), straddling.c_str()};
    TextTable table(entries);
    struct {
        const char* name;
        int index;
        const char* tag;
        std::string want;
    } const cases[] = {
        {"long message, no tag", 0, nullptr, std::string(639, 'a')},
        {"long message, tag", 0, "x/1", std::string(639 - span("x/1").size(), 'a') + span("x/1")},
        // 597 + 4 + 38 = 639 would end the message at "%lu"; 597 + 2 leaves "%l".
        {"cut inside %lu", 1, "y/12", std::string(597, 'b') + span("y/12")},
        {"tag longer than the limit", 0, hugeTag.c_str(), span(std::string(639 - span("").size(), 't'))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string got = getMsgStr(table, c.index, c.tag);
        EXPECT_EQ(got, c.want);
        EXPECT_LE(got.size(), kMessageLimit);
    }
}

// The notice of a search whose hiragana and kanji were not searched: its
// Japanese half is python3's
//   "この版のKIVOでは、検索語に含まれるひらがな・漢字は文書本文の検索に使用されませんでした。".encode("euc_jp")
// between ASCII parentheses.
TEST(KvoMsg, HiraganaKanjiNoticeCarriesItsNoteInEucJp) {
    const std::string japanese =
        "\xa4\xb3\xa4\xce\xc8\xc7\xa4\xceKIVO\xa4\xc7\xa4\xcf\xa1\xa2\xb8\xa1\xba\xf7\xb8\xec\xa4\xcb\xb4\xde"
        "\xa4\xde\xa4\xec\xa4\xeb\xa4\xd2\xa4\xe9\xa4\xac\xa4\xca\xa1\xa6\xb4\xc1\xbb\xfa\xa4\xcf\xca\xb8\xbd"
        "\xf1\xcb\xdc\xca\xb8\xa4\xce\xb8\xa1\xba\xf7\xa4\xcb\xbb\xc8\xcd\xd1\xa4\xb5\xa4\xec\xa4\xde\xa4\xbb"
        "\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf\xa1\xa3";
    EXPECT_EQ(japanese.size(), 88u);
    const std::string text = getMsgStr(99, nullptr);
    EXPECT_EQ(
        text,
        "Please note that search query contained Hiragana/Kanji which were not searched in documents body "
        "text by this KIVO version.<br>(" +
            japanese + ")<br><br>");
    EXPECT_EQ(text.size(), 225u);
}

}  // namespace
}  // namespace ruva
