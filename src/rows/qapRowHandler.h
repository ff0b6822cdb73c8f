// The SAX handler of a row scan: the row path and every column path matched on one list of open
// elements, each column's value collected into the innermost open row.
#pragma once

#include "qapSgDocHandler.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One column's value in an open row: matched or not, and while it is being collected, the
// depth of the element it comes from.
struct QapRowCell {
    bool matched = false;
    uint32_t captureDepth = 0;
    std::u16string text;
};

// A column as the handler matches it.
struct QapRowColumn {
    std::u16string path; // the absolute path (row path and column path)
    bool fragment = false;
};

// Where the handler's rows go: told each complete row (cells in column order), and asked after
// it whether the parse pauses there. A failure is told by fail(), which ends the parse.
class QapRowSink {
public:
    virtual void rowDone(uint64_t number, std::vector<QapRowCell> &cells) = 0;
    virtual void mayPause() = 0;
    // Ends the parse with a failure (throws QapParseClosed once it is kept).
    [[noreturn]] virtual void fail(const char *state, const std::string &message) = 0;
    // The number of the next row (rows are numbered from 1 across the files of a scan).
    virtual uint64_t nextRowNumber() = 0;
    // The name of column i, for messages.
    virtual const std::string &columnName(size_t i) const = 0;

protected:
    ~QapRowSink() = default;
};

// Namespace bindings of a scan: prefix ("" for the default namespace) to URI.
struct QapRowBinding {
    std::u16string prefix;
    std::u16string uri;
};

class QapRowHandler : public QapSgDocHandler {
public:
    // rowPath is the handler's own copy (the query writes into it); columns and bindings must
    // outlive it. Throws QapException, or what allocation throws.
    QapRowHandler(QapRoutineCtx *ctx, XMLCh *rowPath, const std::vector<QapRowColumn> &columns,
                  const std::vector<QapRowBinding> &bindings, bool severalFail, QapRowSink &sink,
                  size_t maxHeldUnits);
    ~QapRowHandler() override;
    QapRowHandler(const QapRowHandler &) = delete;
    QapRowHandler &operator=(const QapRowHandler &) = delete;

    // Ready for another document (with the same reader or another): nothing of the last one
    // stays but the room it took.
    void rearm();
    // Gives back what it took from the parse's memory (which must still be alive), and the
    // room of large values, and lets go of its context: the handler can then outlive both.
    void detach();
    // The handler, detached, for another scan of the same paths: its context, bindings (equal
    // to the ones it was built with) and sink.
    void rebind(QapRoutineCtx *newCtx, const std::vector<QapRowBinding> &bindings,
                QapRowSink &sink);

    // The first path with a syntax error: -1 none, 0 the row path, i + 1 column i; with its
    // position.
    int errorPath(int32_t *position) const;
    // The attributes the paths' predicates read: the only ones the open elements keep.
    QapAttrFilter keptAttributes() const {
        QapAttrFilter f;
        f.all = false;
        f.names = keep_.data();
        f.count = static_cast<uint32_t>(keep_.size());
        return f;
    }

    void startElement(const XMLCh *const uri, const XMLCh *const localname,
                      const XMLCh *const qname,
                      const XERCES_CPP_NAMESPACE::Attributes &attrs) override;
    void endElement(const XMLCh *const uri, const XMLCh *const localname,
                    const XMLCh *const qname) override;
    void characters(const XMLCh *const chars, const XMLSize_t length) override;
    void startDTD(const XMLCh *const name, const XMLCh *const publicId,
                  const XMLCh *const systemId) override;

private:
    struct OpenRow {
        uint32_t depth;
        uint64_t number;
        std::vector<QapRowCell> cells;
    };
    struct Declared { // a namespace declaration of the document
        uint32_t depth;
        std::u16string prefix;
        std::u16string uri;
    };

    // The name the paths see for an element: as written, or with bindings its binding's prefix
    // and local name ("\1" and the local name when its namespace has no binding).
    const XMLCh *pathName(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs);
    const std::u16string *findUri(const std::u16string &prefix) const;
    // The element's attributes as the paths see them under bindings: a prefixed name with its
    // binding's prefix ("\1" and the local name when its namespace has no binding); an
    // unprefixed name, in no namespace, and xmlns and xml names as written.
    const XERCES_CPP_NAMESPACE::Attributes &
    boundAttributes(const XERCES_CPP_NAMESPACE::Attributes &attrs);
    bool findDefault() const; // a default namespace is bound
    // The states of the element just started at depth_ (row path first, then the columns),
    // each from its parent's: room for them from the parse's memory.
    uint8_t *statesOf(uint32_t depth) {
        if (depth < statesDepths_ && currentPath.memory() == statesMemory_)
            return states_ + depth * (1 + queries_.size());
        return growStates(depth);
    }
    uint8_t *growStates(uint32_t depth);
    void freeStates();
    // Points the handler's parts (path, queries, result) at a context, or at none.
    void bindContext(QapRoutineCtx *newCtx);
    // Matches the element just started (name as the paths see it, attrs as the paths see them,
    // written as the document has them) against the row path and the columns.
    void startMatched(const XMLCh *qname, const XMLCh *name,
                      const XERCES_CPP_NAMESPACE::Attributes &attrs,
                      const XERCES_CPP_NAMESPACE::Attributes &written);
    void matchColumns(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs,
                      const XERCES_CPP_NAMESPACE::Attributes &written, const uint8_t *states);
    void append(QapRowCell &cell, const XMLCh *text, size_t length, bool escape);
    void appendStartTag(QapRowCell &cell, const XMLCh *qname,
                        const XERCES_CPP_NAMESPACE::Attributes &attrs);
    void several(const OpenRow &row, size_t column);

    std::vector<std::u16string> columnPaths_; // the queries point into them
    std::vector<std::unique_ptr<QapQuery>> queries_;
    std::vector<bool> fragment_;
    std::vector<const XMLCh *> keep_; // the queries' predicate names
    const std::vector<QapRowBinding> *bindings_;
    bool severalFail_;
    QapRowSink *sink_;
    size_t maxHeldUnits_; // 0: no bound
    size_t heldUnits_ = 0;
    uint32_t depth_ = 0;
    struct Capture { // a cell being collected: its open row and column
        uint32_t row;
        uint32_t column;
    };
    std::vector<Capture> capturing_; // in the order they started
    std::vector<OpenRow> rows_;
    size_t openRows_ = 0; // rows_[0..openRows_) are open; the others kept for reuse
    std::vector<Declared> declared_;
    std::u16string name_;
    class BoundAttributes;
    std::unique_ptr<BoundAttributes> boundAttributes_;
    // All paths shallow: an element's states follow from its parent's and the element alone,
    // so they are kept per open depth (1 + columns bytes each) instead of matching the whole
    // list of open elements every time.
    bool shallow_ = false;
    // Shallow paths side by side, for a match that reads little memory: each path's head steps
    // in flatSteps_[first, first + headLength), the row path's first, then the columns'.
    struct FlatStep {
        const XMLCh *name; // null: any name
        uint32_t length;
        const QapStep *predicated; // the step, when it has a predicate
    };
    struct FlatPath {
        uint32_t first;
        uint32_t headLength;
        const QapStep *last; // the step after "//", if any
        uint8_t below;       // the state below the head without one
    };
    std::vector<FlatStep> flatSteps_;
    std::vector<FlatPath> flatPaths_;
    void flatten(const QapQuery &q);
    // The states of the element just started, each from its parent's; true when some column
    // matches it.
    bool matchFlat(const XMLCh *name, const XERCES_CPP_NAMESPACE::Attributes &attrs,
                   uint8_t *states) const;
    uint8_t *states_ = nullptr;
    size_t statesDepths_ = 0;                                     // depths states_ has room for
    XERCES_CPP_NAMESPACE::MemoryManager *statesMemory_ = nullptr; // null: the process heap
};
