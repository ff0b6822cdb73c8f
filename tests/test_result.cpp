// Extraction results: escaping, item growth and the retry when escaping runs out of room, the
// conversion of items within the byte limit, the attribute-list copy and the handler's tags.
#include "qapConv.h"
#include "qapMsg.h"
#include "qapResult.h"
#include "qapSgDocHandler.h"
#include "tarn.h"
#include "testAttrs.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using testing_support::TestCtx;

namespace {

std::u16string str(const XMLCh *s) {
    return s != nullptr ? std::u16string(s) : u"<null>";
}

// A retrieved record, freed on every path.
struct Record {
    QapExtractResult *r;
    explicit Record(QapExtractResult *r) : r(r) {}
    ~Record() {
        freeExtractResult(nullptr, r);
        free(r);
    }
};

// The texts as items, appended raw, then retrieved within the limit.
QapExtractResult *retrieve(QapRoutineCtx *ctx, const std::vector<std::u16string> &texts,
                           int32_t limit) {
    qapResult result(ctx);
    for (const std::u16string &t : texts) {
        result.newItem();
        result.addToCurrentItem(0, t.c_str());
    }
    return result.retrieve(limit);
}

TEST(EntityReplace, EscapesWithinCapacity) {
    const struct {
        std::u16string source;
        int32_t capacity;
        std::u16string expected; // empty with result -1 when it does not fit
        int32_t result;
    } cases[] = {
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
    for (const auto &c : cases) {
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
        for (size_t i = static_cast<size_t>(c.capacity > 0 ? c.capacity : 0); i < out.size(); ++i)
            ASSERT_EQ(out[i], u'#') << "written past the capacity";
    }
}

TEST(ResultItems, AppendsGrowAndEscapingRetries) {
    qapResult result(nullptr);
    result.addToCurrentItem(0, u"lost"); // no item yet: ignored
    EXPECT_EQ(result.first, nullptr);
    result.newItem();
    qapResultNode *item = result.last;
    EXPECT_EQ(item->content, nullptr);
    // Raw: the first append allocates n units; growth is the needed length plus twice the old
    // capacity; null and empty texts change nothing.
    result.addToCurrentItem(0, u"a<b");
    EXPECT_EQ(item->contentMaxLength, 3u);
    result.addToCurrentItem(0, u"cd");
    EXPECT_EQ(item->contentMaxLength, 2u + 2 * 3u);
    result.addToCurrentItem(0, u"efg");
    result.addToCurrentItem(1, nullptr);
    result.addToCurrentItem(1, u"");
    EXPECT_EQ(item->contentMaxLength, 8u);
    EXPECT_EQ(str(item->content), u"a<bcdefg");
    // Escaped into a full item: grows for n = 3 (3 + 2 * 8 = 19 units), runs out of room at
    // "&gt;", retries with 2n + 10 = 16 and grows again (16 + 2 * 19).
    result.addToCurrentItem(1, u"<&>");
    EXPECT_EQ(str(item->content), u"a<bcdefg&lt;&amp;&gt;");
    EXPECT_EQ(item->contentMaxLength, 16u + 2 * 19u);
    EXPECT_EQ(item->contentLength, 21u);
    // A length-bounded append reads no further than its length.
    result.addToCurrentItem(0, u"hi<<<", 2);
    item->addToContent(1, u"<c<<<", 2);
    EXPECT_EQ(str(item->content), u"a<bcdefg&lt;&amp;&gt;hi&lt;c");

    // A first escaped append retries once and grows to 4n + 10; many specials retry until
    // they fit.
    result.newItem();
    result.addToCurrentItem(1, u"xxxxx");
    EXPECT_EQ(result.last->contentMaxLength, 30u);
    std::u16string quotes(1000, u'"'), expected;
    for (int i = 0; i < 1000; ++i)
        expected += u"&quot;";
    result.newItem();
    result.addToCurrentItem(1, quotes.c_str());
    EXPECT_EQ(str(result.last->content), expected);
    EXPECT_EQ(result.count, 3u);

    qapResultNode standalone(nullptr); // owns its buffer
    standalone.addToContent(1, u"a&b", 3);
    standalone.addToContent(0, u"cd", 2);
    EXPECT_EQ(str(standalone.content), u"a&amp;bcd");
}

// Many items, some far larger than others, appended in pieces and out of order, keep their text;
// a run of pieces leaves exactly what one append per piece leaves.
TEST(ResultItems, ManyItemsAndRunsOfPieces) {
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    qapResult result(nullptr);
    std::vector<qapResultNode *> items;
    std::vector<std::u16string> texts;
    for (int round = 0; round < 20000; ++round) {
        if (items.empty() || next(4) == 0) {
            result.newItem();
            items.push_back(result.last);
            texts.emplace_back();
        }
        // Mostly the last item, sometimes an earlier one; item 3 grows very large.
        size_t k = next(8) == 0 ? next(static_cast<uint32_t>(items.size())) : items.size() - 1;
        if (round % 100 == 0 && items.size() > 3) k = 3;
        uint32_t n = k == 3 ? 500 + next(3000) : 1 + next(40);
        std::u16string piece(n, static_cast<char16_t>(u'a' + round % 26));
        items[k]->addToContent(0, piece.c_str(), n);
        texts[k] += piece;
    }
    ASSERT_EQ(result.count, items.size());
    for (size_t k = 0; k < items.size(); ++k) {
        ASSERT_EQ(texts[k].empty() ? u"<null>" : texts[k], str(items[k]->content)) << k;
        ASSERT_EQ(items[k]->contentLength, texts[k].size()) << k;
    }
    EXPECT_GT(texts[3].size(), 100000u);

    const std::u16string pool[] = {u"",
                                   u"a",
                                   u"<b>",
                                   u"plain text",
                                   u"\"&'",
                                   u"&",
                                   u"<<<<",
                                   std::u16string(u"x\0y", 3),
                                   u"long enough to grow the buffer more"};
    for (int round = 0; round < 100; ++round) {
        qapResult one(nullptr), run(nullptr);
        one.newItem();
        run.newItem();
        for (int batch = 0; batch < 4; ++batch) {
            std::vector<qapResultNode::Piece> pieces(next(12));
            for (auto &p : pieces) {
                const std::u16string &t = pool[next(9)];
                p = {t.c_str(), static_cast<uint32_t>(t.size()), static_cast<int>(next(2))};
                one.last->addToContent(p.escape, p.s, p.n);
            }
            run.last->addPieces(pieces.data(), pieces.size());
            ASSERT_EQ(run.last->contentLength, one.last->contentLength) << round;
            ASSERT_EQ(run.last->contentMaxLength, one.last->contentMaxLength) << round;
            ASSERT_EQ(str(run.last->content), str(one.last->content)) << round;
            // The same pieces joined: one raw append of their concatenation.
            std::u16string joined;
            for (const auto &p : pieces)
                joined.append(p.s, p.n);
            one.last->addToContent(0, joined.data(), static_cast<uint32_t>(joined.size()));
            run.last->addJoined(pieces.data(), pieces.size());
            ASSERT_EQ(run.last->contentLength, one.last->contentLength) << round;
            ASSERT_EQ(run.last->contentMaxLength, one.last->contentMaxLength) << round;
            ASSERT_EQ(std::u16string(run.last->content, run.last->contentLength),
                      std::u16string(one.last->content, one.last->contentLength))
                << round;
        }
    }
}

// addItem is newItem and addToCurrentItem in one, across slabs and with appends after it.
TEST(ResultItems, AddItemIsNewItemThenAppend) {
    const std::u16string texts[] = {
        u"", u"7.50", u"a&b", u"<<", std::u16string(300, u'x'), std::u16string(9000, u'y')};
    qapResult one(nullptr), two(nullptr);
    for (int i = 0; i < 3000; ++i) {
        const std::u16string &t = texts[(i * 7) % 6];
        const int escape = i % 3 == 0 ? 1 : 0;
        one.newItem();
        one.addToCurrentItem(escape, t.c_str(), static_cast<uint32_t>(t.size()));
        two.addItem(escape, t.c_str(), static_cast<uint32_t>(t.size()));
        if (i % 5 == 0) {
            one.last->addToContent(0, u"tail", 4);
            two.last->addToContent(0, u"tail", 4);
        }
    }
    ASSERT_EQ(one.count, two.count);
    for (qapResultNode *a = one.first, *b = two.first; a != nullptr; a = a->next, b = b->next) {
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(a->contentLength, b->contentLength);
        ASSERT_EQ(a->contentMaxLength, b->contentMaxLength);
        ASSERT_EQ(str(a->content), str(b->content));
    }
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
    ASSERT_NE(rec.r->values[2], nullptr);
    EXPECT_STREQ(rec.r->values[0], "first");
    EXPECT_STREQ(rec.r->values[1], "");
    EXPECT_STREQ(rec.r->values[2], "&lt;\xc3\xa9&gt;");
    EXPECT_EQ(rec.r->values[3], nullptr);

    Record empty(retrieve(ctx, {}, 10));
    ASSERT_NE(empty.r, nullptr);
    EXPECT_STREQ(empty.r->sqlstate, "00000");
    EXPECT_EQ(empty.r->values[0], nullptr);
}

// UTF-8 is written directly: the bytes must be the converter's, surrogates unpaired or not.
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
        char expected[100];
        ASSERT_GE(QAP_wcstombsFunction(ctx, expected, t.c_str(), sizeof expected), 0);
        Record rec(retrieve(ctx, {t}, 100));
        ASSERT_STREQ(rec.r->sqlstate, "00000");
        EXPECT_STREQ(rec.r->values[0], expected);
        const int32_t bytes = static_cast<int32_t>(strlen(expected));
        EXPECT_STREQ(Record(retrieve(ctx, {t}, bytes + 1)).r->sqlstate, "00000");
        EXPECT_STREQ(Record(retrieve(ctx, {t}, bytes)).r->sqlstate, "38X39");
    }
}

// Longer texts: ASCII runs of every length around non-ASCII characters, pairs and NULs, in
// items short and long (the longest beyond what is converted through a shared buffer).
TEST(Retrieve, Utf8DatabaseLongTextsMatchTheConverter) {
    TestCtx ctx(1208);
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    uint32_t seed = 99;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    const std::u16string others[] = {u"\u00e9", u"\u2013", u"\U0001F600", u"\u07ff",
                                     std::u16string(1, u'\0')};
    std::vector<std::u16string> texts;
    for (int i = 0; i < 300; ++i) {
        std::u16string t;
        const size_t target = i == 0 ? 40000 : next(60);
        while (t.size() < target) {
            t.append(next(20), static_cast<char16_t>(u'a' + next(26)));
            if (next(3) == 0) t += others[next(i % 7 == 0 ? 5 : 4)];
        }
        texts.push_back(t);
    }
    for (const std::u16string &t : texts) {
        // The converter stops at a NUL as the conversion does.
        std::vector<char> expected(4 * t.size() + 4);
        ASSERT_GE(QAP_wcstombsFunction(ctx, expected.data(), t.c_str(),
                                       static_cast<int32_t>(expected.size())),
                  0);
        qapResult result(ctx);
        result.newItem();
        result.last->addToContent(0, t.data(), static_cast<uint32_t>(t.size()));
        Record rec(result.retrieve(1 << 20));
        ASSERT_STREQ(rec.r->sqlstate, "00000");
        ASSERT_STREQ(rec.r->values[0], expected.data()) << t.size();
    }
}

// The limit counts bytes in the database code page, terminator included.
TEST(Retrieve, LimitInDatabaseBytes) {
    using namespace std::string_literals;
    const struct {
        int32_t dbCodePage;
        std::u16string text;
        std::string converted; // without terminator
    } cases[] = {
        {1208, u"abcdefghij", "abcdefghij"},
        {1208, u"\u00e9\u00e9\u00e9\u4e2d", "\xc3\xa9\xc3\xa9\xc3\xa9\xe4\xb8\xad"},
        {1200, u"abcd", "\0a\0b\0c\0d"s},
        {1386, u"\u4e2d\u6587ab",
         "\xd6\xd0\xce\xc4"
         "ab"},
        {819, u"\u00e9\u00e9x", "\xe9\xe9x"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dbCodePage);
        TestCtx ctx(c.dbCodePage);
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        const int32_t bytes = static_cast<int32_t>(c.converted.size());
        Record fits(retrieve(ctx, {u"o", c.text, u"z"}, bytes + 1));
        EXPECT_STREQ(fits.r->sqlstate, "00000");
        ASSERT_NE(fits.r->values[2], nullptr);
        EXPECT_EQ(std::string(fits.r->values[1], c.converted.size()), c.converted);
        EXPECT_EQ(fits.r->values[3], nullptr);
        // The items before stay converted; the failed one ends the list.
        Record over(retrieve(ctx, {u"o", c.text, u"z"}, bytes));
        EXPECT_STREQ(over.r->sqlstate, "38X39");
        ASSERT_NE(over.r->values[0], nullptr);
        EXPECT_EQ(over.r->values[1], nullptr);
        ASSERT_NE(over.r->message, nullptr);
        EXPECT_EQ(std::string(over.r->message).substr(0, 8), "QAPC013E");
    }
}

TEST(Retrieve, FreeExtractResultClearsFields) {
    TestCtx ctx;
    QapExtractResult *r = retrieve(ctx, {u"x"}, 1); // "x" and its terminator need 2 bytes
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r->message, nullptr);
    freeExtractResult(ctx, r);
    EXPECT_EQ(r->values, nullptr);
    EXPECT_EQ(r->message, nullptr);
    freeExtractResult(ctx, r); // a second release is harmless
    free(r);
    freeExtractResult(ctx, nullptr);
}

// The text of the QAPException the call throws, "" when it throws none.
std::string thrown(const std::function<void()> &call) {
    try {
        call();
    } catch (const QAPException &e) {
        return e.getText();
    }
    return "";
}

ListAttrs twoAttrs() {
    ListAttrs a;
    a.list.push_back({u"x", u"p:x", u"1"});
    a.list.push_back({u"y", u"y", u"two"});
    return a;
}

TEST(Attrs, CopyLooksUpLocalNamesOnly) {
    ListAttrs source = twoAttrs();
    QapAttrs attrs(nullptr, source);
    source.list.clear(); // a copy: independent of its source
    EXPECT_EQ(attrs.getLength(), 2u);
    EXPECT_EQ(str(attrs.getLocalName(0)), u"x");
    EXPECT_EQ(str(attrs.getQName(0)), u"p:x");
    EXPECT_EQ(str(attrs.getValue(static_cast<XMLSize_t>(1))), u"two");
    EXPECT_EQ(str(attrs.getValue(u"x")), u"1");
    EXPECT_EQ(attrs.getValue(u"p:x"), nullptr);
    EXPECT_EQ(attrs.getValue(u"z"), nullptr);
    EXPECT_EQ(attrs.getValue(nullptr, u"x"), nullptr);
    EXPECT_EQ(attrs.getIndex(u"x"), -1);
    EXPECT_EQ(attrs.values[2], nullptr);

    // Out of range: the internal error, naming the line of each accessor.
    const std::string error = std::string("QAPG001E  An internal error occured in build ") +
                              qapBuildStamp + ", file qapSgDocHandler, and line ";
    for (XMLSize_t i : {XMLSize_t(2), XMLSize_t(1000)}) {
        EXPECT_EQ(thrown([&] { attrs.getLocalName(i); }), error + "353.\n");
        EXPECT_EQ(thrown([&] { attrs.getQName(i); }), error + "276.\n");
        EXPECT_EQ(thrown([&] { attrs.getValue(i); }), error + "221.\n");
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

    attrs.assign(ListAttrs());
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
    TestCtx ctx;
    QAPException e(ctx, QAPD001E, "/a/b");
    EXPECT_EQ(std::string(e.getText()).substr(0, 14), "QAPD001E  /a/b");
    EXPECT_EQ(e.ctx, ctx.get());
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

    // No attributes, and an end tag too long for the stack buffer.
    handler.result.newItem();
    std::u16string longName(300, u'n');
    handler.composeStartElement(longName.c_str(), ListAttrs());
    handler.composeEndElement(longName.c_str());
    EXPECT_EQ(str(handler.result.last->content), u"<" + longName + u"></" + longName + u">");
}

} // namespace
