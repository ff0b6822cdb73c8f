// The non-validating reader of extraction and update.
#pragma once

#include "qapGuardedReader.h"

#include <cstddef>
#include <vector>
#include <xercesc/internal/ElemStack.hpp>
#include <xercesc/internal/VecAttributesImpl.hpp>

// The non-validating reader of extraction and update: hands ignorable white space to the
// content handler, tells the resolver the DOCTYPE's system identifier, and keeps the parser's
// memory flat however many children an element has. Elements and text go straight to the
// content handler, as the base reader hands them on with namespaces off, without its
// bookkeeping for the cases this reader never meets; an advanced document handler (the update's
// XML declaration handler) does not see them.
class QapNonValidateReader : public QapGuardedReader {
public:
    QapNonValidateReader(QapRoutineCtx *ctx, QapParseMemory *manager);
    void setContentHandler(XERCES_CPP_NAMESPACE::ContentHandler *const handler) override;
    void ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                             const bool cdataSection) override;
    void doctypeDecl(const XERCES_CPP_NAMESPACE::DTDElementDecl &elemDecl,
                     const XMLCh *const publicId, const XMLCh *const systemId,
                     const bool hasIntSubset, const bool hasExtSubset) override;
    void
    startElement(const XERCES_CPP_NAMESPACE::XMLElementDecl &elemDecl, const unsigned int urlId,
                 const XMLCh *const elemPrefix,
                 const XERCES_CPP_NAMESPACE::RefVectorOf<XERCES_CPP_NAMESPACE::XMLAttr> &attrList,
                 const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) override;
    void endElement(const XERCES_CPP_NAMESPACE::XMLElementDecl &elemDecl, const unsigned int urlId,
                    const bool isRoot, const XMLCh *const elemPrefix) override;
    void docCharacters(const XMLCh *const chars, const XMLSize_t length,
                       const bool cdataSection) override;
    XERCES_CPP_NAMESPACE::ContentHandler *contentHandler = nullptr;

private:
    // The scanner lists every child of each open element, for content models checked at the
    // end tag, even when it does not validate: 8 bytes per child of the widest element. This
    // reader never validates, so each open element's list is emptied as its children come.
    // An empty element has already left the scanner's stack (an empty root leaves it empty),
    // so only an element with content is learnt.
    void trimChildren(size_t level, bool isEmpty) {
        if (level != 0) levels_[level - 1]->fChildCount = 0;
        if (!isEmpty && (level == 0 || level == levels_.size())) learnLevel(level);
    }
    void learnLevel(size_t level);
    // Text in full: the bounds, CDATA sections.
    void sendText(const XMLCh *chars, XMLSize_t length, bool cdataSection);
    XERCES_CPP_NAMESPACE::ElemStack *elemStack_ = nullptr;
    // The scanner's stack entry of each level reached so far. The element stack keeps an entry
    // per level for its whole life and reuses it for every element at that level.
    std::vector<XERCES_CPP_NAMESPACE::ElemStack::StackElem *> levels_;
    XERCES_CPP_NAMESPACE::VecAttributesImpl attrs_; // the started element's, for the handler
};
