// The DOCTYPE resolver of extraction and update.
#pragma once

#include "qapCtx.h"

#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>

// Substitutes the DTD named in a document's DOCTYPE: the call's DTD text, or an empty DTD.
class QapDoctypeResolver : public XERCES_CPP_NAMESPACE::DefaultHandler {
public:
    QapDoctypeResolver(QapRoutineCtx *ctx, const char *dtdText);
    ~QapDoctypeResolver() override;
    QapDoctypeResolver(const QapDoctypeResolver &) = delete;
    QapDoctypeResolver &operator=(const QapDoctypeResolver &) = delete;
    // Records the DOCTYPE's system identifier (copied: the parser reuses its buffer).
    void setDtdId(const XMLCh *systemId);
    XERCES_CPP_NAMESPACE::InputSource *resolveEntity(const XMLCh *const publicId,
                                                     const XMLCh *const systemId) override;
    void notationDecl(const XMLCh *const name, const XMLCh *const publicId,
                      const XMLCh *const systemId) override;
    void unparsedEntityDecl(const XMLCh *const name, const XMLCh *const publicId,
                            const XMLCh *const systemId, const XMLCh *const notationName) override;
    void resetDocType() override;

    QapRoutineCtx *ctx;
    const XMLCh *dtdId = nullptr; // the identifier set by setDtdId, or null
    const char *dtdText;

private:
    XMLCh *ownedId_ = nullptr;
};
