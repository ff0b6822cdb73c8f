// The parse of a location path's text into the query's head, middle and tail chunks, each
// name checked, and the position of the first error.
#include "qapQuery.h"

#include "qapMsg.h"
#include "qapTrace.h"

#include <xercesc/util/XMLString.hpp>
#include <cstring>
#include <new>
#include <utility>

using XERCES_CPP_NAMESPACE::XMLString;

namespace {

constexpr XMLCh kSlash = u'/';
constexpr XMLCh kAt = u'@';
constexpr XMLCh kEquals = u'=';
constexpr XMLCh kQuote = u'"';
constexpr XMLCh kOpenBracket = u'[';
constexpr XMLCh kCloseBracket = u']';
constexpr XMLCh kStar = u'*';

// The first c at or after s, or null when the text ends first.
XMLCh *find(XMLCh *s, XMLCh c) {
    for (; *s != 0; ++s)
        if (*s == c) return s;
    return nullptr;
}

// The last c in s, or null.
XMLCh *findLast(XMLCh *s, XMLCh c) {
    XMLCh *found = nullptr;
    for (; *s != 0; ++s)
        if (*s == c) found = s;
    return found;
}

// The first "//" at or after s, or null.
XMLCh *findDoubleSlash(XMLCh *s) {
    for (; *s != 0; ++s)
        if (s[0] == kSlash && s[1] == kSlash) return s;
    return nullptr;
}

bool isNameStart(XMLCh c) {
    return qapIsLetter(c) || c == u'_' || c == u':';
}

bool isNameChar(XMLCh c) {
    return qapIsLetter(c) || qapIsDigit(c) || c == u'.' || c == u'-' || c == u'_' || c == u':' ||
           qapIsCombiningChar(c) || qapIsExtender(c);
}

template <class T, class... Args> T *allocate(QapRoutineCtx *ctx, Args &&...args) {
    T *p = new (std::nothrow) T(std::forward<Args>(args)...);
    if (p == nullptr) throw QapError(ctx, QAPG002E);
    return p;
}

// Holds a chunk list while it is built, so an exception midway frees it.
struct ChunkHolder {
    QapChunk *first = nullptr;
    QapChunk *last = nullptr;
    ~ChunkHolder() { delete first; }
    void append(QapChunk *c) {
        if (last == nullptr)
            first = c;
        else
            last->next = c;
        last = c;
    }
    QapChunk *release() {
        QapChunk *c = first;
        first = last = nullptr;
        return c;
    }
};

struct ChunkListHolder {
    QapChunkList *list = nullptr;
    ~ChunkListHolder() { delete list; }
};

QapChunk *reverse(QapChunk *c) {
    QapChunk *out = nullptr;
    while (c != nullptr) {
        QapChunk *next = c->next;
        c->next = out;
        out = c;
        c = next;
    }
    return out;
}

// The parse of one path text into its query. Positions are indexes into the path text.
class PathParser {
public:
    PathParser(QapQuery &q) : q_(q) {}

    void run();

private:
    void recordError(const XMLCh *at);
    void checkName(XMLCh *name);
    XMLCh *stepEnd(XMLCh *step);
    QapChunk *parseChunk(XMLCh *text);
    QapChunkList *parseMiddle(XMLCh *text);

    QapQuery &q_;
};

// Drops everything built so far and keeps the position; the parse goes on.
void PathParser::recordError(const XMLCh *at) {
    delete[] q_.attributeName;
    q_.attributeName = nullptr;
    delete q_.head;
    q_.head = nullptr;
    delete q_.middle;
    q_.middle = nullptr;
    delete q_.tail;
    q_.tail = nullptr;
    q_.errorPosition = static_cast<int32_t>(at - q_.pathText);
}

// "*" alone, or an XML name running up to the terminator.
void PathParser::checkName(XMLCh *name) {
    if (qapIsAnyName(name)) return;
    if (!isNameStart(name[0])) {
        recordError(name);
        return;
    }
    XMLCh *p = name + 1;
    while (isNameChar(*p))
        ++p;
    if (*p != 0) recordError(p);
}

// Where the step starting at step ends: its first "/", unless a quoted predicate value holds
// that "/", in which case just after the first "]". Points at the text's end when it is the
// last step.
XMLCh *PathParser::stepEnd(XMLCh *step) {
    XMLCh *slash = find(step, kSlash);
    if (slash == nullptr) return step + XMLString::stringLen(step);
    bool quoteBefore = false;
    for (XMLCh *p = step; p < slash; ++p)
        if (*p == kQuote) {
            quoteBefore = true;
            break;
        }
    if (quoteBefore && find(slash + 1, kCloseBracket) != nullptr)
        return find(step, kCloseBracket) + 1;
    return slash;
}

// The steps of one segment, left to right, each name checked before the next step is read.
// A predicate error ends the segment: the steps before it are kept.
QapChunk *PathParser::parseChunk(XMLCh *text) {
    QapRoutineCtx *ctx = q_.ctx;
    if (text == nullptr || *text == 0) {
        QAP_TRACE(ctx, "QapQuery::parseChunk", "Entered, return NULL\n");
        return nullptr;
    }
    ChunkHolder chunks;
    XMLCh *step = text;
    while (step != nullptr && *step != 0) {
        XMLCh *end = stepEnd(step);
        XMLCh *nextStep = nullptr;
        if (*end != 0) {
            *end = 0;
            nextStep = end + 1;
        }
        XMLCh *bracket = find(step, kOpenBracket);
        if (bracket != nullptr) *bracket = 0;
        checkName(step);

        XMLCh *predicateAttr = nullptr;
        XMLCh *predicateValue = nullptr;
        if (bracket != nullptr) {
            if (XMLCh *at = find(bracket + 1, kAt)) {
                XMLCh *equals = find(at, kEquals);
                if (equals == nullptr) {
                    QAP_TRACE(ctx, "QapQuery::parseChunk", "no = in path\n");
                    recordError(at);
                    return chunks.release();
                }
                *equals = 0;
                // The character after "=" opens the value unchecked; the value runs to the
                // next double quote of this step.
                XMLCh *open = equals + 1;
                XMLCh *close = *open != 0 ? find(open + 1, kQuote) : nullptr;
                if (close == nullptr) {
                    unsigned after[3] = {0, 0, 0};
                    for (int i = 0; i < 3 && open[i] != 0; ++i)
                        after[i] = open[i];
                    QAP_TRACE(ctx, "QapQuery::parseChunk", "no end quote in path %x %x %x\n",
                              after[0], after[1], after[2]);
                    recordError(equals);
                    return chunks.release();
                }
                *close = 0;
                predicateAttr = at + 1;
                checkName(predicateAttr);
                predicateValue = open + 1;
            }
        }
        QapStep *s = allocate<QapStep>(ctx, ctx, step, predicateAttr, predicateValue);
        QapChunk *c = new (std::nothrow) QapChunk(ctx, s, nullptr);
        if (c == nullptr) {
            delete s;
            throw QapError(ctx, QAPG002E);
        }
        chunks.append(c);
        step = nextStep;
    }
    return chunks.release();
}

// The chunks between the first and the last "//". The pieces are parsed from the last to the
// first; an empty last piece gives no chunk, an empty inner piece an empty one.
QapChunkList *PathParser::parseMiddle(XMLCh *text) {
    if (*text == 0) return nullptr;
    size_t pieces = 1;
    for (XMLCh *p = findDoubleSlash(text); p != nullptr; p = findDoubleSlash(p + 2))
        ++pieces;
    XMLCh **starts = new (std::nothrow) XMLCh *[pieces];
    if (starts == nullptr) throw QapError(q_.ctx, QAPG002E);
    std::unique_ptr<XMLCh *[]> owner(starts);
    starts[0] = text;
    size_t i = 1;
    for (XMLCh *p = findDoubleSlash(text); p != nullptr; p = findDoubleSlash(p + 2)) {
        *p = 0;
        starts[i++] = p + 2;
    }
    ChunkListHolder list;
    for (i = pieces; i-- > 0;) {
        if (i + 1 == pieces && *starts[i] == 0) continue;
        QapChunk *chunk = parseChunk(starts[i]);
        QapChunkList *node = new (std::nothrow) QapChunkList(q_.ctx, chunk, list.list);
        if (node == nullptr) {
            delete chunk;
            throw QapError(q_.ctx, QAPG002E);
        }
        list.list = node;
    }
    QapChunkList *out = list.list;
    list.list = nullptr;
    return out;
}

void PathParser::run() {
    QapRoutineCtx *ctx = q_.ctx;
    XMLCh *text = q_.pathText;
    if (text == nullptr || text[0] != kSlash) {
        q_.errorPosition = 1;
        return;
    }
    QAP_TRACE(ctx, "QapQuery::QapQuery", "query length is %d\n",
              static_cast<int>(XMLString::stringLen(text)));

    XMLCh *lastAt = findLast(text, kAt);
    XMLCh *lastEquals = findLast(text, kEquals);
    if (lastAt != nullptr && (lastEquals == nullptr || lastAt > lastEquals)) {
        q_.targetKind = ATTRIBUTE;
        size_t n = XMLString::stringLen(lastAt + 1);
        q_.attributeName = new (std::nothrow) XMLCh[n + 1];
        if (q_.attributeName == nullptr) throw QapError(ctx, QAPG002E);
        memcpy(q_.attributeName, lastAt + 1, (n + 1) * sizeof(XMLCh));
        if (lastAt[-1] != kSlash) {
            recordError(lastAt - 1);
            return;
        }
        lastAt[-1] = 0;
    } else {
        q_.targetKind = ELEMENT;
    }

    XMLCh *headEnd = findDoubleSlash(text);
    if (headEnd != nullptr) {
        QAP_TRACE(ctx, "QapQuery::QapQuery", "Inside headend\n");
        *headEnd = 0;
    }
    // Without "//" at the very start the head runs from after the leading "/". When the
    // attribute step took that "/" as well, the head is what follows it (so "/@a" is an
    // error at 1).
    if (headEnd != text) q_.head = parseChunk(text + 1);

    if (headEnd != nullptr) {
        *headEnd = kSlash;
        XMLCh *lastSlashes = headEnd;
        for (XMLCh *p = findDoubleSlash(headEnd + 2); p != nullptr; p = findDoubleSlash(p + 2))
            lastSlashes = p;
        QapChunk *tail = reverse(parseChunk(lastSlashes + 2));
        q_.tail = tail;
        *lastSlashes = 0;
        if (lastSlashes != headEnd) q_.middle = parseMiddle(headEnd + 2);
        // The head's last step ends at the first "//" (the searches above needed it restored).
        *headEnd = 0;
    }
}

} // namespace

void qapParsePathText(QapQuery &query) {
    PathParser(query).run();
}
