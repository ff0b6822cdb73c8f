// DTD validation: one validating SAX2 parse of a document, optionally against a replacement
// DTD (a file, or DTD text) that stands for the DTD the document's DOCTYPE names.
#include "qapConv.h"
#include "qapDocumentSource.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapParseMemory.h"
#include "qapPlatform.h"
#include "qapSgDoc.h"
#include "qapGuardedReader.h"
#include "qapParseErrors.h"
#include "qapParser.h"
#include "qapValidate.h"
#include "qapTrace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/util/XMLUni.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

constexpr int kEncodingField = 100; // units of the handler's encoding name

// The handler of a validating parse: the replacement DTD answers the request for the DOCTYPE's
// DTD, and the first error or fatal error ends the parse.
class QapValidateHandler : public DefaultHandler {
public:
    QapValidateHandler(QapRoutineCtx *ctx, QapOpenFile *dtdFile, const char *dtdText,
                       const XMLCh *dtdId, const XMLCh *encodingName)
        : dtdFile(dtdFile), dtdText(dtdText), dtdId(dtdId), ctx(ctx) {
        encoding[0] = 0;
        if (encodingName == nullptr) return;
        for (int i = 0; i < kEncodingField; ++i) {
            encoding[i] = encodingName[i];
            if (encodingName[i] == 0) break;
        }
        encoding[kEncodingField - 1] = 0;
    }

    // Asked only for the DTD the DOCTYPE names (the reader refuses other entities).
    InputSource *resolveEntity(const XMLCh *const publicId, const XMLCh *const systemId) override {
        InputSource *source;
        if (dtdText != nullptr) {
            source = new MemBufInputSource(reinterpret_cast<const XMLByte *>(dtdText),
                                           strlen(dtdText), "IdForDtdDocBuffer", false);
        } else if (dtdFile != nullptr) {
            source = qapFileDocument(ctx, *dtdFile, dtdFile->name().c_str());
            if (source == nullptr)
                throw SAXParseException(u"Cannot open the DTD file", publicId, systemId, 0, 0);
        } else {
            return nullptr; // read by name, if the read rule allows
        }
        if (encoding[0] != 0) source->setEncoding(encoding);
        return source;
    }

    void warning(const SAXParseException &) override {}
    void error(const SAXParseException &exc) override { throw SAXParseException(exc); }
    void fatalError(const SAXParseException &exc) override { throw SAXParseException(exc); }

    QapOpenFile *dtdFile;
    const char *dtdText;
    const XMLCh *dtdId;
    XMLCh encoding[kEncodingField];
    QapRoutineCtx *ctx;
};

} // namespace

int32_t qapValidate(QapRoutineCtx *ctx, const QapDoc &document, QapOpenFile *dtdFile,
                    const char *dtdText, uint32_t dtdInDbCodePage, const char *dtdid,
                    QapStatus err) {
    static const char *const fn = "qapValidate";
    const char *doc = document.doc;
    const uint32_t docLoc = document.docLoc;
    QAP_TRACE(ctx, fn, "Entered, doc=%s docLoc=%u input_src=%u dtd=%s dtdinput_src=%u dtdid=%s\n",
              docLoc == kMem ? "buffer" : doc, docLoc, document.docInDbCodePage,
              dtdText != nullptr   ? "text"
              : dtdFile != nullptr ? dtdFile->name().c_str()
                                   : "(none)",
              dtdInDbCodePage, dtdid);
    err.msgtext[0] = '\0';

    // Released in the order reader, handler, buffer source, identifier, and last the reader's
    // memory (reverse declaration); the parse's exceptions are caught while all are alive.
    QapParseMemory memory;
    SecurityManager security;
    std::unique_ptr<XMLCh[]> dtdId16;
    std::unique_ptr<MemBufInputSource> memSource;
    std::unique_ptr<QapValidateHandler> handler;
    std::unique_ptr<QapGuardedReader> reader;
    // Goes first, so the reader is destroyed with its memory in release mode.
    struct Releasing {
        QapParseMemory &memory;
        ~Releasing() { memory.beginRelease(); }
    } releasing{memory};
    auto outOfMemory = [&]() {
        qapSetError(ctx, err, QAPG002E);
        return 0;
    };

    XMLCh encoding[1024];
    try {
        // The document.
        if (docLoc == kFile) {
            // Not there, or not a regular file: told before anything else.
            if (document.file == nullptr || !document.file->found()) {
                qapSetError(ctx, err, QAPC001E);
                return 0;
            }
        } else {
            memSource.reset(qapMemoryDocument(doc, XMLPlatformUtils::fgMemoryManager));
        }

        // Steps 3 and 4: a validating reader without namespaces.
        reader.reset(new QapGuardedReader(ctx, &memory));
        qapBoundEntities(*reader, security);
        reader->setFeature(XMLUni::fgSAX2CoreValidation, true);
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
        reader->setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);

        // The DTD identifier in UTF-16.
        const size_t idLength = strlen(dtdid);
        dtdId16.reset(new (std::nothrow) XMLCh[2 * (idLength + 1)]);
        if (dtdId16 == nullptr) return outOfMemory();
        if (qapMbstowcsFunction(ctx, dtdId16.get(), dtdid,
                                static_cast<int32_t>(2 * (idLength + 1))) < 0) {
            // Reported as "not valid" with the rejection message; the state stays as it is.
            QAP_TRACE(ctx, fn, "dtdid cannot be converted\n");
            qapSetMsg(ctx, err.msgtext, QAPD000E);
            return 0;
        }

        // The database code page's encoding name.
        if (qapDbEncoding(ctx, encoding, 1024, err) != 0) return 0;

        // Steps 7 and 8: the handler.
        handler.reset(new (std::nothrow) QapValidateHandler(
            ctx, dtdFile, dtdText, dtdId16.get(), dtdInDbCodePage == 1 ? encoding : nullptr));
        if (handler == nullptr) return outOfMemory();
        reader->setContentHandler(handler.get());
        reader->setErrorHandler(handler.get());
        reader->setEntityResolver(handler.get());
    } catch (...) {
        qapReportSetUpException(ctx, fn, err);
        return 0;
    }

    // Steps 9 to 11: the parse.
    try {
        if (docLoc == kMem) {
            if (document.docInDbCodePage == 1) memSource->setEncoding(encoding);
            reader->parse(*memSource);
        } else {
            std::unique_ptr<InputSource> source(qapFileDocument(ctx, *document.file, doc));
            if (source == nullptr) {
                qapSetDocumentOpenError(ctx, doc, errno, err);
                return 0;
            }
            if (document.docInDbCodePage == 1) source->setEncoding(encoding);
            reader->parse(*source);
        }
        if (const QapParseStop *refusal = reader->refusal()) throw *refusal;
        qapSetState(err.sqlstate, "00000");
        QAP_TRACE(ctx, fn, "Exit, valid\n");
        return 1;
    } catch (...) {
        qapReportParseException(ctx, fn, err, reader->refusal());
    }
    return 0;
}
