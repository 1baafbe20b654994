// Ordered name/value lists: the decoded CGI fields of a request and the
// configured language codes. A name occurs once; pairs keep the order in
// which their names first arrived.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace ruva {

// ValueList flags bit: names compare without regard to (ASCII) case.
inline constexpr uint16_t kValueListNoCase = 0x1;

class ValueList;

// One pair. The name stays as it first arrived; the value may be changed in
// place (the request code upper-cases AC, for one).
class Value {
public:
    const std::string name;
    std::string value;

private:
    friend class ValueList;
    Value(std::string n, std::string v) : name(std::move(n)), value(std::move(v)) {}

    Value* prev_ = nullptr;
    Value* next_ = nullptr;
};

class ValueList {
public:
    ~ValueList();  // del: every pair goes
    ValueList(const ValueList&) = delete;
    ValueList& operator=(const ValueList&) = delete;

    // Stores value under name: an existing pair of that name (compared as
    // the flags say) gets the new value and keeps its name and place, a new
    // name is appended. The value is stored through validateAllChar(name,
    // value), except for the fields NS, NC, CM, CR and LIBIDS (any case),
    // which keep it as it came. The pair; null for a null or empty name. A
    // null value is stored as "".
    Value* addValue(const char* name, const char* value);
    // Unlinks and frees pair; a null pair or one not in this list is left
    // alone.
    void removeValue(Value* pair);
    void removeAllValues();
    // clear is removeAllValues.
    void clear() { removeAllValues(); }

    // The pair of that name, or null (also for a null name).
    Value* findValue(const char* name) const;
    Value* firstValue() const { return first_; }
    // The pair after pair; null at the end and for a null pair.
    Value* nextValue(const Value* pair) const { return pair ? pair->next_ : nullptr; }

    uint16_t flags() const { return flags_; }

private:
    friend std::unique_ptr<ValueList> newValueList(uint16_t flags);
    explicit ValueList(uint16_t flags) : flags_(flags) {}

    // The name as the index holds it: folded when names ignore case.
    std::string indexKey(std::string_view name) const;

    // Fixed at creation: the index is keyed by it.
    const uint16_t flags_;
    Value* first_ = nullptr;
    Value* last_ = nullptr;
    // A request may carry hundreds of thousands of fields; lookups by name
    // must not walk the list for each one.
    std::unordered_map<std::string, Value*> index_;
};

// The value stored under name; "" when there is none.
inline std::string valueOf(const ValueList& list, const char* name) {
    const Value* pair = list.findValue(name);
    return pair ? pair->value : std::string();
}

// Whether name is stored with a value that is not empty.
inline bool hasFilledValue(const ValueList& list, const char* name) {
    const Value* pair = list.findValue(name);
    return pair && !pair->value.empty();
}

// An empty list; flags kValueListNoCase or 0.
std::unique_ptr<ValueList> newValueList(uint16_t flags);

}  // namespace ruva
