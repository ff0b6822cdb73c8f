// Internal pieces of the parse drivers: the extract handler, and the parser-diagnostic reporting
// that the extraction and validation drivers share.
#pragma once

#include "qapSgDoc.h"
#include "qapSgDocHandler.h"

#include <cstdint>
#include <vector>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLException.hpp>

// Size of the buffers that parser texts (messages, system identifiers) are converted into.
constexpr int QAP_PARSER_TEXT_SIZE = 1024;

// Converts a parser text to the database code page into out (QAP_PARSER_TEXT_SIZE bytes).
// Longer texts are cut to what fits (never inside a surrogate pair). Returns out.
char *qapParserText(QapRoutineCtx *ctx, const XMLCh *text, char *out);

// Formats a line or column number as decimal text into out (24 bytes). Returns out.
const char *qapLocText(uint64_t loc, char *out);

// Sets message QAPQ047E ("Parser error on line %s column %s: %s ") and SQLSTATE "38X13". A
// number the exception does not carry (the column of an XMLException, line and column of a
// SAXException) is given as null and rendered as "-".
void qapSetParserError(QapRoutineCtx *ctx, char *sqlstate, char *msgtext, const char *line,
                       const char *column, const char *text);

// The SAX handler of extraction: collects attribute values, element text or tagged fragments
// at the path into the inherited result.
class qapExtractHandler : public qapSgDocHandler {
public:
    // Parses the path; tagged 1 makes the target TAGGED_ELEMENT. Throws QAPException.
    qapExtractHandler(QapRoutineCtx *ctx, int tagged, XMLCh *path);

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
    qapDoctypeResolver *resolver = nullptr;

private:
    void addValueItem(const XMLCh *value);

    // The match state of the open elements' path at depth d, when known. match depends only on
    // the open elements, so closing an element returns to the state computed when it started
    // (NO is kept by every deeper element, so an inherited NO is known too).
    QapMatchState stateAt(uint32_t d);
    void setStateAt(uint32_t d, QapMatchState state);

    // Number of open elements, and (tagged mode) the depth of the element whose fragment is
    // being collected, 0 when none: everything inside it stays YES until its own end tag.
    uint32_t depth_ = 0;
    uint32_t taggedDepth_ = 0;
    // Known states by depth; UNKNOWN_STATE where match was not asked.
    std::vector<int8_t> states_;
    // Which open elements' attributes a match can read: none when no step has a predicate;
    // for a path without "//" only those at the depths of head steps with a predicate (listed
    // in predicateDepths_); otherwise any. Elements that start while the state is NO or inside
    // a tagged fragment are never matched. The open-element path keeps no attribute copies
    // for the others.
    bool attrsAnyDepth_ = false;
    std::vector<bool> predicateDepths_;
};
