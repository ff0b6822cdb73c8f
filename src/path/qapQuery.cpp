// The location path's steps and chunks, the list of open elements, and the three-state match of
// the innermost open element against the path (its text is parsed in qapPathText.cpp).
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
      nameLength_(static_cast<uint32_t>(XMLString::stringLen(name))), any_(qapIsAnyName(name)) {}

bool QapStep::matches(const QapPathNode *node) const {
    if (!any_) {
        if (nameLength_ != node->qnameLength_) return false;
        // Element names are short: a loop is cheaper than a call.
        const XMLCh *a = name;
        const XMLCh *b = node->qname;
        for (uint32_t i = 0; i < nameLength_; ++i)
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
        qapParsePathText(*this);
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

void QapQuery::rebind(QapRoutineCtx *newCtx) {
    ctx = newCtx;
    const auto chunks = [newCtx](QapChunk *c) {
        for (; c != nullptr; c = c->next) {
            c->ctx = newCtx;
            if (c->step != nullptr) c->step->ctx = newCtx;
        }
    };
    chunks(head);
    for (QapChunkList *m = middle; m != nullptr; m = m->next) {
        m->ctx = newCtx;
        chunks(m->chunk);
    }
    chunks(tail);
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
        const uint32_t room = qnameCapacity_;
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
            qnameCapacity_ = static_cast<uint32_t>(capacity);
            n = static_cast<uint32_t>(total);
        }
    } else if (qnameCapacity_ == 0) {
        qname = takeUnits(32);
        qnameCapacity_ = 32;
    }
    qname[n] = 0;
    qnameLength_ = n;
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
    freeNodes(spare_);
}

void QapCurrentPath::release(QapRoutineCtx *newCtx) {
    freeNodes(first);
    freeNodes(spare_);
    first = last = spare_ = nullptr;
    depth_ = 0;
    memory_ = nullptr;
    ctx = newCtx;
}

void QapCurrentPath::prepare(XERCES_CPP_NAMESPACE::MemoryManager *memory, const QapQuery &query) {
    prepare(memory, query.predicateNames());
}

void QapCurrentPath::prepare(XERCES_CPP_NAMESPACE::MemoryManager *memory,
                             const QapAttrFilter &keep) {
    keep_ = keep;
    if (memory == memory_) return;
    freeNodes(first);
    freeNodes(spare_);
    first = last = spare_ = nullptr;
    depth_ = 0;
    memory_ = memory;
}

void QapCurrentPath::push(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs) {
    push(qname, &attrs);
}

void QapCurrentPath::push(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes *attrs) {
    // Nothing to keep of the attributes: no copy at all.
    if (attrs != nullptr && !keep_.all && keep_.count == 0) attrs = nullptr;
    QapPathNode *node = spare_;
    if (node != nullptr) {
        spare_ = node->next;
    } else {
        void *room = memory_ != nullptr ? memory_->allocate(sizeof(QapPathNode))
                                        : ::operator new(sizeof(QapPathNode), std::nothrow);
        if (room == nullptr) throw QapError(ctx, QAPG002E);
        node = new (room) QapPathNode(ctx, memory_);
    }
    try {
        node->assign(qname, attrs, &keep_);
    } catch (...) {
        node->next = spare_;
        spare_ = node;
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
    node->next = spare_;
    spare_ = node;
    --depth_;
}
