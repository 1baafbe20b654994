// Starting another program.
#pragma once

#include <sys/types.h>

namespace ruva {

// Forks; the child splits command into at most 63 words (getNextToken),
// expands each with completeExpandTilde and execs it (execv with a '/' in the
// first word, else execvp); it exits with status 2 when that fails. Returns
// the child's pid, -1 when fork fails. Nothing calls it.
pid_t forkProgram(const char* command);

}  // namespace ruva
