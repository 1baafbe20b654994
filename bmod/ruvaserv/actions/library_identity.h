// The library identity look-ups of the action handler: a library named by
// its file name (DB), hash id (ID) or library identity (LI) turned into
// another of these forms by asking the document server through the
// request's default session. Those that are handler operations
// (getIDbyDbName, getLIbyHiddenID) are declared with KivoHandler; this unit
// defines them.
#pragma once

#include "bmod/ruvaserv/actions/kivohandler.h"
