// Location path: parse errors and their positions, the pieces a path is parsed into, and the
// three-state match against sequences of open elements.
#include "qapQuery.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using XERCES_CPP_NAMESPACE::Attributes;

// A parser-like attribute list: local name, qualified name, value.
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

std::u16string u16(const std::string &s) {
    return std::u16string(s.begin(), s.end());
}

// "name[k=v,k=v]" -> element name and attributes (local name = qualified name).
std::pair<std::u16string, ListAttrs> element(const std::string &spec) {
    std::pair<std::u16string, ListAttrs> e;
    size_t b = spec.find('[');
    e.first = u16(spec.substr(0, b));
    if (b == std::string::npos) return e;
    std::string body = spec.substr(b + 1, spec.size() - b - 2);
    size_t pos = 0;
    while (pos < body.size()) {
        size_t comma = body.find(',', pos);
        if (comma == std::string::npos) comma = body.size();
        std::string kv = body.substr(pos, comma - pos);
        size_t eq = kv.find('=');
        e.second.list.push_back(
            {u16(kv.substr(0, eq)), u16(kv.substr(0, eq)), u16(kv.substr(eq + 1))});
        pos = comma + 1;
    }
    return e;
}

std::vector<std::string> split(const std::string &s) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < s.size()) {
        size_t sp = s.find(' ', pos);
        if (sp == std::string::npos) sp = s.size();
        if (sp > pos) out.push_back(s.substr(pos, sp - pos));
        pos = sp + 1;
    }
    return out;
}

// A query with its path text, which must outlive it.
struct Parsed {
    std::u16string text;
    QapQuery query;
    explicit Parsed(const std::u16string &path) : text(path), query(nullptr, &text[0]) {}
};

char stateChar(QapMatchState s) {
    return s == YES ? 'Y' : s == PARTIAL ? 'P' : 'N';
}

// Pushes the elements one by one and records the state after each push.
std::string statesAfterPushes(QapQuery &q, const std::string &elements) {
    QapCurrentPath path(nullptr);
    std::string states;
    for (const std::string &spec : split(elements)) {
        auto e = element(spec);
        path.push(e.first.c_str(), e.second);
        states += stateChar(q.match(path));
    }
    return states;
}

std::vector<std::u16string> names(const QapChunk *c) {
    std::vector<std::u16string> out;
    for (; c != nullptr; c = c->next)
        out.emplace_back(c->step->name);
    return out;
}

struct MatchCase {
    const char *path;
    QapTargetKind kind; // TAGGED_ELEMENT is set after the parse, as the extract handler does
    const char *elements;
    const char *states; // one per pushed element
};

TEST(QueryMatch, StatesAlongOpenElements) {
    const MatchCase cases[] = {
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
    for (const MatchCase &c : cases) {
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
    ListAttrs none;
    path.push(u"a", none);
    path.push(u"b", none);
    path.push(u"c", none);
    EXPECT_EQ(p.query.match(path), YES);
    path.pop();
    EXPECT_EQ(p.query.match(path), PARTIAL);
    path.push(u"x", none);
    EXPECT_EQ(p.query.match(path), PARTIAL);
    path.pop();
    path.pop();
    path.pop();
    EXPECT_EQ(path.first, nullptr);
    EXPECT_EQ(path.last, nullptr);
    // An empty current path matches no step.
    EXPECT_EQ(p.query.match(path), PARTIAL);
    path.pop(); // harmless on an empty list
}

struct ErrorCase {
    std::u16string path;
    int32_t position;
};

TEST(QueryParse, ErrorPositions) {
    const ErrorCase cases[] = {
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
    for (const ErrorCase &c : cases) {
        Parsed p(c.path);
        EXPECT_EQ(p.query.getErrorPosition(), c.position)
            << std::string(c.path.begin(), c.path.end());
    }
}

TEST(QueryParse, Pieces) {
    {
        Parsed p(u"/a/b/@c");
        EXPECT_EQ(p.query.getTargetKind(), ATTRIBUTE);
        EXPECT_EQ(std::u16string(p.query.getAttributeName()), u"c");
        EXPECT_EQ(names(p.query.head), (std::vector<std::u16string>{u"a", u"b"}));
        EXPECT_EQ(p.query.middle, nullptr);
        EXPECT_EQ(p.query.tail, nullptr);
    }
    {
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
    }
    {
        Parsed p(u"/a/b[@x=\"1/2\"]/c");
        ASSERT_EQ(names(p.query.head), (std::vector<std::u16string>{u"a", u"b", u"c"}));
        const QapStep *b = p.query.head->next->step;
        EXPECT_EQ(std::u16string(b->predicateAttr), u"x");
        EXPECT_EQ(std::u16string(b->predicateValue), u"1/2");
    }
    {
        // "@" inside a value after the last "=" makes an attribute target.
        Parsed p(u"/a[@x=\"v\"]/@y");
        EXPECT_EQ(p.query.getTargetKind(), ATTRIBUTE);
        EXPECT_EQ(std::u16string(p.query.getAttributeName()), u"y");
        Parsed q(u"/a/@y[@x=\"v\"]");
        EXPECT_EQ(q.query.getTargetKind(), ELEMENT);
        Parsed r(u"/a/@*");
        EXPECT_EQ(std::u16string(r.query.getAttributeName()), u"*");
    }
}

TEST(QueryParse, AnErrorDropsWhatWasBuiltBefore) {
    {
        Parsed p(u"/a//1");
        EXPECT_EQ(p.query.getErrorPosition(), 4);
        EXPECT_EQ(p.query.head, nullptr);
        EXPECT_EQ(names(p.query.tail), std::vector<std::u16string>{u"1"});
    }
    {
        // The head in progress is kept; the attribute name is dropped.
        Parsed p(u"/1/@c");
        EXPECT_EQ(p.query.getErrorPosition(), 1);
        EXPECT_EQ(p.query.getTargetKind(), ATTRIBUTE);
        EXPECT_EQ(p.query.getAttributeName(), nullptr);
        EXPECT_EQ(names(p.query.head), std::vector<std::u16string>{u"1"});
    }
    {
        // A predicate error keeps the steps before it in its segment.
        Parsed p(u"/a/b[@x]/c[@y=\"1\"]");
        EXPECT_EQ(p.query.getErrorPosition(), 5);
        EXPECT_EQ(names(p.query.head), std::vector<std::u16string>{u"a"});
    }
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
    ListAttrs none;
    open.push(u"a", none);
    EXPECT_EQ(p.query.match(open), PARTIAL);
}

TEST(CurrentPath, NodesCopyNameAndAttributesAndAreReused) {
    QapCurrentPath path(nullptr);
    {
        auto a = element("root[k=v,x=1]");
        path.push(a.first.c_str(), a.second);
        auto b = element("child");
        path.push(b.first.c_str(), b.second);
    } // the sources are gone
    ASSERT_NE(path.first, nullptr);
    EXPECT_EQ(std::u16string(path.first->qname), u"root");
    EXPECT_EQ(std::u16string(path.first->attrs->getValue(u"x")), u"1");
    EXPECT_EQ(path.first->next, path.last);
    EXPECT_EQ(path.last->prev, path.first);
    EXPECT_EQ(path.last->next, nullptr);
    EXPECT_EQ(path.first->prev, nullptr);
    EXPECT_EQ(path.last->attrs->getLength(), 0u);

    // A reused node takes a longer name and more attributes.
    path.pop();
    auto c = element("a-much-longer-element-name-than-before[p=1,q=22,r=333]");
    path.push(c.first.c_str(), c.second);
    EXPECT_EQ(std::u16string(path.last->qname), c.first);
    EXPECT_EQ(path.last->attrs->getLength(), 3u);
    EXPECT_EQ(std::u16string(path.last->attrs->getValue(u"r")), u"333");
    EXPECT_EQ(path.last->prev, path.first);
    path.pop();
    auto d = element("d[z=9]");
    path.push(d.first.c_str(), d.second);
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
