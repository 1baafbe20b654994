// The commands that search member text and library descriptions directly,
// without a word index. Each takes the server and the rest of the command
// line (cut in place), writes its whole reply through ns->reply and returns
// 1 to go on, 0 when the client went away.
#pragma once

#include <string>

namespace ruva {

class NetworkServer;

int handleSrchCommand(NetworkServer* ns, char* args);
int handleFSrchCommand(NetworkServer* ns, char* args);
// Both always answer 1.
int handleMSrchCommand(NetworkServer* ns, char* args);
int handleMPSrchCommand(NetworkServer* ns, char* args);
int handleIDRETRCommand(NetworkServer* ns, char* args);
int handlePuSrchCommand(NetworkServer* ns, char* args);

// Splits an expanded packed line into ns's extension (columns 117-119),
// eight fields (tokBuf, at most 16 characters each), their columns
// (tokOffs) and tokCnt. 1 when the line is a record, else 0.
int scanPuLine(NetworkServer* ns, const char* line);

// A library comment's title: up to its first '[', trailing blanks removed
// ("" for none).
std::string getBLOBTitleFromComment(const char* comment);
// Its product id: after the first '[' up to the last ']' behind it (the
// end when none). false, leaving prodid, when there is no '['.
bool getBLOBProdidFromComment(const char* comment, std::string* prodid);

}  // namespace ruva
