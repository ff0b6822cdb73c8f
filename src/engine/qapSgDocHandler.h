// The common base of the extract and update SAX handlers: the open elements, the parsed path,
// the match state and the collected result.
#pragma once

#include "qapQuery.h"
#include "qapResult.h"

#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>

class qapDoctypeResolver;

// Thrown by a handler to end a parse early: the host cancelled the statement ("57014"), or the
// document's entities expanded beyond what any honest document needs ("38X13"). The message is
// a parser error, at the current line and column for the expansion (whose place tells which
// entity), without them for a cancellation (whose place depends on the time it came).
struct QapParseStop {
    const char *sqlstate;
    const char16_t *text;
    bool located;
    uint64_t line;
    uint64_t column;
};

// Characters of entity replacement text one parse may produce (billion laughs and its kin stop
// here), and how many parser events pass between two questions to the host.
constexpr uint64_t QAP_MAX_EXPANDED_UNITS = uint64_t{16} << 20;
constexpr uint32_t QAP_POLL_EVENTS = 4096;

class qapSgDocHandler : public XERCES_CPP_NAMESPACE::DefaultHandler {
public:
    // Parses the path (QapQuery); throws QAPException on allocation failure.
    qapSgDocHandler(QapRoutineCtx *ctx, XMLCh *path);
    ~qapSgDocHandler() override;

    // Appends "<name attr="value"...>" (values escaped) to the last result item.
    void composeStartElement(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs);
    // Appends "</name>" to the last result item.
    void composeEndElement(const XMLCh *qname);

    QapRoutineCtx *ctx;
    QapMatchState isMatched = PARTIAL;
    QapCurrentPath currentPath;
    QapQuery query;
    QapTargetKind targetKind;
    const XMLCh *attributeName;
    qapResult result;
    qapDoctypeResolver *resolver = nullptr; // told the DOCTYPE's system identifier, not owned

    // LexicalHandler, ContentHandler: where the parse is, and whether inside an entity.
    void setDocumentLocator(const XERCES_CPP_NAMESPACE::Locator *const locator) override;
    void startEntity(const XMLCh *const name) override;
    void endEntity(const XMLCh *const name) override;

protected:
    // Every event: now and then asks the host whether the statement was cancelled.
    void onEvent() {
        if (++events_ >= QAP_POLL_EVENTS) pollHost();
    }
    // Text: counted against the bound when it comes from an entity.
    void onText(XMLSize_t n) {
        if (entityDepth_ != 0 && (expanded_ += n) > QAP_MAX_EXPANDED_UNITS)
            stop("38X13", u"entity expansion exceeds the limit");
        onEvent();
    }

private:
    void pollHost();
    [[noreturn]] void stop(const char *sqlstate, const char16_t *text) const;
    const XERCES_CPP_NAMESPACE::Locator *locator_ = nullptr;
    uint32_t events_ = 0;
    uint32_t entityDepth_ = 0;
    uint64_t expanded_ = 0;
};
