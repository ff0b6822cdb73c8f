// The quick reader against the full non-validating reader: whatever document the quick reader
// reads, from memory or from a file, the full reader must accept with the same events. Plain
// documents must take the quick path; what it does not handle must be declined.
#include "qapParser.h"
#include "qapQuickReader.h"
#include "tarnRuntime.h"
#include "tesselHost.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/XMLString.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

using Outcome = QapQuickReader::Outcome;

// UTF-16 text as printable ASCII, any other unit as \uXXXX.
void escape16(std::string &out, const XMLCh *s, size_t n) {
    char hex[8];
    for (size_t i = 0; i < n; ++i) {
        if (s[i] >= 0x20 && s[i] < 0x7f && s[i] != '\\' && s[i] != '"') {
            out += static_cast<char>(s[i]);
        } else {
            snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(s[i]));
            out += hex;
        }
    }
}

// A document as a C string literal, to reproduce a failure (long ones cut).
std::string literal(const std::string &doc) {
    std::string out = "\"";
    bool afterHex = false;
    char hex[8];
    for (size_t i = 0; i < doc.size() && i < 2000; ++i) {
        const unsigned char c = static_cast<unsigned char>(doc[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
            if (afterHex && isxdigit(c)) out += "\"\"";
            out += static_cast<char>(c);
            afterHex = false;
        } else {
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
            afterHex = true;
        }
    }
    return out + (doc.size() > 2000 ? "\"... (" + std::to_string(doc.size()) + " bytes)" : "\"");
}

// "" when the logs are equal, else where they part.
std::string diff(const std::string &a, const std::string &b) {
    if (a == b) return "";
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    const size_t from = i > 60 ? i - 60 : 0;
    return "at " + std::to_string(i) + ": ..." + a.substr(from, 120) + "\n  vs ..." +
           b.substr(from, 120);
}

// The events a reader reports, one string: tags with their attributes in order, text with
// adjacent pieces merged, CDATA bounds, comments, PIs, and any complaint of the reader. White
// space outside the root element (the full reader's ignorableWhitespace) is left out.
class Recorder : public DefaultHandler {
public:
    void startElement(const XMLCh *const, const XMLCh *const, const XMLCh *const qname,
                      const Attributes &attrs) override {
        flush();
        log_ += '<';
        put(qname);
        for (XMLSize_t i = 0; i < attrs.getLength(); ++i) {
            log_ += ' ';
            put(attrs.getQName(i));
            log_ += "=\"";
            put(attrs.getValue(i));
            log_ += '"';
        }
        log_ += '>';
    }
    void endElement(const XMLCh *const, const XMLCh *const, const XMLCh *const qname) override {
        flush();
        log_ += "</";
        put(qname);
        log_ += '>';
    }
    void characters(const XMLCh *const chars, const XMLSize_t n) override {
        text_.append(chars, n);
    }
    void comment(const XMLCh *const chars, const XMLSize_t n) override {
        complain("<!--", false);
        escape16(log_, chars, n);
        log_ += "-->";
    }
    void processingInstruction(const XMLCh *const target, const XMLCh *const data) override {
        complain("<?", false);
        put(target);
        log_ += ' ';
        put(data);
        log_ += "?>";
    }
    void startCDATA() override { complain("[CDATA", false); }
    void endCDATA() override { complain("]CDATA", false); }
    void warning(const SAXParseException &) override { complain("!warning", true); }
    void error(const SAXParseException &) override { complain("!error", true); }
    void fatalError(const SAXParseException &e) override {
        complain("!fatal", true);
        throw e;
    }
    std::string log() {
        flush();
        return log_ + (rejected ? "!rejected" : "");
    }
    bool rejected = false;

private:
    void complain(const char *what, bool rejects) {
        flush();
        log_ += what;
        rejected = rejected || rejects;
    }
    void flush() {
        if (text_.empty()) return;
        log_ += '"';
        escape16(log_, text_.data(), text_.size());
        log_ += '"';
        text_.clear();
    }
    void put(const XMLCh *s) { escape16(log_, s, XMLString::stringLen(s)); }
    std::string log_;
    std::u16string text_;
};

// The full reader's log, the reader set up as a parse sets it up; ends in "!rejected" when
// it rejected the document.
std::string fullLog(const std::string &doc) {
    static std::unique_ptr<QapParser> parser;
    if (parser == nullptr && isSharedLibInitSuccess()) parser = qapNewParser(nullptr);
    Recorder rec;
    QapNonValidateReader &reader = *parser->reader;
    parser->resolver->dtdText = nullptr;
    parser->resolver->setDtdId(nullptr);
    reader.beginParse();
    reader.setContentHandler(&rec);
    reader.setErrorHandler(&rec);
    reader.setLexicalHandler(&rec);
    try {
        MemBufInputSource source(reinterpret_cast<const XMLByte *>(doc.data()), doc.size(), "doc");
        reader.parse(source);
    } catch (...) {
        rec.rejected = true;
    }
    reader.setContentHandler(nullptr);
    reader.setErrorHandler(nullptr);
    reader.setLexicalHandler(nullptr);
    if (rec.rejected) parser = qapNewParser(nullptr); // as a failed parse retires its reader
    return rec.log();
}

QapQuickReader &quick() {
    static QapQuickReader reader;
    return reader;
}

// Has the quick reader read the document from a file of the test's private directory, through
// a descriptor whose offset must stay where it was.
Outcome readFile(const std::string &doc, ContentHandler &content, LexicalHandler *lexical) {
    struct Fd {
        int fd;
        ~Fd() { close(fd); }
    } file{open(tesseltest::writeFile("quick.xml", doc).c_str(), O_RDONLY)};
    const Outcome outcome = quick().readFile(file.fd, content, lexical);
    EXPECT_EQ(lseek(file.fd, 0, SEEK_CUR), 0);
    return outcome;
}

struct Quick {
    Outcome outcome;
    std::string log;
};

Quick readQuick(const std::string &doc, bool fromFile) {
    Recorder rec;
    const Outcome outcome =
        fromFile ? readFile(doc, rec, &rec) : quick().readMemory(doc.data(), doc.size(), rec, &rec);
    return {outcome, rec.log()};
}

// Whatever the quick reader reads, the full reader accepts with the same events; memory and
// file agree. True when it was read from memory.
bool check(const std::string &doc, bool fromFile = true) {
    SCOPED_TRACE(literal(doc));
    std::string full;
    auto same = [&](const Quick &quick, const char *form) {
        if (quick.outcome != Outcome::READ) return;
        if (full.empty()) full = fullLog(doc);
        EXPECT_EQ(diff(quick.log, full), "") << form;
    };
    const Quick mem = readQuick(doc, false);
    same(mem, "from memory");
    if (fromFile) {
        const Quick file = readQuick(doc, true);
        EXPECT_EQ(file.outcome, mem.outcome) << "from a file";
        same(file, "from a file");
    }
    return mem.outcome == Outcome::READ;
}

// Documents with every feature the quick path takes, for the mutations.
const std::vector<std::string> kSeeds = {
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c --><r a=\"1 &amp; 2\" "
    "b='&#x1F600;&#233;'>t&lt;x&gt;<e/><![CDATA[<&]]>\r\n\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
    "<?p d?></r>\n",
    "<a><b c=\"x\r\ny\tz\">1 > 0 &quot;&apos;</b ><b\n c = 'q\"' /><!--z-->&#13;&#x10000;</a>",
    "<?xml version='1.0' standalone='yes'?><doc><p>a<![CDATA[]]>b</p><q:r s:t=\"&#10;\"/>"
    "\r</doc><?end?> ",
    "<?xml version='1.0' encoding='utf-8' standalone='no' ?><?xml-stylesheet href='x'?><x:y "
    "a='&#x41;&#65;'><z/><z></z><!----><?xmlx d?>]]&gt;<![CDATA[]]]]></x:y>",
    "<r><c d='1' e='2'>&#xD7FF;&#xE000;&#xFFFD;&#x10FFFF;\xEF\xBF\xBD\xF4\x8F\xBF\xBF"
    "\xED\x9F\xBF</c>\r\r\n</r>",
};

} // namespace

TEST(QuickReader, PlainDocumentsTakeTheQuickPath) {
    const std::vector<std::string> docs = {
        "<a/>",
        "<?xml version=\"1.0\"?><a>t</a>",
        "\xEF\xBB\xBF<a>bom</a>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a x=\"1\"/>",
        "<?xml version='1.0' encoding='utf-8' standalone='yes'?><a/>",
        "<?xml version=\"1.0\" standalone=\"no\" ?>\r\n<a/>\n",
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>",
        "<!-- c --><?pi data?>\n<a>s<!--in-->t<?p x?>u<?q?></a><!--after--><?z?>\n",
        "<a>x<![CDATA[<b>&amp;]]]]><![CDATA[>]]>y<![CDATA[]]></a>",
        "<a v=\"&lt;&gt;&amp;&apos;&quot;&#65;&#x42;&#x1F600;&#128512;&#9;&#10;&#13;\">"
        "&lt;&gt;&amp;&apos;&quot;&#10;&#x9;&#x10FFFF;&#13;&#xFFFD;</a>",
        "<a b=\"x\r\ny\rz\">l1\r\nl2\rl3\r\r\n</a>",
        "<a b=\"t\tn\nr\r\nend\"/>",
        "<a b='single \"q\"' c=\"double 'q'\"/>",
        "<a\n  b = \"1\"\t c\r\n=\r\n'2' ><b\t/></a >",
        "<a><b/><c x=\"1\"/><d></d></a>",
        "<a>1 > 0 ]] ]&gt; ]></a>",
        "\n \t\r\n<a/>\n\r\n \t",
        "<a t=\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\">\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>",
        "<a.b-c_d:e f:g=\"1\" _h=\"\"/>",
        tesseltest::repeat("<a>", 4000) + tesseltest::repeat("</a>", 4000)};
    for (const std::string &doc : docs)
        EXPECT_TRUE(check(doc)) << literal(doc);
}

TEST(QuickReader, DeclinesWhatItLeavesToTheFullReader) {
    const std::vector<std::string> docs = {
        "<!DOCTYPE a><a/>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
        "<?xml version=\"1.1\"?><a/>",
        "<a>&foo;</a>",
        "<a></b>",
        "<a x=\"1\" x=\"2\"/>",
        "<a x=\"<\"/>",
        "<a x=1/>",
        "<a>]]></a>",
        "<a>]]]></a>",
        "<a><!-- a -- b --></a>",
        "<a/><?xml version=\"1.0\"?>",
        "<a/>text",
        "",
        "<!-- c -->",
        "<a><b></b>",
        "<\xC3\xA9/>",
        "<a>\xC3\x28</a>",
        "<a>\xFF</a>",
        "<a>\xC0\xAF</a>",
        "<a>\xED\xA0\x80</a>",
        "<a>\xEF\xBF\xBE</a>",
        "<a>\x01</a>",
        "<a>&#0;</a>",
        "<a x=\"&#xD800;\"/>",
        "<a>&#x100000041;</a>",
        "<a b='&#4294967361;'/>",
        std::string("<?xml version='1.0' encoding='UTF-8") + '\0' + "'?><a/>",
        "<?xml version='1.0'" + std::string(16364, ' ') + "?><a/>",
        "<a b='" + std::string(600000, 'x') + "' c='" + std::string(600000, 'x') + "'/>"};
    for (const std::string &doc : docs)
        EXPECT_FALSE(check(doc)) << literal(doc);
    const std::string deep = tesseltest::repeat("<a>", 100000) + tesseltest::repeat("</a>", 100000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readQuick(deep, false).outcome, Outcome::DECLINED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(readQuick(deep, true).outcome, Outcome::DECLINED);
}

TEST(QuickReader, MutantsReadAsTheFullReaderReadsThem) {
    static const char bytes[] = "<>&;\"'/=!?[]-#x\r\n\t :a\0\x80\xC3\xE2\xF0\xFF";
    const std::string alphabet(bytes, sizeof bytes - 1);
    std::mt19937 rng(20240611);
    const int kMutants = 40000;
    int read = 0;
    for (int i = 0; i < kMutants && !::testing::Test::HasFailure(); ++i) {
        std::string doc = kSeeds[i % kSeeds.size()];
        for (int edits = 1 + rng() % 3; edits > 0; --edits) {
            const size_t at = rng() % (doc.size() + 1);
            const size_t len = std::min<size_t>(1 + rng() % 16, doc.size() - at);
            const char c = alphabet[rng() % alphabet.size()];
            // Insert or replace a byte, delete one, duplicate or delete a slice.
            const unsigned op = rng() % 5;
            const size_t cut = op == 0 || op == 3 ? 0 : op == 4 ? len : std::min<size_t>(1, len);
            doc.replace(at, cut, op < 2 ? std::string(1, c) : op == 3 ? doc.substr(at, len) : "");
        }
        read += check(doc, i % 10 == 0);
    }
    // Mutants that stay plain take the quick path.
    EXPECT_TRUE(::testing::Test::HasFailure() || read > kMutants / 20) << read;
}

// Tokens of every kind straddle the edges of the file reader's windows, moved by the padding.
TEST(QuickReader, FilesReadAcrossWindowEdges) {
    std::string body = "<root>" + tesseltest::repeat("ab&amp;\xC3\xA9]\r\n", 9000);
    for (int i = 0; body.size() < (size_t{5} << 18); ++i) {
        const std::string n = std::to_string(i);
        body += "<item n=\"" + n + "\" t='a&amp;b&#x1F600;\r\n" + n.substr(0, i % 5) +
                "'>x &lt; \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 &#233;\r\n<![CDATA[ <raw" + n +
                "> ]]><!-- c " + n + " --><e/>" + std::string(i % 7, 'y') + "</item>\r\n";
    }
    body += "</root>";
    const std::string full = fullLog(body);
    const Quick mem = readQuick(body, false);
    EXPECT_EQ(mem.outcome, Outcome::READ);
    EXPECT_EQ(diff(mem.log, full), "");
    for (size_t pad = 0; pad <= 40 && !::testing::Test::HasFailure(); ++pad) {
        const Quick file = readQuick("<!--" + std::string(pad, ' ') + "-->" + body, true);
        EXPECT_EQ(file.outcome, Outcome::READ) << pad;
        EXPECT_EQ(diff(file.log, "<!--" + std::string(pad, ' ') + "-->" + full), "") << pad;
    }
    // A cancelled statement: the full reader reports it.
    tarnSetCancelCheck([] { return 1; });
    EXPECT_EQ(readQuick(body, false).outcome, Outcome::DECLINED);
    EXPECT_EQ(readQuick(body, true).outcome, Outcome::DECLINED);
    tarnSetCancelCheck(nullptr);
}

TEST(QuickReader, HandlerExceptionsPassThrough) {
    struct Boom {};
    struct Thrower : Recorder {
        int starts = 0;
        void startElement(const XMLCh *const uri, const XMLCh *const local,
                          const XMLCh *const qname, const Attributes &attrs) override {
            if (++starts == 3) throw Boom();
            Recorder::startElement(uri, local, qname, attrs);
        }
    };
    const std::string doc = "<a><b x='1'>t</b><c/><d/></a>";
    const std::string next = "<z q=\"&amp;\"><![CDATA[x]]>&#x1F600;</z>";
    Thrower memory, file;
    EXPECT_THROW(quick().readMemory(doc.data(), doc.size(), memory, &memory), Boom);
    EXPECT_TRUE(check(next));
    EXPECT_THROW(readFile(doc, file, &file), Boom);
    EXPECT_TRUE(check(next));
    EXPECT_TRUE(check(doc));
}
