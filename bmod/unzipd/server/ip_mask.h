// Address masks that decide which clients may open a session.
//
// A mask has four parts, first part highest; a part is a decimal 0-255 or
// "*", and 255 (written or implied) matches any value. A client matches a
// mask when each of its parts equals the mask's part or the mask's part is
// 255.
#pragma once

#include <netinet/in.h>

#include <vector>

namespace ruva {

enum IpPermType { IP_ALLOW = 0, IP_DENY = 1 };

struct IpMask {
    IpPermType permType = IP_ALLOW;
    in_addr_t addrMask = 0;  // network byte order: first part in the first byte
};

// Leading white space skipped; up to four parts separated by '.', missing
// parts 255. false, *mask untouched, for a null text, an empty part, a part
// that is neither "*" nor decimal 0-255, or a fifth part.
bool parseIpMask(const char* text, in_addr_t* mask);

// No masks: allowed. Else the first mask in list order that matches decides;
// none matches: refused when enforce, else allowed. 1 allowed, 0 refused.
int checkIpMasks(const std::vector<IpMask>& masks, in_addr_t client, bool enforce);

}  // namespace ruva
