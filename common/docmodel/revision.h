// Revisions. Document revisions are one or two letters and an optional
// number (A, B1, AA3), preliminary ones a '-' or P and a letter (PA1).
// Software and product versions are R (released) or P (preliminary), a
// major number, a minor letter and, for P, an optional build (R19F, P3E12).
#pragma once

#include <string>

namespace ruva {

// Splits a software version: kind R or P and minor letter in upper case,
// major from at most three digits (at least one), build the digits after
// the letter for P, else 0. 1, or 0 (outputs untouched) when an argument is
// null or the text is not of that form.
int swVersionToParts(const char* ver, char* rp, int* maj, char* min, int* build);

// 1 for a revision beginning with '-', or with P or p and a letter.
int isPrelDocrev(const char* rev);

// A value that orders document revisions: A 200 ... Z 5200, AA 5400, each
// two-letter step 200, plus the number after the letters; P before a letter
// subtracts 99 (PA1 102); '-' alone 1; null or empty 0. The number counts
// at most nine digits.
int computedocRevSizeValue(const char* rev);

// 1 when crev is later than rev, -1 when earlier, 0 when equal (texts equal
// without regard to case, or equal values). An empty or null rev gives 1,
// else an empty or null crev -1.
int compareDocRev(const char* rev, const char* crev);

// 1 when both revisions fall in one release range: ranges of 100 by value,
// an even range joined with the next (PB with B). Values below 100 share a
// range only when either text begins with '*'. Null or empty gives 0.
int isSameDocRevRange(const char* rev, const char* crev);

// The document revision of a product revision: R1A -> A1, P2B -> PB2,
// R27 -> AA. n from 1 to 702 (A to ZZ); a '/' after the number is skipped;
// then the rest of the text when it goes on with a digit, or the place in
// the alphabet of a following letter. 1, or 0 with drev empty.
int productRevToDocRev(const char* prev, std::string& drev);

}  // namespace ruva
