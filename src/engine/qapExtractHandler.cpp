// The extract handler: on every start and end tag it tracks the open elements, re-matches the
// path and collects attribute values, element text or whole tagged fragments as result items.
#include "qapSgDocImpl.h"
#include "qapTrace.h"

#include <xercesc/sax/SAXParseException.hpp>

using XERCES_CPP_NAMESPACE::Attributes;
using XERCES_CPP_NAMESPACE::SAXParseException;

qapExtractHandler::qapExtractHandler(QapRoutineCtx *ctx, int tagged, XMLCh *path)
    : qapSgDocHandler(ctx, path) {
    if (tagged == 1) {
        targetKind = TAGGED_ELEMENT;
        query.setTargetKind(TAGGED_ELEMENT);
        this->tagged = 1;
    }
}

void qapExtractHandler::startElement(const XMLCh *const, const XMLCh *const,
                                     const XMLCh *const qname, const Attributes &attrs) {
    const QapMatchState prev = isMatched;
    currentPath.push(qname, attrs);
    ++depth_;

    if (taggedDepth_ != 0) {
        // Inside a matched fragment everything belongs to it.
        composeStartElement(qname, attrs);
        return;
    }
    if (isMatched != NO) isMatched = query.match(currentPath);
    if (isMatched != YES) return;

    if (ctx != nullptr && ctx->traceOn) {
        char name[QAP_PARSER_TEXT_SIZE];
        QAP_TRACE(ctx, "qapExtractHandler::startElement", "qName: %s\n",
                  qapParserText(ctx, qname, name));
        QAP_TRACE(ctx, "qapExtractHandler::startElement", "isMatched==YES, target=%d\n",
                  static_cast<int>(targetKind));
    }
    switch (targetKind) {
    case ATTRIBUTE:
        if (attributeName == nullptr) break;
        if (attributeName[0] == u'*') {
            const XMLSize_t n = attrs.getLength();
            for (XMLSize_t i = 0; i < n; ++i) {
                const XMLCh *value = attrs.getValue(i);
                if (value == nullptr) continue;
                result.newItem();
                result.addToCurrentItem(1, value);
            }
        } else if (const XMLCh *value = attrs.getValue(attributeName)) {
            result.newItem();
            result.addToCurrentItem(1, value);
        }
        break;
    case ELEMENT:
        if (prev == PARTIAL || result.last == nullptr) result.newItem();
        break;
    case TAGGED_ELEMENT:
        if (prev == PARTIAL || result.last == nullptr) result.newItem();
        taggedDepth_ = depth_;
        composeStartElement(qname, attrs);
        break;
    default:
        QAP_TRACE(ctx, "qapExtractHandler::startElement",
                  "startElement got an invalid target %d.\n", static_cast<int>(targetKind));
        break;
    }
}

void qapExtractHandler::endElement(const XMLCh *const, const XMLCh *const,
                                   const XMLCh *const qname) {
    currentPath.pop();
    const uint32_t closed = depth_--;

    if (isMatched == YES && targetKind == TAGGED_ELEMENT) {
        if (ctx != nullptr && ctx->traceOn) {
            char name[QAP_PARSER_TEXT_SIZE];
            QAP_TRACE(ctx, "qapExtractHandler::endElement", "qname: %s\n",
                      qapParserText(ctx, qname, name));
            QAP_TRACE(ctx, "qapExtractHandler::endElement",
                      "isMatched==YES, target==TAGGED_ELEMENT\n");
        }
        if (result.last != nullptr) composeEndElement(qname);
    }
    if (taggedDepth_ != 0) {
        // Only the matched element's own end tag ends the fragment.
        if (closed != taggedDepth_) return;
        taggedDepth_ = 0;
    }
    if (isMatched != PARTIAL) isMatched = query.match(currentPath);
}

void qapExtractHandler::characters(const XMLCh *const chars, const XMLSize_t length) {
    if (isMatched != YES || targetKind == ATTRIBUTE || result.last == nullptr) return;
    // The parser's character buffers are NUL-terminated at length, as the escaping copy needs.
    result.last->addToContent(tagged == 1 ? 1 : 0, chars, static_cast<uint32_t>(length));
}

void qapExtractHandler::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length) {
    // Whitespace outside the matched fragment (the reader also passes on what lies outside the
    // root element) never joins a value.
    if (isMatched != YES || targetKind != TAGGED_ELEMENT || taggedDepth_ == 0 ||
        result.last == nullptr)
        return;
    result.last->addToContent(0, chars, static_cast<uint32_t>(length));
}

void qapExtractHandler::startDTD(const XMLCh *const, const XMLCh *const,
                                 const XMLCh *const systemId) {
    QAP_TRACE(ctx, "qapExtractHandler::startDTD", "Entered\n");
    if (resolver != nullptr) resolver->setDtdId(systemId);
}

void qapExtractHandler::endDocument() {}
void qapExtractHandler::processingInstruction(const XMLCh *const, const XMLCh *const) {}
void qapExtractHandler::startDocument() {}
void qapExtractHandler::startCDATA() {}
void qapExtractHandler::endCDATA() {}
void qapExtractHandler::notationDecl(const XMLCh *const, const XMLCh *const, const XMLCh *const) {}
void qapExtractHandler::unparsedEntityDecl(const XMLCh *const, const XMLCh *const,
                                           const XMLCh *const, const XMLCh *const) {}

void qapExtractHandler::warning(const SAXParseException &exc) {
    throw SAXParseException(exc);
}
void qapExtractHandler::error(const SAXParseException &exc) {
    throw SAXParseException(exc);
}
void qapExtractHandler::fatalError(const SAXParseException &exc) {
    throw SAXParseException(exc);
}
