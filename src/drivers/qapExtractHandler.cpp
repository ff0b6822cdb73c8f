// The extract handler: on every start and end tag it follows the match state of the open
// elements (from the element alone where the path allows it, and not at all below a NO) and
// collects attribute values, element text or whole tagged fragments as result items.
#include "qapExtractHandler.h"

#include "qapDoctypeResolver.h"
#include "qapEscape.h"
#include "qapParseErrors.h"
#include "qapTrace.h"

#include <xercesc/sax/SAXParseException.hpp>

using XERCES_CPP_NAMESPACE::Attributes;
using XERCES_CPP_NAMESPACE::SAXParseException;

namespace {

bool chunkHasPredicate(const QapChunk *chunk) {
    for (; chunk != nullptr; chunk = chunk->next)
        if (chunk->step != nullptr && chunk->step->predicateAttr != nullptr) return true;
    return false;
}

} // namespace

// Appends an attribute value as one new item, escaped.
void QapExtractHandler::addValueItem(const XMLCh *value) {
    // Length and special characters in one pass.
    XMLSize_t n = 0;
    uint64_t special = 0;
    for (XMLCh c; (c = value[n]) != 0; ++n)
        special |= c < 64 ? (kEscapeMask >> c) & 1 : 0;
    result.addItem(special != 0 ? 1 : 0, value, static_cast<uint32_t>(n));
}

// The parser's lookup by qualified name, the first attribute whose name equals attributeName,
// but trying first the position where the previous element had it (names are unique within
// an element, so a hit there is the first one).
const XMLCh *QapExtractHandler::targetValue(const Attributes &attrs) {
    const XMLSize_t n = attrs.getLength();
    if (targetIndex_ < n && qapSameName(attrs.getQName(targetIndex_), attributeName))
        return attrs.getValue(targetIndex_);
    for (XMLSize_t i = 0; i < n; ++i) {
        if (qapSameName(attrs.getQName(i), attributeName)) {
            targetIndex_ = i;
            return attrs.getValue(i);
        }
    }
    return nullptr;
}

QapExtractHandler::QapExtractHandler(QapRoutineCtx *ctx, int tagged, XMLCh *path)
    : QapSgDocHandler(ctx, path), states_(16, PARTIAL) {
    if (!query.isShallow()) {
        // Head step i (from 1) is matched against the open element at depth i only; the
        // other steps against any.
        for (const QapChunkList *l = query.middle; l != nullptr; l = l->next)
            attrsAnyDepth_ = attrsAnyDepth_ || chunkHasPredicate(l->chunk);
        attrsAnyDepth_ = attrsAnyDepth_ || chunkHasPredicate(query.tail);
        if (!attrsAnyDepth_ && chunkHasPredicate(query.head)) {
            predicateDepths_.push_back(0);
            for (const QapChunk *c = query.head; c != nullptr; c = c->next)
                predicateDepths_.push_back(c->step != nullptr && c->step->predicateAttr != nullptr);
        }
    }
    if (tagged == 1) {
        targetKind = TAGGED_ELEMENT;
        query.setTargetKind(TAGGED_ELEMENT);
        this->tagged = 1;
    }
}

void QapExtractHandler::rearm() {
    isMatched = PARTIAL;
    while (currentPath.depth() != 0)
        currentPath.pop();
    result.clear();
    resolver = nullptr;
    depth_ = 0;
    taggedDepth_ = 0;
    tracked_ = 0;
    yesOpen_ = 0;
    targetIndex_ = 0;
    done = nullptr;
}

void QapExtractHandler::startElement(const XMLCh *const, const XMLCh *const,
                                     const XMLCh *const qname, const Attributes &attrs) {
    const QapMatchState prev = isMatched;
    const uint32_t depth = ++depth_;
    if (taggedDepth_ != 0) {
        // Inside a matched fragment everything belongs to it.
        composeStartElement(qname, attrs);
        return;
    }
    // NO is kept by every element inside.
    if (prev == NO) return;

    // Here the states of all ancestors are known (and, for a path that is not shallow, they
    // are on currentPath).
    const QapMatchState state = query.isShallow() ? query.matchElement(depth, qname, attrs)
                                                  : pushAndMatch(depth, qname, attrs);
    isMatched = state;
    if (depth >= states_.size()) states_.resize(2 * static_cast<size_t>(depth), PARTIAL);
    states_[depth] = static_cast<int8_t>(state);
    tracked_ = depth;
    if (state == YES) {
        ++yesOpen_;
        startMatched(prev, depth, qname, attrs);
    }
}

QapMatchState QapExtractHandler::pushAndMatch(uint32_t depth, const XMLCh *qname,
                                              const Attributes &attrs) {
    const bool copyAttrs =
        attrsAnyDepth_ || (depth < predicateDepths_.size() && predicateDepths_[depth] != 0);
    currentPath.push(qname, copyAttrs ? &attrs : nullptr);
    return query.match(currentPath);
}

void QapExtractHandler::startMatched(QapMatchState prev, uint32_t depth, const XMLCh *qname,
                                     const Attributes &attrs) {
    if (ctx != nullptr && ctx->traceOn) {
        char name[kParserTextSize];
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
                if (const XMLCh *value = attrs.getValue(i)) addValueItem(value);
            }
        } else if (const XMLCh *value = targetValue(attrs)) {
            addValueItem(value);
        }
        if (done != nullptr && result.last != nullptr) done->valueDone();
        break;
    case ELEMENT:
        if (prev == PARTIAL || result.last == nullptr) result.newItem();
        break;
    case TAGGED_ELEMENT:
        if (prev == PARTIAL || result.last == nullptr) result.newItem();
        taggedDepth_ = depth;
        composeStartElement(qname, attrs);
        break;
    default:
        QAP_TRACE(ctx, "qapExtractHandler::startElement",
                  "startElement got an invalid target %d.\n", static_cast<int>(targetKind));
        break;
    }
}

void QapExtractHandler::endElement(const XMLCh *const, const XMLCh *const,
                                   const XMLCh *const qname) {
    const uint32_t closed = depth_--;
    if (isMatched == YES && targetKind == TAGGED_ELEMENT) endTagged(qname);
    if (taggedDepth_ != 0) {
        // Only the matched element's own end tag ends the fragment.
        if (closed != taggedDepth_) return;
        taggedDepth_ = 0;
    }
    // An element that started under NO: its parent is NO as well.
    if (closed > tracked_) return;
    tracked_ = closed - 1;
    // The last matching element open ends its value.
    if (states_[closed] == YES && --yesOpen_ == 0 && done != nullptr) done->valueDone();
    if (!query.isShallow()) currentPath.pop();
    if (isMatched == PARTIAL) return;
    // match depends only on the open elements: the parent's state is the one computed when
    // it started.
    isMatched =
        closed > 1 ? static_cast<QapMatchState>(states_[closed - 1]) : query.match(currentPath);
}

void QapExtractHandler::endTagged(const XMLCh *qname) {
    if (ctx != nullptr && ctx->traceOn) {
        char name[kParserTextSize];
        QAP_TRACE(ctx, "qapExtractHandler::endElement", "qname: %s\n",
                  qapParserText(ctx, qname, name));
        QAP_TRACE(ctx, "qapExtractHandler::endElement", "isMatched==YES, target==TAGGED_ELEMENT\n");
    }
    if (result.last != nullptr) composeEndElement(qname);
}

void QapExtractHandler::characters(const XMLCh *const chars, const XMLSize_t length) {
    if (isMatched != YES || targetKind == ATTRIBUTE || result.last == nullptr) return;
    // The parser's character buffers are NUL-terminated at length, as the escaping copy needs.
    const int escape = tagged == 1 && qapNeedsEscape(chars, length) ? 1 : 0;
    result.last->addToContent(escape, chars, static_cast<uint32_t>(length));
}

void QapExtractHandler::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length) {
    // Whitespace outside the matched fragment (the reader also passes on what lies outside the
    // root element) never joins a value.
    if (isMatched != YES || targetKind != TAGGED_ELEMENT || taggedDepth_ == 0 ||
        result.last == nullptr)
        return;
    result.last->addToContent(0, chars, static_cast<uint32_t>(length));
}

void QapExtractHandler::startDTD(const XMLCh *const, const XMLCh *const,
                                 const XMLCh *const systemId) {
    QAP_TRACE(ctx, "qapExtractHandler::startDTD", "Entered\n");
    if (resolver != nullptr) resolver->setDtdId(systemId);
}

void QapExtractHandler::endDocument() {}
void QapExtractHandler::processingInstruction(const XMLCh *const, const XMLCh *const) {}
void QapExtractHandler::startDocument() {}
void QapExtractHandler::startCDATA() {}
void QapExtractHandler::endCDATA() {}
void QapExtractHandler::notationDecl(const XMLCh *const, const XMLCh *const, const XMLCh *const) {}
void QapExtractHandler::unparsedEntityDecl(const XMLCh *const, const XMLCh *const,
                                           const XMLCh *const, const XMLCh *const) {}
