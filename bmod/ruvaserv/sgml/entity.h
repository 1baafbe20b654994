// Character entities of document text and the conversions between SGML and
// HTML text: expanding references for HTML output, turning bytes back into
// references, reducing text to ASCII, escaping raw text and converting
// references. Entities may also stand for images embedded in a document,
// whose files are written on first use.
//
// Buffer operations never write past bufsize bytes, the NUL included.
// Operations give their count, 1 or a pointer, or -1/0/null with the error
// text set.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/checked_format.h"
#include "common/btree.h"
#include "common/pool.h"

namespace ruva {

class EmbeddedImage;
struct ImageEntryData;

// Entity::flags
inline constexpr uint16_t kEntityLoadLines = 0x1;    // load the line-drawing entities
inline constexpr uint16_t kEntityTableLoaded = 0x2;  // internal: clear has nothing to reload
inline constexpr uint16_t kEntityImages = 0x4;       // embedded images are registered as entities
inline constexpr uint16_t kEntityStrictNames = 0x8;  // names of letters and digits only; a lone '&' is dropped

// EntityNode::flags
inline constexpr uint16_t kEntityNodeBuiltin = 0x08;   // built-in or registered
inline constexpr uint16_t kEntityNodeNoExpand = 0x20;  // never expanded
inline constexpr uint16_t kEntityNodeImage = 0x40;     // embedded-image entity

inline constexpr size_t kEntityNameMax = 31;         // characters that count as a name
inline constexpr int kEntityDigitsRead = 7;          // digits read of a "&#" reference
inline constexpr int kEntityDigitsKept = 4;          // more than this is copied, not converted
inline constexpr int kEntityByteMax = 255;           // largest value written as a byte
inline constexpr size_t kEntityReverseNameMax = 7;   // reverseString cuts names here
inline constexpr size_t kEntityReverseLookAhead = 7; // ';' within this many makes "&name" a reference
inline constexpr size_t kEntityPoolItems = 800;      // EntityNode items per heap
inline constexpr uint16_t kEntityPoolFlags = 3;      // kPoolNoSemaphore | kPoolPrivate
inline constexpr uint16_t kEntityTreeFlags = 2;      // kBTreeReplace
inline constexpr size_t kEntityEscapeGrow = 4096;    // entityEscape's growth step
inline constexpr size_t kEntityEscapeSlack = 9;      // grow when fewer bytes than this remain
inline constexpr int kEntityTabWidth = 8;
inline constexpr int kEntityMaxPasses = 2;           // a replacement holding '&' gets one more pass

// A text of an entity node: up to kInlineMax characters held inline, a
// longer one in its own allocation.
class EntityNodeValue {
public:
    static constexpr size_t kInlineMax = 7;

    // The text; "" when unset.
    const char* get() const { return long_ ? long_.get() : inline_; }
    // 0 when memory fails; the old text is then kept.
    int set(std::string_view text);
    void reset();

private:
    char inline_[kInlineMax + 1] = {};
    std::unique_ptr<char[]> long_;
};

// One entity; built in place in a pool item and destroyed before the item
// goes back.
struct EntityNode {
    EntityNodeValue type;  // the replacement text
    EntityNodeValue id;    // nothing sets one
    EntityNodeValue name;
    uint16_t flags = 0;  // kEntityNode*
};

// A row of the built-in tables: a name and its replacement.
struct EntityRow {
    const char* name;
    const char* replacement;
};

inline constexpr size_t kCharEntityRows = 56;
inline constexpr size_t kLineEntityRows = 11;
inline constexpr size_t kIsoEntityRows = 74;

// Always loaded.
extern const std::array<EntityRow, kCharEntityRows> charEntities;
// Private line-graphics codes 0x80-0x8a; loaded after charEntities with
// kEntityLoadLines, replacing the ASCII forms of the same names.
extern const std::array<EntityRow, kLineEntityRows> lineEntities;
// ISO 8859-1 letters and signs; loaded only by addISO8859_1Entities.
extern const std::array<EntityRow, kIsoEntityRows> charEntitiesISO_8859_1;

// Frees the image registry where its type is complete.
struct EmbeddedImageDelete {
    void operator()(EmbeddedImage* ei) const;
};

class Entity : public ErrorText {
public:
    // del: every entity, the tree, the pool, the registry, the prefixes.
    ~Entity();
    Entity(const Entity&) = delete;
    Entity& operator=(const Entity&) = delete;

    // Nothing while kEntityTableLoaded is set; else deletes every entity,
    // the message, loads the tables and sets kEntityTableLoaded.
    void clear();
    // A message also clears kEntityTableLoaded, so the next clear reloads.
    template <class... Args>
    void setError(FormatLiteral format, const Args&... args) {
        flags &= static_cast<uint16_t>(~kEntityTableLoaded);
        ErrorText::setError(format, args...);
    }
    template <class... Args>
    void setError(const TableFormat& format, const Args&... args) {
        flags &= static_cast<uint16_t>(~kEntityTableLoaded);
        ErrorText::setError(format, args...);
    }
    void setError(std::nullptr_t) { ErrorText::setError(nullptr); }
    // Takes kEntityLoadLines and kEntityStrictNames; other bits stay.
    void setFlags(uint16_t newFlags);

    // src expanded for HTML into buf of bufsize bytes (NUL included): the
    // number of replacements, or -1 with 247-254.
    int expandString(char* buf, const char* src, size_t bufsize);
    // An HTML-safe copy with high bytes as entity names; 1, or 0 with 255
    // when buf is null. A null src gives "".
    int reverseString(char* buf, const char* src, size_t bufsize);
    // expandString, then "&amp", "&lt" and "&gt" as characters: the total
    // count, or -1.
    int toAscii(char* buf, const char* src, size_t bufsize);

    // The node added under name (replacing one of that name); null for an
    // empty or null name or on memory failure.
    EntityNode* addEntity(const char* name, const char* replacement, const char* id, uint16_t nodeFlags);
    EntityNode* findEntity(const char* name);
    void deleteEntities();
    // Frees the node's texts and returns it to the pool.
    void freeEntity(EntityNode* node);
    // Loads charEntitiesISO_8859_1; 1, or 0 when memory fails.
    int addISO8859_1Entities();

    // Raw text escaped for HTML: tabs to 8 columns, CR dropped, '&' and
    // '<' as references. None with 256 or 257 when memory fails.
    std::optional<std::string> entityEscape(const char* data, size_t len);
    // str with character references converted.
    std::string convertCharEntities(std::string_view str);

    // Creates the registry when needed (258), loads imageData (259),
    // replaces the URL and directory prefixes that are given.
    int registerEmbeddedImageData(const ImageEntryData* imageData, const char* imageURL, const char* imageDir);
    // registerEmbeddedImageData, then one image entity per entry (260);
    // sets kEntityImages.
    int initEmbeddedImages(const ImageEntryData* imageData, const char* imageURL, const char* imageDir);

    uint16_t flags = 0;  // kEntity*
    std::unique_ptr<BTree> entityTree;  // name -> EntityNode; a replaced node is freed by its callback
    std::unique_ptr<Pool> nodePool;     // EntityNode items
    std::unique_ptr<EmbeddedImage, EmbeddedImageDelete> ei;  // created on demand
    std::optional<std::string> entityImageURL;
    std::optional<std::string> entityImageDir;

private:
    friend std::unique_ptr<Entity> newEntity(uint16_t flags);
    Entity() = default;
};

// The tree, the pool and the loaded tables; null on any failure.
std::unique_ptr<Entity> newEntity(uint16_t flags);

}  // namespace ruva
