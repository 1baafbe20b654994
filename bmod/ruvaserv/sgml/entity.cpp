#include "bmod/ruvaserv/sgml/entity.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "bmod/ruvaserv/actions/embedded_image.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/html_escape.h"

namespace ruva {
namespace {

TableFormat msg(int index, int tagno) {
    char tag[24];
    std::snprintf(tag, sizeof tag, "entity/%d", tagno);
    return msgFormat(index, tag);
}

bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool isNameChar(unsigned char c, bool strict) {
    if (isAsciiLetter(c) || isAsciiDigit(c)) return true;
    return !strict && (c == '_' || c == '-' || c == '.' || c == '%' || c == '#');
}

// Length of the name at s, at most kEntityNameMax characters.
size_t nameLength(const char* s, bool strict) {
    size_t n = 0;
    while (n < kEntityNameMax && isNameChar(static_cast<unsigned char>(s[n]), strict)) n++;
    return n;
}

// A "&#digits" reference at s (s[0] == '&', s[1] == '#', s[2] a digit).
struct NumericRef {
    size_t length;  // "&#", the digits and a ';' right after them
    int digits;
    long value;
    bool kept;  // too many digits or too large: copied as written
};

NumericRef readNumericRef(const char* s) {
    NumericRef ref{2, 0, 0, false};
    while (ref.digits < kEntityDigitsRead && isAsciiDigit(static_cast<unsigned char>(s[ref.length]))) {
        ref.value = ref.value * 10 + (s[ref.length] - '0');
        ref.digits++;
        ref.length++;
    }
    if (s[ref.length] == ';') ref.length++;
    ref.kept = ref.digits > kEntityDigitsKept || ref.value > kEntityByteMax;
    return ref;
}

// What a converted numeric reference becomes: the characters that would
// break markup as references, 0 as nothing, others as their byte.
std::string_view numericText(long value, char& byte) {
    switch (value) {
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '&':
            return "&amp;";
        case '"':
            return "&quot;";
        case 0:
            return "";
        default:
            byte = static_cast<char>(value);
            return {&byte, 1};
    }
}

// The bounded output of one conversion pass: text plus its NUL never pass
// the capacity.
class Output {
public:
    Output(char* buf, size_t size) : buf_(buf), size_(size) {}
    // 1 when text and the NUL still fit; then text is written.
    bool put(std::string_view text) {
        if (pos_ + text.size() + 1 > size_) return false;
        std::memcpy(buf_ + pos_, text.data(), text.size());
        pos_ += text.size();
        return true;
    }
    // Room for one more plain character besides the NUL.
    bool hasRoom() const { return pos_ + 1 < size_; }
    size_t pos() const { return pos_; }
    void finish() { buf_[pos_] = '\0'; }

private:
    char* buf_;
    size_t size_;
    size_t pos_ = 0;
};

void deleteEntityNode(void* extdata, BTreeNode* node) {
    static_cast<Entity*>(extdata)->freeEntity(static_cast<EntityNode*>(node->uval.data));
}

// The alternative text of an image goes inside a quoted attribute.
std::string attributeText(const char* text) {
    std::string out;
    for (; *text; text++) {
        switch (*text) {
            case '"':
                out += "&quot;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '&':
                out += "&amp;";
                break;
            default:
                out += *text;
        }
    }
    return out;
}

// Fails the caller's conversion: bufsize is what the message names.
int tooSmall(Entity& entity, int index, int tagno, size_t bufsize) {
    entity.setError(msg(index, tagno), static_cast<unsigned long>(bufsize));
    return -1;
}

// The image behind an image entity is written once to its file; the file
// is created exclusively, so an existing one (another request's) is taken
// as written. 0 with 252-254.
int writeImageFile(Entity& entity, const std::string& name) {
    ImageEntry* entry = entity.ei ? entity.ei->findImageEntry(name.c_str()) : nullptr;
    if (!entry) {
        entity.setError(msg(254, 8), htmlEscaped(name));
        return 0;
    }
    std::string path = entity.entityImageDir.value_or("") + entry->filename;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) return 1;
        entity.setError(msg(253, 7), std::string(std::strerror(errno)), htmlEscaped(path));
        return 0;
    }
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        entity.setError(msg(253, 7), std::string(std::strerror(errno)), htmlEscaped(path));
        close(fd);
        unlink(path.c_str());
        return 0;
    }
    int ok = entity.ei->outputImageEntry(entry, file);
    std::string why = entity.ei->getError();
    if (std::fclose(file) != 0 && ok) {
        ok = 0;
        why = std::strerror(errno);
    }
    if (!ok) {
        // A partial image would be served as complete by every later request.
        unlink(path.c_str());
        entity.setError(msg(252, 6), why);
    }
    return ok;
}

// One "&#digits" reference at s into out; -1 with 249 when it does not fit.
int expandNumeric(Entity& entity, Output& out, const char*& s, size_t bufsize) {
    NumericRef ref = readNumericRef(s);
    char byte = 0;
    std::string_view text = ref.kept ? std::string_view(s, ref.length) : numericText(ref.value, byte);
    if (!out.put(text)) return tooSmall(entity, 249, 3, bufsize);
    s += ref.length;
    return ref.kept ? 0 : 1;
}

// "&name" at s: the entity's text, "&name;" for an unknown "&name.", else
// the '&' alone (the name follows as plain text). The count added, or -1.
int expandNamed(Entity& entity, Output& out, const char*& s, size_t bufsize, bool* again) {
    size_t n = nameLength(s + 1, entity.flags & kEntityStrictNames);
    std::string name(s + 1, n);
    EntityNode* node = entity.findEntity(name.c_str());
    if (node && !(node->flags & kEntityNodeNoExpand)) {
        bool image = node->flags & kEntityNodeImage;
        if (image && !writeImageFile(entity, name)) return -1;
        if (!out.put(node->type.get())) return tooSmall(entity, 251, 5, bufsize);
        if (again && !image && std::strchr(node->type.get(), '&')) *again = true;
        s += 1 + n;
        if (*s == ';') s++;
        return 1;
    }
    if (s[1 + n] == '.') {
        if (!out.put("&" + name + ";")) return tooSmall(entity, 250, 4, bufsize);
        s += n + 2;
        return 1;
    }
    out.put("&");
    s++;
    return 0;
}

// One expansion of src into buf; again (when given) learns whether a
// replacement brought in a '&' that needs another pass.
int expandPass(Entity& entity, char* buf, const char* src, size_t bufsize, bool* again) {
    Output out(buf, bufsize);
    int count = 0;
    const char* s = src;
    while (*s && out.hasRoom()) {
        int added = 0;
        if (*s == '<' || *s == '>') {
            if (out.pos() + 5 >= bufsize) {
                added = *s == '<' ? tooSmall(entity, 247, 1, bufsize) : tooSmall(entity, 248, 2, bufsize);
            } else {
                out.put(*s == '<' ? "&lt;" : "&gt;");
                s++;
                added = 1;
            }
        } else if (*s != '&') {
            out.put(std::string_view(s++, 1));
        } else if (s[1] == '#') {
            if (isAsciiDigit(static_cast<unsigned char>(s[2]))) {
                added = expandNumeric(entity, out, s, bufsize);
            } else {
                out.put("&");
                s++;
            }
        } else if (isAsciiLetter(static_cast<unsigned char>(s[1]))) {
            added = expandNamed(entity, out, s, bufsize, again);
        } else {
            // A lone '&': strict names drop it, else it is made safe.
            if (!(entity.flags & kEntityStrictNames)) {
                added = out.put("&amp;") ? 1 : tooSmall(entity, 251, 5, bufsize);
            }
            s++;
        }
        if (added < 0) {
            // Ended even on failure, for callers that print it anyway.
            out.finish();
            return -1;
        }
        count += added;
    }
    out.finish();
    return count;
}

// A '&' that reverseString keeps: "&#", or "&letter" with a ';' close by.
bool startsReference(const char* s) {
    if (s[1] == '#') return true;
    if (!isAsciiLetter(static_cast<unsigned char>(s[1]))) return false;
    for (size_t i = 2; i <= kEntityReverseLookAhead && s[i]; i++) {
        if (s[i] == ';') return true;
    }
    return false;
}

struct ByteSearch {
    unsigned char byte;
    const char* name;
};

int matchFirstByte(void* extdata, BTreeNode* node) {
    auto* search = static_cast<ByteSearch*>(extdata);
    auto* entity = static_cast<EntityNode*>(node->uval.data);
    if (static_cast<unsigned char>(entity->type.get()[0]) != search->byte) return 1;
    search->name = entity->name.get();
    return 0;
}

// '&', '<' or '>' for "&amp", "&lt" or "&gt" in any case; 0 for others.
char plainChar(const char* name, size_t n) {
    if (n == 3 && strncasecmp(name, "amp", 3) == 0) return '&';
    if (n == 2 && strncasecmp(name, "lt", 2) == 0) return '<';
    if (n == 2 && strncasecmp(name, "gt", 2) == 0) return '>';
    return 0;
}

}  // namespace

// The registry is never created until image entities are built.
void EmbeddedImageDelete::operator()(EmbeddedImage* images) const {
    delete images;
}

int EntityNodeValue::set(std::string_view text) {
    if (text.size() <= kInlineMax) {
        long_.reset();
        std::memcpy(inline_, text.data(), text.size());
        inline_[text.size()] = '\0';
        return 1;
    }
    std::unique_ptr<char[]> copy(new (std::nothrow) char[text.size() + 1]);
    if (!copy) return 0;
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    long_ = std::move(copy);
    inline_[0] = '\0';
    return 1;
}

void EntityNodeValue::reset() {
    long_.reset();
    inline_[0] = '\0';
}

std::unique_ptr<Entity> newEntity(uint16_t flags) {
    std::unique_ptr<Entity> entity(new (std::nothrow) Entity());
    if (!entity) return nullptr;
    entity->entityTree = newBTree(kEntityTreeFlags);
    if (!entity->entityTree) return nullptr;
    entity->setFlags(flags);
    entity->nodePool = newPool(sizeof(EntityNode), kEntityPoolItems, kEntityPoolFlags);
    if (!entity->nodePool) return nullptr;
    entity->entityTree->deleteNodeCallback = deleteEntityNode;
    entity->entityTree->setClientData(entity.get());
    entity->clear();
    if (!(entity->flags & kEntityTableLoaded)) return nullptr;
    return entity;
}

Entity::~Entity() {
    // Nodes live in the pool: give them back before the pool goes.
    if (entityTree && nodePool) deleteEntities();
}

void Entity::clear() {
    if (flags & kEntityTableLoaded) return;
    deleteEntities();
    setError(nullptr);
    for (const EntityRow& row : charEntities) {
        if (!addEntity(row.name, row.replacement, nullptr, kEntityNodeBuiltin)) return;
    }
    if (flags & kEntityLoadLines) {
        for (const EntityRow& row : lineEntities) {
            if (!addEntity(row.name, row.replacement, nullptr, kEntityNodeBuiltin)) return;
        }
    }
    flags |= kEntityTableLoaded;
}

void Entity::setFlags(uint16_t newFlags) {
    constexpr uint16_t kTaken = kEntityLoadLines | kEntityStrictNames;
    flags = static_cast<uint16_t>((flags & ~kTaken) | (newFlags & kTaken));
}

EntityNode* Entity::addEntity(const char* name, const char* replacement, const char* id, uint16_t nodeFlags) {
    if (!name || !*name || !nodePool || !entityTree) return nullptr;
    void* item = nodePool->alloc();
    if (!item) return nullptr;
    auto* node = new (item) EntityNode();
    node->flags = nodeFlags;
    if (!node->type.set(replacement ? replacement : "") || !node->id.set(id ? id : "") ||
        !node->name.set(name) || !entityTree->addNode(name, BTreeValue{.data = node})) {
        freeEntity(node);
        return nullptr;
    }
    flags &= static_cast<uint16_t>(~kEntityTableLoaded);
    return node;
}

EntityNode* Entity::findEntity(const char* name) {
    if (!name || !entityTree) return nullptr;
    BTreeNode* found = entityTree->findNode(name, nullptr);
    return found ? static_cast<EntityNode*>(found->uval.data) : nullptr;
}

void Entity::deleteEntities() {
    if (entityTree) entityTree->clear();
}

void Entity::freeEntity(EntityNode* node) {
    if (!node) return;
    node->~EntityNode();
    if (nodePool) nodePool->free(node);
    flags &= static_cast<uint16_t>(~kEntityTableLoaded);
}

int Entity::addISO8859_1Entities() {
    for (const EntityRow& row : charEntitiesISO_8859_1) {
        if (!addEntity(row.name, row.replacement, nullptr, kEntityNodeBuiltin)) return 0;
    }
    return 1;
}

int Entity::expandString(char* buf, const char* src, size_t bufsize) {
    if (!buf) {
        setError(msg(255, 9));
        return -1;
    }
    if (bufsize == 0) return tooSmall(*this, 247, 1, bufsize);
    bool again = false;
    int count = expandPass(*this, buf, src ? src : "", bufsize, &again);
    if (count < 0 || !again) return count;
    // Once more over a copy, never a third time: a replacement's own "&gt;"
    // must not be expanded again and again.
    std::string first(buf);
    int more = expandPass(*this, buf, first.c_str(), bufsize, nullptr);
    return more < 0 ? -1 : count + more;
}

int Entity::reverseString(char* buf, const char* src, size_t bufsize) {
    if (!buf) {
        setError(msg(255, 9));
        return 0;
    }
    if (bufsize == 0) {
        tooSmall(*this, 247, 1, bufsize);
        return 0;
    }
    Output out(buf, bufsize);
    for (const char* s = src ? src : ""; *s && out.hasRoom(); s++) {
        auto c = static_cast<unsigned char>(*s);
        char plain = *s;
        std::string ref;
        std::string_view text(&plain, 1);
        if (c >= 0x80) {
            ByteSearch search{c, nullptr};
            entityTree->setClientData(&search);
            entityTree->scanTree(nullptr, matchFirstByte);
            entityTree->setClientData(this);
            if (search.name) {
                ref = "&" + std::string(search.name, strnlen(search.name, kEntityReverseNameMax)) + ";";
                text = ref;
            } else if (c == 0xa0) {
                plain = ' ';
            }
        } else if (c == '&') {
            text = startsReference(s) ? "&" : "&amp;";
        } else if (c == '<') {
            text = "&lt;";
        }
        // The output ends before the first replacement that does not fit.
        if (!out.put(text)) break;
    }
    out.finish();
    return 1;
}

int Entity::toAscii(char* buf, const char* src, size_t bufsize) {
    if (!src) return -1;
    int count = expandString(buf, src, bufsize);
    if (count < 0) return -1;
    bool strict = flags & kEntityStrictNames;
    // In place: every rewrite shortens the text, so w never passes r.
    char* w = buf;
    for (const char* r = buf; *r;) {
        if (*r == '&' && isAsciiLetter(static_cast<unsigned char>(r[1]))) {
            size_t n = nameLength(r + 1, strict);
            if (char c = plainChar(r + 1, n)) {
                *w++ = c;
                r += 1 + n;
                if (*r == ';') r++;
                count++;
                continue;
            }
        }
        *w++ = *r++;
    }
    *w = '\0';
    return count;
}

std::optional<std::string> Entity::entityEscape(const char* data, size_t len) {
    if (!data) len = 0;
    std::string out;
    if (len > (SIZE_MAX - 128) / 2) {
        setError(msg(256, 10), static_cast<unsigned long>(len));
        return std::nullopt;
    }
    size_t size = len + len / 16 + 64 + 1;
    try {
        out.reserve(size);
    } catch (const std::bad_alloc&) {
        setError(msg(256, 10), static_cast<unsigned long>(size));
        return std::nullopt;
    }
    int column = 0;
    for (size_t i = 0; i < len; i++) {
        if (out.capacity() - out.size() < kEntityEscapeSlack) {
            size = out.capacity() + kEntityEscapeGrow;
            try {
                out.reserve(size);
            } catch (const std::bad_alloc&) {
                setError(msg(257, 11), static_cast<unsigned long>(size));
                return std::nullopt;
            }
        }
        switch (data[i]) {
            case '\t': {
                int blanks = kEntityTabWidth - column % kEntityTabWidth;
                out.append(static_cast<size_t>(blanks), ' ');
                column += blanks;
                break;
            }
            case '\n':
                out += '\n';
                column = 0;
                break;
            case '\r':
                break;
            case '&':
                out += "&amp;";
                column++;
                break;
            case '<':
                out += "&lt;";
                column++;
                break;
            default:
                out += data[i];
                column++;
        }
    }
    return out;
}

std::string Entity::convertCharEntities(std::string_view str) {
    // A NUL-terminated copy: the reference readers stop at the NUL.
    const std::string src(str);
    const bool strict = flags & kEntityStrictNames;
    std::string out;
    out.reserve(src.size());
    size_t i = 0;
    while (i < src.size()) {
        const char* s = src.c_str() + i;
        if (*s != '&') {
            out += *s;
            i++;
        } else if (s[1] == '#' && isAsciiDigit(static_cast<unsigned char>(s[2]))) {
            NumericRef ref = readNumericRef(s);
            char byte = 0;
            out += ref.kept ? std::string_view(s, ref.length) : numericText(ref.value, byte);
            i += ref.length;
        } else if (isAsciiLetter(static_cast<unsigned char>(s[1]))) {
            size_t n = nameLength(s + 1, strict);
            std::string name(s + 1, n);
            EntityNode* node = findEntity(name.c_str());
            if (node && !(node->flags & kEntityNodeNoExpand)) {
                out += node->type.get();
                i += 1 + n + (s[1 + n] == ';' ? 1 : 0);
            } else if (!node && s[1 + n] == ';') {
                i += n + 2;  // an unknown reference is dropped
            } else {
                out += '&';
                i++;
            }
        } else {
            out += '&';
            i++;
        }
    }
    return out;
}

int Entity::registerEmbeddedImageData(const ImageEntryData* imageData, const char* imageURL,
                                      const char* imageDir) {
    if (!ei) {
        ei.reset(newEmbeddedImage(0).release());
        if (!ei) {
            setError(msg(258, 12));
            return 0;
        }
    }
    if (imageData && !ei->init(imageData)) {
        setError(msg(259, 13), ei->getError());
        return 0;
    }
    if (imageURL) entityImageURL = imageURL;
    if (imageDir) entityImageDir = imageDir;
    return 1;
}

int Entity::initEmbeddedImages(const ImageEntryData* imageData, const char* imageURL, const char* imageDir) {
    if (!registerEmbeddedImageData(imageData, imageURL, imageDir)) return 0;
    if (!ei) {
        setError(msg(260, 14));
        return 0;
    }
    for (ImageEntry* entry = ei->getFirstImageEntry(); entry; entry = ei->getNextImageEntry(entry)) {
        std::string name(entry->ied->name, strnlen(entry->ied->name, kImageNameSize));
        EntityNode* old = findEntity(name.c_str());
        std::string alt = old && !(old->flags & kEntityNodeImage) ? attributeText(old->type.get()) : "";
        std::string img = "<img class=\"ENTITYIMAGE\" src=\"" + entityImageURL.value_or("") +
                          entry->filename + "\" alt=\"" + alt + "\" border=\"0\" />";
        if (!addEntity(name.c_str(), img.c_str(), nullptr, kEntityNodeBuiltin | kEntityNodeImage)) {
            setError(msg(258, 12));
            return 0;
        }
    }
    flags |= kEntityImages;
    return 1;
}

}  // namespace ruva
