// The row scan's C interface: kinds, missing and empty values, several matches, conversion
// failures, namespaces, folders and scans ended early.
#include "tarnRuntime.h"
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace tesseltest;

namespace {

struct Col {
    const char *name;
    int kind;
    const char *path;
};

// A scan's rows, each value shown as text ("NULL" for null), or its failure "STATE message".
struct Result {
    std::vector<std::string> rows; // values joined with '|'
    std::string error;
};

std::string show(const TesselValue &v) {
    if (v.isNull) return "NULL";
    switch (v.kind) {
    case TESSEL_ROWS_DOUBLE:
    case TESSEL_ROWS_REAL: {
        char b[64];
        snprintf(b, sizeof b, "%g", v.real);
        return b;
    }
    case TESSEL_ROWS_INTEGER:
    case TESSEL_ROWS_SMALLINT:
    case TESSEL_ROWS_BIGINT:
        return std::to_string(v.integer);
    default:
        return std::string(v.text, v.length);
    }
}

// Scans with the request's source; maxRows rows at most (0: all), fetched two at a time.
Result scan(TesselRowsRequest request, const std::string &rowPath, const std::vector<Col> &cols,
            size_t maxRows = 0) {
    std::vector<TesselRowsColumn> columns;
    for (const Col &c : cols)
        columns.push_back({c.name, c.kind, c.path});
    request.rowPath = rowPath.c_str();
    request.columns = columns.data();
    request.columnCount = static_cast<int>(columns.size());
    Result r;
    char state[6];
    char message[256];
    TesselRows *rows = nullptr;
    if (tessel_rows_open(&request, &rows, state, message, sizeof message) != 0) {
        EXPECT_EQ(rows, nullptr);
        r.error = std::string(state) + " " + message;
        return r;
    }
    std::vector<TesselValue> values(2 * cols.size());
    for (int got = 1; got > 0 && (maxRows == 0 || r.rows.size() < maxRows);) {
        const int want =
            maxRows == 0 ? 2 : static_cast<int>(std::min<size_t>(2, maxRows - r.rows.size()));
        if (tessel_rows_fetch(rows, values.data(), want, &got, state, message, sizeof message) !=
            0) {
            r.error = std::string(state) + " " + message;
            break;
        }
        for (int i = 0; i < got; ++i) {
            std::string row;
            for (size_t c = 0; c < cols.size(); ++c)
                row += (c ? "|" : "") + show(values[i * cols.size() + c]);
            r.rows.push_back(row);
        }
    }
    tessel_rows_close(rows);
    return r;
}

Result scanText(const std::string &doc, const std::string &rowPath, const std::vector<Col> &cols,
                int flags = 0, std::vector<const char *> ns = {}) {
    TesselRowsRequest request{};
    request.text = doc.c_str();
    request.flags = flags;
    request.namespaces = ns.data();
    request.namespaceCount = static_cast<int>(ns.size());
    return scan(request, rowPath, cols);
}

const char *kOrder = R"(<po><item sku="a&amp;b" n="1"><name>Nut &amp; bolt</name><qty> 12 </qty>
<price>1.5</price><when>2024-3-5 9:08:07.25</when><d>2024-03-05</d><note/><x><y>deep</y></x></item>
<item sku="c" n="2"><name></name><qty>-7</qty><price>2e3</price><note>5</note></item></po>)";

} // namespace

TEST(Rows, KindsMissingAndEmpty) {
    const std::vector<Col> cols = {{"sku", TESSEL_ROWS_TEXT, "@sku"},
                                   {"name", TESSEL_ROWS_CHAR, "name"},
                                   {"qty", TESSEL_ROWS_INTEGER, "qty"},
                                   {"big", TESSEL_ROWS_BIGINT, "qty"},
                                   {"small", TESSEL_ROWS_SMALLINT, "qty"},
                                   {"price", TESSEL_ROWS_DOUBLE, "price"},
                                   {"real", TESSEL_ROWS_REAL, "price"},
                                   {"when", TESSEL_ROWS_TIMESTAMP, "when"},
                                   {"d", TESSEL_ROWS_DATE, "d"},
                                   {"note", TESSEL_ROWS_TEXT, "note"},
                                   {"noteint", TESSEL_ROWS_INTEGER, "note"},
                                   {"deep", TESSEL_ROWS_TEXT, "//y"},
                                   {"frag", TESSEL_ROWS_FRAGMENT, "x"},
                                   {"n1", TESSEL_ROWS_TEXT, "/name"}};
    const Result r = scanText(kOrder, "/po/item", cols);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.rows.size(), 2u);
    // Unescaped values; a missing column is NULL, an empty element '' as text, NULL as a number.
    EXPECT_EQ(r.rows[0], "a&b|Nut & bolt|12|12|12|1.5|1.5|2024-03-05 09:08:07.250000|2024-03-05|"
                         "|NULL|deep|<x><y>deep</y></x>|Nut & bolt");
    EXPECT_EQ(r.rows[1], "c||-7|-7|-7|2000|2000|NULL|NULL|5|5|NULL|NULL|");
    // A path with two steps after "//" is matched on the open elements, not per depth: the
    // other columns keep their values.
    std::vector<Col> general = cols;
    general.push_back({"xy", TESSEL_ROWS_TEXT, "//x/y"});
    const Result g = scanText(kOrder, "/po/item", general);
    ASSERT_EQ(g.rows.size(), 2u);
    EXPECT_EQ(g.rows[0], r.rows[0] + "|deep");
    EXPECT_EQ(g.rows[1], r.rows[1] + "|NULL");
    // The row's own text, attributes on a step, the predicate and "*".
    const Result own = scanText("<r><i k=\"1\">a<b t=\"x\">B1</b><b t=\"y\">B2</b></i></r>", "/r/i",
                                {{"self", TESSEL_ROWS_TEXT, "."},
                                 {"bt", TESSEL_ROWS_TEXT, "b/@t"},
                                 {"by", TESSEL_ROWS_TEXT, "b[@t=\"y\"]"},
                                 {"any", TESSEL_ROWS_TEXT, "*"},
                                 {"frag", TESSEL_ROWS_FRAGMENT, "b[@t=\"x\"]"}});
    EXPECT_EQ(own.error, "");
    EXPECT_EQ(own.rows, std::vector<std::string>{"a|x|B2|B1|<b t=\"x\">B1</b>"});
    // A fragment escapes what XML requires.
    EXPECT_EQ(
        scanText("<r><i a='&lt;&quot;'>1 &lt; 2</i></r>", "/r", {{"f", TESSEL_ROWS_FRAGMENT, "i"}})
            .rows,
        std::vector<std::string>{"<i a=\"&lt;&quot;\">1 &lt; 2</i>"});
}

TEST(Rows, SeveralMatchesAndConversionFailures) {
    const std::string doc = "<r><i><v>1</v><v>2</v></i><i><v>x7</v></i><i><v>3</v></i></r>";
    const std::vector<Col> cols = {{"v", TESSEL_ROWS_INTEGER, "v"}};
    struct Case {
        int flags;
        std::vector<std::string> rows;
        std::string error;
    } cases[] = {
        // The first match; a bad value ends the scan after the rows before it, naming them.
        {0, {"1"}, "38X29 row 2: column v: the value 'x7' does not convert to INTEGER"},
        {TESSEL_ROWS_BAD_NULL, {"1", "NULL", "3"}, ""},
        {TESSEL_ROWS_SEVERAL_FAIL | TESSEL_ROWS_BAD_NULL,
         {},
         "38X08 row 1: column v matches more than once"},
    };
    for (const Case &c : cases) {
        const Result r = scanText(doc, "/r/i", cols, c.flags);
        EXPECT_EQ(r.rows, c.rows) << c.flags;
        EXPECT_EQ(r.error, c.error) << c.flags;
    }
    // The next scan of the same paths starts clean after one that failed inside a row.
    EXPECT_EQ(scanText("<r><i><v>4</v></i></r>", "/r/i", cols, cases[2].flags).rows,
              std::vector<std::string>{"4"});
    // Out of range, too long, and bad forms for the other kinds.
    const struct {
        int kind;
        const char *text;
        const char *state;
    } bad[] = {{TESSEL_ROWS_SMALLINT, "40000", "38X29"},
               {TESSEL_ROWS_INTEGER, "2147483648", "38X29"},
               {TESSEL_ROWS_BIGINT, "1.5", "38X29"},
               {TESSEL_ROWS_DOUBLE, "1,5", "38X29"},
               {TESSEL_ROWS_TIMESTAMP, "2024/01/01", "38X29"},
               {TESSEL_ROWS_DATE, "2024-01-01x", "38X39"}};
    for (const auto &b : bad) {
        const Result r =
            scanText(std::string("<r><i>") + b.text + "</i></r>", "/r", {{"c", b.kind, "i"}});
        EXPECT_EQ(r.error.substr(0, 5), b.state) << b.text;
        EXPECT_NE(r.error.find(b.text), std::string::npos) << r.error;
    }
    EXPECT_EQ(
        scanText("<r><i>-9223372036854775808</i></r>", "/r", {{"c", TESSEL_ROWS_BIGINT, "i"}}).rows,
        std::vector<std::string>{"-9223372036854775808"});
}

TEST(Rows, PathsAndNamespaces) {
    // Syntax errors name the path; a row path must name elements.
    EXPECT_EQ(scanText("<r/>", "r", {}).error.substr(0, 5), "38X09");
    EXPECT_EQ(scanText("<r/>", "/r/@a", {}).error.substr(0, 5), "38X09");
    EXPECT_NE(scanText("<r/>", "/r", {{"bad", TESSEL_ROWS_TEXT, "a[@b"}}).error.find("column bad"),
              std::string::npos);
    // Without bindings names match as written; with them by URI, whatever the document's prefix.
    const std::string doc =
        R"(<o:po xmlns:o="urn:o" xmlns="urn:d"><o:item id="1"><qty>2</qty></o:item>)"
        R"(<item xmlns="urn:o" id="2"><qty xmlns="urn:d">3</qty></item><qty>9</qty></o:po>)";
    const std::vector<Col> cols = {{"id", TESSEL_ROWS_TEXT, "@id"},
                                   {"q", TESSEL_ROWS_INTEGER, "qty"}};
    EXPECT_EQ(scanText(doc, "/o:po/o:item", cols).rows, std::vector<std::string>{"1|2"});
    EXPECT_EQ(scanText(doc, "/p:po/p:item", cols, 0, {"p=urn:o", "=urn:d"}).rows,
              (std::vector<std::string>{"1|2", "2|3"}));
    EXPECT_EQ(scanText(doc, "/p:po/p:item", cols, 0, {"p=urn:o"}).rows,
              (std::vector<std::string>{"1|NULL", "2|NULL"}));
    EXPECT_EQ(
        scanText(doc, "/p:po/qty", {{"q", TESSEL_ROWS_TEXT, "."}}, 0, {"p=urn:o", "=urn:d"}).rows,
        std::vector<std::string>{"9"});
    // A prefixed attribute matches by URI too, in columns and predicates; an unprefixed one is
    // in no namespace, and one of a namespace without a binding matches only "*". Fragments
    // keep the names the document writes.
    const std::string linked = R"(<r xmlns:a="urn:l" xmlns:b="urn:l" xmlns:c="urn:c">)"
                               R"(<i a:ref="1" ref="x"/><i b:ref="2" c:ref="y"/></r>)";
    const std::vector<Col> refs = {{"l", TESSEL_ROWS_TEXT, "@k:ref"},
                                   {"plain", TESSEL_ROWS_TEXT, "@ref"},
                                   {"f", TESSEL_ROWS_FRAGMENT, "."}};
    EXPECT_EQ(scanText(linked, "/r/i", refs, 0, {"k=urn:l"}).rows,
              (std::vector<std::string>{R"(1|x|<i a:ref="1" ref="x"></i>)",
                                        R"(2|NULL|<i b:ref="2" c:ref="y"></i>)"}));
    for (const char *row : {R"(/r/i[@k:ref="2"])", R"(//r/i[@k:ref="2"])"})
        EXPECT_EQ(scanText(linked, row, {{"c", TESSEL_ROWS_TEXT, "@*"}}, 0, {"k=urn:l"}).rows,
                  std::vector<std::string>{"2"})
            << row;
}

TEST(Rows, FilesFoldersAndEarlyEnds) {
    const std::string dir = scratchDir() + "/rows";
    mkdir(dir.c_str(), 0700);
    writeFile(dir + "/a.xml", "<r><i>1</i><i>2</i></r>");
    writeFile(dir + "/b.xml", "<r><i>3</i></r>");
    writeFile(dir + "/c.txt", "<r><i>no</i></r>");
    const std::vector<Col> cols = {{"i", TESSEL_ROWS_INTEGER, "."}};
    TesselRowsRequest request{};
    request.folder = dir.c_str();
    request.pattern = "*.xml";
    EXPECT_EQ(scan(request, "/r/i", cols).rows, (std::vector<std::string>{"1", "2", "3"}));
    // The listing's names count against the memory budget.
    for (int i = 0; i < 64; ++i)
        writeFile(dir + "/filler-" + std::to_string(i) + repeat("x", 100) + ".xml", "<r/>");
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, "8192");
    EXPECT_EQ(scan(request, "/r/i", cols).error.substr(0, 5), "38X13");
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, nullptr);
    for (int i = 0; i < 64; ++i)
        unlink((dir + "/filler-" + std::to_string(i) + repeat("x", 100) + ".xml").c_str());
    request = {};
    const std::string file = dir + "/b.xml";
    request.file = file.c_str();
    EXPECT_EQ(scan(request, "/r/i", cols).rows, std::vector<std::string>{"3"});

    // A malformed file and a link out of the allowed directory each end the scan, named.
    writeFile(dir + "/d.xml", "<r><i>4</i><i>5</r>");
    request = {};
    request.folder = dir.c_str();
    request.pattern = "*.xml";
    Result r = scan(request, "/r/i", cols);
    EXPECT_EQ(r.rows, (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_NE(r.error.find("d.xml"), std::string::npos) << r.error;
    unlink((dir + "/d.xml").c_str());
    ASSERT_EQ(symlink("/etc/hostname", (dir + "/e.xml").c_str()), 0);
    r = scan(request, "/r/i", cols);
    EXPECT_EQ(r.error.substr(0, 5), "38X02") << r.error;
    EXPECT_NE(r.error.find("e.xml"), std::string::npos) << r.error;
    unlink((dir + "/e.xml").c_str());
    // A folder or file outside the rule is refused before any row.
    request.folder = "/etc";
    EXPECT_EQ(scan(request, "/r/i", cols).error.substr(0, 5), "38X02");
    request = {};
    request.file = "/etc/hostname";
    EXPECT_EQ(scan(request, "/r/i", cols).error.substr(0, 5), "38X02");

    // A malformed tail: the first row comes, a full read fails; a long document left in the
    // middle (its parse paused on the fiber) is closed without leaks.
    const std::string tail = "<r>" + repeat("<i>1</i>", 500) + "<i>2</i></x>";
    request = {};
    request.text = tail.c_str();
    r = scan(request, "/r/i", cols, 1);
    EXPECT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.error, "");
    r = scan(request, "/r/i", cols);
    EXPECT_EQ(r.rows.size(), 501u);
    EXPECT_EQ(r.error.substr(0, 5), "38X13") << r.error;

    // A sound document that the quick reader leaves late (a name it does not take, past its
    // first window of a file) is read again by the full parser: every row once.
    const std::string late = "<r>" + repeat("<i>1</i>", 40000) + "<i>2<\xC3\xA9/></i></r>";
    writeFile(dir + "/late.xml", late);
    const std::string lateFile = dir + "/late.xml";
    for (bool fromFile : {false, true}) {
        request = {};
        (fromFile ? request.file : request.text) = fromFile ? lateFile.c_str() : late.c_str();
        r = scan(request, "/r/i", cols);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.rows.size(), 40001u);
        EXPECT_EQ(r.rows.back(), "2");
    }
    unlink(lateFile.c_str());
}

TEST(Rows, ClobAsItsText) {
    // A small CLOB is parsed from memory, one past the file threshold from a temporary file:
    // both give the rows of their text, and the scan leaves no file behind.
    const std::vector<Col> cols = {{"n", TESSEL_ROWS_INTEGER, "@n"}, {"v", TESSEL_ROWS_TEXT, "."}};
    for (const std::string &doc :
         {std::string(kOrder), "<po>" + repeat("<item n=\"7\">a &amp; b</item>", 6000) + "</po>"}) {
        sqludf_locator loc = tarnLobFromBytes(doc.data(), static_cast<int32_t>(doc.size()));
        TesselRowsRequest request{};
        request.clob = &loc;
        const Result fromClob = scan(request, "/po/item", cols);
        EXPECT_EQ(fromClob.error, "");
        EXPECT_EQ(fromClob.rows, scanText(doc, "/po/item", cols).rows);
        tarnLobFree(loc);
        EXPECT_EQ(openFilesIn(tempDir()), 0u);
        EXPECT_TRUE(listDir(tempDir()).empty());
    }
}

// Hostile documents through the row scan stop as every parse does, whichever reader meets them
// first: a cancel, nesting past the bound, entity expansion; a tag too long for the quick reader
// is read by the parser.
TEST(Rows, HostileDocumentsAreBounded) {
    const std::vector<Col> cols = {{"v", TESSEL_ROWS_TEXT, "@v"}};
    std::string many = "<o>";
    for (int i = 0; i < 20000; ++i)
        many += "<i v='1'/>";
    many += "</o>";
    tarnSetCancelCheck([] { return 1; });
    Result r = scanText(many, "/o/i", cols);
    tarnSetCancelCheck(nullptr);
    EXPECT_EQ(r.error.substr(0, 5), "57014") << r.error;
    EXPECT_LT(r.rows.size(), 20000u);

    std::string deep;
    for (int i = 0; i <= 100000; ++i)
        deep += "<e>";
    r = scanText(deep, "/e", cols);
    EXPECT_NE(r.error.find("38X13 QAPQ047E  Parser error on line 1 column 300004: element nesting"),
              std::string::npos)
        << r.error;

    std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" +
                  repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    laughs += "]><a><i v='&l9;'/></a>";
    EXPECT_EQ(scanText(laughs, "/a/i", cols).error.substr(0, 5), "38X13");

    const std::string wide = "<o><i v='" + repeat("w", 1200000) + "'/><i v='x'/></o>";
    r = scanText(wide, "/o/i", cols);
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0].size(), 1200000u);
    EXPECT_EQ(r.rows[1], "x");
}
