#include "bmod/ruvaserv/sgml/tavr_msg.h"

namespace ruva {

const char* TavrMsg(TavrLang, TavrMessage) { return nullptr; }

}  // namespace ruva
