// What the commands that read member text directly share: where the
// searched text starts and what a failed extraction does to the walk.
#pragma once

#include <cstddef>
#include <string>

namespace ruva {

class NetworkServer;
class ZipStructure;
struct CentralHeader;

enum class MemberStep { kNext, kRestart, kEnded };

// Where the searched text of a NUL-ended member copy starts: the first
// "<!--@BODY-->", else the first "<body" (both case-blind), else 0.
size_t memberBodyStart(const std::string& text);

// After a failed extraction: a refresh (once per command, *refreshed)
// lets the walk go on, with the next member by node (kNext) or from the
// first library by pattern (kRestart). Else the warning "Unzip of %s %s
// failed during <what>", then the library check's line, or the 310 line
// and the final line "200-<finalLine>"; kEnded.
MemberStep memberUnzipFailed(NetworkServer* ns, bool* refreshed, bool byNode, ZipStructure* zs,
                             const CentralHeader* ch, const char* what, const std::string& finalLine);

}  // namespace ruva
