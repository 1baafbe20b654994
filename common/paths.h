// Temporary names, home directories, ~ and $VAR expansion, and where the
// tools' data files are found.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace ruva {

// A name not in use (only named, not created):
// "<dir>/<prefix><pid>aaaaa.tmp", letters counting up in base 26 while the
// name exists. Directory: TMPDIR, else dir when a directory, else the
// current directory. Prefix default "tmp.". "" when no name is free.
std::string ltempnam(const char* dir, const char* prefix);

// Copies at most 255 characters of dir into buf (room for 257) and appends
// '/' unless it ends with '/' or begins with '-'. Returns the length; null or
// empty dir gives "" and 0.
int initDirPath(char* buf, const char* dir);

// HOME with a trailing '/'; 0 with buf empty when HOME is unset or empty.
int getHomeDir(std::string& buf);

// Copies src to dst expanding a leading ~ or ~user, ${NAME} and $NAME
// (as written, then in upper case; a value of 224 characters or more counts
// as unknown; an unknown one before '/' becomes '.', else dropped), \$ and
// \\. 1 when something was expanded (the escapes do not count).
int expandTilde(std::string& dst, const char* src);

// Repeats expandTilde until a pass expands nothing, at most 16 passes, each
// carrying at most 1024 characters. Null src gives "".
void completeExpandTilde(std::string& dst, const char* src);

// Creates each missing directory up to the path's last '/' (expanded as
// above); mode 0 means 0700. Nothing calls it.
int createPath(const char* path, mode_t mode);

// Looks for an executable named program in the directories of the
// environment variable (default "PATH"). Nothing calls it.
int findExeInPath(const char* program, const char* variable, std::string* out);

// Path of a tool data file (name may be null: the directory): $RUVAHOME,
// ~/.wubtools/ruvatool, $PRERELHOME/lib/ruvatool, $WUBHOME/lib/ruvatool,
// /usr/local/etc, else the bare name.
std::string libFileName(const char* name);
FILE* openLibFile(const char* name, const char* mode);

}  // namespace ruva
