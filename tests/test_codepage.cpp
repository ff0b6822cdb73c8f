// Code pages: the encoding table against ICU and the parser, and the rewrite of an XML
// declaration into the code page a document is handed over in.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapFile.h"
#include "qapFileCopy.h"
#include "qapLob.h"
#include "qapMsg.h"
#include "qapPlatform.h"
#include "tarnTestHooks.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <thread>
#include <unicode/ucnv.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <unistd.h>
#include <vector>

using tesseltest::exists;
using tesseltest::readFile;
using tesseltest::repeat;
using tesseltest::ScopedEnv;
using tesseltest::scratchDir;
using tesseltest::TestCtx;
using tesseltest::writeFile;
XERCES_CPP_NAMESPACE_USE

namespace {

std::string narrow(const XMLCh *s) {
    std::string out;
    for (; s != nullptr && *s != 0; ++s)
        out += static_cast<char>(*s);
    return out;
}

struct CountingErrors : DefaultHandler {
    int errors = 0;
    void warning(const SAXParseException &) override { ++errors; }
    void error(const SAXParseException &) override { ++errors; }
    void fatalError(const SAXParseException &) override { ++errors; }
};

// True when the parser reads a small ASCII document, encoded by ICU's converter of that name
// (left as it is when ICU has none), told to be in that encoding.
bool parserAccepts(const XMLCh *encoding) {
    std::string doc = "<doc a='1'>text &amp; more</doc>";
    UErrorCode status = U_ZERO_ERROR;
    if (UConverter *cnv = ucnv_open(narrow(encoding).c_str(), &status)) {
        std::u16string u(doc.begin(), doc.end());
        std::vector<char> out(doc.size() * 4 + 8);
        int32_t n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), u.data(),
                                    static_cast<int32_t>(u.size()), &status);
        ucnv_close(cnv);
        doc.assign(out.data(), static_cast<size_t>(n));
    }
    SAX2XMLReader *reader = XMLReaderFactory::createXMLReader();
    CountingErrors handler;
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    bool ok = false;
    try {
        MemBufInputSource source(reinterpret_cast<const XMLByte *>(doc.data()), doc.size(), "doc");
        source.setEncoding(encoding);
        reader->parse(source);
        ok = handler.errors == 0;
    } catch (...) {
    }
    delete reader;
    return ok;
}

} // namespace

// Every name in the table opens in ICU and in the parser (which transcodes with ICU), except
// the one ICU does not carry.
TEST(EncodingTable, EveryNameOpensInIcuAndInTheParser) {
    ASSERT_TRUE(isSharedLibInitSuccess());
    ASSERT_FALSE(parserAccepts(u"no-such-encoding"));
    const QapEncodingRow *rows = qapEncodingTable();
    size_t n = 0;
    for (; rows[n].codePage != -2; ++n) {
        const bool known = rows[n].codePage != 1046;
        UErrorCode status = U_ZERO_ERROR;
        UConverter *cnv = ucnv_open(narrow(rows[n].name).c_str(), &status);
        ucnv_close(cnv);
        EXPECT_EQ(cnv != nullptr && U_SUCCESS(status), known) << narrow(rows[n].name);
        EXPECT_EQ(parserAccepts(rows[n].name), known) << narrow(rows[n].name);
    }
    EXPECT_GT(n, 20u);
}

// ---- XML declaration --------------------------------------------------------------------------

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
    char sqlstate[kSqlstateSize] = "00000";
    char msgtext[kMsgTextSize] = "";
    r.rc = qapConvBufferTarnToAppEncoding(ctx, in.data(), static_cast<int32_t>(in.size()),
                                          out.data(), capacity, {sqlstate, msgtext});
    if (r.rc >= 0) {
        r.out.assign(out.data(), static_cast<size_t>(r.rc));
        EXPECT_TRUE(r.rc < capacity && out[static_cast<size_t>(r.rc)] == '\0') << "terminator";
    }
    r.sqlstate = sqlstate;
    r.msgtext = msgtext;
    return r;
}

const char *const kInvalid = "38X14";

} // namespace

// Document in, bytes out (application UTF-8 over a UTF-8 database), or "38X14".
TEST(XmlDecl, DeclarationForms) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
    const std::string encodingAttr = " encoding=\"UTF-8\" ";
    const std::vector<std::pair<std::string, std::string>> cases = {
        // an encoding is added, or replaced even when it already was right
        {"<?xml version=\"1.0\"?><a/>", "<?xml version=\"1.0\"" + encodingAttr + "?><a/>"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a/>",
         "<?xml version='1.0'" + encodingAttr + "?><a/>"},
        // blanks: none needed after "<?xml", any around "=", tabs and line ends too
        {"<?xml\tversion\n=\r'1.0'\n\nencoding = \"a\"\t?>x",
         "<?xml\tversion\n=\r'1.0'" + encodingAttr + "?>x"},
        // standalone stays in place, after the inserted encoding
        {"<?xml  version = \"1.0\"  encoding = 'x'  standalone=\"yes\"?><a/>",
         "<?xml  version = \"1.0\"" + encodingAttr + "standalone=\"yes\"?><a/>"},
        {"<?xml version=\"1.0\" standalone=\"yes\"?>",
         "<?xml version=\"1.0\"" + encodingAttr + "standalone=\"yes\"?>"},
        // only an encoding right after the version is recognised
        {"<?xml version=\"1.0\" standalone=\"yes\" encoding=\"x\"?>",
         "<?xml version=\"1.0\"" + encodingAttr + "standalone=\"yes\" encoding=\"x\"?>"},
        // the rest is copied as it is
        {"<?xml version=\"1.0\"?>\n<a b='\xC3\xBC'>\xE2\x82\xAC</a>\n",
         "<?xml version=\"1.0\"" + encodingAttr + "?>\n<a b='\xC3\xBC'>\xE2\x82\xAC</a>\n"},
        // the start must be exactly "<?xml"
        {" <?xml version=\"1.0\"?>", kInvalid},
        // version information
        {"<?xml ver=\"1.0\"?>", kInvalid},
        {"<?xml version=1.0?>", kInvalid},
        // the dropped encoding declaration
        {"<?xml version=\"1.0\" encoding=UTF-8?>", kInvalid},
        {"<?xml version=\"1.0\" encoding=\"UTF 8\"?>", kInvalid},
        // documents that end inside the declaration
        {"<?xml", kInvalid},
        {"<?xml version=\"1.0", kInvalid},
        {"<?xml version=\"1.0\"", "<?xml version=\"1.0\"" + encodingAttr},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"", "<?xml version=\"1.0\"" + encodingAttr},
    };
    for (const auto &c : cases) {
        Result r = rewrite(ctx, c.first);
        if (c.second == kInvalid) {
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
