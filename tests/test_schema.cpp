// Validation against an XML Schema through the C interface: what the schema validator checks,
// every error in the rows form, which schema documents it may read, and hostile schemas
// stopped within the memory budget, an address-space limit and a second or so.
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using tesseltest::repeat;
using tesseltest::runInChild;
using tesseltest::scratchDir;
using tesseltest::writeFile;

namespace {

const std::string kXs = "xmlns:xs='http://www.w3.org/2001/XMLSchema'";

// A call object for one statement, closed at the end of the test.
struct Call {
    TesselSchemaCall *call;
    TesselStatus status{};
    Call() : call(tessel_schema_open(&status)) {}
    ~Call() { tessel_schema_close(call); }
    // "1", or the SQLSTATE and the whole message.
    std::string validate(const std::string &doc, const std::string &schema, uint32_t flags = 0) {
        if (tessel_validate_schema(call, doc.c_str(), schema.c_str(), flags, &status) == 1)
            return "1";
        return std::string(status.sqlstate) + " " + tessel_schema_detail(call);
    }
    // Every error as "line:column message", one a line.
    std::string errors(const std::string &doc, const std::string &schema, uint32_t limit) {
        const int32_t n =
            tessel_schema_errors(call, doc.c_str(), schema.c_str(), 0, limit, &status);
        if (n < 0) return std::string(status.sqlstate) + " " + tessel_schema_detail(call);
        std::string out;
        uint64_t line, column;
        const char *message;
        for (uint32_t i = 0; tessel_schema_error(call, i, &line, &column, &message); ++i)
            out += std::to_string(line) + ":" + std::to_string(column) + " " + message + "\n";
        return out;
    }
};

std::string schema(const std::string &body, const std::string &attrs = "") {
    return "<xs:schema " + kXs + " " + attrs + ">" + body + "</xs:schema>";
}

} // namespace

TEST(Schema, ValidatesWhatTheSchemaSays) {
    const std::string order = schema(
        "<xs:element name='order'><xs:complexType><xs:sequence>"
        "<xs:element name='item' type='t:item' maxOccurs='unbounded'/></xs:sequence>"
        "<xs:attribute name='ref' type='t:ref'/></xs:complexType>"
        "<xs:key name='k'><xs:selector xpath='t:item'/><xs:field xpath='@sku'/></xs:key>"
        "</xs:element>"
        "<xs:complexType name='item'><xs:attribute name='sku' type='xs:string'/>"
        "<xs:attribute name='qty' type='t:qty' use='required'/></xs:complexType>"
        "<xs:complexType name='bulk'><xs:complexContent><xs:extension base='t:item'>"
        "<xs:attribute name='pallets' type='xs:positiveInteger'/></xs:extension>"
        "</xs:complexContent></xs:complexType>"
        "<xs:simpleType name='qty'><xs:restriction base='xs:integer'><xs:minInclusive "
        "value='1'/><xs:maxExclusive value='100'/></xs:restriction></xs:simpleType>"
        "<xs:simpleType name='ref'><xs:restriction base='xs:string'><xs:pattern "
        "value='[A-Z]{2}(-\\d+)*'/><xs:maxLength value='8'/></xs:restriction></xs:simpleType>",
        "targetNamespace='urn:o' xmlns:t='urn:o' elementFormDefault='qualified'");
    auto doc = [](const std::string &items, const std::string &ref = "AB-1") {
        return "<order xmlns='urn:o' xmlns:xs='http://www.w3.org/2001/XMLSchema' "
               "xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
               "ref='" +
               ref + "'>" + items + "</order>";
    };
    const std::string item = "<item sku='a' qty='3'/>";
    const struct {
        std::string doc;
        const char *result;
    } rows[] = {
        {doc(item + "<item sku='b' qty='99'/>"), "1"},
        {doc("<item xsi:type='bulk' sku='a' qty='3' pallets='2'/>"), "1"},
        {doc("<item sku='a' qty='3' pallets='2'/>"), "attribute 'pallets' is not declared"},
        {doc("<item xsi:type='xs:string' sku='a' qty='1'/>"), "does not derive from"},
        {doc(item + "<item sku='a' qty='4'/>"), "duplicate identity constraint key"},
        {doc("<item sku='a' qty='100'/>"), "maxExclusive"},
        {doc("<item sku='a'/>"), "missing required attribute 'qty'"},
        {doc(item, "AB-1-2-3-4"), "maxLength"},
        {doc(item, "A1"), "regular expression"},
        {"<order xmlns='urn:other'/>", "grammar not found for namespace 'urn:other'"},
        {doc(""), "empty content is not valid"},
        {"<order xmlns='urn:o'><item qty='1'></order>", "expected end of tag"},
    };
    Call call;
    for (const auto &row : rows) {
        const std::string got = call.validate(row.doc, order);
        if (std::string(row.result) == "1") {
            EXPECT_EQ(got, "1") << row.doc;
        } else {
            EXPECT_EQ(got.substr(0, 46), "38X13 QAPQ047E  Parser error on line 1 column ")
                << row.doc;
            EXPECT_NE(got.find(row.result), std::string::npos) << row.doc << "\n" << got;
        }
    }
    // The rows form: every error, where the parser was, up to the limit.
    const std::string bad = "<order xmlns='urn:o' ref='x'>\n<item qty='0'/>\n<item qty='x' "
                            "sku='s'/>\n<other/></order>";
    EXPECT_EQ(call.errors(bad, order, 10),
              "1:30 value 'x' does not match regular expression facet '[A-Z]{2}(-\\d+)*'\n"
              "2:16 value '0' must be greater than or equal to minInclusive facet value '1'\n"
              "2:16 element 'order' has identity constraint key with no value\n"
              "3:24 value 'x' does not match regular expression facet '[+\\-]?[0-9]+'\n"
              "4:9 no declaration found for element 'other'\n"
              "4:17 element 'other' is not allowed for content model '(item+)'\n");
    EXPECT_EQ(call.errors(bad, order, 2).find("3:22"), std::string::npos);
    EXPECT_EQ(call.errors(doc(item), order, 10), "");
    EXPECT_EQ(call.errors("<order", order, 10).substr(0, 4), "1:7 ");
    // A broken schema is the call's error, named as the schema's.
    EXPECT_NE(
        call.validate(doc(item), schema("<xs:element name='a' type='nope'/>")).find("Schema: "),
        std::string::npos);
}

TEST(Schema, ReadsOnlyTheSchemaDocumentsItMay) {
    const std::string dir = scratchDir() + "/xsd";
    mkdir(dir.c_str(), 0700);
    char away[] = "/tmp/tessel-xsd-XXXXXX";
    ASSERT_NE(mkdtemp(away), nullptr);
    const std::string outside = std::string(away) + "/outside.xsd";
    writeFile(outside, schema("<xs:element name='b'/>"));
    writeFile(dir + "/b.xsd", schema("<xs:element name='b' type='xs:int'/>"));
    writeFile(dir + "/main.xsd", schema("<xs:include schemaLocation='b.xsd'/>"
                                        "<xs:element name='a'/>"));
    writeFile(dir + "/away.xsd", schema("<xs:include schemaLocation='" + outside + "'/>"));
    writeFile(dir + "/cycle.xsd", schema("<xs:include schemaLocation='cycle.xsd'/>"
                                         "<xs:element name='c'/>"));
    writeFile(dir + "/b.xml", "<b>12</b>");
    const uint32_t files = TESSEL_SCHEMA_XSD_FILE;
    Call call;
    EXPECT_EQ(call.validate("<b>12</b>", dir + "/main.xsd", files), "1");
    EXPECT_EQ(call.validate(dir + "/b.xml", dir + "/main.xsd", files | TESSEL_SCHEMA_DOC_FILE),
              "1");
    EXPECT_NE(call.validate("<b>x</b>", dir + "/main.xsd", files).find("'x'"), std::string::npos);
    EXPECT_EQ(call.validate("<c/>", dir + "/cycle.xsd", files), "1");
    EXPECT_NE(call.validate("<b/>", dir + "/away.xsd", files).find("Not an allowed file: "),
              std::string::npos);
    EXPECT_EQ(call.validate("<b/>", outside, files).substr(0, 5), "38X02");
    // A schema given as text reads no other document, allowed or not.
    EXPECT_NE(call.validate("<b/>", schema("<xs:include schemaLocation='" + dir + "/b.xsd'/>"))
                  .find("Schema document not read: "),
              std::string::npos);
    // A document's hints are not read unless external entities are allowed; the DOCTYPE's
    // DTD never is.
    const std::string hinted = "<b xmlns:xsi='http://www.w3.org/2001/XMLSchema-instance' "
                               "xsi:noNamespaceSchemaLocation='" +
                               outside + "'>x</b>";
    const std::string local = schema("<xs:element name='b' type='xs:int'/>");
    EXPECT_NE(call.validate(hinted, local).find("'x'"), std::string::npos);
    const std::string elsewhere = "<h xmlns='urn:h' xmlns:xsi='http://www.w3.org/2001/"
                                  "XMLSchema-instance' xsi:schemaLocation='urn:h " +
                                  outside + "'/>";
    EXPECT_NE(call.validate(elsewhere, local).find("grammar not found"), std::string::npos);
    EXPECT_EQ(call.validate("<!DOCTYPE b SYSTEM '/etc/passwd'><b>1</b>", local), "1");
    {
        tesseltest::ScopedEnv allow("TARN_EXTERNAL_ENTITIES", "YES");
        Call allowed;
        EXPECT_NE(allowed.validate(elsewhere, local).find("Not an allowed"), std::string::npos);
    }
    unlink(outside.c_str());
    rmdir(away);
}

namespace {

// The validation in a child process under the address-space limit (not with the address
// sanitizer, which reserves terabytes): its SQLSTATE and message start, and its milliseconds.
std::string bounded(const std::string &doc, const std::string &xsd) {
    return runInChild([&] {
#if !defined(__SANITIZE_ADDRESS__)
        const rlimit limit{size_t{1} << 30, size_t{1} << 30};
        setrlimit(RLIMIT_AS, &limit);
#endif
        setenv("TARN_MAX_PARSE_MEMORY", "67108864", 1);
        const auto start = std::chrono::steady_clock::now();
        Call call;
        std::string told = call.validate(doc, xsd).substr(0, 80);
        told += " " + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
        return told;
    });
}

} // namespace

TEST(Schema, HostileSchemasAreBounded) {
    auto chain = [](const char *kind, int n) {
        std::string s = "<xs:element name='r' type='t0'/>";
        for (int i = 0; i < n; ++i)
            s += std::string(kind) == "c"
                     ? "<xs:complexType name='t" + std::to_string(i) +
                           "'><xs:complexContent><xs:extension base='t" + std::to_string(i + 1) +
                           "'/></xs:complexContent></xs:complexType>"
                     : "<xs:simpleType name='t" + std::to_string(i) + "'><xs:restriction base='t" +
                           std::to_string(i + 1) + "'/></xs:simpleType>";
        return schema(s + (std::string(kind) == "c"
                               ? "<xs:complexType name='t" + std::to_string(n) + "'/>"
                               : "<xs:simpleType name='t" + std::to_string(n) +
                                     "'><xs:restriction base='xs:string'/></xs:simpleType>"));
    };
    auto typed = [](const std::string &facets) {
        return schema("<xs:element name='r'><xs:simpleType><xs:restriction base='xs:string'>" +
                      facets + "</xs:restriction></xs:simpleType></xs:element>");
    };
    auto enumeration = [](int n) {
        std::string values;
        for (int i = 0; i < n; ++i)
            values += "<xs:enumeration value='v" + std::to_string(i) + "'/>";
        return values;
    };
    const std::string nested = "<xs:element name='r'><xs:complexType><xs:sequence>";
    const struct {
        std::string doc, xsd;
        const char *result;
    } rows[] = {
        {"<r><a/></r>",
         schema("<xs:element name='r'><xs:complexType><xs:sequence maxOccurs='999999999'>"
                "<xs:element name='a'/><xs:element name='b' minOccurs='0'/></xs:sequence>"
                "</xs:complexType></xs:element>"),
         "Content model too large"},
        {"<r><a/></r>",
         schema(repeat(nested, 3) + "<xs:element name='a' maxOccurs='999999999'/>" +
                repeat("</xs:sequence></xs:complexType></xs:element>", 3)),
         "1"},
        {"<r/>", chain("c", 30000), "nesting exceeds"},
        {"<r>x</r>", chain("s", 30000), "nesting exceeds"},
        {"<r/>",
         schema(repeat(nested, 5000) + repeat("</xs:sequence></xs:complexType>"
                                              "</xs:element>",
                                              5000)),
         "nesting exceeds"},
        {"<r>v19999</r>", typed(enumeration(20000)), "Enumeration too long"},
        {"<r>v16383</r>", typed(enumeration(16384)), "1"},
        {"<r>" + std::string(40, 'a') + "c</r>", typed("<xs:pattern value='(a*)*b'/>"),
         "Pattern may backtrack"},
        {"<r>" + std::string(40, 'a') + "c</r>", typed("<xs:pattern value='(a|aa)+b'/>"),
         "Pattern may backtrack"},
        {"<r>a.b.c</r>", typed("<xs:pattern value='([a-z]+\\.)*[a-z]+'/>"), "1"},
    };
    for (const auto &row : rows) {
        const std::string got = bounded(row.doc, row.xsd);
        EXPECT_NE(got.find(row.result), std::string::npos) << row.result << ": " << got;
        EXPECT_TRUE(got == "1" || got.compare(0, 5, "38X13") == 0 || got.compare(0, 2, "1 ") == 0)
            << got;
        EXPECT_LT(atol(got.substr(got.rfind(' ') + 1).c_str()), 3000) << got;
    }
}
