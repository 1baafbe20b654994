// The parsed reply of one command to the document server: the final code
// and text, and a singly linked list of entry records, one per entry line.
// The record type follows the command (ResponseType). The caller of a
// session operation owns the response; dropping it frees every record.
//
// Records are made zeroed. A "filled" record is one whose key field is set
// (an std::optional, or QXDT's entryType), whatever its value: a QXSRCHSGS
// collection line with library "" is filled. A command appends a record
// only when the first one is filled, so a list never starts with an empty
// record followed by filled ones.
#pragma once

#include <ctime>

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include "common/docmodel/content_type.h"
#include "common/ml_node_type.h"
#include "common/string_list.h"
#include "common/zip_format.h"

namespace ruva {

// Which command made a response; the number is part of the interface.
enum ResponseType : int {
    RT_CONNECT = 0,     // greeting, VER: UzConnectEntry
    RT_CONT = 1,        // CONT, CONTV: UzContEntry
    RT_GET = 2,         // UzGetEntry
    RT_HELP = 3,        // UzHelpEntry
    RT_INFO = 4,        // UzInfoEntry
    RT_LIST = 5,        // UzListEntry
    RT_MLLIST = 6,      // MLLIST, MLNLIST: UzMlListEntry
    RT_QXSRCH = 7,      // UzQxSearchEntry
    RT_QXSRCHSGS = 8,   // UzQxSearchSgsEntry
    RT_QUIT = 9,        // no records
    RT_RETR = 10,       // UzRetrEntry
    RT_USER = 11,       // UzUserEntry
    RT_SLIST = 12,      // UzSListEntry
    RT_SRCH = 13,       // UzSearchEntry
    RT_KNOWN = 14,      // UzKnownListEntry, built by the client
    RT_PUSRCH = 15,     // UzPuSrchEntry
    RT_QXDT = 16,       // UzQxdtEntry
    RT_UPDFILE = 17,    // UPDFILE, RMFILE: no records
    RT_LANGLIST = 18,   // no records: the codes stand in resultMessage
    RT_BLOBTYPES = 19,  // no records: the types stand in resultMessage
    RT_MSRCH = 20,      // MSRCH, MPSRCH: UzMetaSearchEntry
    RT_MLSLIST = 21,    // UzMlsListEntry
    RT_IDRETR = 22,     // UzIdRetrEntry
};
inline constexpr int kResponseTypeCount = 23;

enum QxdtEntryType : int {
    QXDT_ENTRY_NOTDEF = 0,
    QXDT_ENTRY_NODE = 1,  // type letter 'N'
    QXDT_ENTRY_DOC = 2,   // type letter 'D'
};

// ---- single records (one per response, no list)

struct UzConnectEntry {
    std::optional<std::string> servName;  // key: set when the line had its first word
    std::string article;
    std::string revision;
    std::string comment;
    bool filled() const { return servName.has_value(); }
};

struct UzHelpEntry {
    std::optional<std::string> message;  // key
    bool filled() const { return message.has_value(); }
};

// INFO's numbers; fields the daemon never labels stay 0.
struct UzInfoEntry {
    time_t startTime = 0;
    size_t numSessions = 0;
    size_t dbCount = 0;
    size_t subCount = 0;
    size_t fileCount = 0;
    size_t dbOccupation = 0;
    size_t chOccupation = 0;
    size_t nmOccupation = 0;
    size_t cacheMem = 0;
    size_t changePeriod = 0;
    size_t newPeriod = 0;
    size_t nextChange = 0;
    bool filled() const { return true; }
};

// ---- list records: next owns the rest of the list

struct UzContEntry {
    std::unique_ptr<UzContEntry> next;
    std::optional<std::string> database;  // key: the library of the header before it
    std::string filename;
    size_t usize = 0;  // CONTV only
    size_t csize = 0;  // CONTV only
    unsigned long crc = 0;  // CONTV only
    ZipMethod method = ZIPMETHOD_STORED;  // CONTV only
    std::string comment;
    bool filled() const { return database.has_value(); }
};

struct UzGetEntry {
    std::unique_ptr<UzGetEntry> next;
    std::optional<std::string> database;  // key
    std::string outname;  // the file written
    size_t size = 0;
    int success = 0;  // 1: the file is complete
    bool filled() const { return database.has_value(); }
};

struct UzUserEntry {
    std::unique_ptr<UzUserEntry> next;
    std::optional<std::string> username;  // key; USER leaves it empty
    bool filled() const { return username.has_value(); }
};

struct UzListEntry {
    std::unique_ptr<UzListEntry> next;
    std::optional<std::string> database;  // key; leading blanks dropped
    std::string comment;
    size_t size = 0;
    int entries = 0;
    time_t ctime = 0;
    bool filled() const { return database.has_value(); }
};

struct UzMlListEntry {
    std::unique_ptr<UzMlListEntry> next;
    MlNodeType type = ML_NODE_TYPE_SUB;
    int level = 0;  // relative to the reply's first entry, never below 0
    std::optional<std::string> database;  // key; leading blanks dropped
    std::string ID;  // "version|hashid|name|"
    size_t size = 0;
    int entries = 0;
    time_t ctime = 0;
    std::string comment;
    std::string LibState;  // "TRUE" or "FALSE"
    bool filled() const { return database.has_value(); }
};

// MLSLIST entries carry the same fields in the same order.
using UzMlsListEntry = UzMlListEntry;

struct NodeEntry {
    unsigned long nodenum = 0;
    unsigned long childnum = 0;
    unsigned long parentnum = 0;
    unsigned long level = 0;
    int docind = 0;
    std::string title;
};

struct DocEntry {
    std::string comment;
    std::string fname;
};

struct UzQxdtEntry {
    std::unique_ptr<UzQxdtEntry> next;
    QxdtEntryType entryType = QXDT_ENTRY_NOTDEF;  // key
    // Which of the two holds the entry follows entryType.
    struct {
        NodeEntry ne;
        DocEntry de;
    } eu;
    bool filled() const { return entryType != QXDT_ENTRY_NOTDEF; }
};

struct UzQxSearchSgsEntry {
    std::unique_ptr<UzQxSearchSgsEntry> next;
    std::optional<std::string> database;  // key; "" for a collection line
    std::string suggestions;  // comma-separated
    bool filled() const { return database.has_value(); }
};

struct UzQxSearchEntry {
    std::unique_ptr<UzQxSearchEntry> next;
    std::string servname;  // "address:port" of the session
    std::optional<std::string> database;  // key
    std::string ID;
    std::string filename;
    std::string comment;
    std::unique_ptr<StringList> keywords;  // made on first use
    std::unique_ptr<StringList> topics;    // made on first use
    std::string synopsis;    // for the search front end; the client leaves it
    std::string tokensList;  // likewise
    DocType docType{};
    SubDocType subType{};
    int score = 0;
    int hit = 0;  // 1 a hit line; 0 a 348 or 349 summary
    int isKwd = 0;
    int isTopic = 0;
    unsigned long searchType = 0;
    unsigned actualHits = 0;
    std::string folTitle;  // "" when there is no title
    bool filled() const { return database.has_value(); }
};

struct UzRetrEntry {
    std::unique_ptr<UzRetrEntry> next;
    std::optional<std::string> database;  // key
    std::string filename;  // as the daemon sent it
    std::string outname;   // the file written; "" into memory
    size_t size = 0;
    unsigned long crc = 0;
    int success = 0;  // 1: the member is complete and its CRC line read
    bool filled() const { return database.has_value(); }
};

struct UzSearchEntry {
    std::unique_ptr<UzSearchEntry> next;
    std::optional<std::string> database;  // key
    std::string filename;
    size_t offset = 0;
    std::string context;
    std::string hexContext;
    bool filled() const { return database.has_value(); }
};

struct UzIdRetrEntry {
    std::unique_ptr<UzIdRetrEntry> next;
    std::string size;  // the size word as received
    std::optional<std::string> database;  // key
    std::string filename;
    std::string context;  // the section, all its bytes (NUL included)
    bool filled() const { return database.has_value(); }
};

struct UzSListEntry {
    std::unique_ptr<UzSListEntry> next;
    std::optional<std::string> address;  // key: "address:port"
    std::string comment;
    bool filled() const { return address.has_value(); }
};

// Bits of UzKnownListEntry::flags.
inline constexpr unsigned short kKnownSlistRead = 0x1;  // its SLIST was read
inline constexpr unsigned short kKnownByDiscovery = 0x2;  // found by broadcast or central server

struct UzKnownListEntry {
    std::unique_ptr<UzKnownListEntry> next;
    std::optional<std::string> address;  // key: "address:port"
    std::string comment;
    unsigned short flags = 0;
    bool filled() const { return address.has_value(); }
};

inline constexpr size_t kPuLineFields = 10;

struct UzPuSrchEntry {
    std::unique_ptr<UzPuSrchEntry> next;
    std::optional<std::string> database;  // key
    std::string filename;
    std::string extension;
    std::array<std::string, kPuLineFields> puLine;
    bool filled() const { return database.has_value(); }
};

struct UzMetaSearchEntry {
    std::unique_ptr<UzMetaSearchEntry> next;
    std::optional<std::string> database;  // key
    std::string ID;
    std::string comment;
    time_t ctime = 0;
    std::string systemPath;
    size_t size = 0;
    std::string LibState;
    bool filled() const { return database.has_value(); }
};

class UzResponse {
public:
    // Frees the records one by one: a list of many thousand hits must not
    // unwind recursively.
    ~UzResponse();
    UzResponse(const UzResponse&) = delete;
    UzResponse& operator=(const UzResponse&) = delete;

    // The first record when type's record is T (see ResponseType), else
    // null. Views by command name follow.
    template <class T>
    T* first() const {
        const auto* head = std::get_if<std::unique_ptr<T>>(&res);
        return head ? head->get() : nullptr;
    }
    UzConnectEntry* connect() const { return first<UzConnectEntry>(); }
    UzContEntry* cont() const { return first<UzContEntry>(); }
    UzGetEntry* get() const { return first<UzGetEntry>(); }
    UzHelpEntry* help() const { return first<UzHelpEntry>(); }
    UzInfoEntry* info() const { return first<UzInfoEntry>(); }
    UzListEntry* list() const { return first<UzListEntry>(); }
    UzMlListEntry* mllist() const { return type == RT_MLLIST ? first<UzMlListEntry>() : nullptr; }
    UzMlListEntry* mlnlist() const { return mllist(); }
    UzMlsListEntry* mlslist() const { return type == RT_MLSLIST ? first<UzMlsListEntry>() : nullptr; }
    UzQxdtEntry* qxdt() const { return first<UzQxdtEntry>(); }
    UzQxSearchEntry* qxsrch() const { return first<UzQxSearchEntry>(); }
    UzQxSearchSgsEntry* qxsrchsgs() const { return first<UzQxSearchSgsEntry>(); }
    UzRetrEntry* retr() const { return first<UzRetrEntry>(); }
    UzUserEntry* user() const { return first<UzUserEntry>(); }
    UzSListEntry* slist() const { return first<UzSListEntry>(); }
    UzSearchEntry* srch() const { return first<UzSearchEntry>(); }
    UzKnownListEntry* known() const { return first<UzKnownListEntry>(); }
    UzPuSrchEntry* pusrch() const { return first<UzPuSrchEntry>(); }
    UzMetaSearchEntry* msrch() const { return first<UzMetaSearchEntry>(); }
    UzIdRetrEntry* idretr() const { return first<UzIdRetrEntry>(); }

    // The record the next entry line fills: the first one while it is not
    // filled, else a new zeroed one appended at the end. Null when T is not
    // this type's list record or memory runs out.
    template <class T>
    T* nextEntry();

    // To be called by whoever unlinks records from the list: the remembered
    // last record may be one of them.
    void forgetLastEntry() { tail_ = nullptr; }

    int resultCode = 0;  // code of the line that decided the outcome; 500 for the client's own failures
    int folder = 0;  // RETR: folder number of the last member header
    int srchtimedout = 0;  // 1 when a QXSRCH reply timed out
    std::string resultMessage;  // the final line after its code, or a client message
    // resultMessage is the client's own table text, already HTML; the
    // server's text needs escaping before it enters a page.
    bool clientMessage = false;
    ResponseType type = RT_CONNECT;
    // The first record, its type following type; empty for the types
    // without records.
    std::variant<std::monostate, std::unique_ptr<UzConnectEntry>, std::unique_ptr<UzContEntry>,
                 std::unique_ptr<UzGetEntry>, std::unique_ptr<UzHelpEntry>, std::unique_ptr<UzInfoEntry>,
                 std::unique_ptr<UzListEntry>, std::unique_ptr<UzMlListEntry>, std::unique_ptr<UzQxSearchEntry>,
                 std::unique_ptr<UzQxSearchSgsEntry>, std::unique_ptr<UzRetrEntry>, std::unique_ptr<UzUserEntry>,
                 std::unique_ptr<UzSListEntry>, std::unique_ptr<UzSearchEntry>, std::unique_ptr<UzKnownListEntry>,
                 std::unique_ptr<UzPuSrchEntry>, std::unique_ptr<UzQxdtEntry>, std::unique_ptr<UzMetaSearchEntry>,
                 std::unique_ptr<UzIdRetrEntry>>
        res;

private:
    friend std::unique_ptr<UzResponse> allocResponse(ResponseType type);
    UzResponse() = default;

    void* tail_ = nullptr;  // last record of the list, of the type's record type
};

// A zeroed response of type with, for every type that has records, a zeroed
// first record. Null for a type outside the table or when memory runs out
// (then nothing stays allocated).
std::unique_ptr<UzResponse> allocResponse(ResponseType type);

// Frees the response and all its records; null is accepted.
void freeResponse(std::unique_ptr<UzResponse> response);

template <class T>
T* UzResponse::nextEntry() {
    T* head = first<T>();
    if (!head) return nullptr;
    if (!head->filled()) return head;
    T* last = tail_ ? static_cast<T*>(tail_) : head;
    while (last->next) last = last->next.get();
    last->next.reset(new (std::nothrow) T());
    if (!last->next) return nullptr;
    tail_ = last->next.get();
    return last->next.get();
}

}  // namespace ruva
