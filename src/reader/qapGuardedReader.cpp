// The guarded reader: no entity but the allowed ones is read, and every parse stays within its
// bounds (memory, cancellation, entity expansion, nesting, declarations); and the documents a
// parse reads, opened by the library.
#include "qapGuardedReader.h"
#include "qapDocumentSource.h"

#include "qapContentModel.h"
#include "qapConv.h"
#include "qapMsg.h"
#include "qapFile.h"
#include "qapParseErrors.h"
#include "qapPlatform.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLValidator.hpp>
#include <xercesc/internal/ReaderMgr.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/RuntimeException.hpp>
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

// The database code page form of a UTF-16 name, or empty.
std::string dbName(QapRoutineCtx *ctx, const XMLCh *name) {
    const XMLSize_t units = XMLString::stringLen(name);
    std::string out(4 * units + 4, '\0');
    int32_t n = qapWcstombsFunction(ctx, &out[0], name, static_cast<int32_t>(out.size()));
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

} // namespace

bool qapExternalEntitiesAllowed() {
    char *value = sqloGetEnv(TARN_REG_EXTERNAL_ENTITIES);
    bool allowed = value != nullptr && strcmp(value, "YES") == 0;
    free(value);
    return allowed;
}

namespace {

// The reader's scanner and its element stack, through members Xerces-C keeps protected.
struct ValidatorAccess : XMLValidator {
    static XMLScanner *scannerOf(XMLValidator &validator) {
        return (validator.*
                static_cast<XMLScanner *(XMLValidator::*)()>(&ValidatorAccess::getScanner))();
    }
};
} // namespace

// The document's stream, counting the bytes the parser reads as work (see countWork): text,
// attribute values, comments, everything the document holds itself.
class QapGuardedReader::CountedStream : public BinInputStream {
public:
    CountedStream(BinInputStream *inner, QapGuardedReader &reader)
        : inner_(inner), reader_(reader) {}
    ~CountedStream() override { delete inner_; }
    CountedStream(const CountedStream &) = delete;
    CountedStream &operator=(const CountedStream &) = delete;
    XMLFilePos curPos() const override { return inner_->curPos(); }
    XMLSize_t readBytes(XMLByte *const toFill, const XMLSize_t maxToRead) override {
        const XMLSize_t n = inner_->readBytes(toFill, maxToRead);
        reader_.countWork(n); // the first read, at the parse's start, never asks the host
        return n;
    }
    const XMLCh *getContentType() const override { return inner_->getContentType(); }
    const XMLCh *getEncoding() const override { return inner_->getEncoding(); }

private:
    BinInputStream *inner_;
    QapGuardedReader &reader_;
};

// A document as the parser reads it, through a CountedStream.
class QapGuardedReader::CountedSource : public InputSource {
public:
    CountedSource(const InputSource &document, QapGuardedReader &reader)
        : InputSource(document.getSystemId(), document.getMemoryManager()), document_(document),
          reader_(reader) {
        setPublicId(document.getPublicId());
        setEncoding(document.getEncoding());
        setIssueFatalErrorIfNotFound(document.getIssueFatalErrorIfNotFound());
    }
    BinInputStream *makeStream() const override {
        BinInputStream *stream = document_.makeStream();
        if (stream == nullptr) return nullptr;
        try {
            return new CountedStream(stream, reader_);
        } catch (...) {
            delete stream;
            throw;
        }
    }

private:
    const InputSource &document_;
    QapGuardedReader &reader_;
};

QapGuardedReader::QapGuardedReader(QapRoutineCtx *ctx, QapParseMemory *manager)
    : SAX2XMLReaderImpl(manager), ctx_(ctx), memory_(manager) {
    SAX2XMLReaderImpl::setLexicalHandler(&quiet_);
    if (XMLValidator *validator = getValidator()) scanner_ = ValidatorAccess::scannerOf(*validator);
}

void QapGuardedReader::setLexicalHandler(LexicalHandler *const handler) {
    SAX2XMLReaderImpl::setLexicalHandler(handler != nullptr ? handler : &quiet_);
}

QapGuardedReader::~QapGuardedReader() {
    memory_->watch(nullptr);
    free(dtdId_);
}

void QapGuardedReader::parse(const InputSource &source) {
    // The budget as the host sets it now; the watch from the start of the document to the end
    // of the parse (startDocument), so that nothing after the parse is refused. What the parse
    // charged goes back when it ends, however it ends.
    memory_->setBudget(ctx_ != nullptr ? ctx_->maxParseMemory : kDefaultParseMemory);
    refused_ = false;
    stopDue_ = false;
    work_ = 0;
    externalDepth_ = 0;
    contentEntities_.clear();
    defaults_ = false;
    struct Unwatch {
        QapGuardedReader &reader;
        ~Unwatch() {
            reader.memory_->watch(nullptr);
            reader.memory_->discharge(reader.charged_);
            reader.charged_ = 0;
        }
    } unwatch{*this};
    const QapUtf8Source document(source, utf8_);
    const CountedSource counted(document, *this);
    SAX2XMLReaderImpl::parse(counted);
}

void QapGuardedReader::beginWatch() {
    memory_->setBudget(ctx_ != nullptr ? ctx_->maxParseMemory : kDefaultParseMemory);
    refused_ = false;
    stopDue_ = false;
    work_ = 0;
    memory_->watch(this);
}

void QapGuardedReader::endWatch() {
    memory_->setStackFloor(nullptr);
    memory_->watch(nullptr);
}

void QapGuardedReader::stackExhausted() {
    if (!refused_) refusal_ = stopAt("38X13", u"schema nesting exceeds the limit");
    refused_ = true;
}

void QapGuardedReader::chargeDefaults(const RefVectorOf<XMLAttr> &attrs, XMLSize_t attrCount) {
    // The parser copies a default into every element that leaves the attribute out, so a
    // document can declare megabytes once and have them copied on and on downstream.
    uint64_t units = 0;
    for (XMLSize_t i = 0; i < attrCount; ++i) {
        const XMLAttr *attr = attrs.elementAt(i);
        if (!attr->getSpecified())
            units +=
                XMLString::stringLen(attr->getValue()) + XMLString::stringLen(attr->getQName());
    }
    if (units != 0) chargeRepeated(units);
}

void QapGuardedReader::chargeRepeated(uint64_t units) {
    memory_->charge(units * sizeof(XMLCh)); // past the budget: refused, as an allocation
    charged_ += units * sizeof(XMLCh);
    countWork(units);
}

void QapGuardedReader::startDocument() {
    // The scanner has reset its readers by now: every reader freed from here on is this
    // document's.
    inProlog_ = true;
    dtdReferences_ = 0;
    enumerationPairs_ = 0;
    memory_->watch(this);
    SAX2XMLReaderImpl::startDocument();
}

QapParseStop QapGuardedReader::stopAt(const char *state, const char16_t *text) const {
    // A cancellation has no place; a reader-less scanner (between documents) neither.
    const Locator *locator = scanner_ != nullptr ? scanner_->getLocator() : nullptr;
    const bool located = locator != nullptr && strcmp(state, "57014") != 0 &&
                         scanner_->getReaderMgr()->getCurrentReader() != nullptr;
    return QapParseStop{state, text, located, located ? locator->getLineNumber() : 0,
                        located ? locator->getColumnNumber() : 0};
}

bool QapGuardedReader::refuse(bool overBudget) {
    if (overBudget) {
        if (!refused_) refusal_ = stopAt("38X13", u"memory limit reached");
        refused_ = true;
        return true;
    }
    if (refused_) return false; // once: what the parser frees on its way out is not refused
    work_ = 0;
    if (stopDue_) {
        refusal_ = stopAt(refusal_.state, refusal_.text);
    } else if (tarnStatementCancelled() != 0) {
        refusal_ = stopAt("57014", u"the statement was cancelled");
    } else {
        return false;
    }
    refused_ = true;
    return true;
}

void QapGuardedReader::largeBlockFreed(void *block) {
    // An entity's reader is freed when the scanner is done with it, while its entity is still
    // the current one: that is where the reader counts the entities of the DTD, parameter
    // entities and, before the root element, general ones (in attribute defaults), and the
    // text of the document's entities in attribute values. How many of the document's general
    // entities are expanded is the parser's to count (see qapBoundEntities).
    if (scanner_ == nullptr || stopDue_ || refused_) return;
    const ReaderMgr *readers = scanner_->getReaderMgr();
    const size_t header = XMLPlatformUtils::alignPointerForNewBlockAllocation(sizeof(void *));
    if (static_cast<const void *>(static_cast<char *>(block) + header) !=
        readers->getCurrentReader())
        return;
    const auto *entity = dynamic_cast<const DTDEntityDecl *>(readers->getCurrentEntity());
    if (entity == nullptr) return;
    const bool inDtd = entity->getIsParameter() || inProlog_;
    // An entity in content was counted where it started (its reader goes before its end is
    // told); one in an attribute value is counted here.
    if (!inDtd && !contentEntities_.empty() && contentEntities_.back() == entity) return;
    expanded_ += entity->getValueLen();
    work_ += entity->getValueLen();
    if ((inDtd && ++dtdReferences_ > kMaxEntityExpansions) || expanded_ > kMaxExpandedUnits) {
        // Stopped at the next allocation (this runs in a destructor), or after the parse.
        refusal_ = QapParseStop{"38X13", u"entity expansion exceeds the limit", false, 0, 0};
        stopDue_ = true;
    }
    // The host is asked at the next allocation too.
    if (stopDue_ || work_ >= kPollUnits) memory_->pollNext();
}

void QapGuardedReader::stopFor(const XMLCh *name, const char16_t *what) {
    try {
        stopText_.assign(what);
        const size_t at = stopText_.find(u'%');
        stopText_.replace(at, 1, name);
    } catch (...) {
        stopText_.clear();
    }
    stop("38X13", stopText_.empty() ? u"a declaration exceeds the limit" : stopText_.c_str());
}

void QapGuardedReader::elementDecl(const DTDElementDecl &decl, const bool isIgnored) {
    // Sizing a model takes a while for a large one: the host is asked before each.
    pollHost();
    if (decl.getModelType() == DTDElementDecl::Children &&
        !qapContentModelWithinBounds(const_cast<DTDElementDecl &>(decl)))
        stopFor(decl.getFullName(), u"element %: content model too large");
    SAX2XMLReaderImpl::elementDecl(decl, isIgnored);
}

void QapGuardedReader::attDef(const DTDElementDecl &elemDecl, const DTDAttDef &attDef,
                              const bool ignoring) {
    onEvent();
    if (attDef.getValue() != nullptr) defaults_ = true;
    if (const XMLCh *values = attDef.getEnumeration()) {
        // The validator compares the values of each enumeration pairwise, without a pause.
        uint64_t count = 1;
        for (const XMLCh *c = values; *c != 0; ++c)
            if (*c == chSpace) ++count;
        if ((enumerationPairs_ += count * count) > kMaxEnumerationPairs)
            stopFor(attDef.getFullName(), u"attribute %: enumerations too long");
    }
    SAX2XMLReaderImpl::attDef(elemDecl, attDef, ignoring);
}

void QapGuardedReader::setEntityResolver(EntityResolver *const resolver) {
    entityResolver = resolver;
    SAX2XMLReaderImpl::setEntityResolver(resolver);
}

void QapGuardedReader::doctypeDecl(const DTDElementDecl &elemDecl, const XMLCh *const publicId,
                                   const XMLCh *const systemId, const bool hasIntSubset,
                                   const bool hasExtSubset) {
    free(dtdId_);
    dtdId_ = nullptr;
    if (systemId != nullptr) {
        const XMLSize_t n = XMLString::stringLen(systemId);
        dtdId_ = static_cast<XMLCh *>(malloc((n + 1) * sizeof(XMLCh)));
        if (dtdId_ == nullptr) throw QapError(ctx_, QAPG002E);
        memcpy(dtdId_, systemId, (n + 1) * sizeof(XMLCh));
    }
    hasExtSubset_ = hasExtSubset && systemId != nullptr;
    dtd_ = hasIntSubset ? Dtd::INTERNAL_SUBSET : hasExtSubset_ ? Dtd::NEXT : Dtd::DONE;
    SAX2XMLReaderImpl::doctypeDecl(elemDecl, publicId, systemId, hasIntSubset, hasExtSubset);
}

void QapGuardedReader::beginParse() {
    free(dtdId_);
    dtdId_ = nullptr;
    dtd_ = Dtd::NONE;
    hasExtSubset_ = false;
    depth_ = 0;
    events_ = 0;
    entityDepth_ = 0;
    expanded_ = 0;
}

void QapGuardedReader::startElement(const XMLElementDecl &elemDecl, const unsigned int urlId,
                                    const XMLCh *const elemPrefix,
                                    const RefVectorOf<XMLAttr> &attrList, const XMLSize_t attrCount,
                                    const bool isEmpty, const bool isRoot) {
    countElement(isEmpty, isRoot, attrList, attrCount);
    SAX2XMLReaderImpl::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty,
                                    isRoot);
}

void QapGuardedReader::endElement(const XMLElementDecl &elemDecl, const unsigned int urlId,
                                  const bool isRoot, const XMLCh *const elemPrefix) {
    if (depth_ != 0) --depth_;
    SAX2XMLReaderImpl::endElement(elemDecl, urlId, isRoot, elemPrefix);
}

void QapGuardedReader::docCharacters(const XMLCh *const chars, const XMLSize_t length,
                                     const bool cdataSection) {
    countText(length);
    SAX2XMLReaderImpl::docCharacters(chars, length, cdataSection);
}

void QapGuardedReader::ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                                           const bool cdataSection) {
    onEvent();
    SAX2XMLReaderImpl::ignorableWhitespace(chars, length, cdataSection);
}

void QapGuardedReader::startEntityReference(const XMLEntityDecl &entDecl) {
    contentEntities_.push_back(&entDecl);
    ++entityDepth_;
    // An internal entity's whole text (markup too) counts as it starts; an external one's
    // text as it comes.
    if (entDecl.isExternal())
        ++externalDepth_;
    else
        countExpanded(entDecl.getValueLen());
    SAX2XMLReaderImpl::startEntityReference(entDecl);
}

void QapGuardedReader::endEntityReference(const XMLEntityDecl &entDecl) {
    if (!contentEntities_.empty()) contentEntities_.pop_back();
    if (entityDepth_ != 0) --entityDepth_;
    if (entDecl.isExternal() && externalDepth_ != 0) --externalDepth_;
    SAX2XMLReaderImpl::endEntityReference(entDecl);
}

void QapGuardedReader::pollHost() {
    events_ = 0;
    work_ = 0;
    if (tarnStatementCancelled() != 0) stop("57014", u"the statement was cancelled");
}

void QapGuardedReader::stop(const char *state, const char16_t *text) const {
    throw stopAt(state, text);
}

void QapGuardedReader::endIntSubset() {
    if (dtd_ == Dtd::INTERNAL_SUBSET) dtd_ = hasExtSubset_ ? Dtd::NEXT : Dtd::DONE;
    SAX2XMLReaderImpl::endIntSubset();
}

InputSource *QapGuardedReader::resolveEntity(XMLResourceIdentifier *resource) {
    const XMLCh *systemId = resource->getSystemId();
    const bool isDtd = dtd_ == Dtd::NEXT && dtdId_ != nullptr && systemId != nullptr &&
                       XMLString::equals(systemId, dtdId_);
    if (isDtd) {
        dtd_ = Dtd::DONE;
        if (entityResolver != nullptr) {
            if (InputSource *source =
                    entityResolver->resolveEntity(resource->getPublicId(), systemId))
                return source;
        }
    } else if (!qapExternalEntitiesAllowed()) {
        refuseEntity(resource, u"External entity not read: ");
    }
    return resolveFile(resource);
}

InputSource *QapGuardedReader::resolveFile(XMLResourceIdentifier *resource) {
    static const char fn[] = "resolveFile";
    const XMLCh *systemId = resource->getSystemId();
    const std::u16string path = entityPath(systemId, resource->getBaseURI());
    if (path.empty()) refuseEntity(resource, u"Not a server file: ");
    const std::string name = dbName(ctx_, path.c_str());
    QapOpenFile file;
    if (name.empty() || (qapOpenRead(ctx_, name.c_str(), file) != 0 && file.refused()))
        refuseEntity(resource, u"Not an allowed file: ");
    if (!file) refuseEntity(resource, u"Cannot open the file: ");
    QAP_TRACE(ctx_, fn, "reading %s\n", name.c_str());
    return new QapOpenFileSource(file.take(), path.c_str(), XMLPlatformUtils::fgMemoryManager);
}
