// The non-validating reader of extraction and update: elements and text straight to the content
// handler, and the scanner's child lists kept empty, through members Xerces-C keeps protected.
#include "qapNonValidateReader.h"

#include "qapDoctypeResolver.h"

#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax2/ContentHandler.hpp>
#include <xercesc/sax2/LexicalHandler.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

// The reader's element stack, through a member Xerces-C keeps protected.
struct ScannerAccess : XMLScanner {
    static ElemStack &elemStackOf(XMLScanner &scanner) {
        return scanner.*&ScannerAccess::fElemStack;
    }
};

} // namespace

QapNonValidateReader::QapNonValidateReader(QapRoutineCtx *ctx, QapParseMemory *manager)
    : QapGuardedReader(ctx, manager) {
    if (scanner_ != nullptr) elemStack_ = &ScannerAccess::elemStackOf(*scanner_);
}

void QapNonValidateReader::startElement(const XMLElementDecl &elemDecl, const unsigned int,
                                        const XMLCh *const, const RefVectorOf<XMLAttr> &attrList,
                                        const XMLSize_t attrCount, const bool isEmpty,
                                        const bool isRoot) {
    const size_t level = isRoot ? 0 : depth_; // elements open around this one
    countElement(isEmpty, isRoot, attrList, attrCount);
    if (elemStack_ != nullptr) trimChildren(level, isEmpty);
    if (contentHandler == nullptr) return;
    // With namespaces off the handler gets empty URI and local name and the qualified name.
    const XMLCh *qname = elemDecl.getElementName()->getRawName();
    attrs_.setVector(&attrList, attrCount, scanner_);
    contentHandler->startElement(XMLUni::fgZeroLenString, XMLUni::fgZeroLenString, qname, attrs_);
    if (isEmpty)
        contentHandler->endElement(XMLUni::fgZeroLenString, XMLUni::fgZeroLenString, qname);
}

void QapNonValidateReader::learnLevel(size_t level) {
    // Here the element is on top of the scanner's stack.
    if (level == 0 && !levels_.empty() && levels_[0] != elemStack_->topElement())
        levels_.clear(); // not the stack this reader knew: learn it again
    if (level == levels_.size())
        levels_.push_back(const_cast<ElemStack::StackElem *>(elemStack_->topElement()));
}

void QapNonValidateReader::endElement(const XMLElementDecl &elemDecl, const unsigned int,
                                      const bool, const XMLCh *const) {
    if (depth_ != 0) --depth_;
    if (contentHandler != nullptr)
        contentHandler->endElement(XMLUni::fgZeroLenString, XMLUni::fgZeroLenString,
                                   elemDecl.getElementName()->getRawName());
}

void QapNonValidateReader::docCharacters(const XMLCh *const chars, const XMLSize_t length,
                                         const bool cdataSection) {
    // Most text is plain and needs a count only.
    if (cdataSection || !passText()) return sendText(chars, length, cdataSection);
    if (depth_ != 0 && contentHandler != nullptr) contentHandler->characters(chars, length);
}

void QapNonValidateReader::sendText(const XMLCh *chars, XMLSize_t length, bool cdataSection) {
    countText(length);
    // Text outside the root element is not reported.
    if (depth_ == 0) return;
    LexicalHandler *lexical = cdataSection ? getLexicalHandler() : nullptr;
    if (lexical != nullptr) lexical->startCDATA();
    if (contentHandler != nullptr) contentHandler->characters(chars, length);
    if (lexical != nullptr) lexical->endCDATA();
}

void QapNonValidateReader::setContentHandler(ContentHandler *const handler) {
    contentHandler = handler;
    SAX2XMLReaderImpl::setContentHandler(handler);
}

void QapNonValidateReader::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                                               const bool) {
    // The handler gets it all, also outside the root element.
    countText(length);
    if (contentHandler != nullptr) contentHandler->ignorableWhitespace(chars, length);
}

void QapNonValidateReader::doctypeDecl(const DTDElementDecl &elemDecl, const XMLCh *const publicId,
                                       const XMLCh *const systemId, const bool hasIntSubset,
                                       const bool hasExtSubset) {
    if (entityResolver != nullptr) {
        if (auto *resolver = dynamic_cast<QapDoctypeResolver *>(entityResolver))
            resolver->setDtdId(systemId);
    }
    QapGuardedReader::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
}
