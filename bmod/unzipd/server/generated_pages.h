// Pages the daemon makes itself instead of a member: the main page of a
// sub-folder and the wait page that stands in for a PDF member.
#pragma once

#include <string>

#include "bmod/unzipd/server/network_server.h"

namespace ruva {

struct CentralHeader;

// The announced size of the sub-folder page (CONTV writes it); the page
// itself never exceeds it.
inline constexpr unsigned long kSubMainPageMax = 4096;

// Writes the sub-folder page as a whole RETR reply: framing line with
// "9999", the page, "300-CRC 0x00000000", "200-RETR executed.". Returns
// the handler result (0 when a write failed).
int PrintDefaultSubMain(NetworkServer* ns);

// What the wait page shows; empty texts take the page's defaults.
struct WaitPageText {
    std::string title;  // "" gives "KIVO Wait"
    std::string subtitle;
    std::string docno;
    std::string rev;
};

// The framing line ("wait.html") and the wait page for pdf, whose name with
// ".pdf" turned into ".fdp" is what the page loads. Texts are HTML-escaped,
// the name URL-coded in the link. false when a write failed.
bool sendPDFWrapper(NetworkServer* ns, const CentralHeader* pdf, const char* libraryName, const WaitPageText& text);

}  // namespace ruva
