// The update driver: one non-validating parse whose handler writes every event back out as XML
// into one result item, with the new value where the path matches.
#include "qapUpdate.h"

#include "qapConv.h"
#include "qapDocumentSource.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapOwned.h"
#include "qapParseErrors.h"
#include "qapParseRun.h"
#include "qapTrace.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/util/XMLString.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

bool empty(const XMLCh *s) {
    return s == nullptr || s[0] == 0;
}

} // namespace

// ---- The update handler ------------------------------------------------------------------

QapUpdateHandler::QapUpdateHandler(QapRoutineCtx *ctx, const XMLCh *value, XMLCh *path)
    : QapSgDocHandler(ctx, path), newValue(value),
      newValueUnits_(value != nullptr ? XMLString::stringLen(value) : 0) {
    attrEscape = kEscapeAttr;
    result.newItem();
}

void QapUpdateHandler::chargeNewValue() {
    // A path that matches every element of a long document would repeat the value as often.
    if (reader != nullptr && newValueUnits_ != 0) reader->chargeRepeated(newValueUnits_);
}

void QapUpdateHandler::write(const XMLCh *s) {
    result.addToCurrentItem(0, s);
}

void QapUpdateHandler::writeDecl(const XMLCh *version, const XMLCh *encoding,
                                 const XMLCh *standalone) {
    write(u"<?xml");
    if (version != nullptr && XMLString::equals(version, u"1.1")) {
        attrEscape |= kEscapeXml11;
        textEscape_ |= kEscapeXml11;
    }
    if (version != nullptr) {
        write(u" version='");
        write(version);
        write(u"'");
    }
    if (!empty(encoding)) {
        write(u" encoding='");
        write(encoding);
        write(u"'");
    }
    if (!empty(standalone)) {
        write(u" standalone='");
        write(standalone);
        write(u"'");
    }
    write(u"?>");
}

void QapUpdateHandler::startDTD(const XMLCh *const name, const XMLCh *const publicId,
                                const XMLCh *const systemId) {
    QAP_TRACE(ctx, "qapUpdateHandler::startDTD", "Entered\n");
    if (resolver != nullptr) resolver->setDtdId(systemId);
    write(u"<!DOCTYPE ");
    if (name != nullptr) write(name);
    // A system identifier may hold either quote (not both): it goes in the other one.
    const bool apostrophes = !empty(systemId) && XMLString::indexOf(systemId, u'"') >= 0;
    if (!empty(publicId) && !empty(systemId)) {
        write(u" PUBLIC \"");
        write(publicId);
        write(apostrophes ? u"\" '" : u"\" \"");
        write(systemId);
        write(apostrophes ? u"'>" : u"\">");
    } else if (!empty(systemId)) {
        write(apostrophes ? u" SYSTEM '" : u" SYSTEM \"");
        write(systemId);
        write(apostrophes ? u"'>" : u"\">");
    } else {
        write(u">");
    }
}

void QapUpdateHandler::comment(const XMLCh *const chars, const XMLSize_t length) {
    write(u"<!--");
    result.addToCurrentItem(0, chars, static_cast<uint32_t>(length));
    write(u"-->");
}

void QapUpdateHandler::processingInstruction(const XMLCh *const target, const XMLCh *const data) {
    write(u"<?");
    write(target);
    write(u" ");
    write(data);
    write(u"?>");
}

void QapUpdateHandler::startElement(const XMLCh *const, const XMLCh *const,
                                    const XMLCh *const qname, const Attributes &attrs) {
    const QapMatchState prev = isMatched;
    currentPath.push(qname, attrs);
    if (isMatched == PARTIAL) isMatched = query.match(currentPath);
    if (isMatched != YES) {
        composeStartElement(qname, attrs);
        return;
    }
    switch (targetKind) {
    case ATTRIBUTE: {
        if (prev != PARTIAL) {
            composeStartElement(qname, attrs);
            break;
        }
        // The matched element: every attribute of that name gets the new value, none is added.
        QapAttrs copy(ctx, attrs, currentPath.memory());
        for (XMLSize_t i = 0; i < copy.getLength(); ++i)
            if (attributeName != nullptr &&
                XMLString::equals(copy.getLocalName(i), attributeName)) {
                chargeNewValue();
                copy.setValue(i, newValue);
            }
        composeStartElement(qname, copy);
        break;
    }
    case ELEMENT:
        composeStartElement(qname, attrs);
        if (prev == PARTIAL) {
            chargeNewValue();
            result.addToCurrentItem(textEscape_, newValue);
        }
        break;
    default:
        QAP_TRACE(ctx, "qapUpdateHandler::startElement", "startElement got an invalid target %d.\n",
                  static_cast<int>(targetKind));
        break;
    }
}

void QapUpdateHandler::endElement(const XMLCh *const, const XMLCh *const,
                                  const XMLCh *const qname) {
    currentPath.pop();
    composeEndElement(qname);
    if (isMatched == YES || isMatched == NO) isMatched = query.match(currentPath);
}

void QapUpdateHandler::characters(const XMLCh *const chars, const XMLSize_t length) {
    if (isMatched == YES && targetKind == ELEMENT) return;
    result.addToCurrentItem(textEscape_, chars, static_cast<uint32_t>(length));
}

void QapUpdateHandler::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length) {
    if (isMatched == YES && targetKind == ELEMENT) return;
    result.addToCurrentItem(0, chars, static_cast<uint32_t>(length));
}

namespace {

// Receives the XML declaration, which SAX2 does not report, for the update handler.
class QapXmlDeclHandler : public XMLDocumentHandler {
public:
    QapXmlDeclHandler(QapRoutineCtx *ctx, QapUpdateHandler *handler) : ctx(ctx), handler(handler) {}
    void docCharacters(const XMLCh *const, const XMLSize_t, const bool) override {}
    void docComment(const XMLCh *const) override {}
    void docPI(const XMLCh *const, const XMLCh *const) override {}
    void endDocument() override {}
    void endElement(const XMLElementDecl &, const unsigned int, const bool,
                    const XMLCh *const) override {}
    void endEntityReference(const XMLEntityDecl &) override {}
    void ignorableWhitespace(const XMLCh *const, const XMLSize_t, const bool) override {}
    void resetDocument() override { handler->resetDocument(); }
    void startDocument() override {}
    void startElement(const XMLElementDecl &, const unsigned int, const XMLCh *const,
                      const RefVectorOf<XMLAttr> &, const XMLSize_t, const bool,
                      const bool) override {}
    void startEntityReference(const XMLEntityDecl &) override {}
    void XMLDecl(const XMLCh *const version, const XMLCh *const encoding,
                 const XMLCh *const standalone, const XMLCh *const) override {
        handler->writeDecl(version, encoding, standalone);
    }

    QapRoutineCtx *ctx;
    QapUpdateHandler *handler;
};

} // namespace

// ---- The drivers -------------------------------------------------------------------------

int32_t qapUpdate(QapRoutineCtx *ctx, const QapDoc &doc, const XMLCh *path, const XMLCh *value,
                  char **out, int32_t limit, QapStatus err) {
    static const char *const fn = "qapUpdate";
    const uint32_t docLoc = doc.docLoc;
    *out = nullptr;
    QAP_TRACE(ctx, fn, "Entered, input query='%x %x' and value='%x %x'\n", path[0],
              path[0] != 0 ? path[1] : 0, value[0], value[0] != 0 ? value[1] : 0);
    QAP_TRACE(ctx, fn,
              docLoc == kMem ? "Entered with docLoc = QAP_MEM\n"
                             : "Entered with docLoc = QAP_FILE\n");

    std::unique_ptr<QapXmlDeclHandler> declHandler; // outlives parts, which removes it
    QapParseParts parts;
    QapUpdateHandler *handler = nullptr;
    try {
        const size_t pathUnits = XMLString::stringLen(path) + 1;
        parts.path.reset(new XMLCh[pathUnits]);
        memcpy(parts.path.get(), path, pathUnits * sizeof(XMLCh));
        handler = new QapUpdateHandler(ctx, value, parts.path.get());
        parts.handler.reset(handler);
        handler->result.setBounds(limit, 0); // a document beyond the limit stops growing
        declHandler = std::make_unique<QapXmlDeclHandler>(ctx, handler);
    } catch (const std::bad_alloc &) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    } catch (const QapError &) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    if (qapSetUpReader(ctx, parts, nullptr, err) != 0) return -1;
    try {
        parts.parser->reader->installAdvDocHandler(declHandler.get());
        handler->reader = parts.parser->reader.get();
        parts.docHandler = declHandler.get();
        if (docLoc == kMem)
            parts.memSource.reset(qapMemoryDocument(doc.doc, &parts.parser->memory));
    } catch (...) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    if (qapRunParse(ctx, parts, QapDoc{doc.doc, docLoc, doc.docInDbCodePage, nullptr, doc.file},
                    err) != 0)
        return -1;

    QapHeap<QapExtractResult> record;
    try {
        record.reset(handler->result.retrieve(limit));
    } catch (...) {
        record.reset();
    }
    if (record == nullptr) {
        QAP_TRACE(ctx, fn, "The resulting array, a, is NULL.\n");
        return -1;
    }
    if (record->message != nullptr) snprintf(err.msgtext, kMsgTextSize, "%s", record->message);
    qapSetState(err.sqlstate, record->sqlstate);
    int32_t rc = -1;
    if (strcmp(record->sqlstate, "00000") == 0 && record->values != nullptr) {
        *out = record->values[0];
        record->values[0] = nullptr;
        rc = 0;
    }
    qapFreeExtractResult(ctx, record.get());
    return rc;
}

int32_t qapUpdateFromBuf(QapRoutineCtx *ctx, const char *doc, const char *path, const char *value,
                         char **out, int32_t limit, QapStatus err) {
    static const char *const fn = "qapUpdateFromBuf";
    QAP_TRACE(ctx, fn, "Entered,with query='%s' and value='%s'\n", path, value);
    *out = nullptr;

    // A long document is parsed from a temporary file.
    QapTempFile staged;
    QapOpenFile stagedFile;
    const size_t length = strlen(doc);
    if (length > static_cast<size_t>(ctx->fileThreshold)) {
        const int rc = staged.create(ctx, err) != 0 ? -1 : staged.write(ctx, doc, length, err);
        QAP_TRACE(ctx, fn, "staging the document return rc=%d\n", rc);
        if (rc != 0) return -1;
        if (qapOpenRead(ctx, staged.name(), stagedFile) != 0) {
            qapSetOpenError(ctx, 0, stagedFile.error(), err);
            return -1;
        }
    }

    std::unique_ptr<XMLCh[]> wideValue;
    std::unique_ptr<XMLCh[]> widePath;
    if (qapToUtf16(ctx, value, &wideValue, err) != 0 || qapToUtf16(ctx, path, &widePath, err) != 0)
        return -1;
    const QapDoc document = staged.name() != nullptr
                                ? QapDoc{staged.name(), kFile, 1, nullptr, &stagedFile}
                                : QapDoc{doc, kMem, 1, nullptr, nullptr};
    const int32_t rc = qapUpdate(ctx, document, widePath.get(), wideValue.get(), out, limit, err);
    QAP_TRACE(ctx, fn, "Exit, return rc=%d\n", rc);
    return rc;
}

int32_t qapToUtf16(QapRoutineCtx *ctx, const char *text, std::unique_ptr<XMLCh[]> *out,
                   QapStatus err) {
    const size_t capacity = 4 * (strlen(text) + 1);
    out->reset(new (std::nothrow) XMLCh[capacity]);
    if (*out == nullptr) return qapSetError(ctx, err, QAPG002E), -1;
    const int32_t n = qapMbstowcsFunction(ctx, out->get(), text, static_cast<int32_t>(capacity));
    if (n < 0) {
        QAP_TRACE(ctx, "qapToUtf16", "call QAP_mbstowcs() return length= %d.\n", n);
        char num[24];
        snprintf(num, sizeof num, "%d", n);
        qapSetError(ctx, err, QAPD002E, num);
        return -1;
    }
    return 0;
}
