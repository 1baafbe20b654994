// The persons named in a TAVR document's meta-data (drafted by, approved
// by, ...) as TavrPerson chains: built from PERSON markup of a scanned
// document, from a one-line person text or from a colon-separated VESKO
// text, formatted as one line, and written back as markup.
//
// Operations give 1 or a pointer, or 0/null with the error text set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/sgml/sgmlscanner.h"

namespace ruva {

class Entity;

enum DocnoType : uint8_t {
    DNOTYPE_REFERENCE = 0,
    DNOTYPE_REGISTRATION = 1,
    DNOTYPE_OTHER = 2,
};

enum TavrAddressType : uint8_t {
    TAVRADDRESS_NOTSET = 0,
    TAVRADDRESS_INTERNAL = 1,
    TAVRADDRESS_EXTERNAL = 2,
    XTAVRADDRESS = 3,
};

enum TavrPhoneType : uint8_t {
    TAVRPHONE_NOTSET = 0,
    TAVRPHONE_ECN = 1,
    TAVRPHONE_PUBLIC = 2,
};

// TavrPerson::flags
inline constexpr uint16_t kPersonInParentheses = 0x1;  // given in parentheses; approval written as not given

inline constexpr size_t kPersonTextMax = 127;        // characters collectPerson and veskoCollectPerson use
inline constexpr size_t kPersonFieldMax = 255;       // veskoCollectPerson's fields after reverseString
inline constexpr size_t kPersonExpandMax = 3071;     // expanded field texts
inline constexpr int kPersonShortColumn = 14;        // short form: name starts here
inline constexpr int kVeskoFields = 5;               // location:company:department:name:signature
inline constexpr int kCollectMinSlashes = 3;         // with a short first piece, the first is a location
inline constexpr size_t kCollectLocationMax = 2;

struct TavrInternalAddress {
    std::optional<std::string> location;
    std::optional<std::string> company;
    std::optional<std::string> department;
};

struct XtavrAddress {
    std::vector<std::string> line;
    int numberOfLines() const { return static_cast<int>(line.size()); }
};

struct TavrEcnPhone {
    std::optional<std::string> ECN_code;
    std::optional<std::string> extension;
};

// One person. The address and phone kinds are separate members; only the
// one the type names is read or written.
struct TavrPerson {
    TavrPerson* next = nullptr;  // not owning: chains are freed in a loop
    uint16_t flags = 0;          // kPersonInParentheses
    std::optional<std::string> name;
    std::optional<std::string> signature;
    std::optional<std::string> initials;
    TavrAddressType addressType = TAVRADDRESS_NOTSET;
    TavrInternalAddress internalAddress;
    std::optional<std::string> ext_addr;
    XtavrAddress XTAVRaddress;
    TavrPhoneType phoneType = TAVRPHONE_NOTSET;
    TavrEcnPhone ECN_phone;
    std::optional<std::string> public_no;
};

class DocPerson : public ErrorText {
public:
    // del: clear, then the object.
    ~DocPerson();
    DocPerson(const DocPerson&) = delete;
    DocPerson& operator=(const DocPerson&) = delete;

    // Frees the nine lists and the message.
    void clear();
    // Stores the references (none owned). Always 1. A null isnl forgets
    // the input list, so createTavrPerson has nothing to walk.
    int init(SgmlScanner* scanner, SgmlNodeList* input, SgmlNodeList* output, Entity* entity, DocnoType type);
    // Records in a chain.
    int countPersons(const TavrPerson* list) const;
    // A chain from the PERSON elements at *node on; *node is left on the
    // node after the last one. Null with 189-193.
    TavrPerson* createTavrPerson(SgmlNode** node);
    // Frees a whole chain.
    void freeTavrPerson(TavrPerson* list);
    // One line of text; none with 194 when person is null.
    std::optional<std::string> tavrPersonToString(const TavrPerson* person, int shortForm);
    // "address person" text into a new record in *slot. 192.
    int collectPerson(TavrPerson** slot, const char* text);
    // "location:company:department:name:signature" into a new record. 195, 196.
    int veskoCollectPerson(TavrPerson** slot, const char* text);
    // PERSON markup appended to the output list; null gives the empty
    // skeleton. 198.
    int outputTavrPerson(const TavrPerson* person);

    uint16_t flags = 0;
    SgmlScanner* ss = nullptr;
    SgmlNodeList* isnl = nullptr;
    SgmlNodeList* osnl = nullptr;
    Entity* en = nullptr;
    // Owned chains.
    TavrPerson* drafted_by = nullptr;
    TavrPerson* checked_by = nullptr;
    TavrPerson* factual_supervisor = nullptr;
    TavrPerson* approved_by = nullptr;
    TavrPerson* translated_by = nullptr;
    TavrPerson* receiverList = nullptr;
    TavrPerson* infoCopyList = nullptr;
    TavrPerson* presentList = nullptr;
    TavrPerson* notPresentList = nullptr;
    DocnoType dnotype = DNOTYPE_REFERENCE;

private:
    friend std::unique_ptr<DocPerson> newDocPerson(uint16_t flags);
    DocPerson() = default;
};

// Null when memory fails.
std::unique_ptr<DocPerson> newDocPerson(uint16_t flags);

}  // namespace ruva
