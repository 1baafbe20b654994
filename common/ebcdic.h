// EBCDIC (code page IBM-037) to and from ASCII/ISO-8859-1, in place.
#pragma once

namespace ruva {

// Converts the text from EBCDIC up to and including its terminating zero
// (EBCDIC 0x00 is NUL too). Null does nothing.
void ebcasc(char* text);
// Converts count bytes, at most 255 (the rest is left as it is), NULs
// included. A count of 0 or less does nothing.
void ebcnasc(char* data, int count);
// Converts the text to EBCDIC up to its terminator; a byte above 0x7F is
// converted as its low 7 bits. Null does nothing.
void ascebc(char* text);

}  // namespace ruva
