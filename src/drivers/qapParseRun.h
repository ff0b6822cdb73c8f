// The set-up and run that every non-validating parse shares (extraction and update).
#pragma once

#include "qapCtx.h"
#include "qapDoc.h"
#include "qapMsg.h"
#include "qapParser.h"
#include "qapSgDocHandler.h"

#include <cstdint>
#include <memory>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/sax/InputSource.hpp>

// What one non-validating parse uses: the context's reader (or one of its own without a
// context), and the handler, path and input source of this parse. Releasing it detaches the
// handler from the reader, and drops a retired reader.
struct QapParseParts {
    QapRoutineCtx *ctx = nullptr;
    QapParser *parser = nullptr;
    std::unique_ptr<QapParser> ownParser; // when there is no context to keep it
    std::unique_ptr<XMLCh[]> path;
    std::unique_ptr<XERCES_CPP_NAMESPACE::MemBufInputSource> memSource;
    std::unique_ptr<QapSgDocHandler> handler;
    // An advanced document handler installed for this parse (not owned), removed again.
    XERCES_CPP_NAMESPACE::XMLDocumentHandler *docHandler = nullptr;
    // Set when the handler is an extraction handler for this path (the call's) that the
    // context's reader may keep for its next parse (see QapParser::kept).
    const char *keepPath = nullptr;
    int keepTagged = 0;

    QapParseParts() = default;
    ~QapParseParts();
    QapParseParts(const QapParseParts &) = delete;
    QapParseParts &operator=(const QapParseParts &) = delete;
    void release();
};

// The set-up every non-validating parse shares (extraction and update): the context's reader
// and DOCTYPE resolver (dtdText replaces the DTD a document names; null: an empty DTD), built
// with namespaces and validation off when the context has none, armed with parts.handler.
// 0, or -1 with SQLSTATE and message set (as qapReportSetUpException).
int32_t qapSetUpReader(QapRoutineCtx *ctx, QapParseParts &parts, const char *dtdText,
                       QapStatus err);

// Thrown from a handler to end a parse nobody wants the rest of (a table closed early): the
// reader lets go of the document and stays in use.
struct QapParseClosed {};

// Parses the document (a file, or parts.memSource over the buffer) and turns the parser's
// exceptions into SQLSTATE and message. 0, or -1; QapParseClosed passes through.
int32_t qapRunParse(QapRoutineCtx *ctx, QapParseParts &parts, const QapDoc &doc, QapStatus err);
