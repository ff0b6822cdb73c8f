// The non-validating reader a routine context keeps for its parses (extraction and update), and
// the few a thread keeps between statements.
#pragma once

#include "qapCtx.h"
#include "qapDoctypeResolver.h"
#include "qapNonValidateReader.h"
#include "qapParseMemory.h"

#include <memory>
#include <string>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/util/SecurityManager.hpp>

// A routine context's non-validating reader, with its DOCTYPE resolver and its memory, taken at
// the context's first parse (from those finished contexts left on the thread, see
// qapDropParser, or built) and reused by the later ones: building a reader costs more than
// parsing a small document. A parse that failed, or that read an external DTD subset (Xerces-C
// forgets a little memory then), retires it and the next parse builds a new one.
struct QapParser : QapKeptParser {
    QapParseMemory memory; // first: goes last, after everything the reader allocated
    XERCES_CPP_NAMESPACE::SecurityManager security;
    std::unique_ptr<QapDoctypeResolver> resolver;
    std::unique_ptr<QapNonValidateReader> reader;
    bool retired = false;
    // The handler of the last parse with the path it was built for (its steps point into
    // path16): the next parse of the same path, as every row of a statement with a literal
    // path, re-arms it instead of parsing the path again. Goes first: its result may live in
    // memory.
    struct Kept {
        std::string path; // as the call gave it
        int tagged = 0;
        std::unique_ptr<XMLCh[]> path16;
        std::unique_ptr<XERCES_CPP_NAMESPACE::DefaultHandler> handler;
    } kept;

    QapParser() = default;
    ~QapParser() override { memory.beginRelease(); }
    QapParser(const QapParser &) = delete;
    QapParser &operator=(const QapParser &) = delete;
};

// Gives the reader the security manager that bounds the document's entity references.
void qapBoundEntities(XERCES_CPP_NAMESPACE::SAX2XMLReader &reader,
                      XERCES_CPP_NAMESPACE::SecurityManager &security);

// A new reader with the features of every non-validating parse (ctx may be null). Throws what
// allocation throws.
std::unique_ptr<QapParser> qapNewParser(QapRoutineCtx *ctx);

// The reader the context keeps, taken (from those left on the thread, or built) at its first
// parse. Throws what allocation throws.
QapParser &qapContextParser(QapRoutineCtx *ctx);

// The reader the context keeps, or null when it has none yet.
inline QapParser *qapKeptParser(QapRoutineCtx *ctx) {
    return static_cast<QapParser *>(ctx->parser);
}

// Releases the reader a context keeps for its parses, if it has one: a sound one is kept on the
// thread for the next context's first parse (a few, each small).
void qapDropParser(QapRoutineCtx *ctx);
