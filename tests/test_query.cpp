// Location path: parse errors and their positions, the pieces a path is parsed into, and the
// three-state match against sequences of open elements.
#include "qapQuery.h"
#include "testAttrs.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Pushes "name[k=v,k=v]" (attributes optional; local name = qualified name).
void push(QapCurrentPath &path, const std::string &desc) {
    ListAttrs attrs;
    size_t b = desc.find('[');
    if (b != std::string::npos) {
        std::istringstream body(desc.substr(b + 1, desc.size() - b - 2));
        for (std::string kv; std::getline(body, kv, ',');) {
            std::u16string name = u16(kv.substr(0, kv.find('=')));
            attrs.list.push_back({name, name, u16(kv.substr(kv.find('=') + 1))});
        }
    }
    path.push(u16(desc.substr(0, b)).c_str(), attrs);
}

// A query with its path text, which must outlive it.
struct Parsed {
    std::u16string text;
    QapQuery query;
    explicit Parsed(const std::u16string &path) : text(path), query(nullptr, &text[0]) {}
};

// Pushes the elements one by one and records the state after each push.
std::string statesAfterPushes(QapQuery &q, const std::string &elements) {
    QapCurrentPath path(nullptr);
    std::istringstream in(elements);
    std::string states;
    for (std::string desc; in >> desc;) {
        push(path, desc);
        states += "NPY"[q.match(path)];
    }
    return states;
}

std::vector<std::u16string> names(const QapChunk *c) {
    std::vector<std::u16string> out;
    for (; c != nullptr; c = c->next)
        out.emplace_back(c->step->name);
    return out;
}

TEST(QueryMatch, StatesAlongOpenElements) {
    // TAGGED_ELEMENT is set after the parse, as the extract handler does; states: one per push.
    const struct {
        const char *path;
        QapTargetKind kind;
        const char *elements, *states;
    } cases[] = {
        // Absolute paths cover the whole current path.
        {"/a/b", ELEMENT, "a b c", "PYN"},
        {"/a/b", ELEMENT, "x b", "NN"},
        {"/a/b", ELEMENT, "a c b", "PNN"},
        {"/a", ELEMENT, "a a", "YN"},
        {"/a:b/c", ELEMENT, "a:b c", "PY"},
        {"/a/b", ELEMENT, "a B", "PN"},
        // Children of a match are YES in tagged mode.
        {"/a/b", TAGGED_ELEMENT, "a b c d", "PYYY"},
        {"/a/b", TAGGED_ELEMENT, "a x y", "PNN"},
        // "//" at the start.
        {"//b", ELEMENT, "a b c b", "PYPY"},
        {"//b/c", ELEMENT, "b c b x c", "PYPPP"},
        {"//b", TAGGED_ELEMENT, "b c", "YP"},
        // "//" in the middle: never the head's own element.
        {"/a//a", ELEMENT, "a a x a", "PYPY"},
        {"/a//b", ELEMENT, "a x b", "PPY"},
        {"/a//b", ELEMENT, "x b", "NN"},
        // Several "//": middle chunks at their leftmost occurrence, then the tail.
        {"/a//b//c", ELEMENT, "a b c", "PPY"},
        {"/a//b//c", ELEMENT, "a c b c", "PPPY"},
        {"/a//b//c", ELEMENT, "a x b y c", "PPPPY"},
        {"/a//b//c", ELEMENT, "a b", "PP"},
        {"//a//b", ELEMENT, "x a b", "PPY"},
        {"//a//b", ELEMENT, "b a", "PP"},
        {"/r//a//b//c", ELEMENT, "r b a c", "PPPP"},
        {"/r//a/b//c/d", ELEMENT, "r a x a b c d", "PPPPPPY"},
        {"/r//a/b//c/d", ELEMENT, "r a b d c d", "PPPPPY"},
        {"//a//b//c", ELEMENT, "a b c c", "PPYY"},
        // "*".
        {"/a/*", ELEMENT, "a b c", "PYN"},
        {"/*/b", ELEMENT, "x b", "PY"},
        {"//*", ELEMENT, "a b", "YY"},
        // Predicates, on the last step and on ancestors.
        {"/a/b[@x=\"1\"]/c", ELEMENT, "a b[x=1] c", "PPY"},
        {"/a/b[@x=\"1\"]/c", ELEMENT, "a b[x=2] c", "PNN"},
        {"/a/b[@x=\"1\"]/c", ELEMENT, "a b c", "PNN"},
        {"/a/b[@x=\"1\"]/c", ELEMENT, "a b[y=1,x=1] c", "PPY"},
        {"/a/b[@x=\"1\"]", ELEMENT, "a b[x=10]", "PN"},
        {"//b[@x=\"\"]", ELEMENT, "b[x=] b", "YP"},
        {"//b[@x=\"1\"]/c", ELEMENT, "b[x=2] c b[x=1] c", "PPPY"},
        // The opening character after "=" is skipped unchecked; text after the closing quote
        // up to "]" is ignored.
        {"/a[@x='1\"]", ELEMENT, "a[x=1]", "Y"},
        {"/a[@x=\"1\"junk]/b", ELEMENT, "a[x=1] b", "PY"},
        {"/a[ignored@x=\"1\"]", ELEMENT, "a[x=1]", "Y"},
        // A bracket without "@" has no effect.
        {"/a/b[1]", ELEMENT, "a b", "PY"},
        // A "/" inside a quoted value stays in the value.
        {"/a/b[@x=\"1/2\"]/c", ELEMENT, "a b[x=1/2] c", "PPY"},
        {"/a/b[@x=\"1/2\"]/c", ELEMENT, "a b[x=1] c", "PNN"},
        {"/a[@x=\"v\"]/b[@y=\"1/2\"]", ELEMENT, "a[x=v] b[y=1/2]", "PY"},
        // Attribute targets match the element that carries the attribute.
        {"/a/b/@c", ATTRIBUTE, "a b d", "PYN"},
        {"//b/@c", ATTRIBUTE, "a b", "PY"},
        {"/a/b[@x=\"1\"]/@y", ATTRIBUTE, "a b[x=1]", "PY"},
        // Nothing matches "//@a" and "//" alone, unless tagged.
        {"//@a", ATTRIBUTE, "a b", "NN"},
        {"//", ELEMENT, "a b", "NN"},
        {"//", TAGGED_ELEMENT, "a b", "YY"},
        {"/", ELEMENT, "a", "N"},
        {"/", TAGGED_ELEMENT, "a b", "YY"},
        // "/a//" has no tail: it is the absolute path /a.
        {"/a//", ELEMENT, "a b", "YN"},
        {"/a/", ELEMENT, "a b", "YN"},
    };
    for (const auto &c : cases) {
        Parsed p(u16(c.path));
        ASSERT_EQ(p.query.getErrorPosition(), 0) << c.path;
        if (c.kind == TAGGED_ELEMENT)
            p.query.setTargetKind(TAGGED_ELEMENT);
        else
            EXPECT_EQ(p.query.getTargetKind(), c.kind) << c.path;
        EXPECT_EQ(statesAfterPushes(p.query, c.elements), c.states)
            << c.path << " on " << c.elements;
    }
}

TEST(QueryMatch, PopReturnsToEarlierStates) {
    Parsed p(u"/a//b/c");
    QapCurrentPath path(nullptr);
    for (const char *e : {"a", "b", "c"})
        push(path, e);
    EXPECT_EQ(p.query.match(path), YES);
    path.pop();
    EXPECT_EQ(p.query.match(path), PARTIAL);
    push(path, "x");
    EXPECT_EQ(p.query.match(path), PARTIAL);
    for (int i = 0; i < 3; ++i)
        path.pop();
    EXPECT_EQ(path.first, nullptr);
    EXPECT_EQ(path.last, nullptr);
    EXPECT_EQ(p.query.match(path), PARTIAL); // an empty current path matches no step
    path.pop();                              // harmless on an empty list
}

TEST(QueryParse, ErrorPositions) {
    const struct {
        std::u16string path;
        int32_t position;
    } cases[] = {
        {u"a/b", 1},
        {u"", 1},
        {u"/a/b@c", 3}, // the character before "@"
        {u"/1/b@c", 3}, // the "@" error stops the parse
        {u"/@a", 1},    // the head then begins with "@"
        {u"/a/b*", 4},
        {u"/*a", 1},
        {u"/a/*", 0},
        {u"/1a", 1},
        {u"/a/-b", 3},
        {u"/a b", 2},
        {u"/a.b-c_d:e/_x/:y", 0},
        {u"/a///b", 4}, // an empty step
        {u"/a[@x=\"1\"]", 0},
        {u"/a/b[@x='1']/c", 7}, // no double quote after "="
        {u"/a/b[@x=1]/c", 7},
        {u"/a/b[@x=\"1]", 7},       // no closing quote
        {u"/a/b[@x=", 7},           // nothing after "="
        {u"/a/b[@x]", 4},           // no "=" at all: an attribute step not after "/"
        {u"/a[@x]/b[@y=\"1\"]", 3}, // no "=" in the predicate: at its "@"
        {u"/a/b[@1x=\"v\"]", 6},    // the predicate's name
        {u"/a/b[1]", 0},
        {u"/a/b[@x=\"1//2\"]/c", 12}, // "//" splits the value: the tail's first name is bad
        // Non-ASCII names: letters, combining characters, extenders, digits, ideographs.
        {u"/\u00e9t\u00e9", 0},
        {u"/a\u0300\u00b7\u0660", 0},
        {u"/\u4e00\u3007", 0},
        {u"/\u0300", 1},
        {u"/\u0660", 1},
        {u"/a\U00010000", 2},
        {u"/a\u00d7", 2},
        // The last error found wins: head, tail, then middle chunks from last to first.
        {u"/1/2", 1 + 2},
        {u"/1//2", 4},
        {u"/1//2//3//4", 4},
        {u"/a//2//3//b", 4},
        {u"/1//b//c//4", 10},
        // A predicate error ends its segment: later steps are not checked.
        {u"/a[@x]/1[@y=\"v\"]", 3},
        {u"/a[@x=\"1\"]/b*", 12},
    };
    for (const auto &c : cases) {
        Parsed p(c.path);
        EXPECT_EQ(p.query.getErrorPosition(), c.position)
            << std::string(c.path.begin(), c.path.end());
    }
}

TEST(QueryParse, Pieces) {
    Parsed attr(u"/a/b/@c");
    EXPECT_EQ(attr.query.getTargetKind(), ATTRIBUTE);
    EXPECT_EQ(std::u16string(attr.query.getAttributeName()), u"c");
    EXPECT_EQ(names(attr.query.head), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(attr.query.middle, nullptr);
    EXPECT_EQ(attr.query.tail, nullptr);

    // The tail is kept last step first; the middle in path order.
    Parsed p(u"/r//m/n//o//x/y/z");
    EXPECT_EQ(p.query.getTargetKind(), ELEMENT);
    EXPECT_EQ(p.query.getAttributeName(), nullptr);
    EXPECT_EQ(names(p.query.head), std::vector<std::u16string>{u"r"});
    EXPECT_EQ(names(p.query.tail), (std::vector<std::u16string>{u"z", u"y", u"x"}));
    ASSERT_NE(p.query.middle, nullptr);
    EXPECT_EQ(names(p.query.middle->chunk), (std::vector<std::u16string>{u"m", u"n"}));
    ASSERT_NE(p.query.middle->next, nullptr);
    EXPECT_EQ(names(p.query.middle->next->chunk), std::vector<std::u16string>{u"o"});
    EXPECT_EQ(p.query.middle->next->next, nullptr);

    Parsed pred(u"/a/b[@x=\"1/2\"]/c");
    ASSERT_EQ(names(pred.query.head), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    EXPECT_EQ(std::u16string(pred.query.head->next->step->predicateAttr), u"x");
    EXPECT_EQ(std::u16string(pred.query.head->next->step->predicateValue), u"1/2");

    // "@" inside a value after the last "=" makes an attribute target.
    Parsed v(u"/a[@x=\"v\"]/@y");
    EXPECT_EQ(v.query.getTargetKind(), ATTRIBUTE);
    EXPECT_EQ(std::u16string(v.query.getAttributeName()), u"y");
    EXPECT_EQ(Parsed(u"/a/@y[@x=\"v\"]").query.getTargetKind(), ELEMENT);
    EXPECT_EQ(std::u16string(Parsed(u"/a/@*").query.getAttributeName()), u"*");
}

TEST(QueryParse, LongPathsDoNotRecurse) {
    std::u16string path;
    for (int i = 0; i < 50000; ++i)
        path += u"/a";
    path += u"//b";
    for (int i = 0; i < 50000; ++i)
        path += u"//c";
    Parsed p(path);
    EXPECT_EQ(p.query.getErrorPosition(), 0);
    QapCurrentPath open(nullptr);
    push(open, "a");
    EXPECT_EQ(p.query.match(open), PARTIAL);
}

TEST(CurrentPath, NodesCopyNameAndAttributesAndAreReused) {
    QapCurrentPath path(nullptr);
    push(path, "root[k=v,x=1]"); // the pushed texts are temporaries
    push(path, "child");
    ASSERT_NE(path.first, nullptr);
    EXPECT_EQ(std::u16string(path.first->qname), u"root");
    EXPECT_EQ(std::u16string(path.first->attrs->getValue(u"x")), u"1");
    EXPECT_EQ(path.first->prev, nullptr);
    EXPECT_EQ(path.first->next, path.last);
    EXPECT_EQ(path.last->prev, path.first);
    EXPECT_EQ(path.last->next, nullptr);
    EXPECT_EQ(path.last->attrs->getLength(), 0u);

    // A reused node takes a longer name and more attributes, then fewer again.
    path.pop();
    push(path, "a-much-longer-element-name-than-before[p=1,q=22,r=333]");
    EXPECT_EQ(std::u16string(path.last->qname), u"a-much-longer-element-name-than-before");
    EXPECT_EQ(path.last->attrs->getLength(), 3u);
    EXPECT_EQ(std::u16string(path.last->attrs->getValue(u"r")), u"333");
    EXPECT_EQ(path.last->prev, path.first);
    path.pop();
    push(path, "d[z=9]");
    EXPECT_EQ(path.last->attrs->getLength(), 1u);
    EXPECT_EQ(std::u16string(path.last->attrs->getValue(u"z")), u"9");
    EXPECT_EQ(path.last->attrs->getValue(u"r"), nullptr);
}

TEST(CharClasses, KnownMembersAndNonMembers) {
    struct Case {
        bool (*is)(XMLCh);
        std::vector<char16_t> members;
        std::vector<char16_t> others;
    };
    const Case cases[] = {
        {qapIsLetter,
         {u'A', u'z', 0x00C0, 0x00F8, 0x0131, 0x0386, 0x0E30, 0x1100, 0x212E, 0x3007, 0x3021,
          0x4E00, 0x9FA5, 0xAC00, 0xD7A3},
         {u'0', u'_', u':', 0x00D7, 0x00F7, 0x0132, 0x0387, 0x0E31, 0x3008, 0x9FA6, 0xD7A4, 0xD800,
          0xFFFF, 0}},
        {qapIsDigit,
         {u'0', u'9', 0x0660, 0x06F9, 0x0966, 0x0BE7, 0x0F29},
         {u'a', u'/', 0x0BE6, 0x0F2A, 0xFF10}},
        {qapIsCombiningChar,
         {0x0300, 0x0345, 0x05BF, 0x06DD, 0x093C, 0x09BF, 0x0F3F, 0x20E1, 0x302F, 0x309A},
         {u'a', 0x0346, 0x05C3, 0x20DD, 0x309B}},
        {qapIsExtender,
         {0x00B7, 0x02D0, 0x02D1, 0x0387, 0x0640, 0x3005, 0x3033, 0x30FE},
         {u'.', 0x00B8, 0x02D2, 0x3036, 0x30FF}},
    };
    for (const Case &c : cases) {
        for (char16_t m : c.members)
            EXPECT_TRUE(c.is(m)) << std::hex << unsigned(m);
        for (char16_t o : c.others)
            EXPECT_FALSE(c.is(o)) << std::hex << unsigned(o);
    }
}

} // namespace
