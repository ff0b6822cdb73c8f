// The table extract, update, validate and storage routines as the host calls them: one table of
// cases per behaviour, through the calling side.
#include "qapFile.h"
#include "tarnCall.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace tesseltest;
using tarn::Input;
using tarn::Outcome;

class Families : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    void TearDown() override {
        EXPECT_TRUE(listDir(tempDir()).empty()) << "a temporary file outlived its call";
    }
};

// One statement of a scalar routine with one call: "state|message|value" (value "NULL").
std::string once(const char *name, const std::vector<Input> &in, int32_t db = 1208) {
    tarn::ScalarStatement st(routine(name), db);
    Outcome o = st.call(in);
    std::string v = o.isNull() ? "NULL" : o.text;
    if (o.isNull() || o.text.empty()) {
        const tarn::SqlType t = routine(name).output;
        if (!o.isNull() && t == tarn::SqlType::INTEGER) v = std::to_string(o.integer);
    }
    return o.sqlstate + "|" + o.message + "|" + v;
}

// Every row of one table statement, then how it ended: "v1,v2,NULL;02000".
std::string table(const char *name, const std::vector<Input> &in) {
    tarn::TableStatement st(routine(name));
    tarn::TableRun run = st.run(in);
    std::string out;
    for (const Outcome &o : run.rows) {
        char n[32];
        snprintf(n, sizeof n, "%g", o.dbl);
        out += (o.isNull()                                      ? "NULL"
                : routine(name).output == tarn::SqlType::DOUBLE ? n
                                                                : o.text) +
               ",";
    }
    return out + ";" + run.end.sqlstate + (run.end.message.empty() ? "" : " " + run.end.message);
}

const std::string kPurchaseOrder =
    "<po><i q='2'>a</i><i q='x'>b</i><i q='5'/><d>2024-1-2 3:4:5</d></po>";

} // namespace

// ---- Table extract routines ------------------------------------------------------------------

TEST_F(Families, TablesGiveEveryValueInDocumentOrder) {
    const std::string file = writeFile("po.xml", kPurchaseOrder);
    const std::string big = "<a><b>" + std::string(3999, 'v') + "</b></a>";
    const struct {
        const char *routine;
        std::vector<Input> in;
        std::string rows;
    } cases[] = {
        {"qapExtractVarchars", {file, "/po/i"}, "a,b,NULL,;02000"},
        {"qapExtractVarcharsFromVarchar", {kPurchaseOrder, "/po/i/@q"}, "2,x,5,;02000"},
        {"qapExtractDoublesFromClob",
         {kPurchaseOrder, "/po/i/@q"},
         "2,NULL,5,;02000"}, // not a number: NULL
        {"qapExtractClobsFromVarchar",
         {kPurchaseOrder, "/po/i[@q=\"5\"]"},
         "<i q=\"5\"></i>,;02000"},
        {"qapExtractDatesFromVarchar",
         {"<a><b/><b>2024-05-06</b></a>", "/a/b"},
         "NULL,2024-05-06,;02000"}, // an empty element is a NULL row
        {"qapExtractClobsFromClob", {kPurchaseOrder, "/po/i[@q=\"2\"]"}, "<i q=\"2\">a</i>,;02000"},
        {"qapExtractTimestampsFromVarchar",
         {kPurchaseOrder, "/po/d"},
         "2024-01-02 03:04:05.000000,;02000"},
        {"qapExtractTimestampsFromVarchar",
         {kPurchaseOrder, "/po/i"},
         ";38X29 QAPQ061E  The format of the string is invalid.\n"},
        {"qapExtractVarcharsFromVarchar", {kPurchaseOrder, "/po/none"}, ";02000"}, // no warning
        {"qapExtractDoublesFromVarchar2",
         {"<!DOCTYPE po SYSTEM 'po.dtd'><po><p>&e;</p></po>", "<!ENTITY e '7.5'>", "/po/p"},
         "7.5,;02000"},
        {"qapExtractVarcharsFromClob", {big, "/a/b"}, std::string(3999, 'v') + ",;02000"},
        {"qapExtractVarcharsFromClob",
         {"<a><b>" + std::string(4000, 'v') + "</b></a>", "/a/b"},
         ";38X39 QAPC013E  The results of the extract UDF exceed the size limit for th\n"},
        // rows until a value over the limit, then its error, or a later parse error
        {"qapExtractVarcharsFromClob",
         {"<a><b>x</b><b>" + std::string(4000, 'v') + "</b><b>y</b></a>", "/a/b"},
         "x,;38X39 QAPC013E  The results of the extract UDF exceed the size limit for th\n"},
        {"qapExtractVarcharsFromClob",
         {"<a><b>x</b><b>" + std::string(4000, 'v') + "</b><b>y</b>", "/a/b"},
         "x,;38X13 QAPQ047E  Parser error on line 1 column 4027: input ended before all \n"},
        // a malformed tail: the rows before it, then its error; one before the first value
        // fails the open
        {"qapExtractVarcharsFromVarchar",
         {"<a><b>1</b><b>2</b><b>3</b><c></a>", "/a/b"},
         "1,2,3,;38X13 QAPQ047E  Parser error on line 1 column 33: expected end of tag 'c' \n"},
        {"qapExtractVarcharsFromVarchar",
         {"<a><c></a><b>1</b>", "/a/b"},
         ";38X13 QAPQ047E  Parser error on line 1 column 9: expected end of tag 'c' \n"},
        {"qapExtractCharsFromVarchar",
         {kPurchaseOrder, "/po/["},
         ";38X09 QAPD002E  A syntax error occurred "
         "near position 4 in the search path.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.routine);
        EXPECT_EQ(table(c.routine, c.in), c.rows);
    }
}

TEST_F(Families, TableStatementsOpenAgainAndSpillLargeClobsUntilTheClose) {
    tarn::TableStatement st(routine("qapExtractIntegersFromClob"));
    for (int round = 0; round < 2; ++round) { // CLOSE, then OPEN starts from the first value
        tarn::TableRun run = st.run({kPurchaseOrder, "/po/i/@q"});
        ASSERT_EQ(run.rows.size(), 3u);
        EXPECT_EQ(run.rows[0].integer, 2);
        EXPECT_EQ(run.rows[2].integer, 5);
    }
    const std::string large = "<a>" + std::string(200000, ' ') + "<b>1</b><b>2</b></a>";
    EXPECT_TRUE(st.open({large, "/a/b"}).ok());
    EXPECT_EQ(openFilesIn(tempDir()), 1u); // parsed from there as the rows are fetched
    EXPECT_EQ(st.fetch({large, "/a/b"}).integer, 1);
    EXPECT_EQ(st.fetch({large, "/a/b"}).integer, 2);
    EXPECT_EQ(st.fetch({large, "/a/b"}).sqlstate, "02000");
    EXPECT_TRUE(st.close({}).ok());
    EXPECT_EQ(openFilesIn(tempDir()), 0u);
    // A scan closed part way lets go of the file too, and so does the fetch that fails.
    EXPECT_TRUE(st.open({large, "/a/b"}).ok());
    EXPECT_EQ(st.fetch({large, "/a/b"}).integer, 1);
    EXPECT_TRUE(st.close({}).ok());
    EXPECT_EQ(openFilesIn(tempDir()), 0u);
    const std::string broken = large.substr(0, large.size() - 4);
    EXPECT_TRUE(st.open({broken, "/a/b"}).ok());
    EXPECT_EQ(st.fetch({broken, "/a/b"}).integer, 1);
    EXPECT_EQ(st.fetch({broken, "/a/b"}).integer, 2);
    EXPECT_EQ(st.fetch({broken, "/a/b"}).sqlstate, "38X13");
    EXPECT_EQ(openFilesIn(tempDir()), 0u);
    EXPECT_TRUE(st.close({}).ok());
}

// Scans open at once on one thread, as the tables of a join are: each parse pauses where it is
// and goes on at its next fetch, whatever the others did in between; closing some part way
// leaves the others untouched, and their places serve new scans.
TEST_F(Families, ScansOpenAtOnceGoOnEachWhereItWas) {
    std::string doc = "<a>";
    for (int i = 0; i < 1000; ++i)
        doc += "<b n='" + std::to_string(i) + "'><c>" + std::to_string(i) + "</c></b>";
    doc += "</a>";
    const char *const paths[] = {"/a/b/@n", "/a/b/c", "//c"};
    std::vector<std::unique_ptr<tarn::TableStatement>> scans;
    for (int round = 0; round < 2; ++round) {
        scans.clear();
        for (int k = 0; k < 9; ++k) {
            scans.push_back(
                std::make_unique<tarn::TableStatement>(routine("qapExtractIntegersFromVarchar")));
            ASSERT_TRUE(scans.back()->open({doc, paths[k % 3]}).ok());
        }
        for (int i = 0; i < 1000; ++i)
            for (size_t k = 0; k < scans.size(); ++k) {
                if (k % 2 == 1 && i == 100 + static_cast<int>(k)) {
                    EXPECT_TRUE(scans[k]->close({}).ok()); // closed part way
                    continue;
                }
                if (k % 2 == 1 && i > 100 + static_cast<int>(k)) continue;
                auto row = scans[k]->fetch({doc, paths[k % 3]});
                ASSERT_EQ(row.sqlstate, "00000") << k << " " << i;
                ASSERT_EQ(row.integer, i);
            }
        for (size_t k = 0; k < scans.size(); k += 2) {
            EXPECT_EQ(scans[k]->fetch({doc, paths[k % 3]}).sqlstate, "02000");
            EXPECT_TRUE(scans[k]->close({}).ok());
        }
    }
}

// A table over millions of values holds one value at a time: its scan runs in a child whose
// address space leaves room for the parse and a few megabytes, far less than the values take.
TEST_F(Families, TableMemoryStaysFlatOverMillionsOfValues) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve address space of their own";
#endif
    constexpr uint64_t count = 4000000;
    const std::string file = writeFile("many.xml", "");
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("<r>", f);
    for (uint64_t i = 0; i < count; ++i)
        fprintf(f, "<e>%u</e>", static_cast<unsigned>(i % 1000));
    fputs("</r>", f);
    ASSERT_EQ(fclose(f), 0);
    fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        long pages = 0;
        FILE *statm = fopen("/proc/self/statm", "r");
        if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(2);
        fclose(statm);
        const rlim_t room = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (32 << 20);
        const rlimit limit{room, room};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
        tarn::TableStatement st(routine("qapExtractIntegers"));
        const std::vector<Input> in{file, "/r/e"};
        if (!st.open(in).ok()) _exit(4);
        uint64_t rows = 0, sum = 0;
        Outcome o;
        while ((o = st.fetch(in)).ok()) {
            ++rows;
            sum += static_cast<uint64_t>(o.integer);
        }
        st.close(in);
        _exit(o.sqlstate == "02000" && rows == count && sum == count / 1000 * 499500 ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    remove(file.c_str());
}

// ---- Statements one after another -----------------------------------------------------------

// A statement takes over the reader a finished one left on its thread: nothing of the earlier
// statement's DTD, entities, code page, budget, document or failure shows in the next.
TEST_F(Families, StatementsInTurnShareNoStateThroughTheirReaders) {
    const std::string named = "<!DOCTYPE a SYSTEM 'a.dtd'><a x='1'>&e;</a>";
    const std::string inner = "<!DOCTYPE a [<!ENTITY e 'in'><!ATTLIST a y CDATA 'd'>]><a>&e;</a>";
    const std::string wide = "<a b='" + std::string(1 << 21, 'x') + "'>w</a>";
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(once("qapExtractVarcharFromVarchar2", {named, "<!ENTITY e 'dtd'>", "/a"}),
                  "00000||dtd");
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {named, "/a"}), "00000||NULL");
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {inner, "/a/@y"}), "00000||d");
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {"<a>&e;</a>", "/a"}).substr(0, 6),
                  "38X13|");
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {"<a y='u'/>", "/a/@y"}), "00000||u");
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {"<a>\xE9</a>", "/a"}, 819), "00000||\xE9");
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {"<a>\xC3\xA9</a>", "/a"}),
                  "00000||\xC3\xA9");
        tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, "1000000");
        EXPECT_EQ(once("qapUpdateXMLVarchar", {wide, "/a", "v"}).substr(0, 6), "38X13|");
        tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, nullptr);
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {wide, "/a"}), "00000||w");
        EXPECT_EQ(once("qapExtractVarcharFromVarchar", {"<a>", "/a"}).substr(0, 6), "38X13|");
        EXPECT_EQ(table("qapExtractVarcharsFromVarchar", {"<a><b>1</b><b>2</b></a>", "/a/b"}),
                  "1,2,;02000");
    }
}

// ---- Update routines -----------------------------------------------------------------------

TEST_F(Families, UpdateWritesTheDocumentBackWithTheNewValue) {
    const struct {
        std::string doc, path, value, out;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding='UTF-8' standalone=\"yes\"?><a>x</a>", "/a", "v",
         "<?xml version='1.0' encoding='UTF-8' standalone='yes'?><a>v</a>"},
        {"<!DOCTYPE a PUBLIC \"p\" \"s.dtd\" [<!ENTITY e \"E\">]><a>&e;</a>", "/b", "v",
         "<!DOCTYPE a PUBLIC \"p\" \"s.dtd\"><a>E</a>"},
        {"<!-- c --><?p d?>\n<a><!--i--><?q?><![CDATA[<&]]>'\"<e/></a>", "/x", "v",
         "<!-- c --><?p d?>\n<a><!--i--><?q ?>&lt;&amp;&apos;&quot;<e></e></a>"},
        {"<a><b>x<c>y</c>z</b><b>w</b></a>", "/a/b", "<&",
         "<a><b>&lt;&amp;<c></c></b><b>&lt;&amp;</b></a>"},
        {"<a x='1'><a x='2'/></a>", "/a/@x", "N", "<a x=\"N\"><a x=\"2\"></a></a>"},
        {"<a y='1'/>", "/a/@x", "N", "<a y=\"1\"></a>"},
        {"<a y='1'/>", "/a/@*", "N", "<a y=\"1\"></a>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.doc);
        EXPECT_EQ(once("qapUpdateXMLVarchar", {c.doc, c.path, c.value}), "00000||" + c.out);
        EXPECT_EQ(once("qapUpdateXMLClob", {c.doc, c.path, c.value}), "00000||" + c.out);
    }
    EXPECT_EQ(once("qapUpdateXMLVarchar", {Input::null(), "/a", "v"}), "00000||NULL");
    EXPECT_EQ(once("qapUpdateXMLVarchar", {"<a>" + std::string(32660, 'x') + "</a>", "/a", "v"}),
              "00000||<a>v</a>");
    EXPECT_EQ(once("qapUpdateXMLVarchar", {"<a>x</a><b/>", "/a", "v"}).substr(0, 16),
              "38X13|QAPQ047E  ");
}

TEST_F(Families, UpdateChangesOnlyWhatItTargetsAndStaysReadable) {
    // Values a parser would normalise, identifiers in either quote, an XML 1.1 document's
    // controls and line ends: each read back as it was.
    const struct {
        std::string doc, path, readBack, value;
    } cases[] = {
        {"<r><b x='a&#10;b&#9;c&#13;d'>t&#13;u</b><c>1</c></r>", "/r/b/@x", "a\nb\tc\rd", ""},
        {"<r><b x='a&#10;b&#9;c&#13;d'>t&#13;u</b><c>1</c></r>", "/r/b", "t\ru", ""},
        {"<!DOCTYPE r SYSTEM 'a\"b.dtd'><r><c>1</c></r>", "/r/c", "2", ""},
        {"<!DOCTYPE r PUBLIC 'p' \"a'b.dtd\"><r><c>1</c></r>", "/r/c", "2", ""},
        {"<?xml version='1.1'?><r><b>&#1;&#x85;&#x2028;&#x7F;</b><c>1</c></r>", "/r/b",
         "\x01\xC2\x85\xE2\x80\xA8\x7F", ""},
        {"<?xml version='1.1'?><r><b x='&#1;&#x85;'/><c>1</c></r>", "/r/b/@x", "\x01\xC2\x85", ""},
        {"<r><c x='1'>1</c></r>", "/r/c/@x", "a\rb\t\n", "a\rb\t\n"},
        {"<r><c>1</c></r>", "/r/c", "a\rb", "a\rb"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.doc);
        const std::string file = writeFile("t.xml", c.doc);
        const char *target = c.value.empty() ? "/r/c" : c.path.c_str();
        ASSERT_EQ(once("qapUpdateXMLFile", {file, target, c.value.empty() ? "2" : c.value}),
                  "00000||" + file);
        EXPECT_EQ(once("qapExtractVarchar", {file, c.path}), "00000||" + c.readBack)
            << readFile(file);
    }
}

TEST_F(Families, UpdatedFileIsRewrittenOnlyAfterASuccessfulUpdate) {
    const std::string file = writeFile("u.xml", "<a><b>old</b></a>");
    EXPECT_EQ(once("qapUpdateXMLFile", {file, "/a/b", "new"}), "00000||" + file);
    EXPECT_EQ(once("qapExtractVarchar", {file, "/a/b"}), "00000||new"); // the round trip
    const std::string bad = writeFile("bad.xml", "<a><b>old</b>");
    EXPECT_EQ(once("qapUpdateXMLFile", {bad, "/a/b", "new"}).substr(0, 6), "38X13|");
    EXPECT_EQ(readFile(bad), "<a><b>old</b>");
    // A missing file is the parser's failure to open it, and stays missing.
    const std::string missing = scratchDir() + "/missing.xml";
    EXPECT_EQ(once("qapUpdateXMLFile", {missing, "/a/b", "new"}),
              "38X13|QAPQ047E  Parser error on line 0 column 0: unable to open primary doc\n|NULL");
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
    // A name in another database code page names one file, read and rewritten.
    mkdir((scratchDir() + "/cp819").c_str(), 0700);
    const std::string named = writeFile("cp819/\xC3\xA9.xml", "<a>1</a>");
    tarn::ScalarStatement in819(routine("qapUpdateXMLFile"), 819);
    EXPECT_EQ(in819.call({scratchDir() + "/cp819/\xE9.xml", "/a", "2"}).sqlstate, "00000");
    EXPECT_EQ(readFile(named), "<a>2</a>");
    EXPECT_EQ(listDir(scratchDir() + "/cp819"), std::vector<std::string>{"\xC3\xA9.xml"});
    tarn::ScalarStatement extract819(routine("qapExtractVarchar"), 819);
    EXPECT_EQ(extract819.call({scratchDir() + "/cp819/\xE9.xml", "/a"}).text, "2");
}

// ---- Validate routines ---------------------------------------------------------------------

TEST_F(Families, ValidateFromEachSourceAgainstADtdFileOrText) {
    const std::string dtdText = "<!ELEMENT a (b+)><!ELEMENT b (#PCDATA)>";
    const std::string dtd = writeFile("a.dtd", dtdText);
    const std::string valid = "<!DOCTYPE a SYSTEM 'a.dtd'><a><b>1</b></a>";
    const std::string invalid = "<!DOCTYPE a SYSTEM 'missing.dtd'>\n<a><c/></a>";
    const std::string validFile = writeFile("valid.xml", valid);
    const std::string invalidFile = writeFile("invalid.xml", invalid);
    const std::string error =
        "38X13|QAPQ047E  Parser error on line 2 column 6: no declaration found for e\n|0";
    const struct {
        const char *routine;
        std::vector<Input> in;
        std::string out;
    } cases[] = {
        {"qapValidateFile", {validFile, "", "id"}, "00000||1"}, // the DOCTYPE's own DTD
        {"qapValidateFile", {invalidFile, dtd, "id"}, error},
        {"qapValidateFile2", {invalidFile, dtdText, "id"}, error},
        {"qapValidateVarchar", {valid, dtd, "id"}, "00000||1"},
        {"qapValidateVarchar2", {invalid, dtdText, "id"}, error},
        {"qapValidateClob", {invalid, dtd, "id"}, error},
        {"qapValidateClob2", {valid, dtdText, "id"}, "00000||1"},
        {"qapValidateFile",
         {"missing.xml", "missing.dtd", "id"},
         "38X00|QAPC000E  Unable to open the specified file.\n|NULL"},
        {"qapValidateFile",
         {"missing.xml", dtd, "id"},
         "38X01|QAPC001E  The specified file is not found.\n|0"},
        {"qapValidateClob2",
         {valid, dtdText, Input::null()},
         "38X14|QAPD000E  An invalid XML document is rejected.\n|NULL"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.routine) + " " + c.in[0].text);
        EXPECT_EQ(once(c.routine, c.in), c.out);
    }
}

TEST_F(Families, ValidateGivesTheSameAnswerOnEitherSideOfTheFileThreshold) {
    for (size_t extra : {0, 1}) {
        std::string doc = "<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a></a>";
        doc.insert(doc.size() - 4, 131072 - doc.size() + extra, 'x');
        ASSERT_EQ(doc.size(), 131072 + extra);
        EXPECT_EQ(once("qapValidateVarchar", {doc, "", "id"}), "00000||1");
    }
}

// ---- Storage routines --------------------------------------------------------------------

TEST_F(Families, StorageRoundTripsBetweenFilesVarcharAndClob) {
    const std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>caf\xC3\xA9</a>";
    const std::string file = scratchDir() + "/s.xml";
    EXPECT_EQ(once("qapFile", {doc, file}), "00000||" + file);
    EXPECT_EQ(once("qapCLOB", {file}), "00000||" + doc);
    EXPECT_EQ(once("qapVarChar", {file}), "00000||" + doc);
    EXPECT_EQ(once("qapContent_varchar2file", {doc, file}), "00000||" + file);
    EXPECT_EQ(readFile(file), doc);

    // Another application code page: the declaration follows the file's encoding.
    const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><a>caf\xE9</a>";
    EXPECT_EQ(once("qapXMLFileFromVarchar2", {doc, file, "ISO-8859-1"}), "00000||" + file);
    EXPECT_EQ(readFile(file), latin);
    EXPECT_EQ(once("qapXMLVarcharFromFile2", {file, "ISO-8859-1"}),
              "00000||<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><a>caf\xC3\xA9</a>");
    EXPECT_EQ(once("qapXMLFileFromClob2", {doc, file, "UTF-16BE"}), "00000||" + file);
    EXPECT_EQ(once("qapXMLVarcharFromFile2", {file, "UTF-16BE"}),
              "00000||<?xml version=\"1.0\" encoding=\"UTF-16BE\" ?><a>caf\xC3\xA9</a>");
    EXPECT_EQ(once("qapXMLFileFromClob2", {doc, file, "ISO-8859-1"}), "00000||" + file);
    EXPECT_EQ(once("qapXMLCLOBFromFile2", {file, "ISO-8859-1"}),
              "00000||<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><a>caf\xC3\xA9</a>");

    // No declaration to rewrite: refused, nothing written.
    const std::string none = scratchDir() + "/none.xml";
    EXPECT_EQ(once("qapXMLFileFromVarchar2", {"<a/>", none, "UTF-8"}),
              "38X14|QAPD000E  An invalid XML document is rejected.\n|NULL");
    EXPECT_FALSE(exists(none));
    EXPECT_EQ(once("qapXMLFileFromVarchar2", {"", none, "UTF-8"}),
              "38X45|QAPQ055E  ICU error: -124\n|NULL");
    EXPECT_FALSE(exists(none));
    EXPECT_EQ(once("qapVarChar", {Input::null()}), "38X16||NULL");
    EXPECT_EQ(once("qapCLOB", {Input::null()}), "00000||NULL");
    // The writers of a CLOB check the name before the CLOB, and check a NULL one as empty.
    const std::string refused = "38X03|QAPC003E  Unable to write to the specified file.\n|NULL";
    EXPECT_EQ(once("qapFile", {Input::null(), file}), "00000||NULL");
    EXPECT_EQ(once("qapFile", {Input::null(), "/tmp/tessel-elsewhere.xml"}), refused);
    EXPECT_EQ(once("qapFile", {doc, Input::null()}), refused);
    EXPECT_EQ(once("qapXMLFileFromClob2", {"<a/>", Input::null(), "UTF-8"}), refused);
    // ANY allows even an empty name, which names no file.
    tarnRegistrySetForThread(TARN_REG_READ_ACCESS, "ANY");
    tarnRegistrySetForThread(TARN_REG_WRITE_ACCESS, "ANY");
    EXPECT_EQ(once("qapVarChar", {""}).substr(0, 15), "38X01|QAPC001E ");
    EXPECT_EQ(once("qapContent_varchar2file", {doc, ""}).substr(0, 15), "38X00|QAPC000E ");
    EXPECT_EQ(once("qapFile", {doc, Input::null()}).substr(0, 15), "38X00|QAPC000E ");
    EXPECT_EQ(once("qapUpdateXMLFile", {"", "/a", "x"}).substr(0, 15), "38X01|QAPC001E ");
    tarnRegistrySetForThread(TARN_REG_READ_ACCESS, nullptr);
    tarnRegistrySetForThread(TARN_REG_WRITE_ACCESS, nullptr);
    // A character the database code page lacks fails the read, and no part of the text is given.
    const std::string euro = writeFile("euro.xml", "<a>x\xE2\x82\xACy</a>");
    tarn::ScalarStatement in819(routine("qapVarChar"), 819);
    const tarn::Outcome o = in819.call({euro});
    EXPECT_EQ(o.sqlstate + o.message, "38X45QAPQ055E  ICU error: 10\n");
    EXPECT_TRUE(o.isNull());
}

TEST_F(Families, VarcharFilesUpToTheirLimit) {
    const std::string fits = writeFile("fits.xml", std::string(32672, 'x'));
    const std::string over = writeFile("over.xml", std::string(32673, 'x'));
    EXPECT_EQ(once("qapVarChar", {fits}).size(), 7 + 32672u);
    EXPECT_EQ(once("qapVarChar", {over}),
              "38X05|QAPC005E  Input file size is greater than XMLVarchar size.\n|NULL");
}

TEST_F(Families, EveryRowOfAStatementPassesTheAllowedFilesRule) {
    const std::string allowed = writeFile("ok.xml", "<a>1</a>");
    const struct {
        const char *routine;
        std::vector<Input> first, second;
        const char *refusal;
    } cases[] = {
        {"qapVarChar", {allowed}, {"/etc/hostname"}, "38X02"},
        {"qapExtractInteger", {allowed, "/a"}, {"/etc/hostname", "/a"}, "38X02"},
        {"qapContent_varchar2file",
         {"<a/>", allowed},
         {"<a/>", "/tmp/tessel-elsewhere.xml"},
         "38X03"},
        {"qapValidateVarchar",
         {"<!DOCTYPE a [<!ELEMENT a EMPTY>]><a/>", "", "id"},
         {"<a/>", "/etc/hostname", "id"},
         "38X02"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.routine);
        tarn::ScalarStatement st(routine(c.routine));
        EXPECT_FALSE(st.call(c.first).failed());
        EXPECT_EQ(st.call(c.second).sqlstate, c.refusal);
    }
    EXPECT_FALSE(exists("/tmp/tessel-elsewhere.xml"));
}

TEST_F(Families, SequenceNumbersCountTheCallsOfAStatement) {
    for (int statement = 0; statement < 2; ++statement) {
        tarn::ScalarStatement st(routine("qapSeqno"));
        for (int32_t n = 1; n <= 3; ++n)
            EXPECT_EQ(st.call({}).integer, n);
        EXPECT_EQ(st.finish().integer, 4); // the final call counts too
    }
}
