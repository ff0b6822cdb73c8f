// Rewriting the encoding of an XML declaration while converting a document to the application
// code page.
#include "qapConv.h"
#include "qapCtx.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testing_support::TestCtx;

namespace {

struct Result {
    int32_t rc;
    std::string out, sqlstate, msgtext;
};

// Runs the rewrite on an input buffer of exactly the document's bytes (so that a read past its
// end is caught by the sanitizer).
Result rewrite(QapRoutineCtx *ctx, const std::string &doc, int32_t capacity = -1) {
    std::vector<char> in(doc.begin(), doc.end());
    if (capacity < 0) capacity = static_cast<int32_t>(doc.size()) * 3 + 64;
    std::vector<char> out(static_cast<size_t>(capacity), '#');
    Result r;
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    r.rc = qapConvBufferTarnToAppEncoding(ctx, in.data(), static_cast<int32_t>(in.size()),
                                          out.data(), capacity, msgtext, sqlstate);
    if (r.rc >= 0) {
        r.out.assign(out.data(), static_cast<size_t>(r.rc));
        EXPECT_TRUE(r.rc < capacity && out[static_cast<size_t>(r.rc)] == '\0') << "terminator";
    }
    r.sqlstate = sqlstate;
    r.msgtext = msgtext;
    return r;
}

// ASCII text in UTF-16 of one byte order.
std::string utf16(const std::string &ascii, bool bigEndian) {
    std::string out;
    for (char c : ascii) {
        if (bigEndian) out += '\0';
        out += c;
        if (!bigEndian) out += '\0';
    }
    return out;
}

const char *const INVALID = "38X14";

} // namespace

// Document in, bytes out (application UTF-8 over a UTF-8 database), or "38X14".
TEST(XmlDecl, DeclarationForms) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
    const std::string E = " encoding=\"UTF-8\" ";
    const std::vector<std::pair<std::string, std::string>> cases = {
        // an encoding is added, or replaced even when it already was right
        {"<?xml version=\"1.0\"?><a/>", "<?xml version=\"1.0\"" + E + "?><a/>"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a/>", "<?xml version='1.0'" + E + "?><a/>"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", "<?xml version=\"1.0\"" + E + "?><a/>"},
        // blanks: none needed after "<?xml", any around "=", tabs and line ends too
        {"<?xmlversion=\"1.0\"?>", "<?xmlversion=\"1.0\"" + E + "?>"},
        {"<?xml\tversion\n=\r'1.0'\n\nencoding = \"a\"\t?>x",
         "<?xml\tversion\n=\r'1.0'" + E + "?>x"},
        {"<?xml version=\"\"?>", "<?xml version=\"\"" + E + "?>"},
        // standalone stays in place, after the inserted encoding
        {"<?xml  version = \"1.0\"  encoding = 'x'  standalone=\"yes\"?><a/>",
         "<?xml  version = \"1.0\"" + E + "standalone=\"yes\"?><a/>"},
        {"<?xml version=\"1.0\" standalone=\"yes\"?>",
         "<?xml version=\"1.0\"" + E + "standalone=\"yes\"?>"},
        // only an encoding right after the version is recognised
        {"<?xml version=\"1.0\" standalone=\"yes\" encoding=\"x\"?>",
         "<?xml version=\"1.0\"" + E + "standalone=\"yes\" encoding=\"x\"?>"},
        // the rest is copied as it is
        {"<?xml version=\"1.0\"?>\n<a b='\xC3\xBC'>\xE2\x82\xAC</a>\n",
         "<?xml version=\"1.0\"" + E + "?>\n<a b='\xC3\xBC'>\xE2\x82\xAC</a>\n"},
        // the start must be exactly "<?xml"
        {" <?xml version=\"1.0\"?>", INVALID},
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?>", INVALID},
        {"<?XML version=\"1.0\"?>", INVALID},
        {"<a/>", INVALID},
        {"", INVALID},
        // version information
        {"<?xml ver=\"1.0\"?>", INVALID},
        {"<?xml version \"1.0\"?>", INVALID},
        {"<?xml version=1.0?>", INVALID},
        {"<?xml version=\"1.0 \"?>", INVALID},
        {"<?xml version=\"1.0'?><a/>", INVALID},
        // the dropped encoding declaration
        {"<?xml version=\"1.0\" encoding=UTF-8?>", INVALID},
        {"<?xml version=\"1.0\" encodingx=\"y\"?>", INVALID},
        {"<?xml version=\"1.0\" encoding=\"UTF 8\"?>", INVALID},
        {"<?xml version=\"1.0\" encoding=\"UTF-8'?>", INVALID},
        // documents that end inside the declaration
        {"<?xm", INVALID},
        {"<?xml", INVALID},
        {"<?xml version", INVALID},
        {"<?xml version=", INVALID},
        {"<?xml version=\"1.0", INVALID},
        {"<?xml version=\"1.0\"", "<?xml version=\"1.0\"" + E},
        {"<?xml version=\"1.0\" encoding", INVALID},
        {"<?xml version=\"1.0\" encoding=\"UTF", INVALID},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"", "<?xml version=\"1.0\"" + E},
    };
    for (const auto &c : cases) {
        Result r = rewrite(ctx, c.first);
        if (c.second == INVALID) {
            EXPECT_EQ(r.rc, -1) << c.first;
            EXPECT_EQ(r.sqlstate, "38X14") << c.first;
            EXPECT_EQ(r.msgtext.rfind("QAPD000E", 0), 0u) << c.first << ": " << r.msgtext;
        } else {
            EXPECT_EQ(r.out, c.second) << c.first;
            EXPECT_EQ(r.rc, static_cast<int32_t>(c.second.size())) << c.first;
            EXPECT_EQ(r.sqlstate, "00000") << c.first;
        }
    }
}

// The inserted name is the converter's IANA name when that is a well-formed encoding name.
TEST(XmlDecl, NameAndBytesOfTheApplicationConverter) {
    const struct {
        int32_t db;
        const char *app;
        std::string in, out;
    } cases[] = {
        {819, "UTF-8", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xFC</a>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><a>\xC3\xBC</a>"},
        // a length that counts the terminating NUL
        {819, "UTF-8", std::string("<?xml version=\"1.0\"?><a>\xFC</a>\0", 31),
         "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><a>\xC3\xBC</a>"},
        // ICU's IANA name here has a colon, so its own name is used
        {1208, "ISO-8859-1", "<?xml version=\"1.0\"?><a>\xC3\xBC</a>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?><a>\xFC</a>"},
        {1208, "windows-1252", "<?xml version=\"1.0\"?>\xE2\x82\xAC",
         "<?xml version=\"1.0\" encoding=\"windows-1252\" ?>\x80"},
        // an EBCDIC database: the declaration is read in EBCDIC
        {37, "UTF-8",
         "\x4C\x6F\xA7\x94\x93\x40\xA5\x85\x99\xA2\x89\x96\x95\x7E\x7D\xF1\x4B\xF0\x7D\x6F\x6E",
         "<?xml version='1.0' encoding=\"UTF-8\" ?>"},
        // an EBCDIC application
        {1208, "ibm-37", "<?xml version='1'?>",
         "\x4C\x6F\xA7\x94\x93\x40\xA5\x85\x99\xA2\x89\x96\x95\x7E\x7D\xF1\x7D\x40\x85\x95\x83"
         "\x96\x84\x89\x95\x87\x7E\x7F\xC9\xC2\xD4\xF0\xF3\xF7\x7F\x40\x6F\x6E"},
        // equal code pages still get the rewrite
        {943, "ibm-943", "<?xml version=\"1.0\" encoding=\"SJIS\"?><a>\x93\xFA</a>",
         "<?xml version=\"1.0\" encoding=\"ibm-943_P130-1999\" ?><a>\x93\xFA</a>"},
    };
    for (const auto &c : cases) {
        TestCtx ctx(c.db, c.app);
        ASSERT_EQ(ctx.initRc, 0) << c.app;
        Result r = rewrite(ctx, c.in);
        EXPECT_EQ(r.out, c.out) << c.app << " over " << c.db;
        EXPECT_EQ(r.rc, static_cast<int32_t>(c.out.size())) << c.app;
    }
}

TEST(XmlDecl, Utf16OutputStartsWithTheMarkOfItsByteOrder) {
    const std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>";
    for (bool bigEndian : {true, false}) {
        const char *app = bigEndian ? "UTF-16BE" : "UTF-16LE";
        TestCtx ctx(1208, app);
        ASSERT_EQ(ctx.initRc, 0) << app;
        std::string expected = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        expected +=
            utf16(std::string("<?xml version=\"1.0\" encoding=\"") + app + "\" ?><a/>", bigEndian);
        Result r = rewrite(ctx, doc);
        EXPECT_EQ(r.out, expected) << app;
        EXPECT_EQ(r.rc, static_cast<int32_t>(expected.size())) << app;
    }
    // The byte-order-detecting form writes its own mark, once for the whole document.
    TestCtx ctx(1208, "UTF-16");
    ASSERT_EQ(ctx.initRc, 0);
    Result r = rewrite(ctx, doc);
    ASSERT_GE(r.out.size(), 2u);
    bool bigEndian = r.out[0] == '\xFE';
    std::string expected =
        r.out.substr(0, 2) + utf16("<?xml version=\"1.0\" encoding=\"UTF-16\" ?><a/>", bigEndian);
    EXPECT_EQ(r.out, expected);
}

TEST(XmlDecl, OutputMustKeepRoomForTheTerminator) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    const std::string doc = "<?xml version=\"1\"?><a/>";
    const std::string out = "<?xml version=\"1\" encoding=\"UTF-8\" ?><a/>";
    const int32_t n = static_cast<int32_t>(out.size());
    EXPECT_EQ(rewrite(ctx, doc, n + 1).out, out);
    // Too small for the whole, for the encoding text, and for the declaration's start.
    for (int32_t capacity : {n, n - 3, 20, 10}) {
        Result r = rewrite(ctx, doc, capacity);
        EXPECT_EQ(r.rc, -1) << capacity;
        EXPECT_EQ(r.sqlstate, "38X45") << capacity;
        EXPECT_EQ(r.msgtext.rfind("QAPQ055E", 0), 0u) << r.msgtext;
    }
}

TEST(XmlDecl, EncodingNames) {
    const std::vector<std::pair<const char *, bool>> cases = {
        {"", true},       {"UTF-8", true}, {"a", true},         {"A.b_c-9", true},
        {"IBM037", true}, {"1abc", false}, {"-x", false},       {"_x", false},
        {"x y", false},   {"x:y", false},  {"\xC3\xA9", false}, {"ISO_8859-1:1987", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(qapIsEncName(c.first), c.second) << c.first;
}
