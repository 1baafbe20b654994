#include "common/byte_order.h"

namespace ruva {

namespace {

int writeBytes(FILE* fp, const unsigned char* b, size_t n) {
    return fp && std::fwrite(b, 1, n, fp) == n ? 1 : 0;
}

}  // namespace

int writeLong(FILE* fp, uint32_t v) {
    unsigned char b[4];
    putLong(b, v);
    return writeBytes(fp, b, sizeof b);
}

int writeWord(FILE* fp, uint16_t v) {
    unsigned char b[2] = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    return writeBytes(fp, b, sizeof b);
}

int writeByte(FILE* fp, uint8_t v) {
    return writeBytes(fp, &v, 1);
}

}  // namespace ruva
