#include "bmod/ruvaserv/search/library_name.h"

#include "bmod/ruvaserv/cgi/cgihandler.h"

namespace ruva {

std::string getLibraryName(const CgiHandler& cg) {
    const ValueList* fields = cg.valueList.get();
    if (!fields) return "*.kvo";
    if (const Value* id = fields->findValue("ID"); id && !id->value.empty()) return id->value;
    if (const Value* db = fields->findValue("DB"); db && !db->value.empty()) {
        // A bare library name: the daemon knows libraries by their file name.
        return db->value.find('.') == std::string::npos ? db->value + ".kvo" : db->value;
    }
    return "*.kvo";
}

}  // namespace ruva
