// The SAX handler of extraction.
#pragma once

#include "qapSgDocHandler.h"

#include <cstdint>
#include <vector>
#include <xercesc/sax/SAXParseException.hpp>

// Told by the extract handler each time a value is complete (nothing more can join it): a scan
// that hands out values while the parse goes on pauses the parse there.
class QapValueDone {
public:
    virtual void valueDone() = 0;

protected:
    ~QapValueDone() = default;
};

// The SAX handler of extraction: collects attribute values, element text or tagged fragments
// at the path into the inherited result.
class QapExtractHandler : public QapSgDocHandler {
public:
    // Parses the path; tagged 1 makes the target TAGGED_ELEMENT. Throws QapError.
    QapExtractHandler(QapRoutineCtx *ctx, int tagged, XMLCh *path);
    // Forgets everything of the previous parse, to parse again with the same path.
    void rearm();
    // Told of every complete value when set (a scan's parse only).
    QapValueDone *done = nullptr;

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
