// Readers of the replies to the listing and information commands: one
// entry line into one record, and the loops over a whole reply. They take
// lines already read and classified by the session, so they hold no socket
// and never wait.
//
// "fields" is an entry line's text after its four code characters. Words
// are read with getNextToken from a private copy: blanks and tabs separate,
// double quotes enclose a word with blanks (\" inside is a quote). Numbers
// are decimal (CONTV's CRC hexadecimal); a word that is not a number, such
// as a folder line's "-", reads as 0.
#pragma once

#include <functional>
#include <string_view>

#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"

namespace ruva {

// The next line of the reply being read, classified; kNone when no line
// came. Its text is valid until the next call.
using NextReplyLine = std::function<UzLine()>;

// ---- one line

// LIST: database, size, entries, ctime, comment. The daemon pads the name
// inside its quotes; the blanks are dropped, for callers send it back.
void parseListEntry(std::string_view fields, UzListEntry& entry);

// MLLIST, MLNLIST, MLSLIST: type word ("SUB" exactly is a folder), level
// as written, database (padding dropped), ID, size, entries, ctime, then
// comment and LibState. A library line's last word is its LibState and the
// comment the word before it, when there is one; a folder line has only
// its description after ctime.
void parseMlEntry(std::string_view fields, UzMlListEntry& entry);

// SLIST: address ("address:port"), comment.
void parseSListEntry(std::string_view fields, UzSListEntry& entry);

// CONT: filename, comment. CONTV (verbose): usize, method name, csize, the
// ratio (skipped), crc, then filename and comment. database is left alone.
void parseContEntry(std::string_view fields, bool verbose, UzContEntry& entry);

// The last word of text: back from the end to the last letter or digit,
// then back to the white space before it; the word runs from there to the
// next white space. Empty when text holds no letter or digit. Given the
// text after the code, the scan never reaches into the code.
std::string_view lastWord(std::string_view text);

// INFO: the first label the line holds names the field its last word goes
// to; a line without a label changes nothing.
void parseInfoLine(std::string_view text, UzInfoEntry& info);

// VER's one line into an RT_CONNECT response: the leading number, the text
// after four characters, and on code 200 the words after the first into
// servName, article, revision and comment.
void parseVerLine(std::string_view line, UzResponse& response);

// LANGLIST, BLOBTYPES, QUIT: code from the first word, resultMessage the
// text after four characters as sent. A line without a word gives 500 and
// noWordMessage.
void parseStatusLine(std::string_view line, UzResponse& response, std::string_view noWordMessage);

// Whether LANGLIST's codes are "EN" alone, in any case.
bool langListIsOnlyEn(std::string_view codes);

// ---- whole replies
//
// Each reads lines until the reply's final line and gives true, or stops
// early and gives false: the session must then disconnect, so that the rest
// of the reply is never read as the next one. A failure sets resultCode 500
// and its message; the response keeps the records read so far.

// LIST, MLLIST, MLNLIST, MLSLIST (by the response's type), SLIST. An ML
// entry's level is made relative to the reply's first entry, never below
// 0: the daemon writes a folder's level in the whole tree.
bool readListReply(UzResponse& response, const NextReplyLine& next);
bool readMlReply(UzResponse& response, const NextReplyLine& next);
bool readSListReply(UzResponse& response, const NextReplyLine& next);

// HELP: the first line that is not a "nnn-" header is the help text, into
// the help record's message and resultMessage, with that line's code.
bool readHelpReply(UzResponse& response, const NextReplyLine& next);

// INFO: entry lines by label until the end line or an error line.
bool readInfoReply(UzResponse& response, const NextReplyLine& next);

// CONT, CONTV from the first line read: per library a header whose last
// word names it, then its entries; every record carries the name of the
// header before it. Each line is classified, so an error line (577 the
// library changed, 578 removed, 510, 511, 519) ends the reply wherever it
// comes.
bool readContReply(UzResponse& response, UzLine first, bool verbose, const NextReplyLine& next);

}  // namespace ruva
