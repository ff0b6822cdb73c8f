// The set-up and run that every non-validating parse shares (extraction and update): the
// context's reader armed with the parse's handler, and released with the parse's parts.
#include "qapParseRun.h"

#include "qapConv.h"
#include "qapDocumentSource.h"
#include "qapExtractHandler.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapParseErrors.h"
#include "qapTrace.h"

#include <cerrno>
#include <memory>
#include <new>

XERCES_CPP_NAMESPACE_USE

int32_t qapSetUpReader(QapRoutineCtx *ctx, QapParseParts &parts, const char *dtdText,
                       QapStatus err) {
    try {
        parts.ctx = ctx;
        if (ctx != nullptr) {
            parts.parser = &qapContextParser(ctx);
        } else {
            parts.ownParser = qapNewParser(ctx);
            parts.parser = parts.ownParser.get();
        }
        QapParser &parser = *parts.parser;
        parser.resolver->dtdText = dtdText;
        parser.resolver->setDtdId(nullptr);
        parser.reader->beginParse();
        parser.reader->setContentHandler(parts.handler.get());
        parser.reader->setErrorHandler(parts.handler.get());
        parser.reader->setLexicalHandler(parts.handler.get());
        parts.handler->resolver = parser.resolver.get();
        parts.handler->result.useMemory(&parser.memory);
        // The open elements count against the parse's budget and keep only the attributes
        // the path's predicates read.
        parts.handler->currentPath.prepare(&parser.memory, parts.handler->query);
        return 0;
    } catch (...) {
        return qapReportSetUpException(ctx, "qapSetUpReader", err);
    }
}

QapParseParts::~QapParseParts() {
    release();
}

void QapParseParts::release() {
    if (parser != nullptr) {
        QapNonValidateReader &reader = *parser->reader;
        reader.setContentHandler(nullptr);
        reader.setErrorHandler(nullptr);
        reader.setLexicalHandler(nullptr);
        if (docHandler != nullptr) reader.removeAdvDocHandler(docHandler);
        docHandler = nullptr;
        parser->resolver->dtdText = nullptr;
    }
    // The source and the handler's result may live in the parser's memory: they go first.
    memSource.reset();
    if (keepPath != nullptr && handler != nullptr && parser != nullptr && !parser->retired &&
        ctx != nullptr && parser == qapKeptParser(ctx)) {
        QapParser::Kept &kept = parser->kept;
        // Re-armed now, so that nothing of this document stays while the context waits.
        static_cast<QapExtractHandler &>(*handler).rearm();
        try {
            kept.path.assign(keepPath);
            kept.tagged = keepTagged;
            kept.path16 = std::move(path);
            kept.handler = std::move(handler);
        } catch (...) {
            kept.handler.reset(); // no room for the key: nothing is kept
        }
    }
    keepPath = nullptr;
    handler.reset();
    if (parser != nullptr && parser->retired && parser != ownParser.get()) qapDropParser(ctx);
    parser = nullptr;
    ownParser.reset();
    path.reset();
}

int32_t qapRunParse(QapRoutineCtx *ctx, QapParseParts &parts, const QapDoc &document,
                    QapStatus err) {
    static const char *const fn = "qapRunParse";
    const char *doc = document.doc;
    const bool inDbCodePage = document.docInDbCodePage == 1;
    try {
        if (document.docLoc == kMem) {
            QAP_TRACE(ctx, fn, "Before calling parser using memory interface\n");
            if (inDbCodePage) qapSetDbEncoding(ctx, *parts.memSource);
            parts.parser->reader->parse(*parts.memSource);
            QAP_TRACE(ctx, fn, "After calling parser->parse(%s)\n", "buffer");
        } else {
            std::unique_ptr<InputSource> source;
            if (document.file != nullptr) source.reset(qapFileDocument(ctx, *document.file, doc));
            if (source == nullptr) {
                qapSetDocumentOpenError(ctx, doc, document.file != nullptr ? errno : ENOENT, err);
                return -1;
            }
            if (inDbCodePage) qapSetDbEncoding(ctx, *source);
            QAP_TRACE(ctx, fn, "Before calling parser->parse(%s)\n", doc);
            parts.parser->reader->parse(*source);
            QAP_TRACE(ctx, fn, "After calling parser->parse(%s)\n", doc);
        }
        if (const QapParseStop *refusal = parts.parser->reader->refusal()) throw *refusal;
        if (parts.parser->reader->readExternalSubset()) parts.parser->retired = true;
        return 0;
    } catch (const QapParseClosed &) {
        throw;
    } catch (...) {
        parts.parser->retired = true;
        qapReportParseException(ctx, fn, err, parts.parser->reader->refusal());
    }
    return -1;
}
