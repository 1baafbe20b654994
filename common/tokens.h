// Tokenizer and splitters for configuration, command and protocol lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ruva {

// Returns the next token of the mutable text at *cursor and advances the
// cursor; the text is cut in place. ASCII white space separates; a token
// starting with " or ' runs to the same quote (\" inside loses its
// backslash). Null at the end, with *cursor on the final NUL. After a token
// the cursor stands past the NUL written, or on the final NUL.
char* getNextToken(char** cursor);

// In place: \a \b \f \n \r \t \v become control characters; other pairs and
// a trailing backslash are kept. Returns text.
char* expandEscapes(char* text);

// strtok with its own static cursor; a null text continues.
char* lstrtok(char* text, const char* delimiters);

// Field n (from 0) of a tab-separated line into buf, at most buflen
// characters and a NUL. 1 when it fitted with room to spare; 0 when it filled
// buflen or does not exist (buf then empty).
int extractResField(char* buf, int buflen, const char* line, int n);
// Successive fields into (char* buf, int len) pairs until a null buf; a len
// of 0 skips the field. Returns the number of fields copied.
int extractResFields(const char* line, ...);

// Pieces between delimiters, empty pieces dropped.
std::vector<std::string> str_split(std::string text, char delimiter);
// The array size str_split's C form allocates: pieces + 1.
size_t str_split_count(std::string text, char delimiter);

}  // namespace ruva
