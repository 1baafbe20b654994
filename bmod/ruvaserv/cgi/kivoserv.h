// The run of one kivoserv request, from its configuration to its one
// response; main (kivoserv_main.cpp) makes the request object around it.
#pragma once

#include <cstdio>
#include <string_view>

namespace ruva {

class CgiHandler;

// The last-resort error page, for when no request object can carry the
// message: a whole response (header block and page) with message, formatted
// already, written to out and flushed. Nothing for a null out.
void htmlDisplayError(FILE* out, std::string_view message);

// The configuration file of a run: KIVOSERVCONF, else "kivo.conf" in the
// working directory when readable, else "/usr/local/etc/kivo.conf" when
// readable; null for none (the defaults hold).
const char* kivoConfigPath();

// Runs the request on cg: configuration, action handler, fields, generic
// actions, session, the DT and library-pattern rules, the action,
// post-processing and output to cg.cgifile. A failure ends in one error
// page: once flag 0x8 is set nothing more is written. The handler is
// deleted before this returns; cg stays the caller's.
void runKivoRequest(CgiHandler& cg);

}  // namespace ruva
