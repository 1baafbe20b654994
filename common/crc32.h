// CRC-32 of ZIP members (reflected, polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ruva {

// Continues a running CRC: start with 0xFFFFFFFF, complement at the end.
uint32_t crc32Update(uint32_t crc, const unsigned char* data, size_t len);

}  // namespace ruva
