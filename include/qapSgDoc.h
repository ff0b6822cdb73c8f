// The parse drivers: extraction (extractAll, extractOne) and DTD validation (qapValidate),
// with the reader subclass and the DOCTYPE resolver they share.
#pragma once

#include "qapCtx.h"
#include "qapSgDocHandler.h"

#include <cstdint>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax/InputSource.hpp>

// Every value at the path, in document order, each shorter than limit bytes in the database
// code page. 0 or -1.
int32_t extractAll(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path,
                   QapExtractResult *result, int32_t limit, char *sqlstate, char *msgtext);

// Exactly one non-empty value (a heap string the caller frees), or -1: "01HX0" for none,
// "38X08" for several, "00000" for an empty value, or the state of the parse.
int32_t extractOne(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path,
                   char **value, int32_t limit, char *sqlstate, char *msgtext);

// Validates a document against its DTD or a replacement (a file, or text when dtdLoc is
// QAP_MEM). 1 valid, 0 otherwise.
int32_t qapValidate(QapRoutineCtx *ctx, const char *doc, uint32_t docLoc, uint32_t input_src,
                    const char *dtdFile, uint32_t dtdinput_src, const char *dtdid,
                    char *sqlstate, char *msgtext, uint32_t dtdLoc);

// Substitutes the DTD named in a document's DOCTYPE: the call's DTD text, or an empty DTD.
class qapDoctypeResolver : public XERCES_CPP_NAMESPACE::DefaultHandler {
public:
    qapDoctypeResolver(QapRoutineCtx *ctx, const char *dtdText);
    ~qapDoctypeResolver() override;
    qapDoctypeResolver(const qapDoctypeResolver &) = delete;
    qapDoctypeResolver &operator=(const qapDoctypeResolver &) = delete;
    // Records the DOCTYPE's system identifier (copied: the parser reuses its buffer).
    void setDtdId(const XMLCh *systemId);
    XERCES_CPP_NAMESPACE::InputSource *resolveEntity(const XMLCh *const publicId,
                                                     const XMLCh *const systemId) override;
    void notationDecl(const XMLCh *const name, const XMLCh *const publicId,
                      const XMLCh *const systemId) override;
    void unparsedEntityDecl(const XMLCh *const name, const XMLCh *const publicId,
                            const XMLCh *const systemId,
                            const XMLCh *const notationName) override;
    void resetDocType() override;

    QapRoutineCtx *ctx;
    const XMLCh *dtdId = nullptr; // the identifier set by setDtdId, or null
    const char *dtdText;

private:
    XMLCh *ownedId_ = nullptr;
};

// The non-validating reader of extraction and update: hands ignorable white space to the
// content handler and tells the resolver the DOCTYPE's system identifier.
class qapNonValidateReader : public XERCES_CPP_NAMESPACE::SAX2XMLReaderImpl {
public:
    // Everything the reader allocates comes from manager, which must outlive the reader (a
    // per-parse manager frees what Xerces-C forgets to).
    explicit qapNonValidateReader(XERCES_CPP_NAMESPACE::MemoryManager *manager);
    void setContentHandler(XERCES_CPP_NAMESPACE::ContentHandler *const handler) override;
    void setEntityResolver(XERCES_CPP_NAMESPACE::EntityResolver *const resolver) override;
    void ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                             const bool cdataSection) override;
    void doctypeDecl(const XERCES_CPP_NAMESPACE::DTDElementDecl &elemDecl,
                     const XMLCh *const publicId, const XMLCh *const systemId,
                     const bool hasIntSubset, const bool hasExtSubset) override;

    XERCES_CPP_NAMESPACE::ContentHandler *contentHandler = nullptr;
    XERCES_CPP_NAMESPACE::EntityResolver *entityResolver = nullptr;
};
