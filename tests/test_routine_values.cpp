// The values the scalar extract routines return: tagged fragments byte for byte, values at
// paths, DTD texts standing in for named DTDs, and documents and paths in database code pages.
#include "qapExtractKinds.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "tarnCall.h"
#include "tarnTestHooks.h"
#include "tessel.h"
#include "testRoutineCalls.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

using tarn::Input;
using tarn::Outcome;
using tarn::SqlType;
using tesseltest::repeat;
using tesseltest::ScopedEnv;
using namespace tesseltest;

// ---- Tagged CLOB results ---------------------------------------------------------------------

TEST_F(Routines, TaggedFragmentsByteForByte) {
    const std::string nested = "<r><a>1<a>2</a>3</a><b q='x'/></r>";
    const std::string whole = "<r><a>1<a>2</a>3</a><b q=\"x\"></b></r>";
    std::string manyAttrs = "<m", manyOut = "<m";
    for (int i = 0; i < 20; ++i) {
        const std::string n = "a" + std::string(1, static_cast<char>('A' + i));
        manyAttrs += " " + n + "='&lt;'";
        manyOut += " " + n + "=\"&lt;\"";
    }
    const std::string longName(300, 'n');
    const struct {
        std::string doc;
        const char *path;
        const char *state;
        std::string fragment;
    } rows[] = {
        // text and attribute values escaped, attributes in document order, double quotes
        {"<r><x a='it&apos;s' b=\"q&quot;\" c='&lt;&gt;&amp;'>t &amp; &lt;x&gt; \"q\" 'a'</x></r>",
         "/r/x", "00000",
         "<x a=\"it&apos;s\" b=\"q&quot;\" c=\"&lt;&gt;&amp;\">t &amp; &lt;x&gt; &quot;q&quot; "
         "&apos;a&apos;</x>"},
        {"<r>" + manyAttrs + "/></r>", "/r/m", "00000", manyOut + "></m>"},
        {"<r><" + longName + "/></r>", "/r/*", "00000", "<" + longName + "></" + longName + ">"},
        // a match inside a match is part of the outer fragment
        {nested, "//a", "00000", "<a>1<a>2</a>3</a>"},
        // the root alone, "//" and "//@q" all give the whole root element
        {nested, "/", "00000", whole},
        // CDATA text is escaped, comments and processing instructions are dropped
        {"<r><x>a<![CDATA[<&>]]><!--c--><?pi d?>b</x></r>", "/r/x", "00000",
         "<x>a&lt;&amp;&gt;b</x>"},
        // defaults of the internal subset are attributes like the others
        {"<!DOCTYPE r [<!ATTLIST x d CDATA 'dv'>]><r><x/></r>", "/r/x", "00000",
         "<x d=\"dv\"></x>"},
        // white space in element content arrives as character data; outside the root it does not
        {"<!DOCTYPE r [<!ELEMENT r (x)*><!ELEMENT x (#PCDATA)>]><r> <x> t </x>\n</r>\n", "/r",
         "00000", "<r> <x> t </x>\n</r>"},
    };
    for (const auto &r : rows)
        for (const char *kind : {"Clob", "Clob2"})
            expectValue(kind, r.doc, r.path, r.state, r.fragment);
    // Long fragments with many escapes keep every byte, from memory and from a spilled CLOB.
    const std::string body = repeat("a&amp;&lt;\"&apos;\xC3\xA9", 30000);
    const std::string escaped = repeat("a&amp;&lt;&quot;&apos;\xC3\xA9", 30000);
    for (Src s : kAllSources) {
        SCOPED_TRACE(srcName(s));
        Outcome o = once("Clob", s, "<r><x k='" + body + "'>" + body + "</x></r>", "/r/x");
        EXPECT_EQ(o.sqlstate, "00000") << o.message;
        EXPECT_TRUE(o.text == "<x k=\"" + escaped + "\">" + escaped + "</x>") << o.text.size();
    }
}

// ---- Values at paths (which elements a path matches: test_engine.cpp) ---------------------------

// One value or none: "38X08" for several matches, "01HX0" for none, NULL for an empty value.
// An element's value is its own character data, references resolved.
TEST_F(Routines, ValuesAtPaths) {
    const struct {
        std::string doc;
        const char *path;
        const char *state;
        const char *value; // "": NULL
    } rows[] = {
        {"<a><b>x<c>y</c>z</b></a>", "/a/b", "00000", "xz"},
        {"<a><b>x<c>y</c>z</b></a>", "//b", "00000", "x"}, // "//" stops at the first child
        {"<a><b>1 &lt; 2 &amp; &#x33;&gt;&quot;'</b></a>", "/a/b", "00000", "1 < 2 & 3>\"'"},
        {"<a><b><![CDATA[<x>&]]>x<!--c--><?p d?>y</b></a>", "/a/b", "00000", "<x>&xy"},
        {"<a><b>caf\xC3\xA9 \xF0\x9D\x84\x9E</b></a>", "/a/b", "00000",
         "caf\xC3\xA9 \xF0\x9D\x84\x9E"},
        // a match inside a match starts no new value; one reached through a non-matching child
        // does
        {"<r><a>1<a>2</a>3</a></r>", "//a", "00000", "123"},
        {"<r><b>1<c><b>2</b></c>3</b></r>", "//b", "38X08", ""},
        {"<r><b c='1'><b c='2'/></b></r>", "/r/b/@c", "00000", "1"},
        // a node left by a longer name with more attributes is reused for a shorter one
        {"<r><long-name p='1' q='2' k='3'/><s k='4'><t>v</t></s></r>", "/r/s[@k=\"4\"]/t", "00000",
         "v"},
        // without namespaces, prefixed names are names like any other
        {"<p:e xmlns:p='urn:p'>v</p:e>", "/p:e", "00000", "v"},
        {"<a xmlns:p='u' p:x='1' q:x='2'/>", "/a[@p:x=\"1\"]/@q:x", "00000", "2"},
    };
    for (const auto &r : rows)
        expectValue("Varchar", r.doc, r.path, r.state, r.value);
}

// The DTD a DOCTYPE names is never read, even when it exists: it reads as empty, or as the DTD
// text of a "2" variant, which stands in for it and only for it.
TEST_F(Routines, DtdTextStandsInForTheNamedDtd) {
    const std::string named = tesseltest::writeFile("named.dtd", "<!ATTLIST a k CDATA 'file'>");
    const std::string dtd = "<!ENTITY e \"from dtd\"><!ATTLIST v k CDATA \"dk\">"
                            "<!ATTLIST a k CDATA 'text'>";
    const std::string existing = "<!DOCTYPE a SYSTEM '" + named + "'><a/>";
    const struct {
        const char *kind;
        std::string doc;
        const char *path;
        const char *state;
        const char *value;
    } rows[] = {
        {"Varchar2", "<!DOCTYPE a SYSTEM '/nonexistent/a.dtd'><a><v>&e;</v></a>", "/a/v", "00000",
         "from dtd"},
        {"Varchar2", "<!DOCTYPE a SYSTEM 'a.dtd'><a><v/></a>", "/a/v/@k", "00000", "dk"},
        // without a DOCTYPE, or with only an internal subset, the text is not read
        {"Varchar2", "<a><v>&e;</v></a>", "/a/v", "38X13", ""},
        {"Varchar2", existing, "/a/@k", "00000", "text"},
        {"Clob", existing, "/a", "00000", "<a></a>"},
    };
    for (const auto &r : rows)
        expectValue(r.kind, r.doc, r.path, r.state, r.value, kAllSources, 1208, dtd);
}

// ---- Database code pages --------------------------------------------------------------------

// Documents, paths and DTD texts in the database code page, from a VARCHAR and from a CLOB.
TEST_F(Routines, DocumentsAndPathsInTheDatabaseCodePage) {
    const std::string latin = "<a><b t='\xE9'>caf\xE9</b><caf\xE9>x</caf\xE9></a>";
    const std::string ebcdic = inCodePage(37, "<a><b k=\"\xC3\xA9\">12.5</b></a>");
    const std::string nihon = "<a>\xE6\x97\xA5\xE6\x9C\xAC</a>";
    const struct {
        int32_t db;
        std::string doc, path;
        const char *kind;
        std::string value;
    } rows[] = {
        {819, latin, "/a/b", "Varchar", "caf\xE9"},
        {819, latin, "/a/b", "Clob", "<b t=\"\xE9\">caf\xE9</b>"},
        // the database encoding wins over the declaration
        {819, "<?xml version='1.0' encoding='UTF-8'?><a>caf\xE9</a>", "/a", "Varchar", "caf\xE9"},
        // the DTD text is read in it too
        {819, "<!DOCTYPE a SYSTEM 'a.dtd'><a>&e;</a>", "/a", "Varchar2", "caf\xE9"},
        {37, ebcdic, inCodePage(37, "/a/b"), "Varchar", inCodePage(37, "12.5")},
        {37, ebcdic, inCodePage(37, "/a/b"), "Clob", inCodePage(37, "<b k=\"\xC3\xA9\">12.5</b>")},
        {943, inCodePage(943, nihon), "/a", "Varchar", inCodePage(943, "\xE6\x97\xA5\xE6\x9C\xAC")},
        {954, inCodePage(33722, nihon), "/a", "Varchar",
         inCodePage(33722, "\xE6\x97\xA5\xE6\x9C\xAC")},
        // the parser reads the bytes through the converter's own table: they come back as sent
        {943, "<a>x\\y~z</a>", "/a", "Varchar", "x\\y~z"},
        {954, "<a>x\\y~z</a>", "/a", "Clob", "<a>x\\y~z</a>"},
        {1363, "<a>x\\y~z</a>", "/a", "Varchar", "x\\y~z"},
    };
    for (const auto &r : rows)
        expectValue(r.kind, r.doc, r.path, "00000", r.value, {Src::VARCHAR, Src::CLOB}, r.db,
                    "<!ENTITY e 'caf\xE9'>");
}

// A value holding a character the database code page lacks fails, from every source and in
// tables and updates too: no substitute character stands in for it.
TEST_F(Routines, CharactersTheDatabaseCodePageLacksAreNeverReplaced) {
    const std::string lacked = "QAPQ055E  ICU error: 10\n";
    for (const char *kind : {"Varchar", "Clob"}) {
        SCOPED_TRACE(kind);
        for (Src s : kAllSources) {
            const Outcome o = once(kind, s, "<a>caf&#xE9; &#x20AC;</a>", "/a", 819);
            EXPECT_EQ(o.sqlstate + o.message, "38X45" + lacked);
            EXPECT_TRUE(o.isNull());
        }
    }
    tarn::TableStatement table(tesseltest::routine("qapExtractVarcharsFromVarchar"), 819);
    const tarn::TableRun run = table.run({"<a><b>1</b><b>&#x20AC;</b><b>3</b></a>", "/a/b"});
    ASSERT_EQ(run.rows.size(), 1u);
    EXPECT_EQ(run.rows[0].text, "1");
    EXPECT_EQ(run.end.sqlstate + run.end.message, "38X45" + lacked);
    tarn::ScalarStatement update(tesseltest::routine("qapUpdateXMLVarchar"), 819);
    const Outcome o = update.call({"<a>&#x20AC;<b>x</b></a>", "/a/b", "y"});
    EXPECT_EQ(o.sqlstate + o.message, "38X45" + lacked);
    // Nor does one stand in for bytes the database code page does not have, in a path or a
    // new value: they do not convert (-1).
    const std::string unconverted = routineText(syntaxError(-1));
    EXPECT_EQ(once("Varchar", Src::VARCHAR, "<a><b>1</b></a>", "/a/\xFF").message, unconverted);
    tarn::ScalarStatement utf8(tesseltest::routine("qapUpdateXMLVarchar"));
    EXPECT_EQ(utf8.call({"<a><b>1</b></a>", "/a/b", "x\xFFy"}).message, unconverted);
}

// A server file is read in the encoding the parser detects, not in the database code page, and
// its values are returned in the database code page. A relative name is taken from the current
// directory.
// UTF-8 documents are decoded ahead of the parser a block at a time: characters cut by a
// block's end arrive whole, a malformed sequence fails as the parser tells it (at the same
// place), and a byte no sequence completes ends the document without a hang.
TEST_F(Routines, Utf8DocumentsAcrossBlocksAndMalformedOnes) {
    const std::string chars = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // é € U+1F600
    for (size_t filler = 16360; filler < 16376; ++filler)
        expectValue("Varchar",
                    "<a><p>" + std::string(filler, 'x') + "</p><q>" + chars + chars + "</q></a>",
                    "/a/q", "00000", chars + chars, {Src::FILE, Src::CLOB});
    const std::string at = "QAPQ047E  Parser error on line 1 column ";
    const struct {
        std::string doc, message;
    } rows[] = {
        {"<a>\xC3(</a>", at + "1: invalid byte '(' at positi\n"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\xED\xA0\x80</a>",
         at + "39: irregular bytes '\xEF\xBF\xBD' and\n"},
        {"<a>" + std::string(40000, 'x') + "\xC3(</a>", at + "32769: invalid byte '(' at po\n"},
        {"<a>" + std::string(40000, 'x') + "\xFE</a>" + std::string(40000, 'y'),
         at + "32769: invalid byte '\xEF\xBF\xBD' at \n"},
        {"<a>" + std::string(40000, 'x') + "\xFE</a>", at + "40004: input ended before all\n"},
        {"<a>x\xF0\x9F", at + "5: input ended before all sta\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.doc.substr(0, 60));
        Outcome o = once("Varchar", Src::FILE, r.doc, "/a");
        EXPECT_EQ(o.sqlstate, "38X13");
        EXPECT_EQ(o.message, r.message);
    }
    // Documents in other encodings, and a byte-order mark before the declaration.
    expectValue("Varchar", "<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>", "/a",
                "00000", "caf\xC3\xA9", {Src::FILE});
    expectValue("Varchar", "\xEF\xBB\xBF<?xml version=\"1.0\"?><a>bom</a>", "/a", "00000", "bom",
                {Src::FILE});
}

TEST_F(Routines, FilesAreDetectedAndValuesConverted) {
    expectValue("Varchar", "<a>caf\xC3\xA9</a>", "/a", "00000", "caf\xE9", {Src::FILE}, 819);
    expectValue("Varchar", std::string("\xFE\xFF\0<\0a\0>\0\xE9\0<\0/\0a\0>", 18), "/a", "00000",
                "\xE9", {Src::FILE}, 819);
    expectValue("Varchar", "<a>caf\xE9</a>", "/a", "38X13", "", {Src::FILE}, 819);
    tesseltest::writeFile("relative.xml", "<a>here</a>");
    const Member &m = member("Varchar");
    tarn::ScalarStatement st(descOf(m, Src::FILE));
    EXPECT_EQ(st.call(argsOf(m, "relative.xml", "/a")).text, "here");
}
