#include "tests/support/zip_builder.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace ruva::test {
namespace {

void put16(std::string& out, uint16_t v) {
    out += char(v & 0xFF);
    out += char(v >> 8);
}

void put32(std::string& out, uint32_t v) {
    put16(out, uint16_t(v & 0xFFFF));
    put16(out, uint16_t(v >> 16));
}

// What a sound member's headers say, before any override.
struct Sound {
    uint16_t flags;
    uint32_t crc;
    uint32_t compressedSize;
    uint32_t size;
};

std::string storedBytes(const ZipMember& m) {
    if (m.compressed) return *m.compressed;
    return m.method == ZIPMETHOD_DEFLATED ? rawDeflate(m.data, m.level) : m.data;
}

void putLocalHeader(std::string& out, const ZipMember& m, const Sound& s) {
    const ZipHeaderOverrides& o = m.local;
    const bool zeros = m.descriptor;
    put32(out, o.signature.value_or(kZipLocalSignature));
    put16(out, m.versionNeeded);
    put16(out, o.flags.value_or(s.flags));
    put16(out, o.method.value_or(m.method));
    put16(out, m.dosTime);
    put16(out, m.dosDate);
    put32(out, o.crc.value_or(zeros ? 0 : s.crc));
    put32(out, o.compressedSize.value_or(zeros ? 0 : s.compressedSize));
    put32(out, o.size.value_or(zeros ? 0 : s.size));
    put16(out, o.nameLength.value_or(uint16_t(m.name.size())));
    put16(out, o.extraLength.value_or(uint16_t(m.localExtra.size())));
    out += m.name;
    out += m.localExtra;
}

void putCentralHeader(std::string& out, const ZipMember& m, const Sound& s, uint32_t localOffset) {
    const ZipHeaderOverrides& o = m.central;
    put32(out, o.signature.value_or(kZipCentralSignature));
    put16(out, m.versionMadeBy);
    put16(out, m.versionNeeded);
    put16(out, o.flags.value_or(s.flags));
    put16(out, o.method.value_or(m.method));
    put16(out, m.dosTime);
    put16(out, m.dosDate);
    put32(out, o.crc.value_or(s.crc));
    put32(out, o.compressedSize.value_or(s.compressedSize));
    put32(out, o.size.value_or(s.size));
    put16(out, o.nameLength.value_or(uint16_t(m.name.size())));
    put16(out, o.extraLength.value_or(uint16_t(m.centralExtra.size())));
    put16(out, o.commentLength.value_or(uint16_t(m.comment.size())));
    put16(out, 0);  // disk number
    put16(out, m.internalAttributes);
    put32(out, m.externalAttributes);
    put32(out, o.localHeaderOffset.value_or(localOffset));
    out += m.name;
    out += m.centralExtra;
    out += m.comment;
}

}  // namespace

BuiltZip buildZip(const ZipArchive& a) {
    BuiltZip built;
    // Offsets count from the first member: a stub shifts the bytes, not them.
    std::string body, central;
    for (const ZipMember& m : a.members) {
        const std::string stored = storedBytes(m);
        const Sound s{uint16_t(m.flags | (m.descriptor ? kZipFlagDescriptor : 0)), crc32Of(m.data),
                      uint32_t(stored.size()), uint32_t(m.data.size())};
        const size_t localOffset = body.size();
        putLocalHeader(body, m, s);
        built.places.push_back({a.stub.size() + localOffset, a.stub.size() + body.size(), stored.size()});
        body += stored;
        if (m.descriptor) {
            put32(body, kZipDescriptorSignature);
            put32(body, s.crc);
            put32(body, s.compressedSize);
            put32(body, s.size);
        }
        putCentralHeader(central, m, s, uint32_t(localOffset));
    }
    std::string end;
    const uint16_t count = a.count.value_or(uint16_t(a.members.size()));
    put32(end, a.endSignature.value_or(kZipEndSignature));
    put16(end, 0);  // this disk
    put16(end, 0);  // disk of the central directory
    put16(end, count);
    put16(end, count);
    put32(end, a.centralDirSize.value_or(uint32_t(central.size())));
    put32(end, a.centralDirOffset.value_or(uint32_t(body.size())));
    put16(end, a.commentLength.value_or(uint16_t(a.comment.size())));

    built.centralDir = a.stub.size() + body.size();
    built.bytes = a.stub + body + central + a.beforeEnd;
    built.endRecord = built.bytes.size();
    built.bytes += end + a.comment;
    return built;
}

BuiltZip writeZip(const std::string& path, const ZipArchive& archive) {
    BuiltZip built = buildZip(archive);
    writeFile(path, built.bytes);
    return built;
}

std::string rawDeflate(std::string_view data, int level, int strategy, int memLevel) {
    z_stream z{};
    // -15: raw deflate, as stored in a ZIP member.
    if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK) {
        ADD_FAILURE() << "deflateInit2 failed";
        return "";
    }
    std::string out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    // zlib 1.2.13's deflateBound comes short at level 0 with memLevel 9 for
    // inputs of a byte or two, so call until the end, growing the output.
    int rc = Z_OK;
    while (rc == Z_OK) {
        out.resize(z.total_out + deflateBound(&z, z.avail_in) + 64);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + z.total_out);
        z.avail_out = uInt(out.size() - z.total_out);
        rc = deflate(&z, Z_FINISH);
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) ADD_FAILURE() << "deflate failed: " << rc;
    return out;
}

uint32_t crc32Of(std::string_view data) {
    return uint32_t(
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

}  // namespace ruva::test
