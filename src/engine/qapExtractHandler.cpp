// The extract handler: on every start and end tag it tracks the open elements, re-matches the
// path and collects attribute values, element text or whole tagged fragments as result items.
#include "qapSgDocImpl.h"
#include "qapTrace.h"

#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/XMLString.hpp>

using XERCES_CPP_NAMESPACE::Attributes;
using XERCES_CPP_NAMESPACE::SAXParseException;
using XERCES_CPP_NAMESPACE::XMLString;

namespace {

constexpr int8_t UNKNOWN_STATE = -1;

// The attribute list given to the open-element path when the path reads no attributes.
class NoAttributes : public Attributes {
public:
    XMLSize_t getLength() const override { return 0; }
    const XMLCh *getURI(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getLocalName(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getQName(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getType(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getValue(const XMLSize_t) const override { return nullptr; }
    bool getIndex(const XMLCh *const, const XMLCh *const, XMLSize_t &) const override {
        return false;
    }
    int getIndex(const XMLCh *const, const XMLCh *const) const override { return -1; }
    bool getIndex(const XMLCh *const, XMLSize_t &) const override { return false; }
    int getIndex(const XMLCh *const) const override { return -1; }
    const XMLCh *getType(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getType(const XMLCh *const) const override { return nullptr; }
    const XMLCh *getValue(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getValue(const XMLCh *const) const override { return nullptr; }
};

const NoAttributes kNoAttributes;

bool chunkHasPredicate(const QapChunk *chunk) {
    for (; chunk != nullptr; chunk = chunk->next)
        if (chunk->step != nullptr && chunk->step->predicateAttr != nullptr) return true;
    return false;
}

// True when s[0..n) holds a character that escaping replaces (" & ' < >). Text without one
// is appended raw: the same value, without the escaping copy and its trial allocation.
bool needsEscape(const XMLCh *s, XMLSize_t n) {
    constexpr uint64_t special =
        (1ULL << u'"') | (1ULL << u'&') | (1ULL << u'\'') | (1ULL << u'<') | (1ULL << u'>');
    for (XMLSize_t i = 0; i < n; ++i)
        if (s[i] < 64 && ((special >> s[i]) & 1) != 0) return true;
    return false;
}

} // namespace

// Appends an attribute value as one new item, escaped.
void qapExtractHandler::addValueItem(const XMLCh *value) {
    const XMLSize_t n = XMLString::stringLen(value);
    result.newItem();
    result.addToCurrentItem(needsEscape(value, n) ? 1 : 0, value, static_cast<uint32_t>(n));
}

qapExtractHandler::qapExtractHandler(QapRoutineCtx *ctx, int tagged, XMLCh *path)
    : qapSgDocHandler(ctx, path), states_(16, UNKNOWN_STATE) {
    bool middleHasPredicate = false;
    for (const QapChunkList *l = query.middle; l != nullptr; l = l->next)
        middleHasPredicate = middleHasPredicate || chunkHasPredicate(l->chunk);
    if (middleHasPredicate || chunkHasPredicate(query.tail)) {
        attrsAnyDepth_ = true;
    } else if (chunkHasPredicate(query.head)) {
        if (query.middle != nullptr || query.tail != nullptr) {
            attrsAnyDepth_ = true;
        } else {
            // Head step i (from 1) is matched against the open element at depth i only.
            predicateDepths_.push_back(false);
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

QapMatchState qapExtractHandler::stateAt(uint32_t d) {
    if (d < states_.size() && states_[d] != UNKNOWN_STATE)
        return static_cast<QapMatchState>(states_[d]);
    const QapMatchState state = query.match(currentPath);
    setStateAt(d, state);
    return state;
}

void qapExtractHandler::setStateAt(uint32_t d, QapMatchState state) {
    if (d >= states_.size()) states_.resize(2 * static_cast<size_t>(d) + 2, UNKNOWN_STATE);
    states_[d] = static_cast<int8_t>(state);
}

void qapExtractHandler::startElement(const XMLCh *const, const XMLCh *const,
                                     const XMLCh *const qname, const Attributes &attrs) {
    const QapMatchState prev = isMatched;
    ++depth_;
    const bool readable =
        prev != NO && taggedDepth_ == 0 &&
        (attrsAnyDepth_ || (depth_ < predicateDepths_.size() && predicateDepths_[depth_]));
    currentPath.push(qname, readable ? attrs : kNoAttributes);

    if (taggedDepth_ != 0) {
        // Inside a matched fragment everything belongs to it.
        setStateAt(depth_, static_cast<QapMatchState>(UNKNOWN_STATE));
        composeStartElement(qname, attrs);
        return;
    }
    if (isMatched != NO) isMatched = query.match(currentPath);
    setStateAt(depth_, isMatched);
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
                if (const XMLCh *value = attrs.getValue(i)) addValueItem(value);
            }
        } else if (const XMLCh *value = attrs.getValue(attributeName)) {
            addValueItem(value);
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
    if (isMatched != PARTIAL) isMatched = stateAt(depth_);
}

void qapExtractHandler::characters(const XMLCh *const chars, const XMLSize_t length) {
    if (isMatched != YES || targetKind == ATTRIBUTE || result.last == nullptr) return;
    // The parser's character buffers are NUL-terminated at length, as the escaping copy needs.
    const int escape = tagged == 1 && needsEscape(chars, length) ? 1 : 0;
    result.last->addToContent(escape, chars, static_cast<uint32_t>(length));
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
