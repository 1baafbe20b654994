// Process start-up of the daemon: the object tree through Startup, the pid
// file and the fault handler that restarts the daemon after a crash.
#pragma once

#include <sys/types.h>

#include <string>

namespace ruva {

class UzdMain;

// Set by the command line.
extern std::string cnfName;
extern int restartCount;
extern const char* savedArgv0;  // null: no pid file

// Builds the main object (deleting old first, with its pid file), scans the
// libraries and, unless an index run, opens the sockets, expires the
// known-server cache, registers and writes the pid file. The new object
// (also in UZD), or null after a log line. An unregister run ends the
// process here.
UzdMain* Startup(UzdMain* old);

// "/tmp/<base of argv0>.pid", cut at 63 characters, holding "<pid>\n".
// Refuses anything but a regular file. 1 when written.
int writePidFile(UzdMain* uzd, const char* argv0);
// Removes the pid file only while it holds our pid.
void removePidFile(UzdMain* uzd);

// Computes the restart vector from argv (kept arguments, "-F" and the next
// digit) before any fault can happen.
void prepareFaultRestart(int argc, char** argv);
// SIGSEGV and SIGBUS restart the daemon; SIGUSR2 ignored.
void installFaultHandler();
void uninstallFaultHandler();
// The scanner pid the fault handler stops; kept wherever filesysPid changes.
void setFaultScannerPid(pid_t pid);

}  // namespace ruva
