#include "bmod/unzipd/zip/zip_error.h"

#include <iterator>

namespace ruva {

namespace {

const char* const kTexts[] = {
    "",                                         // 0
    "",                                         // 1
    "Unexpected end of zip file",               // kZipEof
    "Zip file structure invalid",               // kZipFormat
    "Out of memory",                            // kZipMemory
    "Internal logic error",                     // kZipLogic
    "Entry too big to split",                   // kZipTooBig
    "Invalid comment format",                   // kZipBadComment
    "Zip file invalid or insufficient memory",  // kZipInvalid
    "Interrupted",                              // kZipInterrupted
    "Temporary file failure",                   // kZipTemp
    "Input file read failure",                  // kZipRead
    "Nothing to do!",                           // kZipNothing
    "Missing or empty zip file",                // kZipEmpty
    "Output file write failure",                // kZipWrite
    "Could not create output file",             // kZipCreate
    "Invalid command arguments",                // kZipBadArgs
    "",                                         // 17
    "File not found or no read permission",     // kZipNoFile
};

}  // namespace

const char* zipErrorText(int code) {
    if (code < 0 || static_cast<size_t>(code) >= std::size(kTexts)) return "";
    return kTexts[code];
}

bool zipErrorHasSystemText(int code) {
    return code == kZipTemp || code == kZipRead || code == kZipWrite || code == kZipCreate ||
           code == kZipNoFile;
}

}  // namespace ruva
