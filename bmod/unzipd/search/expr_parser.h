// The parser of index search expressions: words, '&' (AND), '|' (OR), '!'
// (NOT), parentheses, double quotes and backslash escapes. There is no
// precedence: operators fold from left to right as they come, and two words
// in a row are an AND. The user of a tree hangs data on its nodes and has the
// parser free it through a registered releaser.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace ruva {

enum ExprOperator { OP_NULL = 0, OP_TERM = 1, OP_OR = 2, OP_AND = 3, OP_NOT = 4 };

enum ExprToken { TOK_NULL = 0, TOK_LPAREN = 1, TOK_RPAREN = 2, TOK_AND = 3, TOK_OR = 4, TOK_NOT = 5, TOK_TERM = 6 };

// One node. A NOT node uses `left` only; `word` is set for OP_TERM nodes
// (the index search also gives a NOT node its operand's word).
struct ExprTree {
    ExprTree* left = nullptr;
    ExprTree* right = nullptr;
    ExprOperator op = OP_NULL;
    std::string word;
    void* clientData = nullptr;
};

// Characters a term holds at most; the next one begins the next token.
inline constexpr size_t kExprTermMax = 254;
// Limits on client input: nested '(' and '!', and words plus NOT nodes.
inline constexpr int kExprMaxDepth = 256;
inline constexpr int kExprMaxTerms = 4096;
// setError formats into this many bytes, NUL included.
inline constexpr size_t kExprErrorMax = 512;

class ExprParser {
public:
    using Releaser = void (*)(void* clientData, ExprTree* node);
    using TermCheck = int (*)(const char* word);

    ~ExprParser();  // del: the tree, the expression, the message
    ExprParser(const ExprParser&) = delete;
    ExprParser& operator=(const ExprParser&) = delete;

    // Keeps a copy and rewinds; null leaves no expression. 1.
    int setExpression(const char* str);
    // releaser(clientData, node) frees what a node carries.
    void registerClientDataReleaser(Releaser releaser, void* clientData);
    // Optional hook called with each word before its node is made; 0 refuses
    // the word (the parse fails without a message). Null clears it.
    void setTermCheck(TermCheck check) { checkTerm = check; }

    // Parses the expression from its start into `tree` (the previous tree is
    // deleted); 1, or 0 with the message for getError. Only the first
    // expression is read: a ')' or '(' at the top level ends it silently.
    int buildTree();
    ExprTree* getTree() const { return tree; }
    // Hands the tree to the caller, who deletes it with deleteExprTree.
    ExprTree* releaseTree();
    void deleteTree();
    // Post-order, without recursion: releases each node's client data, then
    // frees the node. Null is allowed.
    void deleteExprTree(ExprTree* node);

    void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The last message, or null.
    const char* getError() const { return hasError ? errmsg.c_str() : nullptr; }

    ExprToken peekToken(std::string& buf);
    ExprToken nextToken(std::string& buf);
    // Reads one token at pos; *end gets the position after it.
    ExprToken getToken(std::string& buf, size_t pos, size_t* end) const;

    // Debugging print of the tree: "(left)|right", "(left)&right", "!(x)".
    void printTree(FILE* out = stdout) const;
    void printFactor(const ExprTree* node, FILE* out = stdout) const;

    int getTermCount() const { return termCount; }

private:
    friend std::unique_ptr<ExprParser> newExprParser();
    ExprParser() = default;

    ExprTree* expression();
    ExprTree* factor();
    ExprTree* newExprTree(ExprOperator op);
    ExprTree* newTerm(const std::string& word);
    // Sets an operator's message unless a limit message must survive.
    void failWith(const char* message);
    bool countTerms(int n);

    ExprTree* tree = nullptr;
    std::string expr;
    bool hasExpr = false;
    size_t curp = 0;
    std::string errmsg;
    bool hasError = false;
    bool limitHit = false;
    int termCount = 0;
    int depth = 0;
    void* clientData = nullptr;
    Releaser clientDataReleaser = nullptr;
    TermCheck checkTerm = nullptr;
};

// An empty parser; null when memory runs out.
std::unique_ptr<ExprParser> newExprParser();

}  // namespace ruva
