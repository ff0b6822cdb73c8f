// The reader a context keeps for its non-validating parses (extraction and update): built once,
// armed for each parse, run, and released with the parse's parts.
#include "qapSgDocImpl.h"

#include "qapConv.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapTrace.h"

#include <cerrno>
#include <memory>
#include <new>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/util/XMLUni.hpp>

XERCES_CPP_NAMESPACE_USE

void qapBoundEntities(SAX2XMLReader &reader, SecurityManager &security) {
    security.setEntityExpansionLimit(QAP_MAX_ENTITY_EXPANSIONS);
    reader.setProperty(XMLUni::fgXercesSecurityManager, &security);
}

namespace {

// A new reader and resolver with the features of every non-validating parse.
std::unique_ptr<qapParser> buildParser(QapRoutineCtx *ctx) {
    auto parser = std::make_unique<qapParser>();
    parser->reader.reset(new qapNonValidateReader(ctx, &parser->memory));
    parser->resolver.reset(new qapDoctypeResolver(ctx, nullptr));
    qapNonValidateReader &reader = *parser->reader;
    qapBoundEntities(reader, parser->security);
    reader.setEntityResolver(parser->resolver.get());
    reader.setDTDHandler(parser->resolver.get());
    reader.setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
    reader.setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
    reader.setFeature(XMLUni::fgSAX2CoreValidation, false);
    reader.setFeature(XMLUni::fgXercesSchema, false);
    return parser;
}

// The readers of a thread's finished statements, for the first parses of its next ones: a
// reader costs more to build, and its memory more to fault in again, than a small document
// costs to parse. Bounded in number and in what each holds; freed when the thread ends.
constexpr size_t kPooledParsers = 4;
constexpr size_t kPooledHeld = size_t{2} << 20;
struct QapParserPool {
    std::unique_ptr<qapParser> parsers[kPooledParsers];
    size_t count = 0;
    ~QapParserPool();
};
thread_local QapParserPool parserPool;
thread_local bool parserPoolGone = false; // the thread is ending: nothing more is pooled

QapParserPool::~QapParserPool() {
    parserPoolGone = true;
}

// Budgets below this get a new reader: what a kept one still holds (up to kPooledHeld) counts
// against the budget, and must not decide whether a document fits a small one.
constexpr size_t kPooledBudget = size_t{64} << 20;

// A reader for ctx: one a finished statement left on this thread, or a new one.
std::unique_ptr<qapParser> takeParser(QapRoutineCtx *ctx) {
    QapParserPool &pool = parserPool;
    const bool smallBudget = ctx->maxParseMemory != 0 && ctx->maxParseMemory < kPooledBudget;
    if (parserPoolGone || pool.count == 0 || smallBudget) return buildParser(ctx);
    std::unique_ptr<qapParser> parser = std::move(pool.parsers[--pool.count]);
    parser->reader->rebind(ctx);
    parser->resolver->ctx = ctx;
    return parser;
}

} // namespace

int32_t qapSetUpReader(QapRoutineCtx *ctx, qapParseParts &parts, const char *dtdText,
                       QapStatus err) {
    try {
        parts.ctx = ctx;
        if (ctx != nullptr && ctx->parser == nullptr) ctx->parser = takeParser(ctx).release();
        if (ctx != nullptr) {
            parts.parser = ctx->parser;
        } else {
            parts.ownParser = buildParser(ctx);
            parts.parser = parts.ownParser.get();
        }
        qapParser &parser = *parts.parser;
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

void setDbEncoding(QapRoutineCtx *ctx, InputSource &source) {
    if (ctx == nullptr || ctx->convInfo == nullptr) return;
    XMLCh encoding[ENCODING_UNITS];
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    if (qapDbEncoding(ctx, encoding, ENCODING_UNITS, QapStatus{state, msg}) == 0 &&
        encoding[0] != 0)
        source.setEncoding(encoding);
}

qapParseParts::~qapParseParts() {
    release();
}

void qapParseParts::release() {
    if (parser != nullptr) {
        qapNonValidateReader &reader = *parser->reader;
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
        ctx != nullptr && parser == ctx->parser) {
        qapParser::Kept &kept = parser->kept;
        // Re-armed now, so that nothing of this document stays while the context waits.
        static_cast<qapExtractHandler &>(*handler).rearm();
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

void qapDropParser(QapRoutineCtx *ctx) {
    if (ctx == nullptr || ctx->parser == nullptr) return;
    std::unique_ptr<qapParser> parser(ctx->parser);
    ctx->parser = nullptr;
    // Nothing of the statement stays: its handler, and the memory beyond what readers keep.
    parser->kept = qapParser::Kept();
    if (parser->retired || parserPoolGone) return;
    parser->memory.trim();
    QapParserPool &pool = parserPool;
    if (pool.count == kPooledParsers || parser->memory.held() > kPooledHeld) return;
    parser->reader->rebind(nullptr);
    parser->resolver->ctx = nullptr;
    pool.parsers[pool.count++] = std::move(parser);
}

int32_t qapRunParse(QapRoutineCtx *ctx, qapParseParts &parts, const QapDoc &document,
                    QapStatus err) {
    static const char *const fn = "qapRunParse";
    const char *doc = document.doc;
    const bool inDbCodePage = document.docInDbCodePage == 1;
    try {
        if (document.docLoc == QAP_MEM) {
            QAP_TRACE(ctx, fn, "Before calling parser using memory interface\n");
            if (inDbCodePage) setDbEncoding(ctx, *parts.memSource);
            parts.parser->reader->parse(*parts.memSource);
            QAP_TRACE(ctx, fn, "After calling parser->parse(%s)\n", "buffer");
        } else {
            std::unique_ptr<InputSource> source;
            if (document.file != nullptr) source.reset(qapFileDocument(ctx, *document.file, doc));
            if (source == nullptr) {
                qapSetDocumentOpenError(ctx, doc, document.file != nullptr ? errno : ENOENT, err);
                return -1;
            }
            if (inDbCodePage) setDbEncoding(ctx, *source);
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
