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
#include "tesselHost.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/BinFileInputStream.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLResourceIdentifier.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#include <xercesc/validators/DTD/DTDAttDef.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/validators/DTD/DTDEntityDecl.hpp>

XERCES_CPP_NAMESPACE_USE

// An entity's reader is a block of the kind the reader's memory watches (see largeBlockFreed).
static_assert(sizeof(XMLReader) > (32 << 10), "an XMLReader fits a watched size class");

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

namespace {

void reportStop(QapRoutineCtx *ctx, const char *fn, char *sqlstate, char *msgtext,
                const QapParseStop &stop) {
    char text[QAP_PARSER_TEXT_SIZE], line[24], column[24];
    qapSetParserError(ctx, sqlstate, msgtext, stop.located ? qapLocText(stop.line, line) : nullptr,
                      stop.located ? qapLocText(stop.column, column) : nullptr,
                      qapParserText(ctx, stop.text, text));
    qapSetState(sqlstate, stop.sqlstate);
    QAP_TRACE(ctx, fn, "parse stopped: %s\n", text);
}

} // namespace

void qapReportParseException(QapRoutineCtx *ctx, const char *fn, char *sqlstate, char *msgtext,
                             const QapParseStop *refusal) {
    if (refusal != nullptr) {
        // Whatever the failed allocation turned into on its way out.
        reportStop(ctx, fn, sqlstate, msgtext, *refusal);
        return;
    }
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
    } catch (const QapParseStop &stop) {
        reportStop(ctx, fn, sqlstate, msgtext, stop);
    } catch (const QAPException &e) {
        // Memory ran out in the handler: the parse failed, and the message says why.
        QAP_TRACE(ctx, fn, "parser->parse crashed w/o an XMLException.\n");
        qapSetState(sqlstate, "38X13");
        snprintf(msgtext, QAP_MSGTEXT_SIZE, "%.70s", e.getText()); // it ends with its newline
    } catch (const OutOfMemoryException &) {
        QAP_TRACE(ctx, fn, "parser->parse ran out of memory.\n");
        qapSetState(sqlstate, "38X13");
        qapSetMsg(ctx, msgtext, QAPG002E);
    } catch (const std::bad_alloc &) {
        QAP_TRACE(ctx, fn, "parser->parse ran out of memory.\n");
        qapSetState(sqlstate, "38X13");
        qapSetMsg(ctx, msgtext, QAPG002E);
    } catch (...) {
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

// ---- Guarded reader --------------------------------------------------------------------------

namespace {

// A document or DTD file opened by the library, handed to the parser as its stream once.
class qapOpenFileSource : public InputSource {
public:
    qapOpenFileSource(FILE *file, const XMLCh *systemId, MemoryManager *manager)
        : InputSource(systemId, manager), file_(file) {}
    ~qapOpenFileSource() override {
        if (file_ != nullptr) fclose(file_);
    }
    qapOpenFileSource(const qapOpenFileSource &) = delete;
    qapOpenFileSource &operator=(const qapOpenFileSource &) = delete;
    BinInputStream *makeStream() const override {
        if (file_ == nullptr) return nullptr;
        // The stream closes the file through the parser's POSIX file manager.
        auto *stream = new (getMemoryManager()) BinFileInputStream(file_, getMemoryManager());
        file_ = nullptr;
        return stream;
    }

private:
    mutable FILE *file_;
};

// The database code page form of a UTF-16 name, or empty.
std::string dbName(QapRoutineCtx *ctx, const XMLCh *name) {
    const XMLSize_t units = XMLString::stringLen(name);
    std::string out(4 * units + 4, '\0');
    int32_t n = QAP_wcstombsFunction(ctx, &out[0], name, static_cast<int32_t>(out.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

// Ends the parse: the entity is refused, reported like any parser error.
[[noreturn]] void refuseEntity(XMLResourceIdentifier *resource, const char16_t *why) {
    std::u16string text = why;
    if (const XMLCh *id = resource->getSystemId()) text += id;
    if (const Locator *at = resource->getLocator()) throw SAXParseException(text.c_str(), *at);
    throw SAXParseException(text.c_str(), resource->getPublicId(), resource->getSystemId(), 0, 0);
}

// The server file an entity's system identifier names, resolved against the entity that
// refers to it; empty for anything but a local file (a URL of any other scheme).
std::u16string entityPath(const XMLCh *systemId, const XMLCh *baseId) {
    std::u16string id = systemId != nullptr ? systemId : u"";
    auto schemeEnd = [](const std::u16string &s) -> size_t {
        size_t i = 0;
        while (i < s.size() && ((s[i] >= u'a' && s[i] <= u'z') || (s[i] >= u'A' && s[i] <= u'Z') ||
                                (i > 0 && ((s[i] >= u'0' && s[i] <= u'9') || s[i] == u'+' ||
                                           s[i] == u'-' || s[i] == u'.'))))
            ++i;
        return i > 0 && i < s.size() && s[i] == u':' ? i : std::u16string::npos;
    };
    auto localPath = [&](const std::u16string &s) -> std::u16string {
        size_t end = schemeEnd(s);
        if (end == std::u16string::npos) return s;
        std::u16string scheme = s.substr(0, end);
        for (auto &c : scheme)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        std::u16string rest = s.substr(end + 1);
        if (scheme != u"file" || rest.find(u'%') != std::u16string::npos) return u"";
        if (rest.compare(0, 12, u"//localhost/") == 0) return rest.substr(11);
        if (rest.compare(0, 3, u"///") == 0) return rest.substr(2);
        if (rest.compare(0, 2, u"//") == 0) return u""; // another host
        return rest;
    };
    std::u16string path = localPath(id);
    if (path.empty() || path[0] == u'/') return path;
    std::u16string base = baseId != nullptr ? localPath(baseId) : u"";
    size_t slash = base.rfind(u'/');
    if (base.empty() || base[0] != u'/' || slash == std::u16string::npos) return path;
    return base.substr(0, slash + 1) + path;
}

// True when the host lets parses read external entities from allowed server files.
bool externalEntitiesAllowed() {
    char *value = sqloGetEnv(TARN_REG_EXTERNAL_ENTITIES);
    bool allowed = value != nullptr && strcmp(value, "YES") == 0;
    free(value);
    return allowed;
}

} // namespace

namespace {

// The reader's scanner and its element stack, through members Xerces-C keeps protected.
struct ValidatorAccess : XMLValidator {
    static XMLScanner *scannerOf(XMLValidator &validator) {
        return (validator.*
                static_cast<XMLScanner *(XMLValidator::*)()>(&ValidatorAccess::getScanner))();
    }
};
struct ScannerAccess : XMLScanner {
    static ElemStack &elemStackOf(XMLScanner &scanner) {
        return scanner.*&ScannerAccess::fElemStack;
    }
};

} // namespace

qapGuardedReader::qapGuardedReader(QapRoutineCtx *ctx, qapParseMemory *manager)
    : SAX2XMLReaderImpl(manager), ctx_(ctx), memory_(manager) {
    SAX2XMLReaderImpl::setLexicalHandler(&quiet_);
    if (XMLValidator *validator = getValidator()) scanner_ = ValidatorAccess::scannerOf(*validator);
}

void qapGuardedReader::setLexicalHandler(LexicalHandler *const handler) {
    SAX2XMLReaderImpl::setLexicalHandler(handler != nullptr ? handler : &quiet_);
}

qapGuardedReader::~qapGuardedReader() {
    memory_->watch(nullptr);
    free(dtdId_);
}

void qapGuardedReader::parse(const InputSource &source) {
    // The budget as the host sets it now; the watch from the start of the document to the end
    // of the parse (startDocument), so that nothing after the parse is refused.
    memory_->setBudget(ctx_ != nullptr ? ctx_->maxParseMemory : QAP_DEFAULT_PARSE_MEMORY);
    refused_ = false;
    stopDue_ = false;
    struct Unwatch {
        qapParseMemory &memory;
        ~Unwatch() { memory.watch(nullptr); }
    } unwatch{*memory_};
    SAX2XMLReaderImpl::parse(source);
}

void qapGuardedReader::startDocument() {
    // The scanner has reset its readers by now: every reader freed from here on is this
    // document's.
    inProlog_ = true;
    dtdReferences_ = 0;
    enumerationPairs_ = 0;
    memory_->watch(this);
    SAX2XMLReaderImpl::startDocument();
}

QapParseStop qapGuardedReader::stopAt(const char *sqlstate, const char16_t *text) const {
    // A cancellation has no place; a reader-less scanner (between documents) neither.
    const Locator *locator = scanner_ != nullptr ? scanner_->getLocator() : nullptr;
    const bool located = locator != nullptr && strcmp(sqlstate, "57014") != 0 &&
                         scanner_->getReaderMgr()->getCurrentReader() != nullptr;
    return QapParseStop{sqlstate, text, located, located ? locator->getLineNumber() : 0,
                        located ? locator->getColumnNumber() : 0};
}

bool qapGuardedReader::refuse(bool overBudget) {
    if (overBudget) {
        if (!refused_) refusal_ = stopAt("38X13", u"memory limit reached");
        refused_ = true;
        return true;
    }
    if (refused_) return false; // once: what the parser frees on its way out is not refused
    if (stopDue_) {
        refusal_ = stopAt(refusal_.sqlstate, refusal_.text);
    } else if (tarnStatementCancelled() != 0) {
        refusal_ = stopAt("57014", u"the statement was cancelled");
    } else {
        return false;
    }
    refused_ = true;
    return true;
}

void qapGuardedReader::largeBlockFreed(void *block) {
    // An entity's reader is freed when the scanner is done with it, while its entity is still
    // the current one: that is where the reader counts the entities of the DTD, parameter
    // entities and, before the root element, general ones (in attribute defaults). The
    // document's general entities are the parser's to count (see qapBoundEntities).
    if (scanner_ == nullptr || stopDue_ || refused_) return;
    const ReaderMgr *readers = scanner_->getReaderMgr();
    const size_t header = XMLPlatformUtils::alignPointerForNewBlockAllocation(sizeof(void *));
    if (static_cast<const void *>(static_cast<char *>(block) + header) !=
        readers->getCurrentReader())
        return;
    const auto *entity = dynamic_cast<const DTDEntityDecl *>(readers->getCurrentEntity());
    if (entity == nullptr || (!entity->getIsParameter() && !inProlog_)) return;
    expanded_ += entity->getValueLen();
    if (++dtdReferences_ > QAP_MAX_ENTITY_EXPANSIONS || expanded_ > QAP_MAX_EXPANDED_UNITS) {
        // Stopped at the next allocation (this runs in a destructor), or after the parse.
        refusal_ = QapParseStop{"38X13", u"entity expansion exceeds the limit", false, 0, 0};
        stopDue_ = true;
        memory_->pollNext();
    }
}

void qapGuardedReader::stopFor(const XMLCh *name, const char16_t *what) {
    try {
        stopText_.assign(what);
        const size_t at = stopText_.find(u'%');
        stopText_.replace(at, 1, name);
    } catch (...) {
        stopText_.clear();
    }
    stop("38X13", stopText_.empty() ? u"a declaration exceeds the limit" : stopText_.c_str());
}

void qapGuardedReader::elementDecl(const DTDElementDecl &decl, const bool isIgnored) {
    // Sizing a model takes a while for a large one: the host is asked before each.
    pollHost();
    if (decl.getModelType() == DTDElementDecl::Children &&
        !qapContentModelWithinBounds(const_cast<DTDElementDecl &>(decl)))
        stopFor(decl.getFullName(), u"element %: content model too large");
    SAX2XMLReaderImpl::elementDecl(decl, isIgnored);
}

void qapGuardedReader::attDef(const DTDElementDecl &elemDecl, const DTDAttDef &attDef,
                              const bool ignoring) {
    onEvent();
    if (const XMLCh *values = attDef.getEnumeration()) {
        // The validator compares the values of each enumeration pairwise, without a pause.
        uint64_t count = 1;
        for (const XMLCh *c = values; *c != 0; ++c)
            if (*c == chSpace) ++count;
        if ((enumerationPairs_ += count * count) > QAP_MAX_ENUMERATION_PAIRS)
            stopFor(attDef.getFullName(), u"attribute %: enumerations too long");
    }
    SAX2XMLReaderImpl::attDef(elemDecl, attDef, ignoring);
}

void qapGuardedReader::setEntityResolver(EntityResolver *const resolver) {
    entityResolver = resolver;
    SAX2XMLReaderImpl::setEntityResolver(resolver);
}

void qapGuardedReader::doctypeDecl(const DTDElementDecl &elemDecl, const XMLCh *const publicId,
                                   const XMLCh *const systemId, const bool hasIntSubset,
                                   const bool hasExtSubset) {
    free(dtdId_);
    dtdId_ = nullptr;
    if (systemId != nullptr) {
        const XMLSize_t n = XMLString::stringLen(systemId);
        dtdId_ = static_cast<XMLCh *>(malloc((n + 1) * sizeof(XMLCh)));
        if (dtdId_ == nullptr) throw QAPException(ctx_, QAPG002E);
        memcpy(dtdId_, systemId, (n + 1) * sizeof(XMLCh));
    }
    hasExtSubset_ = hasExtSubset && systemId != nullptr;
    dtd_ = hasIntSubset ? Dtd::InternalSubset : hasExtSubset_ ? Dtd::Next : Dtd::Done;
    SAX2XMLReaderImpl::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
}

void qapGuardedReader::beginParse() {
    free(dtdId_);
    dtdId_ = nullptr;
    dtd_ = Dtd::None;
    hasExtSubset_ = false;
    depth_ = 0;
    events_ = 0;
    entityDepth_ = 0;
    expanded_ = 0;
}

void qapGuardedReader::startElement(const XMLElementDecl &elemDecl, const unsigned int urlId,
                                    const XMLCh *const elemPrefix,
                                    const RefVectorOf<XMLAttr> &attrList, const XMLSize_t attrCount,
                                    const bool isEmpty, const bool isRoot) {
    countElement(isEmpty, isRoot);
    SAX2XMLReaderImpl::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty,
                                    isRoot);
}

void qapGuardedReader::endElement(const XMLElementDecl &elemDecl, const unsigned int urlId,
                                  const bool isRoot, const XMLCh *const elemPrefix) {
    if (depth_ != 0) --depth_;
    SAX2XMLReaderImpl::endElement(elemDecl, urlId, isRoot, elemPrefix);
}

void qapGuardedReader::docCharacters(const XMLCh *const chars, const XMLSize_t length,
                                     const bool cdataSection) {
    countText(length);
    SAX2XMLReaderImpl::docCharacters(chars, length, cdataSection);
}

void qapGuardedReader::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                                           const bool cdataSection) {
    onEvent();
    SAX2XMLReaderImpl::ignorableWhitespace(chars, length, cdataSection);
}

void qapGuardedReader::startEntityReference(const XMLEntityDecl &entDecl) {
    ++entityDepth_;
    SAX2XMLReaderImpl::startEntityReference(entDecl);
}

void qapGuardedReader::endEntityReference(const XMLEntityDecl &entDecl) {
    if (entityDepth_ != 0) --entityDepth_;
    SAX2XMLReaderImpl::endEntityReference(entDecl);
}

void qapGuardedReader::pollHost() {
    events_ = 0;
    if (tarnStatementCancelled() != 0) stop("57014", u"the statement was cancelled");
}

void qapGuardedReader::stop(const char *sqlstate, const char16_t *text) const {
    throw stopAt(sqlstate, text);
}

void qapGuardedReader::endIntSubset() {
    if (dtd_ == Dtd::InternalSubset) dtd_ = hasExtSubset_ ? Dtd::Next : Dtd::Done;
    SAX2XMLReaderImpl::endIntSubset();
}

InputSource *qapGuardedReader::resolveEntity(XMLResourceIdentifier *resource) {
    static const char fn[] = "resolveEntity";
    const XMLCh *systemId = resource->getSystemId();
    const bool isDtd = dtd_ == Dtd::Next && dtdId_ != nullptr && systemId != nullptr &&
                       XMLString::equals(systemId, dtdId_);
    if (isDtd) {
        dtd_ = Dtd::Done;
        if (entityResolver != nullptr) {
            if (InputSource *source =
                    entityResolver->resolveEntity(resource->getPublicId(), systemId))
                return source;
        }
    } else if (!externalEntitiesAllowed()) {
        refuseEntity(resource, u"External entity not read: ");
    }

    // A server file, when the read-access rule allows it.
    const std::u16string path = entityPath(systemId, resource->getBaseURI());
    if (path.empty()) refuseEntity(resource, u"Not a server file: ");
    const std::string name = dbName(ctx_, path.c_str());
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    if (name.empty() || qapChkRegistry(ctx_, 0, name.c_str(), state, msg) != 0)
        refuseEntity(resource, u"Not an allowed file: ");
    FILE *file = xml_fopen(ctx_, name.c_str(), "rb");
    if (file == nullptr) refuseEntity(resource, u"Cannot open the file: ");
    QAP_TRACE(ctx_, fn, "reading %s\n", name.c_str());
    try {
        return new qapOpenFileSource(file, path.c_str(), XMLPlatformUtils::fgMemoryManager);
    } catch (...) {
        fclose(file);
        throw;
    }
}

MemBufInputSource *qapMemoryDocument(const char *doc, MemoryManager *manager) {
    // The identifier in UTF-16: a char one would go through the transcoder at every row.
    auto *source = new (manager) MemBufInputSource(reinterpret_cast<const XMLByte *>(doc),
                                                   strlen(doc), u"IdForDocBuffer", false, manager);
    source->setCopyBufToStream(false); // no copy of the document for every parse
    return source;
}

InputSource *qapOpenDocument(QapRoutineCtx *ctx, const char *name) {
    char path[QAP_MAX_PATH];
    XMLCh systemId[QAP_MAX_PATH];
    if (qapGetAbsPath(ctx, name, path) != 0 ||
        QAP_mbstowcsFunction(ctx, systemId, path, QAP_MAX_PATH) < 0) {
        errno = ENOENT;
        return nullptr;
    }
    FILE *file = xml_fopen(ctx, path, "rb");
    if (file == nullptr) return nullptr;
    try {
        return new qapOpenFileSource(file, systemId, XMLPlatformUtils::fgMemoryManager);
    } catch (...) {
        fclose(file);
        throw;
    }
}

void qapSetDocumentOpenError(QapRoutineCtx *ctx, int error, char *sqlstate, char *msgtext) {
    qapSetOpenError(ctx, 0, error, sqlstate, msgtext);
}

// ---- Non-validating reader -------------------------------------------------------------------

qapNonValidateReader::qapNonValidateReader(QapRoutineCtx *ctx, qapParseMemory *manager)
    : qapGuardedReader(ctx, manager) {
    if (scanner_ != nullptr) elemStack_ = &ScannerAccess::elemStackOf(*scanner_);
}

void qapNonValidateReader::startElement(const XMLElementDecl &elemDecl, const unsigned int,
                                        const XMLCh *const, const RefVectorOf<XMLAttr> &attrList,
                                        const XMLSize_t attrCount, const bool isEmpty,
                                        const bool isRoot) {
    const size_t level = isRoot ? 0 : depth_; // elements open around this one
    countElement(isEmpty, isRoot);
    if (elemStack_ != nullptr) trimChildren(level, isEmpty);
    if (contentHandler == nullptr) return;
    // With namespaces off the handler gets empty URI and local name and the qualified name.
    const XMLCh *qname = elemDecl.getElementName()->getRawName();
    attrs_.setVector(&attrList, attrCount, scanner_);
    contentHandler->startElement(XMLUni::fgZeroLenString, XMLUni::fgZeroLenString, qname, attrs_);
    if (isEmpty)
        contentHandler->endElement(XMLUni::fgZeroLenString, XMLUni::fgZeroLenString, qname);
}

void qapNonValidateReader::learnLevel(size_t level) {
    // Here the element is on top of the scanner's stack.
    if (level == 0 && !levels_.empty() && levels_[0] != elemStack_->topElement())
        levels_.clear(); // not the stack this reader knew: learn it again
    if (level == levels_.size())
        levels_.push_back(const_cast<ElemStack::StackElem *>(elemStack_->topElement()));
}

void qapNonValidateReader::endElement(const XMLElementDecl &elemDecl, const unsigned int,
                                      const bool, const XMLCh *const) {
    if (depth_ != 0) --depth_;
    if (contentHandler != nullptr)
        contentHandler->endElement(XMLUni::fgZeroLenString, XMLUni::fgZeroLenString,
                                   elemDecl.getElementName()->getRawName());
}

void qapNonValidateReader::docCharacters(const XMLCh *const chars, const XMLSize_t length,
                                         const bool cdataSection) {
    // Most text is plain and needs a count only.
    if (cdataSection || !passText()) return sendText(chars, length, cdataSection);
    if (depth_ != 0 && contentHandler != nullptr) contentHandler->characters(chars, length);
}

void qapNonValidateReader::sendText(const XMLCh *chars, XMLSize_t length, bool cdataSection) {
    countText(length);
    // Text outside the root element is not reported.
    if (depth_ == 0) return;
    LexicalHandler *lexical = cdataSection ? getLexicalHandler() : nullptr;
    if (lexical != nullptr) lexical->startCDATA();
    if (contentHandler != nullptr) contentHandler->characters(chars, length);
    if (lexical != nullptr) lexical->endCDATA();
}

void qapNonValidateReader::setContentHandler(ContentHandler *const handler) {
    contentHandler = handler;
    SAX2XMLReaderImpl::setContentHandler(handler);
}

void qapNonValidateReader::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                                               const bool) {
    // The handler gets it all, also outside the root element.
    countText(length);
    if (contentHandler != nullptr) contentHandler->ignorableWhitespace(chars, length);
}

void qapNonValidateReader::doctypeDecl(const DTDElementDecl &elemDecl, const XMLCh *const publicId,
                                       const XMLCh *const systemId, const bool hasIntSubset,
                                       const bool hasExtSubset) {
    if (entityResolver != nullptr) {
        if (auto *resolver = dynamic_cast<qapDoctypeResolver *>(entityResolver))
            resolver->setDtdId(systemId);
    }
    qapGuardedReader::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
}

// ---- Extraction ------------------------------------------------------------------------------

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

int32_t setUpReader(QapRoutineCtx *ctx, qapParseParts &parts, const char *dtdText, char *sqlstate,
                    char *msgtext) {
    try {
        parts.ctx = ctx;
        if (ctx != nullptr && ctx->parser == nullptr) ctx->parser = buildParser(ctx).release();
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
int32_t buildExtraction(QapRoutineCtx *ctx, qapParseParts &parts, const char *dtdText, int tagged,
                        char *sqlstate, char *msgtext) {
    try {
        auto *handler =
            new (std::nothrow) qapExtractHandler(ctx, tagged == 1 ? 1 : 0, parts.path.get());
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

// Arms parts with the handler the context's reader kept from its previous parse, when that was
// for the same path (never null) and tagged flag (0 or 1). False when there is none to take.
bool takeKept(QapRoutineCtx *ctx, qapParseParts &parts, const char *path, int tagged) {
    if (ctx->parser == nullptr) return false;
    qapParser::Kept &kept = ctx->parser->kept;
    if (kept.handler == nullptr || kept.tagged != tagged || kept.path != path) return false;
    parts.path = std::move(kept.path16);
    parts.handler = std::move(kept.handler); // re-armed when it was kept
    return true;
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
    if (ctx == nullptr) return;
    delete ctx->parser;
    ctx->parser = nullptr;
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
            parts.parser->reader->parse(*parts.memSource);
            QAP_TRACE(ctx, fn, "After calling parser->parse(%s)\n", "buffer");
        } else {
            std::unique_ptr<InputSource> source(qapOpenDocument(ctx, doc));
            if (source == nullptr) {
                qapSetDocumentOpenError(ctx, errno, sqlstate, msgtext);
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
    } catch (...) {
        parts.parser->retired = true;
        qapReportParseException(ctx, fn, sqlstate, msgtext, parts.parser->reader->refusal());
    }
    return -1;
}

namespace {

// Everything an extraction needs before its parse: the document file checked, the handler of
// the context's previous parse when it was for the same path (else the path in UTF-16 and a new
// handler; traced calls build their handler anew, so that each traces its path), the reader,
// the bounds, and the source of a document in memory. keyPath is the path as the call gave it,
// kept until parts are released. 0, or -1 with SQLSTATE and message set.
int32_t prepareExtraction(QapRoutineCtx *ctx, qapParseParts &parts, const QapDoc &document,
                          int tagged, const char *path, const char *keyPath, int32_t limit,
                          uint32_t maxValues, char *sqlstate, char *msgtext) {
    static const char *const fn = "extractAll";
    const char *doc = document.doc;
    if (document.docLoc == QAP_FILE) {
        int32_t size = 0;
        int getRc = qap_getFileSize(ctx, doc, &size);
        QAP_TRACE(ctx, fn, "call qap_getFileSize() return rc=%d\n", getRc);
        if (getRc != 0) {
            qapSetError(ctx, sqlstate, "38X01", msgtext, QAPC001E);
            return -1;
        }
    }

    const bool mayKeep = ctx != nullptr && !ctx->traceOn;
    const int taggedFlag = tagged == 1 ? 1 : 0;
    const bool kept = mayKeep && takeKept(ctx, parts, keyPath, taggedFlag);
    if (!kept) {
        // The path in UTF-16.
        const size_t pathLength = path != nullptr ? strlen(path) : 0;
        parts.path.reset(new (std::nothrow) XMLCh[4 * (pathLength + 1)]);
        if (parts.path == nullptr) {
            qapSetError(ctx, sqlstate, "38X10", msgtext, QAPG002E);
            return -1;
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
                return -1;
            }
        }
    }

    // Reader, handler, resolver, features.
    if ((kept ? qapSetUpReader(ctx, parts, document.dtdText, sqlstate, msgtext)
              : buildExtraction(ctx, parts, document.dtdText, tagged, sqlstate, msgtext)) != 0)
        return -1;
    if (mayKeep) {
        parts.keepPath = keyPath;
        parts.keepTagged = taggedFlag;
    }
    parts.handler->result.setBounds(limit, maxValues);
    if (document.docLoc != QAP_FILE) {
        try {
            parts.memSource.reset(qapMemoryDocument(doc, &parts.parser->memory));
        } catch (...) {
            qapSetError(ctx, sqlstate, "38X10", msgtext, QAPG002E);
            return -1;
        }
        QAP_TRACE(ctx, fn, "document is from memory\n");
    }
    return 0;
}

void traceEntry(QapRoutineCtx *ctx, const char *fn, const QapDoc &document, const char *path) {
    if (document.docLoc == QAP_MEM)
        QAP_TRACE(ctx, fn, "Entered, input uri=buffer and query='%s'\n", path ? path : "");
    else
        QAP_TRACE(ctx, fn, "Entered, input uri='%s' and query='%s'\n",
                  document.doc ? document.doc : "", path ? path : "");
}

} // namespace

int32_t extractAll(QapRoutineCtx *ctx, const QapDoc &document, int tagged, const char *path,
                   QapExtractResult *result, int32_t limit, char *sqlstate, char *msgtext,
                   uint32_t maxValues) {
    static const char *const fn = "extractAll";
    int32_t rc = -1;
    traceEntry(ctx, fn, document, path);

    qapParseParts parts;
    do {
        if (prepareExtraction(ctx, parts, document, tagged, path, path != nullptr ? path : "",
                              limit, maxValues, sqlstate, msgtext) != 0)
            break;

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

// ---- Extraction value by value ---------------------------------------------------------------

// Values a fetch collects before it hands out the first of them: one at the open, then twice as
// many at each refill up to this many, or fewer when their text reaches kBatchUnits. The parse
// and the host's work on the rows then run in turns of some length, not one value each.
constexpr size_t kMaxBatch = 64;
constexpr uint64_t kBatchUnits = 16384;

struct QapExtractScan::Parse {
    QapRoutineCtx *ctx = nullptr;
    std::string path; // the call's, as the kept handler's key
    qapParseParts parts;
    std::unique_ptr<InputSource> file;
    XMLPScanToken token;
    bool parsing = false; // between the start of the parse and its end
    size_t batch = 1;
    // How the parse ended, when it failed: told once the values before the failure are out.
    bool failed = false;
    char failState[QAP_SQLSTATE_SIZE] = "00000";
    char failMessage[QAP_MSGTEXT_SIZE] = "";
    std::string failWhole; // the message before it was cut, handed to the host again when told

    // Keeps the failure's whole message, just formatted.
    void keepFailure() {
        failed = true;
        failWhole = qapLastWholeMessage();
    }
    // Tells the kept failure as the call's state and message.
    void tellFailure(char *sqlstate, char *msgtext) const {
        qapSetState(sqlstate, failState);
        snprintf(msgtext, QAP_MSGTEXT_SIZE, "%s", failMessage);
        tarnSetDiagnostic(failWhole.c_str());
    }

    ~Parse() { stop(); }
    // Ends a parse that has not ended (the reader lets go of the document), then the parts.
    void stop() {
        if (parsing && parts.parser != nullptr) {
            try {
                parts.parser->reader->parseReset(token);
            } catch (...) {
                parts.parser->retired = true;
            }
        }
        parsing = false;
        parts.release();
        file.reset();
    }
    // The next value (1, *value set), the end (0), or the failure of the parse (-1, SQLSTATE
    // and message set), parsing on for a batch of values when none waits.
    int32_t advance(char **value, char *sqlstate, char *msgtext);
    // Parses until a batch of values waits or the parse ends (a failure is kept in failState).
    void refill();
};

void QapExtractScan::Parse::refill() {
    static const char *const fn = "QapExtractScan";
    qapNonValidateReader &reader = *parts.parser->reader;
    auto &handler = static_cast<qapExtractHandler &>(*parts.handler);
    qapResult &result = handler.result;
    try {
        while (parsing && result.readyCount() < batch && result.readyUnits() < kBatchUnits &&
               !result.valueFailed()) {
            if (!reader.parseNext(token)) {
                parsing = false;
                result.finishLast();
            } else if (handler.valueComplete()) {
                result.finishLast();
            }
        }
        if (result.valueFailed() && parsing) {
            // A value did not fit: the rest is only checked, so that a later parser error is
            // the one reported.
            while (reader.parseNext(token)) {
            }
            parsing = false;
        }
    } catch (...) {
        parsing = false;
        parts.parser->retired = true;
        qapReportParseException(ctx, fn, failState, failMessage);
        keepFailure();
        return;
    }
    if (batch < kMaxBatch) batch *= 2;
    if (parsing) return;
    if (reader.getErrorCount() != 0) {
        parts.parser->retired = true;
        qapSetState(failState, "38X13");
        keepFailure();
    } else if (result.valueFailed()) {
        QAP_TRACE(ctx, fn, "an extract result exceeds the limit\n");
        qapSetError(ctx, failState, "38X39", failMessage, QAPC013E);
        keepFailure();
    }
    if (reader.readExternalSubset()) parts.parser->retired = true;
}

int32_t QapExtractScan::Parse::advance(char **value, char *sqlstate, char *msgtext) {
    qapResult &result = parts.handler->result;
    if (!result.valueReady() && parsing) {
        result.dropTaken(); // the caller is done with the values it had
        refill();
    }
    if (result.valueReady()) {
        *value = result.takeValue();
        return 1;
    }
    if (!failed) return 0;
    tellFailure(sqlstate, msgtext);
    return -1;
}

QapExtractScan::QapExtractScan() = default;
QapExtractScan::~QapExtractScan() = default;

int32_t QapExtractScan::open(QapRoutineCtx *ctx, const QapDoc &document, int tagged,
                             const char *path, int32_t limit, char *sqlstate, char *msgtext) {
    static const char *const fn = "QapExtractScan";
    close();
    traceEntry(ctx, fn, document, path);
    try {
        parse_ = std::make_unique<Parse>();
        parse_->path = path != nullptr ? path : "";
    } catch (...) {
        parse_.reset();
        qapSetError(ctx, sqlstate, "38X10", msgtext, QAPG002E);
        return -1;
    }
    Parse &p = *parse_;
    p.ctx = ctx;
    qapParseParts &parts = p.parts;
    int32_t rc = prepareExtraction(ctx, parts, document, tagged, path, p.path.c_str(), limit, 0,
                                   sqlstate, msgtext);
    if (rc == 0) {
        try {
            InputSource *source = parts.memSource.get();
            if (document.docLoc == QAP_FILE) {
                p.file.reset(qapOpenDocument(ctx, document.doc));
                source = p.file.get();
            }
            if (source == nullptr) {
                qapSetDocumentOpenError(ctx, errno, sqlstate, msgtext);
                rc = -1;
            } else {
                if (document.docInDbCodePage == 1) setDbEncoding(ctx, *source);
                p.parsing = true;
                parts.parser->reader->parseFirst(*source, p.token);
            }
        } catch (...) {
            p.parsing = false;
            parts.parser->retired = true;
            qapReportParseException(ctx, fn, sqlstate, msgtext);
            rc = -1;
        }
    }
    // The first value is found here, so that a document that fails before it fails the open.
    if (rc == 0) {
        p.refill();
        if (p.failed && !parts.handler->result.valueReady()) {
            p.tellFailure(sqlstate, msgtext);
            rc = -1;
        }
    }
    QAP_TRACE(ctx, fn, "open return rc=%d\n", rc);
    if (rc < 0) {
        close();
        return -1;
    }
    return 0;
}

int32_t QapExtractScan::next(char **value, char *sqlstate, char *msgtext) {
    *value = nullptr;
    if (parse_ == nullptr) return 0;
    const int32_t rc = parse_->advance(value, sqlstate, msgtext);
    if (rc < 0) close();
    return rc;
}

void QapExtractScan::close() {
    parse_.reset();
}

int32_t extractOne(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path,
                   char **value, int32_t limit, char *sqlstate, char *msgtext) {
    static const char *const fn = "extractOne";
    QAP_TRACE(ctx, fn, "Entered\n");
    qapSetState(sqlstate, "00000");
    *value = nullptr;

    QAP_TRACE(ctx, fn, "docloc = %d\n", static_cast<int>(doc.docLoc));
    QapExtractResult local{};
    // One value, or the fact that there are several: two are enough to keep.
    int32_t rc = extractAll(ctx, doc, tagged, path, &local, limit, sqlstate, msgtext, 2);
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
