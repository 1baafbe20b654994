#include "bmod/ruvaserv/cgi/valuelist.h"

#include "common/html_escape.h"
#include "common/text.h"

namespace ruva {

namespace {

// Fields whose values are stored raw: they carry text the actions escape
// themselves (notes, comments, library id lists).
bool keepsRawValue(std::string_view name) {
    static constexpr std::string_view kRaw[] = {"NS", "NC", "CM", "CR", "LIBIDS"};
    for (std::string_view raw : kRaw) {
        if (name.size() != raw.size()) continue;
        bool same = true;
        for (size_t i = 0; i < raw.size() && same; ++i)
            same = asciiUpper(static_cast<unsigned char>(name[i])) == static_cast<unsigned char>(raw[i]);
        if (same) return true;
    }
    return false;
}

}  // namespace

ValueList::~ValueList() { removeAllValues(); }

std::string ValueList::indexKey(std::string_view name) const {
    std::string key(name);
    if (flags_ & kValueListNoCase)
        for (char& c : key) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
    return key;
}

Value* ValueList::addValue(const char* name, const char* value) {
    if (!name || !*name) return nullptr;
    if (!value) value = "";
    std::string stored = keepsRawValue(name) ? std::string(value) : validateAllChar(name, value);

    std::string key = indexKey(name);
    auto found = index_.find(key);
    if (found != index_.end()) {
        found->second->value = std::move(stored);
        return found->second;
    }
    Value* pair = new Value(name, std::move(stored));
    pair->prev_ = last_;
    if (last_)
        last_->next_ = pair;
    else
        first_ = pair;
    last_ = pair;
    index_.emplace(std::move(key), pair);
    return pair;
}

void ValueList::removeValue(Value* pair) {
    if (!pair) return;
    // The index tells whether the pair is ours: a pair of another list is
    // never unlinked from this one.
    auto found = index_.find(indexKey(pair->name));
    if (found == index_.end() || found->second != pair) return;
    index_.erase(found);
    (pair->prev_ ? pair->prev_->next_ : first_) = pair->next_;
    (pair->next_ ? pair->next_->prev_ : last_) = pair->prev_;
    delete pair;
}

void ValueList::removeAllValues() {
    // Iterative: a recursive chain would overflow the stack on a long list.
    for (Value* pair = first_; pair;) {
        Value* next = pair->next_;
        delete pair;
        pair = next;
    }
    first_ = last_ = nullptr;
    index_.clear();
}

Value* ValueList::findValue(const char* name) const {
    if (!name) return nullptr;
    auto found = index_.find(indexKey(name));
    return found == index_.end() ? nullptr : found->second;
}

std::unique_ptr<ValueList> newValueList(uint16_t flags) { return std::unique_ptr<ValueList>(new ValueList(flags)); }

}  // namespace ruva
