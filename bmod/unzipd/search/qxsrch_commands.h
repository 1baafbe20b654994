// The word-index search commands QXSRCH, QXFSRCH and QXSRCHSGS: libraries
// chosen by node ID or library-name pattern, their index members unpacked
// with the catalogue's Unzip and searched with Ruvx.
#pragma once

namespace ruva {

class NetworkServer;

// Handlers of the dispatch table: 1 to go on, 0 when a reply line could
// not be written. A 4xx/5xx line (511, 577, 578) ends the reply: nothing
// follows it, not even the "executed" line.
int handleQxSrchCommand(NetworkServer* ns, char* args);
int handleQxSrchFSCommand(NetworkServer* ns, char* args);
int handleQxSrchSgsCommand(NetworkServer* ns, char* args);

// The hit filter of QXSRCH: library bitmap L and document bitmap D are
// hexadecimal words between '|', empty words skipped. Each non-zero word of
// the first 32 of L must share a bit with D's word at its place (missing:
// 0). 1 keep, 0 drop.
int filterSearchResult(const char* libraryBitmap, const char* docBitmap);

}  // namespace ruva
