// The location path: parsed into head, middle and tail pieces, and matched against the list of
// open elements during a SAX parse in three states.
#pragma once

#include "qapResult.h"

#include <cstdint>
#include <xercesc/sax2/Attributes.hpp>

struct QapRoutineCtx;

// What a path targets.
enum QapTargetKind : int32_t { ATTRIBUTE = 0, ELEMENT = 1, TAGGED_ELEMENT = 2 };

// The match state of the innermost open element.
enum QapMatchState : int32_t { NO = 0, PARTIAL = 1, YES = 2 };

// One open element.
class QapPathNode {
public:
    QapPathNode(QapRoutineCtx *ctx, const XMLCh *qname,
                const XERCES_CPP_NAMESPACE::Attributes &attrs);
    ~QapPathNode();
    QapPathNode(const QapPathNode &) = delete;
    QapPathNode &operator=(const QapPathNode &) = delete;

    // Makes the node a copy of another element, reusing its buffers where they are large
    // enough; throws QAPException.
    void assign(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs);

    XMLCh *qname = nullptr;
    QapAttrs *attrs = nullptr;
    QapRoutineCtx *ctx;
    QapPathNode *next = nullptr; // towards the innermost element
    QapPathNode *prev = nullptr; // towards the root

private:
    friend class QapStep;
    uint32_t qnameLength = 0;   // units of qname
    uint32_t qnameCapacity = 0; // units qname can hold, terminator included
};

// The open elements, root first.
class QapCurrentPath {
public:
    explicit QapCurrentPath(QapRoutineCtx *ctx) : ctx(ctx) {}
    ~QapCurrentPath();
    QapCurrentPath(const QapCurrentPath &) = delete;
    QapCurrentPath &operator=(const QapCurrentPath &) = delete;

    // Appends a node for a started element (copies name and attributes); throws QAPException.
    void push(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs);
    // Destroys the innermost node.
    void pop();

    QapPathNode *first = nullptr;
    QapPathNode *last = nullptr;
    QapRoutineCtx *ctx;

private:
    // Popped nodes kept for the next push, so a parse allocates only while it goes deeper.
    QapPathNode *spare = nullptr;
};

// One location step; the strings point into the query's path text.
class QapStep {
public:
    // The name must be terminated for good when the step is built.
    QapStep(QapRoutineCtx *ctx, XMLCh *name, XMLCh *predicateAttr, XMLCh *predicateValue);
    // True when the step matches the node.
    bool matches(const QapPathNode *node) const;

    XMLCh *name;
    XMLCh *predicateAttr;
    XMLCh *predicateValue;
    QapRoutineCtx *ctx;

private:
    uint32_t nameLength; // units of name
    bool any;            // name is "*"
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
    // Parses the path; syntax errors are read through errorPosition(). Throws QAPException on
    // allocation failure.
    QapQuery(QapRoutineCtx *ctx, XMLCh *pathText);
    ~QapQuery();
    QapQuery(const QapQuery &) = delete;
    QapQuery &operator=(const QapQuery &) = delete;

    int32_t getErrorPosition() const { return errorPosition; }
    QapTargetKind getTargetKind() const { return targetKind; }
    const XMLCh *getAttributeName() const { return attributeName; }
    void setTargetKind(QapTargetKind kind) { targetKind = kind; }

    // The match state of the innermost element of the current path. No side effects.
    QapMatchState match(const QapCurrentPath &path) const;

    int32_t errorPosition = 0;
    QapTargetKind targetKind = ELEMENT;
    XMLCh *attributeName = nullptr;
    QapChunk *head = nullptr;
    QapChunkList *middle = nullptr;
    QapChunk *tail = nullptr;
    QapRoutineCtx *ctx;
    XMLCh *pathText;
};

// XML 1.0 Appendix B character classes, by UTF-16 code unit.
bool qapIsLetter(XMLCh c);
bool qapIsDigit(XMLCh c);
bool qapIsCombiningChar(XMLCh c);
bool qapIsExtender(XMLCh c);
