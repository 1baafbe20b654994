#include "bmod/ruvaserv/client/uzresponse.h"

#include <new>
#include <type_traits>
#include <utility>

namespace ruva {
namespace {

template <class T>
bool makeFirst(UzResponse& r) {
    auto record = std::unique_ptr<T>(new (std::nothrow) T());
    if (!record) return false;
    r.res = std::move(record);
    return true;
}

template <class T>
concept Chained = requires(T t) { t.next; };

}  // namespace

UzResponse::~UzResponse() {
    std::visit(
        [](auto& head) {
            using Head = std::remove_cvref_t<decltype(head)>;
            if constexpr (!std::is_same_v<Head, std::monostate>) {
                if constexpr (Chained<typename Head::element_type>) {
                    // Each step detaches the rest before its record goes.
                    while (head) head = std::move(head->next);
                }
            }
        },
        res);
}

std::unique_ptr<UzResponse> allocResponse(ResponseType type) {
    std::unique_ptr<UzResponse> r(new (std::nothrow) UzResponse());
    if (!r) return nullptr;
    r->type = type;
    bool made = true;
    switch (type) {
        case RT_CONNECT: made = makeFirst<UzConnectEntry>(*r); break;
        case RT_CONT: made = makeFirst<UzContEntry>(*r); break;
        case RT_GET: made = makeFirst<UzGetEntry>(*r); break;
        case RT_HELP: made = makeFirst<UzHelpEntry>(*r); break;
        case RT_INFO: made = makeFirst<UzInfoEntry>(*r); break;
        case RT_LIST: made = makeFirst<UzListEntry>(*r); break;
        case RT_MLLIST: made = makeFirst<UzMlListEntry>(*r); break;
        case RT_QXSRCH: made = makeFirst<UzQxSearchEntry>(*r); break;
        case RT_QXSRCHSGS: made = makeFirst<UzQxSearchSgsEntry>(*r); break;
        case RT_RETR: made = makeFirst<UzRetrEntry>(*r); break;
        case RT_USER: made = makeFirst<UzUserEntry>(*r); break;
        case RT_SLIST: made = makeFirst<UzSListEntry>(*r); break;
        case RT_SRCH: made = makeFirst<UzSearchEntry>(*r); break;
        case RT_KNOWN: made = makeFirst<UzKnownListEntry>(*r); break;
        case RT_PUSRCH: made = makeFirst<UzPuSrchEntry>(*r); break;
        case RT_QXDT: made = makeFirst<UzQxdtEntry>(*r); break;
        case RT_MSRCH: made = makeFirst<UzMetaSearchEntry>(*r); break;
        case RT_MLSLIST: made = makeFirst<UzMlsListEntry>(*r); break;
        case RT_IDRETR: made = makeFirst<UzIdRetrEntry>(*r); break;
        case RT_QUIT:
        case RT_UPDFILE:
        case RT_LANGLIST:
        case RT_BLOBTYPES:
            break;
        default:
            return nullptr;
    }
    if (!made) return nullptr;
    return r;
}

void freeResponse(std::unique_ptr<UzResponse> response) {
    response.reset();
}

}  // namespace ruva
