// Extraction results: escaping, item growth and the retry when escaping runs out of room, the
// conversion of items within the byte limit, the attribute-list copy and the handler's tags.
#include "qapConv.h"
#include "qapMsg.h"
#include "qapResult.h"
#include "qapSgDocHandler.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testing_support::TestCtx;
using XERCES_CPP_NAMESPACE::Attributes;

namespace {

class ListAttrs : public Attributes {
public:
    struct Attr {
        std::u16string local, qname, value;
    };
    std::vector<Attr> list;

    ListAttrs() = default;
    ListAttrs(const ListAttrs &o) : Attributes(), list(o.list) {}

    XMLSize_t getLength() const override { return list.size(); }
    const XMLCh *getURI(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getLocalName(const XMLSize_t i) const override { return list.at(i).local.c_str(); }
    const XMLCh *getQName(const XMLSize_t i) const override { return list.at(i).qname.c_str(); }
    const XMLCh *getType(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getValue(const XMLSize_t i) const override { return list.at(i).value.c_str(); }
    bool getIndex(const XMLCh *const, const XMLCh *const, XMLSize_t &) const override {
        return false;
    }
    int getIndex(const XMLCh *const, const XMLCh *const) const override { return -1; }
    bool getIndex(const XMLCh *const, XMLSize_t &) const override { return false; }
    int getIndex(const XMLCh *const) const override { return -1; }
    const XMLCh *getType(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getType(const XMLCh *const) const override { return nullptr; }
    const XMLCh *getValue(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getValue(const XMLCh *const) const override { return nullptr; }
};

std::u16string str(const XMLCh *s) {
    return s != nullptr ? std::u16string(s) : u"<null>";
}

// A record freed on every path.
struct Record {
    QapExtractResult *r;
    explicit Record(QapExtractResult *r) : r(r) {}
    ~Record() {
        freeExtractResult(nullptr, r);
        free(r);
    }
    std::vector<std::string> values() const {
        std::vector<std::string> out;
        for (char **v = r->values; *v != nullptr; ++v)
            out.emplace_back(*v);
        return out;
    }
};

TEST(EntityReplace, EscapesWithinCapacity) {
    struct Case {
        std::u16string source;
        int32_t capacity;
        std::u16string expected; // empty with result -1 when it does not fit
        int32_t result;
    };
    const Case cases[] = {
        {u"a<b", 16, u"a&lt;b", 7},
        {u"\"&'<>", 64, u"&quot;&amp;&apos;&lt;&gt;", 26},
        {u"plain", 6, u"plain", 6}, // exactly fits with the terminator
        {u"plain", 5, u"", -1},     // the terminator must fit too
        {u"a<b", 7, u"a&lt;b", 7},
        {u"a<b", 6, u"", -1}, // the replacement needs room for the terminator
        {u"&", 6, u"&amp;", 6},
        {u"&", 5, u"", -1},
        {u"", 1, u"", 1},
        {u"x", 0, u"", -1}, // no room even for the terminator
    };
    for (const Case &c : cases) {
        std::vector<XMLCh> out(80, u'#');
        int32_t err = 0;
        char msg[QAP_MSGTEXT_SIZE] = "";
        int32_t r =
            qapEntityReplaceUCS(nullptr, out.data(), c.source.c_str(), c.capacity, &err, msg);
        EXPECT_EQ(r, c.result) << std::string(c.source.begin(), c.source.end());
        if (c.result > 0) {
            EXPECT_EQ(std::u16string(out.data()), c.expected);
            EXPECT_EQ(err, 0);
        } else {
            EXPECT_EQ(err, -58);
            EXPECT_EQ(std::string(msg).substr(0, 8), "QAPG002E");
        }
        // Nothing is written past the capacity.
        for (size_t i = static_cast<size_t>(c.capacity > 0 ? c.capacity : 0); i < out.size(); ++i)
            ASSERT_EQ(out[i], u'#');
    }
}

TEST(ResultItems, RawAndEscapedAppendsAndGrowth) {
    qapResult result(nullptr);
    result.newItem();
    qapResultNode *item = result.last;
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->content, nullptr);
    EXPECT_EQ(item->contentMaxLength, 0u);

    // Raw: the first append allocates exactly n + 1 units.
    result.addToCurrentItem(0, u"a<b");
    EXPECT_EQ(str(item->content), u"a<b");
    EXPECT_EQ(item->contentLength, 3u);
    EXPECT_EQ(item->contentMaxLength, 3u);
    // Growth: needed length plus twice the old capacity.
    result.addToCurrentItem(0, u"cd");
    EXPECT_EQ(item->contentMaxLength, 2u + 2 * 3u);
    EXPECT_EQ(str(item->content), u"a<bcd");
    // Fits without growing.
    result.addToCurrentItem(0, u"efg");
    EXPECT_EQ(item->contentMaxLength, 8u);
    EXPECT_EQ(str(item->content), u"a<bcdefg");
    // Null and empty texts change nothing.
    result.addToCurrentItem(1, nullptr);
    result.addToCurrentItem(1, u"");
    EXPECT_EQ(item->contentLength, 8u);
    // Escaped into a full item: grows for n = 3 (3 + 2 * 8 = 19 units), runs out of room at
    // "&gt;", retries with 2n + 10 = 16 and grows again (16 + 2 * 19).
    result.addToCurrentItem(1, u"<&>");
    EXPECT_EQ(str(item->content), u"a<bcdefg&lt;&amp;&gt;");
    EXPECT_EQ(item->contentMaxLength, 16u + 2 * 19u);
    EXPECT_EQ(item->contentLength, 8u + 13u);

    result.newItem();
    EXPECT_EQ(result.count, 2u);
    EXPECT_EQ(result.first->next, result.last);
}

TEST(ResultItems, FirstEscapedAppendRetriesOnceAndGrowsTo4nPlus10) {
    for (uint32_t n : {1u, 5u, 100u}) {
        qapResult result(nullptr);
        result.newItem();
        std::u16string text(n, u'x');
        result.addToCurrentItem(1, text.c_str());
        EXPECT_EQ(result.last->contentMaxLength, 4 * n + 10) << n;
        EXPECT_EQ(result.last->contentLength, n);
        EXPECT_EQ(str(result.last->content), text);
    }
}

TEST(ResultItems, EscapingManySpecialsRetriesUntilItFits) {
    qapResult result(nullptr);
    result.newItem();
    std::u16string text(1000, u'"');
    result.addToCurrentItem(1, text.c_str());
    std::u16string expected;
    for (int i = 0; i < 1000; ++i)
        expected += u"&quot;";
    EXPECT_EQ(str(result.last->content), expected);
    EXPECT_EQ(result.last->contentLength, 6000u);
}

TEST(ResultItems, LengthBoundedAppendReadsNoFurther) {
    qapResult result(nullptr);
    result.newItem();
    // Only the first 2 units of a longer text, raw and escaped.
    result.addToCurrentItem(0, u"ab<<<", 2);
    result.last->addToContent(1, u"<c<<<", 2);
    EXPECT_EQ(str(result.last->content), u"ab&lt;c");
}

// Many items, some far larger than others, appended in pieces and out of order, keep their
// text, and their capacities follow the growth rule.
TEST(ResultItems, ManyItemsKeepTheirTextAndCapacities) {
    qapResult result(nullptr);
    std::vector<qapResultNode *> items;
    std::vector<std::u16string> texts;
    std::vector<uint32_t> capacities;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    for (int round = 0; round < 20000; ++round) {
        if (items.empty() || next(4) == 0) {
            result.newItem();
            items.push_back(result.last);
            texts.emplace_back();
            capacities.push_back(0);
        }
        // Mostly the last item, sometimes an earlier one; one item grows very large.
        size_t k = next(8) == 0 ? next(static_cast<uint32_t>(items.size())) : items.size() - 1;
        if (round % 100 == 0 && items.size() > 3) k = 3;
        uint32_t n = k == 3 ? 500 + next(3000) : 1 + next(40);
        std::u16string piece(n, static_cast<char16_t>(u'a' + round % 26));
        items[k]->addToContent(0, piece.c_str(), n);
        texts[k] += piece;
        uint32_t length = static_cast<uint32_t>(texts[k].size()) - n;
        if (length + n > capacities[k]) capacities[k] = n + 2 * capacities[k];
    }
    ASSERT_EQ(result.count, items.size());
    for (size_t k = 0; k < items.size(); ++k) {
        if (texts[k].empty())
            ASSERT_EQ(items[k]->content, nullptr) << k;
        else
            ASSERT_EQ(str(items[k]->content), texts[k]) << k;
        ASSERT_EQ(items[k]->contentLength, texts[k].size()) << k;
        ASSERT_EQ(items[k]->contentMaxLength, capacities[k]) << k;
    }
    EXPECT_GT(texts[3].size(), 100000u);
}

// A run of pieces leaves exactly what one append per piece leaves.
TEST(ResultItems, PiecesActLikeOneAppendEach) {
    const std::u16string texts[] = {u"",           u"a",    u"<b>",
                                    u"plain text", u"\"&'", std::u16string(u"x\0y", 3),
                                    u"&",          u"<<<<", u"long enough to grow the buffer more"};
    uint32_t seed = 7;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    for (int round = 0; round < 300; ++round) {
        qapResult one(nullptr), run(nullptr);
        one.newItem();
        run.newItem();
        for (int batch = 0; batch < 4; ++batch) {
            std::vector<qapResultNode::Piece> pieces;
            size_t count = next(12);
            for (size_t i = 0; i < count; ++i) {
                const std::u16string &t = texts[next(9)];
                pieces.push_back(
                    {t.c_str(), static_cast<uint32_t>(t.size()), static_cast<int>(next(2))});
            }
            for (const auto &p : pieces)
                one.last->addToContent(p.escape, p.s, p.n);
            run.last->addPieces(pieces.data(), pieces.size());
            ASSERT_EQ(run.last->contentLength, one.last->contentLength) << round;
            ASSERT_EQ(run.last->contentMaxLength, one.last->contentMaxLength) << round;
            if (one.last->content == nullptr)
                ASSERT_EQ(run.last->content, nullptr);
            else
                ASSERT_EQ(str(run.last->content), str(one.last->content)) << round;
        }
    }
}

TEST(ResultItems, AStandaloneItemOwnsItsBuffer) {
    qapResultNode item(nullptr);
    item.addToContent(1, u"a&b", 3);
    item.addToContent(0, u"cd", 2);
    EXPECT_EQ(str(item.content), u"a&amp;bcd");
}

TEST(ResultItems, AppendWithoutItemIsIgnored) {
    qapResult result(nullptr);
    result.addToCurrentItem(0, u"lost");
    EXPECT_EQ(result.count, 0u);
    EXPECT_EQ(result.first, nullptr);
}

TEST(Retrieve, ItemsInOrderEmptyItemAsEmptyString) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    qapResult result(ctx);
    result.newItem();
    result.addToCurrentItem(0, u"first");
    result.newItem(); // no text
    result.newItem();
    result.addToCurrentItem(1, u"<\u00e9>");
    Record rec(result.retrieve(4000));
    ASSERT_NE(rec.r, nullptr);
    EXPECT_STREQ(rec.r->sqlstate, "00000");
    EXPECT_EQ(rec.r->message, nullptr);
    EXPECT_EQ(rec.r->cursor, rec.r->values);
    EXPECT_EQ(rec.values(), (std::vector<std::string>{"first", "", "&lt;\xc3\xa9&gt;"}));

    qapResult none(ctx);
    Record empty(none.retrieve(10));
    ASSERT_NE(empty.r, nullptr);
    EXPECT_STREQ(empty.r->sqlstate, "00000");
    EXPECT_EQ(empty.r->values[0], nullptr);
}

TEST(Retrieve, Utf8DatabaseBytesMatchTheConverter) {
    TestCtx ctx(1208);
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    const std::u16string texts[] = {
        u"plain",
        u"\u00e9\u07ff\u0800\uffff",
        u"\U0001F600x",
        std::u16string(u"a") + char16_t(0xD800) + u"b", // unpaired lead
        std::u16string(u"a") + char16_t(0xDC00),        // unpaired trail
        std::u16string(1, char16_t(0xD800)),            // lead at the end
    };
    for (const std::u16string &t : texts) {
        qapResult result(ctx);
        result.newItem();
        result.addToCurrentItem(0, t.c_str());
        Record rec(result.retrieve(100));
        ASSERT_STREQ(rec.r->sqlstate, "00000");
        char expected[100];
        ASSERT_GE(QAP_wcstombsFunction(ctx, expected, t.c_str(), sizeof expected), 0);
        EXPECT_STREQ(rec.r->values[0], expected);
        // Exactly as long as the limit allows, and one byte more.
        const int32_t bytes = static_cast<int32_t>(strlen(expected));
        for (int32_t limit : {bytes + 1, bytes}) {
            qapResult again(ctx);
            again.newItem();
            again.addToCurrentItem(0, t.c_str());
            Record r(again.retrieve(limit));
            EXPECT_STREQ(r.r->sqlstate, limit > bytes ? "00000" : "38X39");
        }
    }
}

// The limit counts bytes in the database code page, terminator included.
struct LimitCase {
    int32_t dbCodePage;
    std::u16string text;
    std::string converted; // without terminator
};

TEST(Retrieve, LimitInDatabaseBytes) {
    using namespace std::string_literals;
    const LimitCase cases[] = {
        {1208, u"abcdefghij", "abcdefghij"},
        {1208, u"\u00e9\u00e9\u00e9\u4e2d", "\xc3\xa9\xc3\xa9\xc3\xa9\xe4\xb8\xad"},
        {1200, u"abcd", "\0a\0b\0c\0d"s},
        {1386, u"\u4e2d\u6587ab",
         "\xd6\xd0\xce\xc4"
         "ab"},
        {819, u"\u00e9\u00e9x", "\xe9\xe9x"},
    };
    for (const LimitCase &c : cases) {
        TestCtx ctx(c.dbCodePage);
        ASSERT_EQ(ctx.initRc, 0) << c.dbCodePage << " " << ctx.msgtext;
        const int32_t bytes = static_cast<int32_t>(c.converted.size());
        for (int32_t limit : {bytes + 1, bytes}) {
            qapResult result(ctx);
            result.newItem();
            result.addToCurrentItem(0, u"o");
            result.newItem();
            result.addToCurrentItem(0, c.text.c_str());
            result.newItem();
            result.addToCurrentItem(0, u"z");
            Record rec(result.retrieve(limit));
            ASSERT_NE(rec.r, nullptr);
            if (limit > bytes) {
                EXPECT_STREQ(rec.r->sqlstate, "00000") << c.dbCodePage;
                ASSERT_NE(rec.r->values[1], nullptr);
                EXPECT_EQ(std::string(rec.r->values[1], c.converted.size()), c.converted)
                    << c.dbCodePage;
                EXPECT_NE(rec.r->values[2], nullptr);
                EXPECT_EQ(rec.r->values[3], nullptr);
            } else {
                // The items before stay converted; the failed one ends the list.
                EXPECT_STREQ(rec.r->sqlstate, "38X39") << c.dbCodePage;
                ASSERT_NE(rec.r->values[0], nullptr);
                EXPECT_EQ(rec.r->values[1], nullptr);
                ASSERT_NE(rec.r->message, nullptr);
                EXPECT_EQ(std::string(rec.r->message).substr(0, 8), "QAPC013E");
            }
        }
    }
}

TEST(Retrieve, FreeExtractResultClearsFields) {
    TestCtx ctx;
    qapResult result(ctx);
    result.newItem();
    result.addToCurrentItem(0, u"x");
    QapExtractResult *r = result.retrieve(1); // "x" and its terminator need 2 bytes
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->sqlstate, "38X39");
    EXPECT_NE(r->message, nullptr);
    freeExtractResult(ctx, r);
    EXPECT_EQ(r->values, nullptr);
    EXPECT_EQ(r->message, nullptr);
    freeExtractResult(ctx, r); // a second release is harmless
    free(r);
    freeExtractResult(ctx, nullptr);
}

ListAttrs twoAttrs() {
    ListAttrs a;
    a.list.push_back({u"x", u"p:x", u"1"});
    a.list.push_back({u"y", u"y", u"two"});
    return a;
}

TEST(Attrs, EverySlot) {
    ListAttrs source = twoAttrs();
    QapAttrs attrs(nullptr, source);
    source.list.clear(); // a copy: independent of its source
    EXPECT_EQ(attrs.getLength(), 2u);
    EXPECT_EQ(attrs.getURI(0), nullptr);
    EXPECT_EQ(attrs.getURI(7), nullptr);
    EXPECT_EQ(str(attrs.getLocalName(0)), u"x");
    EXPECT_EQ(str(attrs.getQName(0)), u"p:x");
    EXPECT_EQ(str(attrs.getValue(static_cast<XMLSize_t>(1))), u"two");
    EXPECT_EQ(attrs.getType(static_cast<XMLSize_t>(0)), nullptr);
    EXPECT_EQ(attrs.getType(u"x"), nullptr);
    EXPECT_EQ(attrs.getType(nullptr, u"x"), nullptr);
    // By name: among the local names.
    EXPECT_EQ(str(attrs.getValue(u"x")), u"1");
    EXPECT_EQ(attrs.getValue(u"p:x"), nullptr);
    EXPECT_EQ(attrs.getValue(u"z"), nullptr);
    EXPECT_EQ(attrs.getValue(nullptr, u"x"), nullptr);
    EXPECT_EQ(attrs.getIndex(u"x"), -1);
    EXPECT_EQ(attrs.getIndex(nullptr, u"x"), -1);
    XMLSize_t index = 0;
    EXPECT_FALSE(attrs.getIndex(u"x", index));
    EXPECT_FALSE(attrs.getIndex(nullptr, u"x", index));
    EXPECT_EQ(attrs.localNames[2], nullptr);
    EXPECT_EQ(attrs.qNames[2], nullptr);
    EXPECT_EQ(attrs.values[2], nullptr);
    EXPECT_EQ(attrs.uri, nullptr);
}

TEST(Attrs, OutOfRangeThrowsInternalError) {
    ListAttrs source = twoAttrs();
    QapAttrs attrs(nullptr, source);
    struct Case {
        const XMLCh *(*call)(const QapAttrs &, XMLSize_t);
        const char *line;
    };
    const Case cases[] = {
        {[](const QapAttrs &a, XMLSize_t i) { return a.getLocalName(i); }, "line 353"},
        {[](const QapAttrs &a, XMLSize_t i) { return a.getQName(i); }, "line 276"},
        {[](const QapAttrs &a, XMLSize_t i) { return a.getValue(i); }, "line 221"},
    };
    for (const Case &c : cases) {
        for (XMLSize_t i : {XMLSize_t(2), XMLSize_t(1000)}) {
            try {
                c.call(attrs, i);
                ADD_FAILURE() << c.line;
            } catch (const QAPException &e) {
                std::string text = e.getText();
                EXPECT_EQ(text.substr(0, 8), "QAPG001E");
                EXPECT_NE(text.find("qapSgDocHandler"), std::string::npos) << text;
                EXPECT_NE(text.find(c.line), std::string::npos) << text;
                EXPECT_NE(text.find(qapBuildStamp), std::string::npos) << text;
            }
        }
    }
}

TEST(Attrs, SetValueAndReassign) {
    ListAttrs source = twoAttrs();
    QapAttrs attrs(nullptr, source);
    attrs.setValue(0, u"a much longer replacement value");
    EXPECT_EQ(str(attrs.getValue(u"x")), u"a much longer replacement value");
    EXPECT_EQ(str(attrs.getValue(u"y")), u"two");
    EXPECT_EQ(str(attrs.getQName(0)), u"p:x");
    attrs.setValue(1, attrs.getValue(static_cast<XMLSize_t>(0))); // from its own block
    EXPECT_EQ(str(attrs.getValue(u"y")), u"a much longer replacement value");
    EXPECT_THROW(attrs.setValue(2, u"v"), QAPException);

    ListAttrs none;
    attrs.assign(none);
    EXPECT_EQ(attrs.getLength(), 0u);
    EXPECT_EQ(attrs.getValue(u"x"), nullptr);
    EXPECT_THROW(attrs.getQName(0), QAPException);
    ListAttrs many;
    for (int i = 0; i < 40; ++i) {
        std::u16string n = u"n" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        many.list.push_back({n, n, std::u16string(static_cast<size_t>(i), u'v')});
    }
    attrs.assign(many);
    EXPECT_EQ(attrs.getLength(), 40u);
    EXPECT_EQ(str(attrs.getValue(u"nZ")), std::u16string(25, u'v'));
    EXPECT_EQ(attrs.values[40], nullptr);
}

TEST(Exception, FormatsItsMessage) {
    QAPException e(nullptr, QAPG002E);
    EXPECT_EQ(std::string(e.getText()).substr(0, 8), "QAPG002E");
    TestCtx ctx;
    QAPException r(ctx, QAPD001E, "/a/b");
    EXPECT_EQ(std::string(r.getText()).substr(0, 14), "QAPD001E  /a/b");
    EXPECT_EQ(r.ctx, ctx.get());
}

TEST(HandlerBase, ComposesTags) {
    ASSERT_TRUE(isSharedLibInitSuccess());
    std::u16string path = u"/a/b/@c";
    qapSgDocHandler handler(nullptr, &path[0]);
    EXPECT_EQ(handler.isMatched, PARTIAL);
    EXPECT_EQ(handler.targetKind, ATTRIBUTE);
    EXPECT_EQ(str(handler.attributeName), u"c");
    handler.result.newItem();
    ListAttrs attrs;
    attrs.list.push_back({u"x", u"p:x", u"1&2"});
    attrs.list.push_back({u"q", u"q", u"say \"hi\""});
    handler.composeStartElement(u"p:b", attrs);
    handler.result.addToCurrentItem(1, u"t<");
    handler.composeEndElement(u"p:b");
    EXPECT_EQ(str(handler.result.last->content),
              u"<p:b p:x=\"1&amp;2\" q=\"say &quot;hi&quot;\">t&lt;</p:b>");

    // More attributes than one run holds.
    handler.result.newItem();
    ListAttrs many;
    std::u16string expected = u"<m";
    for (int i = 0; i < 20; ++i) {
        std::u16string n = u"a" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        many.list.push_back({n, n, u"<"});
        expected += u" " + n + u"=\"&lt;\"";
    }
    handler.composeStartElement(u"m", many);
    EXPECT_EQ(str(handler.result.last->content), expected + u">");

    // An element without attributes, and an end tag too long for the stack buffer.
    handler.result.newItem();
    std::u16string longName(300, u'n');
    ListAttrs none;
    handler.composeStartElement(longName.c_str(), none);
    handler.composeEndElement(longName.c_str());
    EXPECT_EQ(str(handler.result.last->content), u"<" + longName + u"></" + longName + u">");
}

} // namespace
