// Test program of the SDI reader: reads each file (or "-" for standard
// input) on one object and prints, one per line:
//   file=PATH
//   the meta-data as name=value, in member order (language as its number)
//   person SLOT ... per person of drafted_by, checked_by,
//     factual_supervisor and approved_by; "person SLOT (null)" for none
//   entry LEVEL TYPE flags=N title=... engtitle=... module=... docno=...
//     comment=... per entry, depth first in document order
//   error=TEXT when a step failed; the file's dump ends there
// Texts are quoted as sgmldump quotes them; (null) for none.
// Exit status 0 when every file was read, 1 otherwise.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/sgml/docperson.h"
#include "bmod/ruvaserv/sgml/sdi.h"
#include "tests/bmod/ruvaserv/sgml/dump_value.h"

namespace ruva {
namespace {

void putField(const char* name, const std::optional<std::string>& value) {
    std::printf(" %s=", name);
    if (value) {
        putDumpValue(value->c_str());
    } else {
        std::fputs("(null)", stdout);
    }
}

void putMeta(const char* name, const std::optional<std::string>& value) {
    std::fputs(name, stdout);
    std::fputc('=', stdout);
    if (value) {
        putDumpValue(value->c_str());
    } else {
        std::fputs("(null)", stdout);
    }
    std::fputc('\n', stdout);
}

void dumpMetaData(const Sdi& sdi) {
    std::printf("language=%d\n", static_cast<int>(sdi.language));
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"sdiVersion", &sdi.sdiVersion}, {"source", &sdi.source},     {"docno", &sdi.docno},
        {"docrev", &sdi.docrev},         {"datey", &sdi.datey},       {"datem", &sdi.datem},
        {"dated", &sdi.dated},           {"title", &sdi.title},       {"subtitle", &sdi.subtitle},
        {"userinfo", &sdi.userinfo},     {"partof", &sdi.partof},     {"copyright", &sdi.copyright},
        {"disclaimer", &sdi.disclaimer}, {"trademark", &sdi.trademark}, {"lti", &sdi.lti},
        {"lid", &sdi.lid},               {"lrs", &sdi.lrs},
    };
    for (const auto& [name, value] : texts) {
        putMeta(name, *value);
    }
}

const char* addressName(TavrAddressType type) {
    switch (type) {
    case TAVRADDRESS_NOTSET: return "notset";
    case TAVRADDRESS_INTERNAL: return "internal";
    case TAVRADDRESS_EXTERNAL: return "external";
    case XTAVRADDRESS: return "xtavr";
    }
    return "invalid";
}

const char* phoneName(TavrPhoneType type) {
    switch (type) {
    case TAVRPHONE_NOTSET: return "notset";
    case TAVRPHONE_ECN: return "ecn";
    case TAVRPHONE_PUBLIC: return "public";
    }
    return "invalid";
}

// Only the address and phone fields of the person's kinds are printed.
void dumpPerson(const char* slot, const TavrPerson& p) {
    std::printf("person %s flags=%u", slot, static_cast<unsigned>(p.flags));
    putField("name", p.name);
    putField("signature", p.signature);
    putField("initials", p.initials);
    std::printf(" address=%s", addressName(p.addressType));
    if (p.addressType == TAVRADDRESS_INTERNAL) {
        putField("location", p.internalAddress.location);
        putField("company", p.internalAddress.company);
        putField("department", p.internalAddress.department);
    } else if (p.addressType == TAVRADDRESS_EXTERNAL) {
        putField("ext_addr", p.ext_addr);
    } else if (p.addressType == XTAVRADDRESS) {
        for (const std::string& line : p.XTAVRaddress.line) {
            putField("line", line);
        }
    }
    std::printf(" phone=%s", phoneName(p.phoneType));
    if (p.phoneType == TAVRPHONE_ECN) {
        putField("ECN_code", p.ECN_phone.ECN_code);
        putField("extension", p.ECN_phone.extension);
    } else if (p.phoneType == TAVRPHONE_PUBLIC) {
        putField("public_no", p.public_no);
    }
    std::fputc('\n', stdout);
}

void dumpPersons(const DocPerson& dp) {
    const std::pair<const char*, const TavrPerson*> slots[] = {
        {"drafted_by", dp.drafted_by},
        {"checked_by", dp.checked_by},
        {"factual_supervisor", dp.factual_supervisor},
        {"approved_by", dp.approved_by},
    };
    for (const auto& [slot, list] : slots) {
        if (!list) {
            std::printf("person %s (null)\n", slot);
        }
        for (const TavrPerson* p = list; p; p = p->next) {
            dumpPerson(slot, *p);
        }
    }
}

const char* entryTypeName(SdiEntryType type) {
    switch (type) {
    case SDIENTRY_NOTSET: return "NOTSET";
    case SDIENTRY_HEADING: return "HEADING";
    case SDIENTRY_DOCUMENT: return "DOCUMENT";
    case SDIENTRY_PARA: return "PARA";
    case SDIENTRY_XMP: return "XMP";
    case SDIENTRY_SEPARATOR: return "SEPARATOR";
    case SDIENTRY_DOCHEAD: return "DOCHEAD";
    }
    return "invalid";
}

// Depth first with a stack of pending siblings, so deep or long lists cost
// no stack frames.
void dumpEntries(const SdiEntry* root) {
    std::vector<std::pair<const SdiEntry*, int>> pending;
    if (root) {
        pending.emplace_back(root, 1);
    }
    while (!pending.empty()) {
        auto [e, level] = pending.back();
        pending.pop_back();
        std::printf("entry %d %s flags=%u", level, entryTypeName(e->type), static_cast<unsigned>(e->flags));
        putField("title", e->title);
        putField("engtitle", e->engtitle);
        putField("module", e->module);
        putField("docno", e->docno);
        putField("comment", e->comment);
        std::fputc('\n', stdout);
        if (e->next) {
            pending.emplace_back(e->next, level);
        }
        if (e->child) {
            pending.emplace_back(e->child, level + 1);
        }
    }
}

int fail(const Sdi& sdi) {
    std::fputs("error=", stdout);
    putDumpValue(sdi.getError().c_str());
    std::fputc('\n', stdout);
    return 0;
}

int dumpFile(Sdi* sdi, const char* path) {
    std::fputs("file=", stdout);
    putDumpValue(path);
    std::fputc('\n', stdout);
    if (!sdi->setInput(path) || !sdi->getMetaData()) {
        return fail(*sdi);
    }
    dumpMetaData(*sdi);
    dumpPersons(*sdi->dp);
    if (!sdi->parseDocument()) {
        return fail(*sdi);
    }
    dumpEntries(sdi->root);
    sdi->closeInput();
    return 1;
}

int run(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: sdidump FILE|- ...\n", stderr);
        return 2;
    }
    std::unique_ptr<Sdi> sdi = newSdi(0);
    if (!sdi) {
        std::fputs("sdidump: no SDI object\n", stderr);
        return 1;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        if (!dumpFile(sdi.get(), argv[i])) {
            status = 1;
        }
    }
    std::fflush(stdout);
    return std::ferror(stdout) ? 1 : status;
}

}  // namespace
}  // namespace ruva

int main(int argc, char** argv) { return ruva::run(argc, argv); }
