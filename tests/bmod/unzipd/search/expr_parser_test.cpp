#include "bmod/unzipd/search/expr_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ruva {
namespace {

// The tree as printTree writes it, or "error: <message>".
std::string parse(const std::string& expr) {
    auto p = newExprParser();
    p->setExpression(expr.c_str());
    if (!p->buildTree()) return std::string("error: ") + (p->getError() ? p->getError() : "(none)");
    char* buf = nullptr;
    size_t len = 0;
    FILE* out = open_memstream(&buf, &len);
    p->printTree(out);
    std::fclose(out);
    std::string s(buf, len);
    std::free(buf);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

TEST(ExprParser, TableOfExpressions) {
    const std::string w254(254, 'x'), w46(46, 'x');
    const struct {
        std::string expr, want;
    } cases[] = {
        {"a", "a"},
        {"a !b", "(a)&!(b)"},
        {"a & !b", "(a)&!(b)"},
        {"a !(b|c)", "error: Expected word after NOT operator"},
        {"a & !(b|c)", "(a)&!((b)|c)"},
        {"a (b|c)", "a"},
        {"a ) b", "a"},
        {"a | b c", "((a)|b)&c"},
        {"a b | c", "((a)&b)|c"},
        {"!a", "!(a)"},
        {"!!a", "!(!(a))"},
        {"(a)", "a"},
        {"\"a b|c\" d", "(a b|c)&d"},
        {"a\\\"b", "a\"b"},
        {"a\\", "a"},
        {"\"\"", ""},
        {std::string(300, 'x'), "(" + w254 + ")&" + w46},
        {"", "error: Missing token"},
        {"   \t", "error: Missing token"},
        {"(", "error: Missing token"},
        {"(a", "error: Expected closing parenthesis, got "},
        {"(a b(", "error: Expected closing parenthesis, got ("},
        {"|", "error: Unexpected token |"},
        {")", "error: Unexpected token )"},
        {"a |", "error: Missing factor after OR operator"},
        {"a &", "error: Missing factor after AND operator"},
        {"!", "error: Missing factor after NOT operator"},
        {"a !", "error: Expected word after NOT operator"},
        {"a\xA0" "b", "a\xA0" "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expr);
        EXPECT_EQ(parse(c.expr), c.want);
    }
}

TEST(ExprParser, NoExpressionIsAnError) {
    auto p = newExprParser();
    EXPECT_EQ(p->getError(), nullptr);
    EXPECT_EQ(p->buildTree(), 0);
    EXPECT_STREQ(p->getError(), "No expression defined, cannot build tree.");
    EXPECT_EQ(p->setExpression(nullptr), 1);
    EXPECT_EQ(p->buildTree(), 0);
}

TEST(ExprParser, DeepNestingFailsCleanly) {
    // 65000 '(' would overflow the stack of a recursive parser.
    EXPECT_EQ(parse(std::string(65000, '(')), "error: Expression nested too deeply");
    EXPECT_EQ(parse(std::string(65000, '!') + "a"), "error: Expression nested too deeply");
    EXPECT_EQ(parse("a | " + std::string(300, '(') + "b"), "error: Expression nested too deeply");
    EXPECT_EQ(parse(std::string(256, '(') + "a" + std::string(256, ')')), "a");
    EXPECT_EQ(parse(std::string(257, '(') + "a" + std::string(257, ')')), "error: Expression nested too deeply");
}

TEST(ExprParser, TooManyTermsFailCleanly) {
    std::string many;
    for (int i = 0; i < 65000; ++i) many += "a ";
    EXPECT_EQ(parse(many), "error: Too many terms in expression");
    std::string most;
    for (int i = 0; i < 4096; ++i) most += "a ";
    auto p = newExprParser();
    p->setExpression(most.c_str());
    ASSERT_EQ(p->buildTree(), 1);
    EXPECT_EQ(p->getTermCount(), 4096);
    // "a !b" counts the NOT node and its word.
    p->setExpression((most.substr(0, most.size() - 4) + "!b").c_str());
    EXPECT_EQ(p->buildTree(), 1);
    EXPECT_EQ(p->getTermCount(), 4096);
}

struct Released {
    int count = 0;
};

void countRelease(void* client, ExprTree* node) {
    ++static_cast<Released*>(client)->count;
    node->clientData = nullptr;
}

TEST(ExprParser, DeletingATreeReleasesClientData) {
    Released released;
    {
        auto p = newExprParser();
        p->registerClientDataReleaser(countRelease, &released);
        std::string deep;
        for (int i = 0; i < 4000; ++i) deep += "w | ";
        deep += "w";
        p->setExpression(deep.c_str());
        ASSERT_EQ(p->buildTree(), 1);
        int marker = 0;
        for (ExprTree* n = p->getTree(); n; n = n->left) {
            n->clientData = &marker;
            if (n->right) n->right->clientData = &marker;
        }
        p->deleteTree();
        EXPECT_EQ(p->getTree(), nullptr);
        EXPECT_EQ(p->getTermCount(), 0);
    }
    EXPECT_EQ(released.count, 4000 * 2 + 1);
}

int refuseX(const char* word) {
    return word[0] != 'x';
}

TEST(ExprParser, TermCheckRefusesWithoutAMessage) {
    auto p = newExprParser();
    p->setTermCheck(refuseX);
    p->setExpression("x");
    EXPECT_EQ(p->buildTree(), 0);
    EXPECT_STREQ(p->getError(), "NULL expression");
    p->setExpression("a | x");
    EXPECT_EQ(p->buildTree(), 0);
    EXPECT_STREQ(p->getError(), "Missing factor after OR operator");
}

}  // namespace
}  // namespace ruva
