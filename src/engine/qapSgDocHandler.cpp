// The common base of the extract and update handlers: builds the path's query and writes start
// and end tags into the current result item.
#include "qapSgDocHandler.h"

#include "qapMsg.h"

#include <cstring>
#include <memory>
#include <new>

using XERCES_CPP_NAMESPACE::Attributes;

qapSgDocHandler::qapSgDocHandler(QapRoutineCtx *ctx, XMLCh *path)
    : ctx(ctx), currentPath(ctx), query(ctx, path), targetKind(query.getTargetKind()),
      attributeName(query.getAttributeName()), result(ctx) {}

// Members go in reverse order: result, query, current path.
qapSgDocHandler::~qapSgDocHandler() = default;

void qapSgDocHandler::composeStartElement(const XMLCh *qname, const Attributes &attrs) {
    result.addToCurrentItem(0, u"<");
    result.addToCurrentItem(0, qname);
    const XMLSize_t n = attrs.getLength();
    for (XMLSize_t i = 0; i < n; ++i) {
        result.addToCurrentItem(0, u" ");
        result.addToCurrentItem(0, attrs.getQName(i));
        result.addToCurrentItem(0, u"=\"");
        result.addToCurrentItem(1, attrs.getValue(i));
        result.addToCurrentItem(0, u"\"");
    }
    result.addToCurrentItem(0, u">");
}

void qapSgDocHandler::composeEndElement(const XMLCh *qname) {
    size_t n = 0;
    if (qname != nullptr)
        while (qname[n] != 0)
            ++n;
    // "</" name ">": on the stack for ordinary names.
    XMLCh local[128];
    std::unique_ptr<XMLCh[]> heap;
    XMLCh *tag = local;
    if (n + 4 > sizeof local / sizeof local[0]) {
        heap.reset(new (std::nothrow) XMLCh[n + 4]);
        if (heap == nullptr) throw QAPException(ctx, QAPG002E);
        tag = heap.get();
    }
    tag[0] = u'<';
    tag[1] = u'/';
    if (n != 0) memcpy(tag + 2, qname, n * sizeof(XMLCh));
    tag[n + 2] = u'>';
    tag[n + 3] = 0;
    result.addToCurrentItem(0, tag, static_cast<uint32_t>(n + 3));
}
