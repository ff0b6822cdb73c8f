// The common base of the extract, update and row handlers: builds the path's query and writes start
// and end tags into the current result item.
#include "qapSgDocHandler.h"

#include "qapMsg.h"
#include "tesselHost.h"

#include <cstring>
#include <memory>
#include <new>
#include <xercesc/sax/SAXParseException.hpp>

using XERCES_CPP_NAMESPACE::Attributes;
using XERCES_CPP_NAMESPACE::SAXParseException;

namespace {
uint32_t length(const XMLCh *s) {
    uint32_t n = 0;
    if (s != nullptr)
        while (s[n] != 0)
            ++n;
    return n;
}
} // namespace

QapSgDocHandler::QapSgDocHandler(QapRoutineCtx *ctx, XMLCh *path)
    : ctx(ctx), currentPath(ctx), query(ctx, path), targetKind(query.getTargetKind()),
      attributeName(query.getAttributeName()), result(ctx) {}

// Members go in reverse order: result, query, current path.
QapSgDocHandler::~QapSgDocHandler() = default;

void QapSgDocHandler::composeStartElement(const XMLCh *qname, const Attributes &attrs) {
    const XMLSize_t n = attrs.getLength();
    constexpr XMLSize_t kInline = 16;
    if (result.last != nullptr && n <= kInline && (ctx == nullptr || !ctx->traceOn)) {
        // The whole tag as one run of appends.
        QapResultNode::Piece pieces[3 + 5 * kInline];
        size_t k = 0;
        pieces[k++] = {u"<", 1, 0};
        pieces[k++] = {qname, length(qname), 0};
        for (XMLSize_t i = 0; i < n; ++i) {
            const XMLCh *name = attrs.getQName(i);
            const XMLCh *value = attrs.getValue(i);
            pieces[k++] = {u" ", 1, 0};
            pieces[k++] = {name, length(name), 0};
            pieces[k++] = {u"=\"", 2, 0};
            pieces[k++] = {value, length(value), attrEscape};
            pieces[k++] = {u"\"", 1, 0};
        }
        pieces[k++] = {u">", 1, 0};
        result.last->addPieces(pieces, k);
        return;
    }
    result.addToCurrentItem(0, u"<");
    result.addToCurrentItem(0, qname);
    for (XMLSize_t i = 0; i < n; ++i) {
        result.addToCurrentItem(0, u" ");
        result.addToCurrentItem(0, attrs.getQName(i));
        result.addToCurrentItem(0, u"=\"");
        result.addToCurrentItem(attrEscape, attrs.getValue(i));
        result.addToCurrentItem(0, u"\"");
    }
    result.addToCurrentItem(0, u">");
}

void QapSgDocHandler::composeEndElement(const XMLCh *qname) {
    const uint32_t n = length(qname);
    if (result.last != nullptr && (ctx == nullptr || !ctx->traceOn)) {
        // "</" name ">" as one append, without building it first.
        const QapResultNode::Piece pieces[3] = {{u"</", 2, 0}, {qname, n, 0}, {u">", 1, 0}};
        result.last->addJoined(pieces, 3);
        return;
    }
    // "</" name ">": on the stack for ordinary names.
    XMLCh local[128];
    std::unique_ptr<XMLCh[]> heap;
    XMLCh *tag = local;
    if (n + 4 > sizeof local / sizeof local[0]) {
        heap.reset(new (std::nothrow) XMLCh[n + 4]);
        if (heap == nullptr) throw QapError(ctx, QAPG002E);
        tag = heap.get();
    }
    tag[0] = u'<';
    tag[1] = u'/';
    if (n != 0) memcpy(tag + 2, qname, n * sizeof(XMLCh));
    tag[n + 2] = u'>';
    tag[n + 3] = 0;
    result.addToCurrentItem(0, tag, n + 3);
}

void QapSgDocHandler::warning(const SAXParseException &exc) {
    throw SAXParseException(exc);
}
void QapSgDocHandler::error(const SAXParseException &exc) {
    throw SAXParseException(exc);
}
void QapSgDocHandler::fatalError(const SAXParseException &exc) {
    throw SAXParseException(exc);
}
