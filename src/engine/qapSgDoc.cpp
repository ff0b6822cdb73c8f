// The extraction drivers (extractAll, extractOne), the non-validating reader and the DOCTYPE
// resolver shared with the update driver, and the reporting of parser diagnostics.
#include "qapSgDoc.h"

#include "qapConv.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapOwned.h"
#include "qapParseMemory.h"
#include "qapPlatform.h"
#include "qapSgDocImpl.h"
#include "qapTrace.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

// Encoding names are asked for into buffers of this many units.
constexpr int32_t ENCODING_UNITS = 1025;

} // namespace

// ---- Parser diagnostics ----------------------------------------------------------------------

char *qapParserText(QapRoutineCtx *ctx, const XMLCh *text, char *out) {
    out[0] = '\0';
    if (text == nullptr) return out;
    // qapConvXMLCh allows 4 bytes per unit plus 4: 255 units fill the buffer exactly.
    constexpr XMLSize_t maxUnits = (QAP_PARSER_TEXT_SIZE - 4) / 4;
    XMLSize_t n = XMLString::stringLen(text);
    if (n <= maxUnits) return qapConvXMLCh(ctx, text, out);
    XMLCh cut[maxUnits + 1];
    n = maxUnits;
    if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n; // keep surrogate pairs whole
    memcpy(cut, text, n * sizeof(XMLCh));
    cut[n] = 0;
    return qapConvXMLCh(ctx, cut, out);
}

const char *qapLocText(uint64_t loc, char *out) {
    snprintf(out, 24, "%" PRIu64, loc);
    return out;
}

void qapSetParserError(QapRoutineCtx *ctx, char *sqlstate, char *msgtext, const char *line,
                       const char *column, const char *text) {
    // XMLException has no column and SAXException neither line nor column: the message shows
    // a missing number as "-", e.g. "Parser error on line 12 column -: text".
    qapSetMsg(ctx, msgtext, QAPQ047E, line != nullptr ? line : "-",
              column != nullptr ? column : "-", text);
    qapSetState(sqlstate, "38X13");
}

void qapReportParseException(QapRoutineCtx *ctx, const char *fn, char *sqlstate, char *msgtext) {
    try {
        throw;
    } catch (const SAXParseException &e) {
        char text[QAP_PARSER_TEXT_SIZE], line[24], column[24];
        qapParserText(ctx, e.getMessage(), text);
        qapSetParserError(ctx, sqlstate, msgtext, qapLocText(e.getLineNumber(), line),
                          qapLocText(e.getColumnNumber(), column), text);
        if (ctx != nullptr && ctx->traceOn) {
            char sysId[QAP_PARSER_TEXT_SIZE];
            QAP_TRACE(ctx, fn, "parse err4 in %s line %d col %d: %s\n",
                      qapParserText(ctx, e.getSystemId(), sysId),
                      static_cast<int>(e.getLineNumber()), static_cast<int>(e.getColumnNumber()),
                      text);
        }
    } catch (const XMLException &e) {
        char text[QAP_PARSER_TEXT_SIZE], line[24];
        qapParserText(ctx, e.getMessage(), text);
        qapSetParserError(ctx, sqlstate, msgtext, qapLocText(e.getSrcLine(), line), nullptr, text);
        QAP_TRACE(ctx, fn, "parse err5 in %s line %d: %s\n",
                  e.getSrcFile() != nullptr ? e.getSrcFile() : "", static_cast<int>(e.getSrcLine()),
                  text);
    } catch (const SAXException &e) {
        char text[QAP_PARSER_TEXT_SIZE];
        qapParserText(ctx, e.getMessage(), text);
        qapSetParserError(ctx, sqlstate, msgtext, nullptr, nullptr, text);
        QAP_TRACE(ctx, fn, "parse err6: %s\n", text);
    } catch (...) {
        // Among others the handler's QAPException: the state says the parse failed.
        QAP_TRACE(ctx, fn, "parser->parse crashed w/o an XMLException.\n");
        qapSetState(sqlstate, "38X13");
    }
}

// ---- DOCTYPE resolver ------------------------------------------------------------------------

qapDoctypeResolver::qapDoctypeResolver(QapRoutineCtx *ctx, const char *dtdText)
    : ctx(ctx), dtdText(dtdText) {}

qapDoctypeResolver::~qapDoctypeResolver() {
    free(ownedId_);
}

void qapDoctypeResolver::setDtdId(const XMLCh *systemId) {
    free(ownedId_);
    ownedId_ = nullptr;
    dtdId = nullptr;
    if (systemId == nullptr) return;
    const XMLSize_t n = XMLString::stringLen(systemId);
    ownedId_ = static_cast<XMLCh *>(malloc((n + 1) * sizeof(XMLCh)));
    if (ownedId_ == nullptr) throw QAPException(ctx, QAPG002E);
    memcpy(ownedId_, systemId, (n + 1) * sizeof(XMLCh));
    dtdId = ownedId_;
}

InputSource *qapDoctypeResolver::resolveEntity(const XMLCh *const, const XMLCh *const systemId) {
    // Only the DTD that the DOCTYPE names is replaced; the parser resolves everything else.
    if (dtdId == nullptr || XMLString::compareString(systemId, dtdId) != 0) return nullptr;
    static const XMLByte empty[1] = {0};
    if (dtdText == nullptr) return new MemBufInputSource(empty, 0, "IdForEmptyBuffer", false);

    auto *source = new MemBufInputSource(reinterpret_cast<const XMLByte *>(dtdText),
                                         strlen(dtdText), "IdForEmptyBuffer", false);
    XMLCh encoding[ENCODING_UNITS];
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    if (ctx != nullptr && ctx->convInfo != nullptr &&
        QAP_getEncoding(ctx, ctx->convInfo->dbCodePage, encoding, ENCODING_UNITS, state, msg) ==
            0 &&
        encoding[0] != 0)
        source->setEncoding(encoding);
    return source;
}

void qapDoctypeResolver::notationDecl(const XMLCh *const, const XMLCh *const, const XMLCh *const) {}
void qapDoctypeResolver::unparsedEntityDecl(const XMLCh *const, const XMLCh *const,
                                            const XMLCh *const, const XMLCh *const) {}
void qapDoctypeResolver::resetDocType() {}

// ---- Non-validating reader -------------------------------------------------------------------

qapNonValidateReader::qapNonValidateReader(MemoryManager *manager) : SAX2XMLReaderImpl(manager) {}

void qapNonValidateReader::setContentHandler(ContentHandler *const handler) {
    contentHandler = handler;
    SAX2XMLReaderImpl::setContentHandler(handler);
}

void qapNonValidateReader::setEntityResolver(EntityResolver *const resolver) {
    entityResolver = resolver;
    SAX2XMLReaderImpl::setEntityResolver(resolver);
}

void qapNonValidateReader::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                                               const bool cdataSection) {
    // The base suppresses whitespace outside the root element; the handler gets it all.
    if (contentHandler != nullptr) contentHandler->ignorableWhitespace(chars, length);
    SAX2XMLReaderImpl::ignorableWhitespace(chars, length, cdataSection);
}

void qapNonValidateReader::doctypeDecl(const DTDElementDecl &elemDecl, const XMLCh *const publicId,
                                       const XMLCh *const systemId, const bool hasIntSubset,
                                       const bool hasExtSubset) {
    if (entityResolver != nullptr) {
        if (auto *resolver = dynamic_cast<qapDoctypeResolver *>(entityResolver))
            resolver->setDtdId(systemId);
    }
    SAX2XMLReaderImpl::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
}

// ---- Extraction ------------------------------------------------------------------------------

namespace {

// Builds the reader and the resolver around parts.handler and sets the reader up, as every
// non-validating parse does. 0, or -1 with SQLSTATE and message set for an allocation
// failure, or -2 when something else went wrong (SQLSTATE untouched).
int32_t setUpReader(QapRoutineCtx *ctx, qapParseParts &parts, const char *dtdText,
                    char *sqlstate, char *msgtext) {
    try {
        parts.reader.reset(new qapNonValidateReader(&parts.memory));
        qapNonValidateReader &reader = *parts.reader;
        reader.setContentHandler(parts.handler.get());
        reader.setErrorHandler(parts.handler.get());
        reader.setLexicalHandler(parts.handler.get());

        parts.resolver.reset(new (std::nothrow) qapDoctypeResolver(ctx, dtdText));
        if (parts.resolver == nullptr) {
            qapFail(ctx, sqlstate, msgtext, QAPG002E);
            return -1;
        }
        parts.handler->resolver = parts.resolver.get();
        reader.setEntityResolver(parts.resolver.get());
        reader.setDTDHandler(parts.resolver.get());

        reader.setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
        reader.setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
        reader.setFeature(XMLUni::fgSAX2CoreValidation, false);
        reader.setFeature(XMLUni::fgXercesSchema, false);
        return 0;
    } catch (const std::bad_alloc &) {
        qapFail(ctx, sqlstate, msgtext, QAPG002E);
        return -1;
    } catch (const OutOfMemoryException &) {
        qapFail(ctx, sqlstate, msgtext, QAPG002E);
        return -1;
    } catch (...) {
        QAP_TRACE(ctx, "qapSetUpReader", "parser->parse crashed w/o an XMLException.\n");
        return -2;
    }
}

// The extraction handler for the path, checked for a syntax error ("38X09"). 0, or as
// setUpReader.
int32_t buildExtraction(QapRoutineCtx *ctx, qapParseParts &parts, const char *dtdText,
                        int tagged, char *sqlstate, char *msgtext) {
    try {
        auto *handler = new (std::nothrow)
            qapExtractHandler(ctx, tagged == 1 ? 1 : 0, parts.path.get());
        parts.handler.reset(handler);
        if (handler == nullptr) {
            qapFail(ctx, sqlstate, msgtext, QAPG002E);
            return -1;
        }
        if (int32_t pos = handler->query.getErrorPosition(); pos != 0) {
            char num[24];
            snprintf(num, sizeof num, "%d", pos);
            qapFail(ctx, sqlstate, msgtext, QAPD002E, num);
            QAP_TRACE(ctx, "extractAll", "Error in XPATH: %s\n", msgtext);
            return -1;
        }
    } catch (...) {
        qapFail(ctx, sqlstate, msgtext, QAPG002E);
        return -1;
    }
    return qapSetUpReader(ctx, parts, dtdText, sqlstate, msgtext);
}

// Sets the database code page's encoding on a source when the document bytes are in it. When
// the name is not available the parser detects the encoding from the document itself.
void setDbEncoding(QapRoutineCtx *ctx, InputSource &source) {
    if (ctx == nullptr || ctx->convInfo == nullptr) return;
    XMLCh encoding[ENCODING_UNITS];
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    if (QAP_getEncoding(ctx, ctx->convInfo->dbCodePage, encoding, ENCODING_UNITS, state, msg) ==
            0 &&
        encoding[0] != 0)
        source.setEncoding(encoding);
}

} // namespace

qapParseParts::~qapParseParts() {
    release();
}

void qapParseParts::release() {
    reader.reset();
    handler.reset();
    resolver.reset();
    memSource.reset();
    path.reset();
}

int32_t qapSetUpReader(QapRoutineCtx *ctx, qapParseParts &parts, const char *dtdText,
                       char *sqlstate, char *msgtext) {
    return setUpReader(ctx, parts, dtdText, sqlstate, msgtext);
}

int32_t qapRunParse(QapRoutineCtx *ctx, qapParseParts &parts, const QapDoc &document,
                    char *sqlstate, char *msgtext) {
    static const char *const fn = "qapRunParse";
    const char *doc = document.doc;
    const bool inDbCodePage = document.docInDbCodePage == 1;
    try {
        if (document.docLoc == QAP_MEM) {
            QAP_TRACE(ctx, fn, "Before calling parser using memory interface\n");
            if (inDbCodePage) setDbEncoding(ctx, *parts.memSource);
            parts.reader->parse(*parts.memSource);
            QAP_TRACE(ctx, fn, "After calling parser->parse(%s)\n", "buffer");
        } else {
            XMLCh name[QAP_MAX_PATH];
            if (QAP_mbstowcsFunction(ctx, name, doc, QAP_MAX_PATH) < 0) {
                qapSetError(ctx, sqlstate, "38X01", msgtext, QAPC001E);
                return -1;
            }
            LocalFileInputSource source(name);
            if (inDbCodePage) setDbEncoding(ctx, source);
            QAP_TRACE(ctx, fn, "Before calling parser->parse(%s)\n", doc);
            parts.reader->parse(source);
            QAP_TRACE(ctx, fn, "After calling parser->parse(%s)\n", doc);
        }
        return 0;
    } catch (...) {
        qapReportParseException(ctx, fn, sqlstate, msgtext);
    }
    return -1;
}

int32_t extractAll(QapRoutineCtx *ctx, const QapDoc &document, int tagged, const char *path,
                   QapExtractResult *result, int32_t limit, char *sqlstate, char *msgtext) {
    static const char *const fn = "extractAll";
    const char *doc = document.doc;
    int32_t rc = -1;
    if (document.docLoc == QAP_MEM)
        QAP_TRACE(ctx, fn, "Entered, input uri=buffer and query='%s'\n", path ? path : "");
    else
        QAP_TRACE(ctx, fn, "Entered, input uri='%s' and query='%s'\n", doc ? doc : "",
                  path ? path : "");

    qapParseParts parts;
    do {
        // The document.
        if (document.docLoc == QAP_FILE) {
            int32_t size = 0;
            int getRc = qap_getFileSize(ctx, doc, &size);
            QAP_TRACE(ctx, fn, "call qap_getFileSize() return rc=%d\n", getRc);
            if (getRc != 0) {
                qapSetError(ctx, sqlstate, "38X01", msgtext, QAPC001E);
                break;
            }
        } else {
            try {
                parts.memSource.reset(new MemBufInputSource(reinterpret_cast<const XMLByte *>(doc),
                                                            strlen(doc), "IdForDocBuffer", false));
            } catch (...) {
                qapSetError(ctx, sqlstate, "38X10", msgtext, QAPG002E);
                break;
            }
            QAP_TRACE(ctx, fn, "document is from memory\n");
        }

        // The path in UTF-16.
        const size_t pathLength = path != nullptr ? strlen(path) : 0;
        parts.path.reset(new (std::nothrow) XMLCh[4 * (pathLength + 1)]);
        if (parts.path == nullptr) {
            qapSetError(ctx, sqlstate, "38X10", msgtext, QAPG002E);
            break;
        }
        parts.path[0] = 0;
        if (path != nullptr) {
            int32_t n = QAP_mbstowcsFunction(ctx, parts.path.get(), path,
                                             static_cast<int32_t>(4 * (pathLength + 1)));
            if (n < 0) {
                QAP_TRACE(ctx, fn, "call QAP_mbstowcs() return length=%d\n", n);
                char num[24];
                snprintf(num, sizeof num, "%d", n);
                qapSetError(ctx, sqlstate, "38X09", msgtext, QAPD002E, num);
                break;
            }
        }

        // Reader, handler, resolver, features.
        if (buildExtraction(ctx, parts, document.dtdText, tagged, sqlstate, msgtext) != 0) break;

        // The parse.
        if (qapRunParse(ctx, parts, document, sqlstate, msgtext) != 0) break;

        // The values in the database code page.
        QapHeap<QapExtractResult> record;
        try {
            record.reset(parts.handler->result.retrieve(limit));
        } catch (...) {
            record.reset();
        }
        if (record == nullptr) {
            QAP_TRACE(ctx, fn, "The resulting array, a, is NULL.\n");
            break;
        }
        if (record->message != nullptr) {
            snprintf(msgtext, QAP_MSGTEXT_SIZE, "%s", record->message);
            free(record->message);
            record->message = nullptr;
        }
        char *callerMessage = result->message;
        *result = *record;
        result->message = callerMessage;
        qapSetState(sqlstate, record->sqlstate);
        rc = strcmp(record->sqlstate, "00000") == 0 ? 0 : -1;
    } while (false);

    // Reader, handler, resolver, input source and path go with parts.
    parts.release();
    QAP_TRACE(ctx, fn, "Exit return rc=%d\n", rc);
    return rc;
}

int32_t extractOne(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path,
                   char **value, int32_t limit, char *sqlstate, char *msgtext) {
    static const char *const fn = "extractOne";
    QAP_TRACE(ctx, fn, "Entered\n");
    qapSetState(sqlstate, "00000");
    *value = nullptr;

    QAP_TRACE(ctx, fn, "docloc = %d\n", static_cast<int>(doc.docLoc));
    QapExtractResult local{};
    int32_t rc = extractAll(ctx, doc, tagged, path, &local, limit, sqlstate, msgtext);
    QAP_TRACE(ctx, fn, "call extractAll() got sqlstate=%s return rc=%d\n", sqlstate, rc);

    int32_t out = -1;
    if (strncmp(sqlstate, "00000", 5) != 0) {
        // The state and message of the extraction stand; values converted before a failed
        // one are dropped.
        freeExtractResult(ctx, &local);
        return -1;
    }
    if (rc == 0 && local.values != nullptr && local.values[0] != nullptr) {
        if (local.values[1] == nullptr) {
            if (local.values[0][0] != '\0') {
                *value = local.values[0];
                local.values[0] = nullptr;
                out = 0;
            }
            // An empty value is NULL without a warning.
        } else {
            qapSetError(ctx, sqlstate, "38X08", msgtext, QAPD001E, path != nullptr ? path : "");
        }
    } else {
        qapSetError(ctx, sqlstate, "01HX0", msgtext, QAPD003W);
    }
    freeExtractResult(ctx, &local);
    return out;
}
