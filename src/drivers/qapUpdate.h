// The update handler and driver: the values at a location path replaced and the whole document
// written back out as XML, from one SAX2 parse.
#pragma once

#include "qapCtx.h"
#include "qapDoc.h"
#include "qapMsg.h"
#include "qapSgDocHandler.h"

#include <cstdint>
#include <memory>

// Writes every event back out into its one result item; where the path matches, element text
// or attribute values are the new value. Text and attribute values are written so that a parse
// of the output reads the same values (qapEscape.h). Every parser diagnostic ends the parse.
class QapGuardedReader;

class QapUpdateHandler : public QapSgDocHandler {
public:
    // Parses the path; value (UTF-16) must outlive the handler. Throws QapError.
    QapUpdateHandler(QapRoutineCtx *ctx, const XMLCh *value, XMLCh *path);

    // The XML declaration, from QapXmlDeclHandler: values in single quotes.
    void writeDecl(const XMLCh *version, const XMLCh *encoding, const XMLCh *standalone);

    // ContentHandler
    void characters(const XMLCh *const chars, const XMLSize_t length) override;
    void endElement(const XMLCh *const uri, const XMLCh *const localname,
                    const XMLCh *const qname) override;
    void ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length) override;
    void processingInstruction(const XMLCh *const target, const XMLCh *const data) override;
    void startElement(const XMLCh *const uri, const XMLCh *const localname,
                      const XMLCh *const qname,
                      const XERCES_CPP_NAMESPACE::Attributes &attrs) override;

    // LexicalHandler
    void comment(const XMLCh *const chars, const XMLSize_t length) override;
    void startDTD(const XMLCh *const name, const XMLCh *const publicId,
                  const XMLCh *const systemId) override;

    const XMLCh *newValue;
    // The parse's reader, charged for every copy of the new value written (null: none).
    QapGuardedReader *reader = nullptr;

private:
    void write(const XMLCh *s); // raw
    // Counts one more copy of the new value against the budget.
    void chargeNewValue();
    int textEscape_ = kEscapeText; // how text and the new element value are written
    uint64_t newValueUnits_ = 0;
};

// Updates a document (a file the gate opened, or a NUL-terminated buffer; its DTD text is not
// used) with the UTF-16 path and value. 0 with *out the rewritten document (a heap string in
// the database code page, shorter than limit bytes), or -1 with SQLSTATE and message set.
int32_t qapUpdate(QapRoutineCtx *ctx, const QapDoc &doc, const XMLCh *path, const XMLCh *value,
                  char **out, int32_t limit, QapStatus err);

// qapUpdate on text in the database code page (a document longer than the context's file
// threshold is parsed from a temporary file, removed again), path and value converted first.
int32_t qapUpdateFromBuf(QapRoutineCtx *ctx, const char *doc, const char *path, const char *value,
                         char **out, int32_t limit, QapStatus err);

// Text in the database code page to UTF-16 in a new buffer of 4 units per byte. 0, or -1 with
// "38X10" (QAPG002E) or "38X09" (QAPD002E with the conversion's result).
int32_t qapToUtf16(QapRoutineCtx *ctx, const char *text, std::unique_ptr<XMLCh[]> *out,
                   QapStatus err);
