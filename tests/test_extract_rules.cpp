// The extract handler against the rules it implements, applied literally: every element is
// pushed with a copy of its attributes and matched in full on every start and end tag. The
// handler takes shortcuts (paths that need only the innermost element, nothing tracked below a
// NO, states remembered per depth, attribute lookups from a remembered position); on random
// documents both must give the same values for paths of every shape.
#include "qapCtx.h"
#include "qapResult.h"
#include "qapSgDoc.h"
#include "qapSgDocHandler.h"
#include "tesselHost.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLUni.hpp>

using tesseltest::TestCtx;
XERCES_CPP_NAMESPACE_USE

namespace {

// Start and end tags as the rules say, nothing remembered between tags.
class LiteralHandler : public QapSgDocHandler {
public:
    LiteralHandler(QapRoutineCtx *ctx, int tagged, XMLCh *path) : QapSgDocHandler(ctx, path) {
        if (tagged == 1) {
            targetKind = TAGGED_ELEMENT;
            query.setTargetKind(TAGGED_ELEMENT);
        }
    }

    void startElement(const XMLCh *const, const XMLCh *const, const XMLCh *const qname,
                      const Attributes &attrs) override {
        const QapMatchState prev = isMatched;
        currentPath.push(qname, attrs);
        ++depth_;
        if (fragmentDepth_ == 0 && isMatched != NO) isMatched = query.match(currentPath);
        if (isMatched != YES) return;
        switch (targetKind) {
        case ATTRIBUTE:
            if (attributeName[0] == u'*') {
                for (XMLSize_t i = 0; i < attrs.getLength(); ++i)
                    if (const XMLCh *v = attrs.getValue(i)) addItem(v);
            } else if (const XMLCh *v = attrs.getValue(attributeName)) {
                addItem(v);
            }
            break;
        case ELEMENT:
            if (prev == PARTIAL) result.newItem();
            break;
        default:
            if (prev == PARTIAL) result.newItem();
            if (fragmentDepth_ == 0) fragmentDepth_ = depth_;
            composeStartElement(qname, attrs);
            break;
        }
    }

    void endElement(const XMLCh *const, const XMLCh *const, const XMLCh *const qname) override {
        currentPath.pop();
        const uint32_t closed = depth_--;
        if (isMatched == YES && targetKind == TAGGED_ELEMENT) composeEndElement(qname);
        if (fragmentDepth_ != 0) {
            if (closed != fragmentDepth_) return;
            fragmentDepth_ = 0;
        }
        if (isMatched != PARTIAL) isMatched = query.match(currentPath);
    }

    void characters(const XMLCh *const chars, const XMLSize_t length) override {
        if (isMatched != YES || targetKind == ATTRIBUTE || result.last == nullptr) return;
        result.last->addToContent(targetKind == TAGGED_ELEMENT ? 1 : 0, chars,
                                  static_cast<uint32_t>(length));
    }

    void fatalError(const SAXParseException &e) override { throw SAXParseException(e); }

private:
    void addItem(const XMLCh *value) {
        result.newItem();
        result.addToCurrentItem(1, value);
    }

    uint32_t depth_ = 0;
    uint32_t fragmentDepth_ = 0;
};

std::vector<std::string> literalValues(QapRoutineCtx *ctx, const std::string &doc, const char *path,
                                       int tagged) {
    std::u16string text(path, path + strlen(path));
    std::vector<XMLCh> pathText(text.begin(), text.end());
    pathText.push_back(0);
    LiteralHandler handler(ctx, tagged, pathText.data());
    EXPECT_EQ(handler.query.getErrorPosition(), 0) << path;
    std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader());
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
    reader->setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
    reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
    reader->setFeature(XMLUni::fgXercesSchema, false);
    MemBufInputSource source(reinterpret_cast<const XMLByte *>(doc.data()), doc.size(), "doc",
                             false);
    reader->parse(source);
    std::vector<std::string> out;
    QapExtractResult *r = handler.result.retrieve(1 << 20);
    if (r == nullptr) return out;
    for (char **v = r->values; v != nullptr && *v != nullptr; ++v)
        out.push_back(*v);
    qapFreeExtractResult(ctx, r);
    free(r);
    return out;
}

std::vector<std::string> extracted(QapRoutineCtx *ctx, const std::string &doc, const char *path,
                                   int tagged) {
    QapExtractResult result{};
    char state[kSqlstateSize] = "00000";
    char msg[kMsgTextSize] = "";
    const int32_t rc = qapExtractAll(ctx, QapDoc{doc.c_str(), kMem, 0, nullptr, nullptr}, tagged,
                                     path, &result, 1 << 20, {state, msg});
    EXPECT_EQ(rc, 0) << path << " " << state << " " << msg;
    std::vector<std::string> out;
    for (char **v = result.values; v != nullptr && *v != nullptr; ++v)
        out.push_back(*v);
    qapFreeExtractResult(ctx, &result);
    return out;
}

// Random documents over a small vocabulary, so that every path shape meets matches, near
// misses, nesting of matched elements in one another, and attributes with special characters
// and prefixed names.
struct Lcg {
    uint64_t s;
    uint32_t below(uint32_t n) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(s >> 33) % n;
    }
};

void element(Lcg &rng, std::string &out, int depth) {
    static const char *const names[] = {"a", "b", "c"};
    static const char *const attrs[] = {"x", "y", "p:x"};
    static const char *const values[] = {"1", "2", "&lt;&amp;&quot;"};
    static const char *const texts[] = {"t", "u&amp;v", "w\xC3\xA9", " "};
    const char *name = names[rng.below(3)];
    out += "<";
    out += name;
    const uint32_t n = rng.below(3);
    bool used[3] = {false, false, false};
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t k = rng.below(3);
        if (used[k]) continue;
        used[k] = true;
        out += " ";
        out += attrs[k];
        out += "=\"";
        out += values[rng.below(3)];
        out += "\"";
    }
    out += ">";
    const uint32_t children = depth < 5 ? rng.below(4) : 0;
    for (uint32_t i = 0; i < children; ++i) {
        if (rng.below(2) == 0) out += texts[rng.below(4)];
        element(rng, out, depth + 1);
    }
    if (rng.below(2) == 0) out += texts[rng.below(4)];
    out += "</";
    out += name;
    out += ">";
}

class ExtractRules : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    TestCtx ctx_;
};

TEST_F(ExtractRules, ShortcutsGiveTheValuesOfTheLiteralRules) {
    const char *const paths[] = {
        // Without "//".
        "/", "/a", "/a/b", "/a/b/c", "/*/b", "/a/*", "/a/b[@x=\"1\"]", "/a[@x=\"2\"]/b",
        "/a/b[@p:x=\"1\"]", "/a/b/@x", "/a/*/@*", "/a/b/@p:x", "/a[@x=\"1\"]/b/@y",
        // One step after "//", with or without a head.
        "//", "//b", "//*", "//b[@x=\"1\"]", "/a//b", "/a/b//c", "/a[@y=\"2\"]//c", "//b/@x",
        "/a//b/@*", "//@x",
        // Longer tails and middles.
        "//a/b", "//b/c[@x=\"1\"]", "/a//b//c", "//a//b", "//b//b", "/a//b/c//a", "//a/b/@y",
        "/a/b//c/a", "/a/b[@x=\"1\"]//b//c", "/a/c//a/@x"};
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        Lcg rng{seed};
        std::string doc;
        element(rng, doc, 0);
        // The root is always a, so that absolute paths reach into the document.
        doc = "<a x=\"1\" y=\"2\">" + doc + "<b x=\"1\"><c x=\"1\"><a x=\"2\">s</a>t</c>z</b></a>";
        for (const char *path : paths) {
            for (int tagged = 0; tagged <= 1; ++tagged) {
                SCOPED_TRACE(std::string(path) + (tagged ? " tagged" : "") + " seed " +
                             std::to_string(seed) + ": " + doc);
                ASSERT_EQ(extracted(ctx_, doc, path, tagged),
                          literalValues(ctx_, doc, path, tagged));
            }
        }
    }
}

} // namespace
