// Internal to the ZIP layer (deflate.h includes it for Deflater's codes).
// The rewrite engine's error codes and their fixed texts. The numbers are
// what callers and the protocol have always seen; 1 and 17 are unused and
// have an empty text.
#pragma once

#include <string>

namespace ruva {

enum ZipError {
    kZipOk = 0,
    kZipEof = 2,          // "Unexpected end of zip file"
    kZipFormat = 3,       // "Zip file structure invalid"
    kZipMemory = 4,       // "Out of memory"
    kZipLogic = 5,        // "Internal logic error"
    kZipTooBig = 6,       // "Entry too big to split"
    kZipBadComment = 7,   // "Invalid comment format"
    kZipInvalid = 8,      // "Zip file invalid or insufficient memory"
    kZipInterrupted = 9,  // "Interrupted"
    kZipTemp = 10,        // "Temporary file failure"
    kZipRead = 11,        // "Input file read failure"
    kZipNothing = 12,     // "Nothing to do!"
    kZipEmpty = 13,       // "Missing or empty zip file"
    kZipWrite = 14,       // "Output file write failure"
    kZipCreate = 15,      // "Could not create output file"
    kZipBadArgs = 16,     // "Invalid command arguments"
    kZipNoFile = 18,      // "File not found or no read permission"
};

// The fixed text of code; "" for a number without one.
const char* zipErrorText(int code);
// Whether the error text carries the system's text of the failing call.
bool zipErrorHasSystemText(int code);

// A failure as a value: the code, the file or step concerned, and the errno
// of the failing call for the codes that report one.
struct ZipFailure {
    int code = kZipOk;
    std::string detail;
    int sysErr = 0;

    explicit operator bool() const { return code != kZipOk; }
};

}  // namespace ruva
