#include "bmod/ruvaserv/sgml/entity.h"

#include "bmod/ruvaserv/actions/embedded_image.h"

namespace ruva {

// The registry is never created until image entities are built.
void EmbeddedImageDelete::operator()(EmbeddedImage* images) const { delete images; }

int EntityNodeValue::set(std::string_view) { return 0; }
void EntityNodeValue::reset() {}

std::unique_ptr<Entity> newEntity(uint16_t) { return nullptr; }

Entity::~Entity() = default;

void Entity::clear() {}
void Entity::setFlags(uint16_t) {}
int Entity::expandString(char*, const char*, size_t) { return -1; }
int Entity::reverseString(char*, const char*, size_t) { return 0; }
int Entity::toAscii(char*, const char*, size_t) { return -1; }
EntityNode* Entity::addEntity(const char*, const char*, const char*, uint16_t) { return nullptr; }
EntityNode* Entity::findEntity(const char*) { return nullptr; }
void Entity::deleteEntities() {}
void Entity::freeEntity(EntityNode*) {}
int Entity::addISO8859_1Entities() { return 0; }
std::optional<std::string> Entity::entityEscape(const char*, size_t) { return std::nullopt; }
std::string Entity::convertCharEntities(std::string_view) { return {}; }
int Entity::registerEmbeddedImageData(const char*, const char*, const char*) { return 0; }
int Entity::initEmbeddedImages(const char*, const char*, const char*) { return 0; }

}  // namespace ruva
