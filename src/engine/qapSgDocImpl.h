// Internal pieces of the parse drivers: the reader a context keeps and the set-up and run of a
// non-validating parse, shared by extraction and update, and the extract handler.
#pragma once

#include "qapParseErrors.h"
#include "qapReaders.h"
#include "qapSgDoc.h"
#include "qapSgDocHandler.h"

#include "qapParseMemory.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

// Encoding names are asked for into buffers of this many units.
constexpr int32_t ENCODING_UNITS = 1025;

// A routine context's non-validating reader, with its DOCTYPE resolver and its memory, taken at
// the context's first parse (from those finished contexts left on the thread, see
// qapDropParser, or built) and reused by the later ones: building a reader costs more than
// parsing a small document. A parse that failed, or that read an external DTD subset (Xerces-C
// forgets a little memory then), retires it and the next parse builds a new one.
struct qapParser {
    qapParseMemory memory; // first: goes last, after everything the reader allocated
    XERCES_CPP_NAMESPACE::SecurityManager security;
    std::unique_ptr<qapDoctypeResolver> resolver;
    std::unique_ptr<qapNonValidateReader> reader;
    bool retired = false;
    // The extraction handler of the last parse with the path it was built for (its steps point
    // into path16): the next parse of the same path, as every row of a statement with a literal
    // path, re-arms it instead of parsing the path again. Goes first: its result may live in
    // memory.
    struct Kept {
        std::string path; // as the call gave it
        int tagged = 0;
        std::unique_ptr<XMLCh[]> path16;
        std::unique_ptr<qapSgDocHandler> handler;
    } kept;

    qapParser() = default;
    ~qapParser() { memory.beginRelease(); }
    qapParser(const qapParser &) = delete;
    qapParser &operator=(const qapParser &) = delete;
};

// What one non-validating parse uses: the context's reader (or one of its own without a
// context), and the handler, path and input source of this parse. Releasing it detaches the
// handler from the reader, and drops a retired reader.
struct qapParseParts {
    QapRoutineCtx *ctx = nullptr;
    qapParser *parser = nullptr;
    std::unique_ptr<qapParser> ownParser; // when there is no context to keep it
    std::unique_ptr<XMLCh[]> path;
    std::unique_ptr<XERCES_CPP_NAMESPACE::MemBufInputSource> memSource;
    std::unique_ptr<qapSgDocHandler> handler;
    // An advanced document handler installed for this parse (not owned), removed again.
    XERCES_CPP_NAMESPACE::XMLDocumentHandler *docHandler = nullptr;
    // Set when the handler is an extraction handler for this path (the call's) that the
    // context's reader may keep for its next parse (see qapParser::kept).
    const char *keepPath = nullptr;
    int keepTagged = 0;

    qapParseParts() = default;
    ~qapParseParts();
    qapParseParts(const qapParseParts &) = delete;
    qapParseParts &operator=(const qapParseParts &) = delete;
    void release();
};

// True when the automaton of the element's children content model stays within what a parse
// may spend on it (its positions, states and transitions counted before it is built). A model
// past the bounds is taken apart, so that nothing recurses over it.
bool qapContentModelWithinBounds(XERCES_CPP_NAMESPACE::DTDElementDecl &decl);

// Gives the reader the security manager that bounds the document's entity references.
void qapBoundEntities(XERCES_CPP_NAMESPACE::SAX2XMLReader &reader,
                      XERCES_CPP_NAMESPACE::SecurityManager &security);

// The set-up every non-validating parse shares (extraction and update): the context's reader
// and DOCTYPE resolver (dtdText replaces the DTD a document names; null: an empty DTD), built
// with namespaces and validation off when the context has none, armed with parts.handler.
// 0, or -1 with SQLSTATE and message set (as qapReportSetUpException).
int32_t qapSetUpReader(QapRoutineCtx *ctx, qapParseParts &parts, const char *dtdText,
                       QapStatus err);

// Thrown from a handler to end a parse nobody wants the rest of (a table closed early): the
// reader lets go of the document and stays in use.
struct QapParseClosed {};

// Parses the document (a file, or parts.memSource over the buffer) and turns the parser's
// exceptions into SQLSTATE and message. 0, or -1; QapParseClosed passes through.
int32_t qapRunParse(QapRoutineCtx *ctx, qapParseParts &parts, const QapDoc &doc, QapStatus err);

// Sets the database code page's encoding on a source when the document bytes are in it. When
// the name is not available the parser detects the encoding from the document itself.
void setDbEncoding(QapRoutineCtx *ctx, XERCES_CPP_NAMESPACE::InputSource &source);

// Told by the extract handler each time a value is complete (nothing more can join it): a scan
// that hands out values while the parse goes on pauses the parse there.
class qapValueDone {
public:
    virtual void valueDone() = 0;

protected:
    ~qapValueDone() = default;
};

// The SAX handler of extraction: collects attribute values, element text or tagged fragments
// at the path into the inherited result.
class qapExtractHandler : public qapSgDocHandler {
public:
    // Parses the path; tagged 1 makes the target TAGGED_ELEMENT. Throws QapError.
    qapExtractHandler(QapRoutineCtx *ctx, int tagged, XMLCh *path);
    // Forgets everything of the previous parse, to parse again with the same path.
    void rearm();
    // Told of every complete value when set (a scan's parse only).
    qapValueDone *done = nullptr;

    // ContentHandler
    void characters(const XMLCh *const chars, const XMLSize_t length) override;
    void endDocument() override;
    void endElement(const XMLCh *const uri, const XMLCh *const localname,
                    const XMLCh *const qname) override;
    void ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length) override;
    void processingInstruction(const XMLCh *const target, const XMLCh *const data) override;
    void startDocument() override;
    void startElement(const XMLCh *const uri, const XMLCh *const localname,
                      const XMLCh *const qname,
                      const XERCES_CPP_NAMESPACE::Attributes &attrs) override;

    // LexicalHandler
    void startCDATA() override;
    void endCDATA() override;
    void startDTD(const XMLCh *const name, const XMLCh *const publicId,
                  const XMLCh *const systemId) override;

    // DTDHandler
    void notationDecl(const XMLCh *const name, const XMLCh *const publicId,
                      const XMLCh *const systemId) override;
    void unparsedEntityDecl(const XMLCh *const name, const XMLCh *const publicId,
                            const XMLCh *const systemId, const XMLCh *const notationName) override;

    // ErrorHandler: every diagnostic, warnings included, ends the parse.
    void warning(const XERCES_CPP_NAMESPACE::SAXParseException &exc) override;
    void error(const XERCES_CPP_NAMESPACE::SAXParseException &exc) override;
    void fatalError(const XERCES_CPP_NAMESPACE::SAXParseException &exc) override;

    int32_t tagged = 0;

private:
    // The parts of startElement and endElement off the common path.
    QapMatchState pushAndMatch(uint32_t depth, const XMLCh *qname,
                               const XERCES_CPP_NAMESPACE::Attributes &attrs);
    void startMatched(QapMatchState prev, uint32_t depth, const XMLCh *qname,
                      const XERCES_CPP_NAMESPACE::Attributes &attrs);
    void endTagged(const XMLCh *qname);
    void addValueItem(const XMLCh *value);
    // The value of the attribute named attributeName (by qualified name), or null.
    const XMLCh *targetValue(const XERCES_CPP_NAMESPACE::Attributes &attrs);

    // Number of open elements, and (tagged mode) the depth of the element whose fragment is
    // being collected, 0 when none: everything inside it stays YES until its own end tag.
    uint32_t depth_ = 0;
    uint32_t taggedDepth_ = 0;
    // The states of the open elements at depths 1 to tracked_ are computed: states_[d] is the
    // state computed when the element at depth d started. The others started while the state
    // was NO (they and everything inside them stay NO) or inside a tagged fragment. Closing
    // an element returns to its parent's state, as match depends only on the open elements.
    // For a path that is not shallow, currentPath holds the elements at depths 1 to tracked_.
    uint32_t tracked_ = 0;
    std::vector<int8_t> states_;
    uint32_t yesOpen_ = 0; // open elements among those whose state is YES
    // Which open elements' attributes a match can read (paths that are not shallow): those at
    // the depths of head steps with a predicate (predicateDepths_[d] is 1), or any when a
    // later step has one. currentPath keeps no attribute copies for the others.
    bool attrsAnyDepth_ = false;
    std::vector<uint8_t> predicateDepths_;
    // Where the target attribute was last found among an element's attributes: tried first.
    XMLSize_t targetIndex_ = 0;
};
