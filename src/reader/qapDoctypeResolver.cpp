// The DOCTYPE resolver: the DTD a document names replaced by the call's DTD text or an empty one.
#include "qapDoctypeResolver.h"
#include "qapDocumentSource.h"
#include "qapGuardedReader.h"

#include "qapMsg.h"

#include <cstdlib>
#include <cstring>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/util/XMLString.hpp>

XERCES_CPP_NAMESPACE_USE

QapDoctypeResolver::QapDoctypeResolver(QapRoutineCtx *ctx, const char *dtdText)
    : ctx(ctx), dtdText(dtdText) {}

QapDoctypeResolver::~QapDoctypeResolver() {
    free(ownedId_);
}

void QapDoctypeResolver::setDtdId(const XMLCh *systemId) {
    free(ownedId_);
    ownedId_ = nullptr;
    dtdId = nullptr;
    if (systemId == nullptr) return;
    const XMLSize_t n = XMLString::stringLen(systemId);
    ownedId_ = static_cast<XMLCh *>(malloc((n + 1) * sizeof(XMLCh)));
    if (ownedId_ == nullptr) throw QapError(ctx, QAPG002E);
    memcpy(ownedId_, systemId, (n + 1) * sizeof(XMLCh));
    dtdId = ownedId_;
}

InputSource *QapDoctypeResolver::resolveEntity(const XMLCh *const, const XMLCh *const systemId) {
    // Only the DTD that the DOCTYPE names is replaced; the parser resolves everything else.
    if (dtdId == nullptr || XMLString::compareString(systemId, dtdId) != 0) return nullptr;
    static const XMLByte empty[1] = {0};
    if (dtdText == nullptr) return new MemBufInputSource(empty, 0, "IdForEmptyBuffer", false);

    auto *source = new MemBufInputSource(reinterpret_cast<const XMLByte *>(dtdText),
                                         strlen(dtdText), "IdForEmptyBuffer", false);
    qapSetDbEncoding(ctx, *source);
    return source;
}

void QapDoctypeResolver::notationDecl(const XMLCh *const, const XMLCh *const, const XMLCh *const) {}
void QapDoctypeResolver::unparsedEntityDecl(const XMLCh *const, const XMLCh *const,
                                            const XMLCh *const, const XMLCh *const) {}
void QapDoctypeResolver::resetDocType() {}
