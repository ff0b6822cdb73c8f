// The location path: parsed into head, middle and tail pieces, and matched against the list of
// open elements during a SAX parse in three states.
#pragma once

#include "qapAttrs.h"
#include "qapMsg.h"

#include <cstdint>
#include <xercesc/sax2/Attributes.hpp>

struct QapRoutineCtx;
class QapQuery;

// What a path targets.
enum QapTargetKind : int32_t { ATTRIBUTE = 0, ELEMENT = 1, TAGGED_ELEMENT = 2 };

// The match state of the innermost open element.
enum QapMatchState : int32_t { NO = 0, PARTIAL = 1, YES = 2 };

// One open element. Its name and attribute copy take their blocks from memory when it is given
// (a parse's, which must outlive the node), else from the process heap.
class QapPathNode {
public:
    QapPathNode(QapRoutineCtx *ctx, XERCES_CPP_NAMESPACE::MemoryManager *memory)
        : ctx(ctx), store_(ctx, memory), memory_(memory) {}
    ~QapPathNode();
    QapPathNode(const QapPathNode &) = delete;
    QapPathNode &operator=(const QapPathNode &) = delete;

    // Makes the node a copy of another element, reusing its buffers where they are large
    // enough; attrs null keeps no attribute copy (attrs becomes null), else the copy holds the
    // attributes keep keeps (all when null). Throws QapError, or what memory throws.
    void assign(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes *attrs,
                const QapAttrFilter *keep = nullptr);

    XMLCh *qname = nullptr;
    QapAttrs *attrs = nullptr;
    QapRoutineCtx *ctx;
    QapPathNode *next = nullptr; // towards the innermost element
    QapPathNode *prev = nullptr; // towards the root

private:
    friend class QapStep;
    uint32_t qnameLength_ = 0;   // units of qname
    uint32_t qnameCapacity_ = 0; // units qname can hold, terminator included
    QapAttrs store_;             // the owned copy, kept for reuse while attrs is null
    XERCES_CPP_NAMESPACE::MemoryManager *memory_;
    XMLCh *takeUnits(size_t units);
    void giveUnits(XMLCh *buffer);
};

// The open elements, root first.
class QapCurrentPath {
public:
    explicit QapCurrentPath(QapRoutineCtx *ctx) : ctx(ctx) {}
    ~QapCurrentPath();
    QapCurrentPath(const QapCurrentPath &) = delete;
    QapCurrentPath &operator=(const QapCurrentPath &) = delete;

    // Appends a node for a started element (copies name and attributes); throws as
    // QapPathNode::assign.
    void push(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs);
    // The same, copying the attributes only when attrs is not null: for elements whose
    // attributes no match reads.
    void push(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes *attrs);
    // Destroys the innermost node.
    void pop();
    // Number of nodes.
    uint32_t depth() const { return depth_; }
    // Before a parse: the nodes take their blocks from memory (a parse's, which must outlive
    // this list; null: the process heap), and copy only the attributes that the query's
    // predicates name. Nodes of another memory are freed.
    void prepare(XERCES_CPP_NAMESPACE::MemoryManager *memory, const QapQuery &query);
    // The same, with the attributes to copy given (several paths matched on one list).
    void prepare(XERCES_CPP_NAMESPACE::MemoryManager *memory, const QapAttrFilter &keep);
    // Where the nodes take their blocks (null: the process heap).
    XERCES_CPP_NAMESPACE::MemoryManager *memory() const { return memory_; }
    // Frees every node (while their memory is alive) and takes ctx for the next ones: the list
    // then belongs to nothing but ctx.
    void release(QapRoutineCtx *newCtx);

    QapPathNode *first = nullptr;
    QapPathNode *last = nullptr;
    QapRoutineCtx *ctx;

private:
    // Popped nodes kept for the next push, so a parse allocates only while it goes deeper.
    QapPathNode *spare_ = nullptr;
    uint32_t depth_ = 0;
    XERCES_CPP_NAMESPACE::MemoryManager *memory_ = nullptr;
    QapAttrFilter keep_; // the attributes a node copies
    void freeNodes(QapPathNode *node);
};

// True for the name "*", which any element matches.
inline bool qapIsAnyName(const XMLCh *name) {
    return name[0] == u'*' && name[1] == 0;
}

// True when the name a (null: the empty name) is the name b.
inline bool qapSameName(const XMLCh *a, const XMLCh *b) {
    if (a == nullptr) return b[0] == 0;
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// One location step; the strings point into the query's path text.
class QapStep {
public:
    // The name must be terminated for good when the step is built.
    QapStep(QapRoutineCtx *ctx, XMLCh *name, XMLCh *predicateAttr, XMLCh *predicateValue);
    // True when the step matches the node.
    bool matches(const QapPathNode *node) const;
    // The same for an element as the parser reports it (attributes by local name, as a node
    // records them).
    bool matches(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs) const {
        return nameMatches(qname) && (predicateAttr == nullptr || predicateMatches(attrs));
    }

    XMLCh *name;
    XMLCh *predicateAttr;
    XMLCh *predicateValue;
    QapRoutineCtx *ctx;

private:
    bool nameMatches(const XMLCh *qname) const {
        if (any_) return true;
        if (qname == nullptr) return nameLength_ == 0;
        // Element names are short: a loop is cheaper than a call.
        for (uint32_t i = 0; i < nameLength_; ++i)
            if (name[i] != qname[i]) return false;
        return qname[nameLength_] == 0;
    }
    bool predicateMatches(const XERCES_CPP_NAMESPACE::Attributes &attrs) const;

    uint32_t nameLength_; // units of name
    bool any_;            // name is "*"
};

// A run of steps.
class QapChunk {
public:
    QapChunk(QapRoutineCtx *ctx, QapStep *step, QapChunk *next)
        : step(step), next(next), ctx(ctx) {}
    ~QapChunk();
    QapChunk(const QapChunk &) = delete;
    QapChunk &operator=(const QapChunk &) = delete;

    QapStep *step;
    QapChunk *next;
    QapRoutineCtx *ctx;
};

// The chunks between the first and the last "//", in path order.
class QapChunkList {
public:
    QapChunkList(QapRoutineCtx *ctx, QapChunk *chunk, QapChunkList *next)
        : chunk(chunk), next(next), ctx(ctx) {}
    ~QapChunkList();
    QapChunkList(const QapChunkList &) = delete;
    QapChunkList &operator=(const QapChunkList &) = delete;

    QapChunk *chunk;
    QapChunkList *next;
    QapRoutineCtx *ctx;
};

// A parsed location path. pathText is the caller's and must outlive the query: the parse
// writes terminators into it and the steps point into it.
class QapQuery {
public:
    // Parses the path; syntax errors are read through errorPosition(). Throws QapError on
    // allocation failure.
    QapQuery(QapRoutineCtx *ctx, XMLCh *pathText);
    ~QapQuery();
    QapQuery(const QapQuery &) = delete;
    QapQuery &operator=(const QapQuery &) = delete;

    int32_t getErrorPosition() const { return errorPosition; }
    QapTargetKind getTargetKind() const { return targetKind; }
    const XMLCh *getAttributeName() const { return attributeName; }
    void setTargetKind(QapTargetKind kind) { targetKind = kind; }
    // The path kept for another context (errors and traces go to ctx from now on).
    void rebind(QapRoutineCtx *newCtx);

    // The match state of the innermost element of the current path. No side effects.
    QapMatchState match(const QapCurrentPath &path) const;
    // The attributes that the predicates of the path name (each once): the only ones a match
    // reads.
    QapAttrFilter predicateNames() const {
        QapAttrFilter f;
        f.all = false;
        f.names = predicateNames_;
        f.count = predicateCount_;
        return f;
    }
    // True when the state of an element follows from the element alone once its parent's
    // state is known not to be NO: paths without "//", and paths whose only "//" comes before
    // their last step. Handlers then need no list of open elements.
    bool isShallow() const { return shallow_; }
    // For a shallow path: the state match gives for a newly started element at depth (the
    // root is at 1), with this qualified name and the parser's attributes, when the state of
    // its parent (the open elements above it) is not NO.
    QapMatchState matchElement(uint32_t depth, const XMLCh *qname,
                               const XERCES_CPP_NAMESPACE::Attributes &attrs) const {
        // The parent is not NO, so the elements above matched the head steps before this
        // depth (or all of them). Head step d can only match the element at depth d.
        if (depth <= headLength_) {
            if (!headSteps_[depth - 1]->matches(qname, attrs)) return NO;
            return depth == headLength_ && lastStep_ == nullptr ? YES : PARTIAL;
        }
        // Below the head: the step after "//" matches at any depth; without one, only the
        // subtree of a tagged match still matches.
        if (lastStep_ != nullptr) return lastStep_->matches(qname, attrs) ? YES : PARTIAL;
        return targetKind == TAGGED_ELEMENT ? YES : NO;
    }

    // For a shallow path: its head steps (step i matches at depth i + 1 only), and the step
    // after its "//" (null: none).
    uint32_t headLength() const { return headLength_; }
    const QapStep &headStep(uint32_t i) const { return *headSteps_[i]; }
    const QapStep *lastStep() const { return lastStep_; }

    int32_t errorPosition = 0;
    QapTargetKind targetKind = ELEMENT;
    XMLCh *attributeName = nullptr;
    QapChunk *head = nullptr;
    QapChunkList *middle = nullptr;
    QapChunk *tail = nullptr;
    QapRoutineCtx *ctx;
    XMLCh *pathText;

private:
    // For a shallow path: the head steps in order (headSteps_[i] can only match the element
    // at depth i + 1) and the step after the "//", if any.
    const QapStep **headSteps_ = nullptr;
    uint32_t headLength_ = 0;
    const QapStep *lastStep_ = nullptr;
    bool shallow_ = false;
    const XMLCh **predicateNames_ = nullptr;
    uint32_t predicateCount_ = 0;
    void collectPredicateNames();
};

// XML 1.0 Appendix B character classes, by UTF-16 code unit.
bool qapIsLetter(XMLCh c);
bool qapIsDigit(XMLCh c);
bool qapIsCombiningChar(XMLCh c);
bool qapIsExtender(XMLCh c);

// Parses the query's path text into its head, middle and tail, or sets its error position
// (qapPathText.cpp). Throws QapError on allocation failure.
void qapParsePathText(QapQuery &query);
