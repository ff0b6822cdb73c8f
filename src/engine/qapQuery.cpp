// The location path: parsing into head, middle and tail chunks, the list of open elements, and
// the three-state match of the innermost open element against the path.
#include "qapQuery.h"

#include "qapMsg.h"
#include "qapTrace.h"

#include <xercesc/util/XMLString.hpp>
#include <cstdlib>
#include <cstring>
#include <memory>
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

bool isStar(const XMLCh *name) {
    return name[0] == kStar && name[1] == 0;
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
    if (isStar(name)) return;
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

// Walks the chunk's steps and the nodes from start together; rest is the first node not
// consumed.
QapMatchState matchSequence(const QapChunk *chunk, const QapPathNode *start,
                            const QapPathNode *&rest) {
    const QapPathNode *node = start;
    for (; chunk != nullptr; chunk = chunk->next) {
        if (node == nullptr) {
            rest = nullptr;
            return PARTIAL;
        }
        if (!chunk->step->matches(node)) {
            rest = node;
            return NO;
        }
        node = node->next;
    }
    rest = node;
    return YES;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Steps and chunks

QapStep::QapStep(QapRoutineCtx *ctx, XMLCh *name, XMLCh *predicateAttr, XMLCh *predicateValue)
    : name(name), predicateAttr(predicateAttr), predicateValue(predicateValue), ctx(ctx),
      nameLength(static_cast<uint32_t>(XMLString::stringLen(name))), any(isStar(name)) {}

bool QapStep::matches(const QapPathNode *node) const {
    if (!any) {
        if (nameLength != node->qnameLength) return false;
        // Element names are short: a loop is cheaper than a call.
        const XMLCh *a = name;
        const XMLCh *b = node->qname;
        for (uint32_t i = 0; i < nameLength; ++i)
            if (a[i] != b[i]) return false;
    }
    if (predicateAttr != nullptr) {
        const XMLCh *value =
            node->attrs != nullptr ? node->attrs->getValue(predicateAttr) : nullptr;
        if (value == nullptr || !XMLString::equals(value, predicateValue)) return false;
    }
    return true;
}

// The value of the first attribute whose local name is predicateAttr, as a node's copy looks
// it up.
bool QapStep::predicateMatches(const XERCES_CPP_NAMESPACE::Attributes &attrs) const {
    const XMLSize_t n = attrs.getLength();
    for (XMLSize_t i = 0; i < n; ++i) {
        const XMLCh *local = attrs.getLocalName(i);
        if (local != nullptr && XMLString::equals(local, predicateAttr)) {
            const XMLCh *value = attrs.getValue(i);
            return value != nullptr && XMLString::equals(value, predicateValue);
        }
    }
    return false;
}

// The rest of the list is destroyed iteratively, so a long path cannot exhaust the stack.
QapChunk::~QapChunk() {
    delete step;
    QapChunk *c = next;
    while (c != nullptr) {
        QapChunk *after = c->next;
        c->next = nullptr;
        delete c;
        c = after;
    }
}

QapChunkList::~QapChunkList() {
    delete chunk;
    QapChunkList *l = next;
    while (l != nullptr) {
        QapChunkList *after = l->next;
        l->next = nullptr;
        delete l;
        l = after;
    }
}

// ---------------------------------------------------------------------------------------------
// The query

QapQuery::QapQuery(QapRoutineCtx *ctx, XMLCh *pathText) : ctx(ctx), pathText(pathText) {
    try {
        PathParser(*this).run();
        if (middle == nullptr && (tail == nullptr || tail->next == nullptr)) {
            for (const QapChunk *c = head; c != nullptr; c = c->next)
                ++headLength_;
            if (headLength_ != 0) {
                headSteps_ = new (std::nothrow) const QapStep *[headLength_];
                if (headSteps_ == nullptr) throw QapError(ctx, QAPG002E);
                uint32_t i = 0;
                for (const QapChunk *c = head; c != nullptr; c = c->next)
                    headSteps_[i++] = c->step;
            }
            lastStep_ = tail != nullptr ? tail->step : nullptr;
            shallow_ = true;
        }
        collectPredicateNames();
    } catch (...) {
        delete[] headSteps_;
        delete[] predicateNames_;
        delete[] attributeName;
        delete head;
        delete middle;
        delete tail;
        throw;
    }
}

void QapQuery::collectPredicateNames() {
    uint32_t steps = 0;
    auto each = [&](auto visit) {
        auto chunk = [&](const QapChunk *c) {
            for (; c != nullptr; c = c->next)
                if (c->step->predicateAttr != nullptr) visit(c->step->predicateAttr);
        };
        chunk(head);
        for (const QapChunkList *m = middle; m != nullptr; m = m->next)
            chunk(m->chunk);
        chunk(tail);
    };
    each([&](const XMLCh *) { ++steps; });
    if (steps == 0) return;
    predicateNames_ = new (std::nothrow) const XMLCh *[steps];
    if (predicateNames_ == nullptr) throw QapError(ctx, QAPG002E);
    each([&](const XMLCh *name) {
        for (uint32_t i = 0; i < predicateCount_; ++i)
            if (XMLString::equals(predicateNames_[i], name)) return;
        predicateNames_[predicateCount_++] = name;
    });
}

QapQuery::~QapQuery() {
    delete[] predicateNames_;
    delete[] headSteps_;
    delete[] attributeName;
    delete head;
    delete middle;
    delete tail;
}

QapMatchState QapQuery::match(const QapCurrentPath &path) const {
    // Head: anchored at the root.
    const QapPathNode *rest = path.first;
    QapMatchState state = YES;
    if (head != nullptr) state = matchSequence(head, path.first, rest);
    // An absolute path must cover the whole current path, except that everything inside a
    // tagged match belongs to it.
    if (targetKind != TAGGED_ELEMENT && middle == nullptr && tail == nullptr && rest != nullptr)
        return NO;
    if (state != YES) return state;

    // Middle: each chunk at its leftmost occurrence, no backtracking.
    for (const QapChunkList *m = middle; m != nullptr; m = m->next) {
        if (rest == nullptr) return PARTIAL;
        bool found = false;
        for (const QapPathNode *start = rest; start != nullptr; start = start->next) {
            const QapPathNode *after = nullptr;
            QapMatchState s = matchSequence(m->chunk, start, after);
            if (s == YES) {
                rest = after;
                found = true;
                break;
            }
            if (s == PARTIAL) break; // the nodes ran out: a later start runs out too
        }
        if (!found) return PARTIAL;
    }

    // Tail: from the innermost element upwards, never into the consumed nodes.
    if (tail == nullptr) return YES;
    const QapPathNode *stop = rest != nullptr ? rest->prev : path.last;
    const QapPathNode *node = path.last;
    for (const QapChunk *t = tail; t != nullptr; t = t->next) {
        if (node == nullptr || node == stop) return PARTIAL;
        if (!t->step->matches(node)) return PARTIAL;
        node = node->prev;
    }
    return YES;
}

// ---------------------------------------------------------------------------------------------
// The open elements

QapPathNode::~QapPathNode() {
    if (memory_ != nullptr)
        memory_->deallocate(qname);
    else
        free(qname);
}

void QapPathNode::assign(const XMLCh *name, const XERCES_CPP_NAMESPACE::Attributes *list,
                         const QapAttrFilter *keep) {
    // Name and length in one pass while the name fits the buffer.
    uint32_t n = 0;
    if (name != nullptr) {
        XMLCh *d = qname;
        const uint32_t room = qnameCapacity;
        while (n < room && name[n] != 0) {
            d[n] = name[n];
            ++n;
        }
        if (n == room) {
            size_t total = n;
            while (name[total] != 0)
                ++total;
            size_t capacity = total + 1 < 32 ? 32 : total + 1;
            if (capacity > UINT32_MAX) throw QapError(ctx, QAPG002E);
            XMLCh *buffer = takeUnits(capacity);
            memcpy(buffer, name, total * sizeof(XMLCh));
            giveUnits(qname);
            qname = buffer;
            qnameCapacity = static_cast<uint32_t>(capacity);
            n = static_cast<uint32_t>(total);
        }
    } else if (qnameCapacity == 0) {
        qname = takeUnits(32);
        qnameCapacity = 32;
    }
    qname[n] = 0;
    qnameLength = n;
    if (list == nullptr) {
        attrs = nullptr;
        return;
    }
    attrs = nullptr; // until the copy is whole
    store_.assign(*list, keep);
    attrs = &store_;
}

XMLCh *QapPathNode::takeUnits(size_t units) {
    if (memory_ != nullptr) return static_cast<XMLCh *>(memory_->allocate(units * sizeof(XMLCh)));
    auto *buffer = static_cast<XMLCh *>(malloc(units * sizeof(XMLCh)));
    if (buffer == nullptr) throw QapError(ctx, QAPG002E);
    return buffer;
}

void QapPathNode::giveUnits(XMLCh *buffer) {
    if (memory_ != nullptr)
        memory_->deallocate(buffer);
    else
        free(buffer);
}

void QapCurrentPath::freeNodes(QapPathNode *n) {
    while (n != nullptr) {
        QapPathNode *next = n->next;
        XERCES_CPP_NAMESPACE::MemoryManager *memory = memory_;
        n->~QapPathNode();
        if (memory != nullptr)
            memory->deallocate(n);
        else
            ::operator delete(n);
        n = next;
    }
}

QapCurrentPath::~QapCurrentPath() {
    freeNodes(first);
    freeNodes(spare);
}

void QapCurrentPath::prepare(XERCES_CPP_NAMESPACE::MemoryManager *memory, const QapQuery &query) {
    keep_ = query.predicateNames();
    if (memory == memory_) return;
    freeNodes(first);
    freeNodes(spare);
    first = last = spare = nullptr;
    depth_ = 0;
    memory_ = memory;
}

void QapCurrentPath::push(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs) {
    push(qname, &attrs);
}

void QapCurrentPath::push(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes *attrs) {
    // Nothing to keep of the attributes: no copy at all.
    if (attrs != nullptr && !keep_.all && keep_.count == 0) attrs = nullptr;
    QapPathNode *node = spare;
    if (node != nullptr) {
        spare = node->next;
    } else {
        void *room = memory_ != nullptr ? memory_->allocate(sizeof(QapPathNode))
                                        : ::operator new(sizeof(QapPathNode), std::nothrow);
        if (room == nullptr) throw QapError(ctx, QAPG002E);
        node = new (room) QapPathNode(ctx, memory_);
    }
    try {
        node->assign(qname, attrs, &keep_);
    } catch (...) {
        node->next = spare;
        spare = node;
        throw;
    }
    node->next = nullptr;
    node->prev = last;
    if (last == nullptr)
        first = node;
    else
        last->next = node;
    last = node;
    ++depth_;
}

void QapCurrentPath::pop() {
    QapPathNode *node = last;
    if (node == nullptr) return;
    last = node->prev;
    if (last == nullptr)
        first = nullptr;
    else
        last->next = nullptr;
    node->prev = nullptr;
    node->next = spare;
    spare = node;
    --depth_;
}
