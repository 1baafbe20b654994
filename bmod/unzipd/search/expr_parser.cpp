#include "bmod/unzipd/search/expr_parser.h"

#include <cstdarg>
#include <new>
#include <vector>

#include "common/string_format.h"
#include "common/text.h"

namespace ruva {

namespace {

bool isOperatorChar(char c) {
    return c == '!' || c == '&' || c == '(' || c == ')' || c == '|';
}

}  // namespace

std::unique_ptr<ExprParser> newExprParser() {
    return std::unique_ptr<ExprParser>(new (std::nothrow) ExprParser);
}

ExprParser::~ExprParser() {
    deleteTree();
}

int ExprParser::setExpression(const char* str) {
    expr.clear();
    hasExpr = str != nullptr;
    if (!str) return 1;
    expr = str;
    curp = 0;
    termCount = 0;
    return 1;
}

void ExprParser::registerClientDataReleaser(Releaser releaser, void* data) {
    clientDataReleaser = releaser;
    clientData = data;
}

void ExprParser::setError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    errmsg = vformat(format, ap);
    va_end(ap);
    if (errmsg.size() >= kExprErrorMax) errmsg.resize(kExprErrorMax - 1);
    hasError = true;
}

void ExprParser::failWith(const char* message) {
    if (!limitHit) setError("%s", message);
}

// Words and NOT nodes come straight from the client; a cap keeps a huge
// expression from costing a search per word.
bool ExprParser::countTerms(int n) {
    termCount += n;
    if (termCount <= kExprMaxTerms) return true;
    if (!limitHit) setError("Too many terms in expression");
    limitHit = true;
    return false;
}

ExprTree* ExprParser::releaseTree() {
    ExprTree* t = tree;
    tree = nullptr;
    return t;
}

void ExprParser::deleteTree() {
    deleteExprTree(tree);
    tree = nullptr;
    termCount = 0;
}

void ExprParser::deleteExprTree(ExprTree* node) {
    if (!node) return;
    // Trees are as deep as the client's expression is long: no recursion.
    std::vector<ExprTree*> pending{node};
    std::vector<ExprTree*> order;
    while (!pending.empty()) {
        ExprTree* n = pending.back();
        pending.pop_back();
        order.push_back(n);
        if (n->left) pending.push_back(n->left);
        if (n->right) pending.push_back(n->right);
    }
    // Reversed, every child comes before its parent.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        ExprTree* n = *it;
        if (n->clientData && clientDataReleaser) clientDataReleaser(clientData, n);
        n->clientData = nullptr;
        delete n;
    }
}

ExprToken ExprParser::getToken(std::string& buf, size_t pos, size_t* end) const {
    buf.clear();
    const size_t n = expr.size();
    while (pos < n && isAsciiSpace(static_cast<unsigned char>(expr[pos]))) ++pos;
    if (pos >= n || expr[pos] == '\0') {
        *end = pos;
        return TOK_NULL;
    }
    char c = expr[pos];
    if (isOperatorChar(c)) {
        buf.assign(1, c);
        *end = pos + 1;
        switch (c) {
            case '!':
                return TOK_NOT;
            case '&':
                return TOK_AND;
            case '(':
                return TOK_LPAREN;
            case ')':
                return TOK_RPAREN;
            default:
                return TOK_OR;
        }
    }
    bool quoted = false;
    while (pos < n && expr[pos] != '\0' && buf.size() < kExprTermMax) {
        c = expr[pos];
        if (!quoted && (isAsciiSpace(static_cast<unsigned char>(c)) || isOperatorChar(c))) break;
        if (c == '"') {
            quoted = !quoted;
            ++pos;
            continue;
        }
        if (c == '\\') {
            if (pos + 1 >= n || expr[pos + 1] == '\0') {
                ++pos;  // a backslash at the very end ends the term
                break;
            }
            ++pos;
            c = expr[pos];
        }
        buf.push_back(c);
        ++pos;
    }
    *end = pos;
    return TOK_TERM;
}

ExprToken ExprParser::peekToken(std::string& buf) {
    size_t end;
    return getToken(buf, curp, &end);
}

ExprToken ExprParser::nextToken(std::string& buf) {
    size_t end;
    ExprToken t = getToken(buf, curp, &end);
    curp = end;
    return t;
}

ExprTree* ExprParser::newExprTree(ExprOperator op) {
    ExprTree* node = new (std::nothrow) ExprTree;
    if (!node) {
        setError("newExprTree failed");
        return nullptr;
    }
    node->op = op;
    return node;
}

ExprTree* ExprParser::newTerm(const std::string& word) {
    if (checkTerm && !checkTerm(word.c_str())) return nullptr;
    if (!countTerms(1)) return nullptr;
    ExprTree* node = newExprTree(OP_TERM);
    if (node) node->word = word;
    return node;
}

ExprTree* ExprParser::factor() {
    std::string buf;
    ExprToken tok = nextToken(buf);
    switch (tok) {
        case TOK_NULL:
            setError("Missing token");
            return nullptr;
        case TOK_LPAREN: {
            // Nesting comes from the client: bounded, so the stack is.
            if (++depth > kExprMaxDepth) {
                if (!limitHit) setError("Expression nested too deeply");
                limitHit = true;
                return nullptr;
            }
            ExprTree* inner = expression();
            if (!inner) return nullptr;
            if (nextToken(buf) != TOK_RPAREN) {
                setError("Expected closing parenthesis, got %s", buf.c_str());
                deleteExprTree(inner);
                return nullptr;
            }
            --depth;
            return inner;
        }
        case TOK_NOT: {
            if (++depth > kExprMaxDepth) {
                if (!limitHit) setError("Expression nested too deeply");
                limitHit = true;
                return nullptr;
            }
            if (!countTerms(1)) return nullptr;
            ExprTree* node = newExprTree(OP_NOT);
            if (!node) return nullptr;
            node->left = factor();
            if (!node->left) {
                failWith("Missing factor after NOT operator");
                deleteExprTree(node);
                return nullptr;
            }
            --depth;
            return node;
        }
        case TOK_TERM:
            return newTerm(buf);
        default:
            setError("Unexpected token %s", buf.c_str());
            return nullptr;
    }
}

ExprTree* ExprParser::expression() {
    ExprTree* t = factor();
    if (!t) {
        if (!hasError) setError("NULL expression");
        return nullptr;
    }
    std::string buf;
    for (;;) {
        ExprToken tok = peekToken(buf);
        if (tok != TOK_AND && tok != TOK_OR && tok != TOK_TERM && tok != TOK_NOT) return t;
        nextToken(buf);
        ExprTree* right = nullptr;
        ExprOperator op = OP_AND;
        if (tok == TOK_OR || tok == TOK_AND) {
            op = tok == TOK_OR ? OP_OR : OP_AND;
            right = factor();
            if (!right) failWith(tok == TOK_OR ? "Missing factor after OR operator" : "Missing factor after AND operator");
        } else if (tok == TOK_NOT) {
            // A NOT right after an operand takes a word, never a parenthesis.
            if (nextToken(buf) != TOK_TERM) {
                failWith("Expected word after NOT operator");
            } else if (countTerms(1)) {
                ExprTree* word = newTerm(buf);
                if (word) {
                    right = newExprTree(OP_NOT);
                    if (right)
                        right->left = word;
                    else
                        deleteExprTree(word);
                }
            }
        } else {
            right = newTerm(buf);
        }
        ExprTree* joined = right ? newExprTree(op) : nullptr;
        if (!joined) {
            deleteExprTree(right);
            deleteExprTree(t);
            if (!hasError) setError("NULL expression");
            return nullptr;
        }
        joined->left = t;
        joined->right = right;
        t = joined;
    }
}

int ExprParser::buildTree() {
    deleteTree();
    hasError = false;
    errmsg.clear();
    limitHit = false;
    depth = 0;
    if (!hasExpr) {
        setError("No expression defined, cannot build tree.");
        return 0;
    }
    curp = 0;
    tree = expression();
    return tree ? 1 : 0;
}

void ExprParser::printTree(FILE* out) const {
    printFactor(tree, out);
    std::fputc('\n', out);
}

void ExprParser::printFactor(const ExprTree* node, FILE* out) const {
    if (!node) return;
    switch (node->op) {
        case OP_TERM:
            std::fputs(node->word.c_str(), out);
            break;
        case OP_OR:
        case OP_AND:
            std::fputc('(', out);
            printFactor(node->left, out);
            std::fputc(')', out);
            std::fputc(node->op == OP_OR ? '|' : '&', out);
            printFactor(node->right, out);
            break;
        case OP_NOT:
            if (!node->left) {
                std::fputs("[!]", out);
                break;
            }
            std::fputs("!(", out);
            printFactor(node->left, out);
            std::fputc(')', out);
            break;
        case OP_NULL:
            std::fputs("OP_NULL", out);
            break;
        default:
            std::fprintf(out, "[%d?]", static_cast<int>(node->op));
    }
}

}  // namespace ruva
