#include "bmod/ruvaserv/sgml/docperson.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/sgml/entity.h"
#include "tests/bmod/ruvaserv/sgml/sgml_rows.h"

namespace ruva {
namespace {

using test::printed;

std::string tagged(const std::string& text, const char* tag) {
    return text + "<span style='color:#D8D8D8'> [" + tag + "]</span>";
}

std::string val(const std::optional<std::string>& s) { return s ? *s : "(null)"; }

// One line per person: every field, "(null)" for none.
std::string dump(const TavrPerson* list) {
    std::string out;
    for (const TavrPerson* p = list; p; p = p->next) {
        out += "name=" + val(p->name) + " sig=" + val(p->signature) + " ini=" + val(p->initials) +
               " flags=" + std::to_string(p->flags) + " addr=" + std::to_string(p->addressType);
        if (p->addressType == TAVRADDRESS_INTERNAL)
            out += " " + val(p->internalAddress.location) + "|" + val(p->internalAddress.company) + "|" +
                   val(p->internalAddress.department);
        if (p->addressType == TAVRADDRESS_EXTERNAL) out += " " + val(p->ext_addr);
        for (const std::string& l : p->XTAVRaddress.line) out += " [" + l + "]";
        out += " phone=" + std::to_string(p->phoneType);
        if (p->phoneType == TAVRPHONE_ECN) out += " " + val(p->ECN_phone.ECN_code) + "|" + val(p->ECN_phone.extension);
        if (p->phoneType == TAVRPHONE_PUBLIC) out += " " + val(p->public_no);
        out += "\n";
    }
    return out;
}

// Internal address AB/CD/EF/GH, ECN phone 850 1234.
TavrPerson johnSmith() {
    TavrPerson p;
    p.name = "John Smith";
    p.addressType = TAVRADDRESS_INTERNAL;
    p.internalAddress = {"AB", "CD", "EF/GH"};
    p.phoneType = TAVRPHONE_ECN;
    p.ECN_phone = {"850", "1234"};
    return p;
}

struct CollectCase {
    const char* text;
    std::string person;
};

class DocPersonTest : public ::testing::Test {
protected:
    // Each text collected into a fresh slot gives its one person.
    template <size_t N>
    void expectCollected(int (DocPerson::*collect)(TavrPerson**, const char*), const CollectCase (&cases)[N]) {
        for (const CollectCase& c : cases) {
            SCOPED_TRACE(c.text);
            TavrPerson* slot = nullptr;
            EXPECT_EQ((dp.get()->*collect)(&slot, c.text), 1) << dp->getError();
            EXPECT_EQ(dump(slot), c.person);
            dp->freeTavrPerson(slot);
        }
    }

    void SetUp() override {
        ss = newSgmlScanner(0);
        dp = newDocPerson(0);
        en = newEntity(0);
        ASSERT_TRUE(ss && dp && en);
        osnl = ss->newNodeList(0);
        ASSERT_TRUE(osnl);
    }
    void TearDown() override { dp->clear(); }

    // Scans markup and lets the DocPerson read it.
    SgmlNode* scan(const std::string& markup) {
        text = markup;
        EXPECT_EQ(ss->registerInput(text.data(), text.size()), 1) << ss->getError();
        isnl = ss->newNodeList(0);
        EXPECT_EQ(ss->buildNodeList(isnl.get()), 1) << ss->getError();
        dp->init(ss.get(), isnl.get(), osnl.get(), en.get(), DNOTYPE_REFERENCE);
        return isnl->firstNode;
    }

    std::unique_ptr<SgmlScanner> ss;
    std::unique_ptr<DocPerson> dp;
    std::unique_ptr<Entity> en;
    std::unique_ptr<SgmlNodeList> isnl, osnl;
    std::string text;
};

TEST_F(DocPersonTest, CreateTavrPersonReadsPersonElements) {
    struct Case {
        const char* name;
        const char* markup;
        std::string persons;
        const char* leftOn;  // tag the node pointer is left on; null for the list's end
    };
    const Case cases[] = {
        {"closed person followed by an element",
         "<PERSON><NAME>John Smith</NAME><SIGNATURE>JSM</SIGNATURE></PERSON><TITLE>x</TITLE>",
         "name=John Smith sig=JSM ini=(null) flags=0 addr=0 phone=0\n", "TITLE"},
        {"two persons in a row",
         "<person><name>A</name></person>\n<person><name>B</name><initials>BB</initials></person>",
         "name=A sig=(null) ini=(null) flags=0 addr=0 phone=0\nname=B sig=(null) ini=BB flags=0 addr=0 phone=0\n",
         nullptr},
        {"fixture's drafted-by",
         "<PERSON><NAME>John Smith</NAME><SIGNATURE>JSM</SIGNATURE><LOCATION>AB</LOCATION><COMPANY>CD</COMPANY>"
         "<DEPARTMENT>EF/GH</DEPARTMENT><PHONE><ECN-CODE>850</ECN-CODE><EXTENSION>1234</EXTENSION></PHONE>"
         "</PERSON></DRAFTED-BY>",
         "name=John Smith sig=JSM ini=(null) flags=0 addr=1 AB|CD|EF/GH phone=1 850|1234\n", "/DRAFTED-BY"},
        {"a missing end tag stops the field at the next tag",
         "<PERSON><NAME>Anna<INITIALS>AB</PERSON><P>later text</P>",
         "name=Anna sig=(null) ini=AB flags=0 addr=0 phone=0\n", "P"},
        {"another tag inside ends the person", "<PERSON><NAME>A</NAME><P>x</P>",
         "name=A sig=(null) ini=(null) flags=0 addr=0 phone=0\n", "P"},
        {"empty field stays null", "<PERSON><NAME> </NAME><PUBLIC-NO>+46 8</PUBLIC-NO></PERSON>",
         "name=(null) sig=(null) ini=(null) flags=0 addr=0 phone=2 +46 8\n", nullptr},
        {"external address", "<PERSON><EXT-ADDR>\nStreet 1</EXT-ADDR></PERSON>",
         "name=(null) sig=(null) ini=(null) flags=0 addr=2 Street 1 phone=0\n", nullptr},
        {"XTAVR address with two lines",
         "<PERSON><EXT-ADDR><line>Street 1</line>\n<line>City</line>\n</EXT-ADDR><NAME>N</NAME></PERSON>",
         "name=N sig=(null) ini=(null) flags=0 addr=3 [Street 1] [City] phone=0\n", nullptr},
        {"a newline first gives an external address",
         "<PERSON><EXT-ADDR>\n<line>Street 1</line></EXT-ADDR></PERSON>",
         "name=(null) sig=(null) ini=(null) flags=0 addr=2 Street 1 phone=0\n", nullptr},
        {"comments are passed over", "<!-- c --><PERSON><NAME>A</NAME></PERSON>",
         "name=A sig=(null) ini=(null) flags=0 addr=0 phone=0\n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SgmlNode* node = scan(c.markup);
        TavrPerson* list = dp->createTavrPerson(&node);
        EXPECT_EQ(dump(list), c.persons) << dp->getError();
        if (c.leftOn) {
            ASSERT_TRUE(node);
            EXPECT_STREQ(node->text(), c.leftOn);
        } else {
            EXPECT_TRUE(!node || node->state == SPS_EOF);
        }
        dp->freeTavrPerson(list);
    }
}

TEST_F(DocPersonTest, FieldTextsAreEntityExpanded) {
    SgmlNode* node = scan("<PERSON><NAME>\nA &amp; B&#233;</NAME><SIGNATURE>&unknown;</SIGNATURE></PERSON>");
    TavrPerson* list = dp->createTavrPerson(&node);
    EXPECT_EQ(dump(list), "name=A &amp; B\xe9 sig=&unknown; ini=(null) flags=0 addr=0 phone=0\n");
    dp->freeTavrPerson(list);
}

TEST_F(DocPersonTest, UnclosedFieldsOfManyPersonsStayInTheirElement) {
    std::string markup;
    for (int i = 0; i < 20000; ++i) markup += "<PERSON><NAME>n" + std::to_string(i) + "<SIGNATURE>S\n";
    markup += "<TITLE>end</TITLE>";
    SgmlNode* node = scan(markup);
    TavrPerson* list = dp->createTavrPerson(&node);
    ASSERT_EQ(dp->countPersons(list), 20000);
    int i = 0;
    for (const TavrPerson* p = list; p; p = p->next, ++i) {
        ASSERT_EQ(p->name, "n" + std::to_string(i));
        ASSERT_EQ(p->signature, "S");
    }
    EXPECT_STREQ(node->text(), "TITLE");
    dp->freeTavrPerson(list);
}

TEST_F(DocPersonTest, CreateTavrPersonErrors) {
    SgmlNode* node = scan("<TITLE>x</TITLE>");
    EXPECT_EQ(dp->createTavrPerson(&node), nullptr);
    EXPECT_EQ(dp->getError(), tagged("Failure during parsing of node list, Person tag expected.<br><br>",
                                     "docperson/3"));
    EXPECT_STREQ(node->text(), "TITLE");

    node = scan("just text");
    EXPECT_EQ(dp->createTavrPerson(&node), nullptr);
    EXPECT_EQ(dp->getError(), tagged("Failure during parsing of node list, Person tag expected.<br><br>",
                                     "docperson/5"));
    EXPECT_EQ(node, nullptr);

    dp->init(nullptr, isnl.get(), osnl.get(), en.get(), DNOTYPE_REFERENCE);
    node = isnl->firstNode;
    EXPECT_EQ(dp->createTavrPerson(&node), nullptr);
    EXPECT_EQ(dp->getError(), tagged("Internal data structure \"DocPerson\" not initialized.<br><br>",
                                     "docperson/2"));
}

TEST_F(DocPersonTest, CollectPersonSplitsAddressAndPerson) {
    const CollectCase cases[] = {
        {"AB/CD/EF/GH SMITH John", "name=John sig=SMITH ini=(null) flags=0 addr=1 AB|CD|EF/GH phone=0\n"},
        {"AB/CD/EF SMITH John", "name=John sig=SMITH ini=(null) flags=0 addr=1 (null)|AB|CD/EF phone=0\n"},
        {"ABC/CD/EF/GH X", "name=(null) sig=X ini=(null) flags=0 addr=1 (null)|ABC|CD/EF/GH phone=0\n"},
        {"(John Smith)", "name=John Smith sig=(null) ini=(null) flags=1 addr=1 (null)|(null)|(null) phone=0\n"},
        {"John Smith (x)", "name=John Smith  sig=(null) ini=(null) flags=0 addr=1 (null)|(null)|(null) phone=0\n"},
        {"  AB/CD SMITH\nnext line", "name=(null) sig=SMITH ini=(null) flags=0 addr=1 (null)|AB|CD phone=0\n"},
        {"AB/CD 123", "name=(null) sig=(null) ini=(null) flags=0 addr=1 (null)|AB|CD phone=0\n"},
        {"", "name=(null) sig=(null) ini=(null) flags=0 addr=1 (null)|(null)|(null) phone=0\n"},
    };
    expectCollected(&DocPerson::collectPerson, cases);
    // Only 127 characters are used.
    const std::string longName = "A " + std::string(200, 'x');
    EXPECT_EQ(dp->collectPerson(&dp->drafted_by, longName.c_str()), 1);
    EXPECT_EQ(dp->drafted_by->name->size(), 125u);
    // A second person replaces the first.
    EXPECT_EQ(dp->collectPerson(&dp->drafted_by, "B"), 1);
    EXPECT_EQ(dp->countPersons(dp->drafted_by), 1);
}

TEST_F(DocPersonTest, VeskoCollectPersonTakesColonFields) {
    dp->init(ss.get(), nullptr, nullptr, en.get(), DNOTYPE_REFERENCE);
    const CollectCase cases[] = {
        {"Loc:Co:Dept:(John):SIG", "name=John sig=SIG ini=(null) flags=1 addr=1 Loc|Co|Dept phone=0\n"},
        {"L:Co:Dept:John Smith:JS", "name=John Smith sig=JS ini=(null) flags=0 addr=1 (null)|Co|Dept phone=0\n"},
        {"Lo:Co:De:Na:Si:extra", "name=Na sig=Si ini=(null) flags=0 addr=1 Lo|Co|De phone=0\n"},
        {"Lo:Co", "name=(null) sig=(null) ini=(null) flags=0 addr=1 Lo|Co|(null) phone=0\n"},
        {"Lo:Co:De:A<B & C:S&amp;", "name=A&lt;B &amp; C sig=S&amp; ini=(null) flags=0 addr=1 Lo|Co|De phone=0\n"},
    };
    expectCollected(&DocPerson::veskoCollectPerson, cases);
    TavrPerson* slot = nullptr;
    EXPECT_EQ(dp->veskoCollectPerson(&slot, ""), 1);
    EXPECT_EQ(slot, nullptr);
    dp->init(nullptr, nullptr, nullptr, nullptr, DNOTYPE_REFERENCE);
    EXPECT_EQ(dp->veskoCollectPerson(&slot, "a:b"), 0);
    EXPECT_EQ(dp->getError(), tagged("Internal data structure \"DocPerson\" not initialized.<br><br>",
                                     "docperson/8"));
}

TEST_F(DocPersonTest, TavrPersonToStringForms) {
    TavrPerson p = johnSmith();
    p.initials = "JSM";
    TavrPerson ext;
    ext.addressType = TAVRADDRESS_EXTERNAL;
    ext.ext_addr = "Street 1";
    ext.initials = "XY";
    ext.phoneType = TAVRPHONE_PUBLIC;
    ext.public_no = "+46 8";
    TavrPerson xt;
    xt.addressType = XTAVRADDRESS;
    xt.XTAVRaddress.line = {"Street 1", "City"};
    xt.name = "N";
    struct Case {
        const char* name;
        const TavrPerson* person;
        DocnoType type;
        int shortForm;
        const char* line;
    };
    const Case cases[] = {
        {"internal, ECN", &p, DNOTYPE_REFERENCE, 0, "AB/CD/EF/GH John Smith 850 1234"},
        {"short form pads to column 14", &p, DNOTYPE_REFERENCE, 1, "AB/CD/EF/GH   John Smith"},
        {"short form with initials", &ext, DNOTYPE_REFERENCE, 1, "Street 1      XY"},
        {"registration: no location, initials", &p, DNOTYPE_REGISTRATION, 0, "CD/EF/GH  JSM"},
        {"external, public phone", &ext, DNOTYPE_REFERENCE, 0, "Street 1  +46 8 "},
        {"public phone only with reference numbering", &ext, DNOTYPE_OTHER, 0, "Street 1 "},
        {"XTAVR lines", &xt, DNOTYPE_REFERENCE, 0, "Street 1\nCity\nN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dp->dnotype = c.type;
        EXPECT_EQ(val(dp->tavrPersonToString(c.person, c.shortForm)), c.line);
    }
    dp->dnotype = DNOTYPE_REFERENCE;
    ASSERT_EQ(dp->collectPerson(&dp->translated_by, "TR Tom"), 1);
    dp->translated_by->initials = "TT";
    EXPECT_EQ(val(dp->tavrPersonToString(&xt, 0)), "Street 1\nCity\nN/TT");
    EXPECT_EQ(dp->tavrPersonToString(nullptr, 0), std::nullopt);
    EXPECT_EQ(dp->getError(), tagged("Failure by invalid arguments in function call.<br><br>", "docperson/6"));
}

TEST_F(DocPersonTest, OutputTavrPersonReadsBack) {
    dp->init(ss.get(), nullptr, osnl.get(), en.get(), DNOTYPE_REFERENCE);
    TavrPerson p = johnSmith();
    p.signature = "JSM";
    TavrPerson xt;
    xt.initials = "AB";
    xt.addressType = XTAVRADDRESS;
    xt.XTAVRaddress.line = {"Street 1", "City"};
    xt.phoneType = TAVRPHONE_PUBLIC;
    xt.public_no = "+46 8";
    ASSERT_EQ(dp->outputTavrPerson(&p), 1);
    ASSERT_EQ(dp->outputTavrPerson(&xt), 1);
    ASSERT_TRUE(ss->appendSgmlNode(osnl.get(), SPS_EOF, nullptr));
    const std::string markup = printed(ss.get(), osnl.get());
    EXPECT_EQ(markup,
              "<person>\n<name>\nJohn Smith\n</name>\n<signature>\nJSM\n</signature>\n"
              "<location>\nAB\n</location>\n<company>\nCD\n</company>\n<department>\nEF/GH\n</department>\n"
              "<phone>\n<ecn-code>\n850\n</ecn-code>\n<extension>\n1234\n</extension>\n</phone>\n</person>\n"
              "<person>\n<name>\n</name>\n<initials>\nAB\n</initials>\n"
              "<ext-addr><line>Street 1</line>\n<line>City</line>\n</ext-addr>\n"
              "<phone>\n<public-no>\n+46 8\n</public-no>\n</phone>\n</person>\n");
    SgmlNode* node = scan(markup);
    TavrPerson* list = dp->createTavrPerson(&node);
    EXPECT_EQ(dump(list),
              "name=John Smith sig=JSM ini=(null) flags=0 addr=1 AB|CD|EF/GH phone=1 850|1234\n"
              "name=(null) sig=(null) ini=AB flags=0 addr=3 [Street 1] [City] phone=2 +46 8\n");
    dp->freeTavrPerson(list);
}

TEST_F(DocPersonTest, NullPersonWritesTheSkeletonWhichReadsBackEmpty) {
    dp->init(ss.get(), nullptr, osnl.get(), en.get(), DNOTYPE_REFERENCE);
    ASSERT_EQ(dp->outputTavrPerson(nullptr), 1);
    ASSERT_TRUE(ss->appendSgmlNode(osnl.get(), SPS_EOF, nullptr));
    const std::string markup = printed(ss.get(), osnl.get());
    EXPECT_EQ(markup,
              "<person>\n<name>\n</name>\n<signature>\n</signature>\n<location>\n</location>\n"
              "<company>\n</company>\n<department>\n</department>\n</person>\n");
    SgmlNode* node = scan(markup);
    TavrPerson* list = dp->createTavrPerson(&node);
    EXPECT_EQ(dump(list), "name=(null) sig=(null) ini=(null) flags=0 addr=1 (null)|(null)|(null) phone=0\n");
    dp->freeTavrPerson(list);
    dp->init(ss.get(), nullptr, nullptr, en.get(), DNOTYPE_REFERENCE);
    EXPECT_EQ(dp->outputTavrPerson(nullptr), 0);
    EXPECT_EQ(dp->getError(), tagged("Internal data structure \"DocPerson\" not initialized.<br><br>",
                                     "docperson/10"));
}

}  // namespace
}  // namespace ruva
