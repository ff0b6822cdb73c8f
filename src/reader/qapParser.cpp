// The reader a context keeps for its non-validating parses, and the thread's pool of them.
#include "qapParser.h"

#include <memory>
#include <xercesc/util/XMLUni.hpp>

XERCES_CPP_NAMESPACE_USE

void qapBoundEntities(SAX2XMLReader &reader, SecurityManager &security) {
    security.setEntityExpansionLimit(kMaxEntityExpansions);
    reader.setProperty(XMLUni::fgXercesSecurityManager, &security);
}

std::unique_ptr<QapParser> qapNewParser(QapRoutineCtx *ctx) {
    auto parser = std::make_unique<QapParser>();
    parser->reader.reset(new QapNonValidateReader(ctx, &parser->memory));
    parser->resolver.reset(new QapDoctypeResolver(ctx, nullptr));
    QapNonValidateReader &reader = *parser->reader;
    qapBoundEntities(reader, parser->security);
    reader.setEntityResolver(parser->resolver.get());
    reader.setDTDHandler(parser->resolver.get());
    reader.setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
    reader.setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
    reader.setFeature(XMLUni::fgSAX2CoreValidation, false);
    reader.setFeature(XMLUni::fgXercesSchema, false);
    return parser;
}

namespace {

// The readers of a thread's finished statements, for the first parses of its next ones: a
// reader costs more to build, and its memory more to fault in again, than a small document
// costs to parse. Bounded in number and in what each holds; freed when the thread ends.
constexpr size_t kPooledParsers = 4;
constexpr size_t kPooledHeld = size_t{2} << 20;
struct QapParserPool {
    std::unique_ptr<QapParser> parsers[kPooledParsers];
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
std::unique_ptr<QapParser> takeParser(QapRoutineCtx *ctx) {
    QapParserPool &pool = parserPool;
    const bool smallBudget = ctx->maxParseMemory != 0 && ctx->maxParseMemory < kPooledBudget;
    if (parserPoolGone || pool.count == 0 || smallBudget) return qapNewParser(ctx);
    std::unique_ptr<QapParser> parser = std::move(pool.parsers[--pool.count]);
    parser->reader->rebind(ctx);
    parser->resolver->ctx = ctx;
    return parser;
}

} // namespace

QapParser &qapContextParser(QapRoutineCtx *ctx) {
    if (ctx->parser == nullptr) ctx->parser = takeParser(ctx).release();
    return *qapKeptParser(ctx);
}

void qapDropParser(QapRoutineCtx *ctx) {
    if (ctx == nullptr || ctx->parser == nullptr) return;
    std::unique_ptr<QapParser> parser(qapKeptParser(ctx));
    ctx->parser = nullptr;
    // Nothing of the statement stays: its handler, and the memory beyond what readers keep.
    parser->kept = QapParser::Kept();
    if (parser->retired || parserPoolGone) return;
    // Free blocks within the pooled bound stay for the next statement: given back, the heap
    // would shrink and every first parse of a statement fault its reader's buffers in again.
    if (parser->memory.held() > kPooledHeld) parser->memory.trim();
    QapParserPool &pool = parserPool;
    if (pool.count == kPooledParsers || parser->memory.held() > kPooledHeld) return;
    parser->reader->rebind(nullptr);
    parser->resolver->ctx = nullptr;
    pool.parsers[pool.count++] = std::move(parser);
}
