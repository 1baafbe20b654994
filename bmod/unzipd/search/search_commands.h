// The commands that search member text and library descriptions directly,
// without a word index. Each takes the server and the rest of the command
// line (cut in place), writes its whole reply through ns->reply and returns
// 1 to go on, 0 when the client went away.
#pragma once

namespace ruva {

class NetworkServer;

int handleSrchCommand(NetworkServer* ns, char* args);
int handleFSrchCommand(NetworkServer* ns, char* args);

}  // namespace ruva
