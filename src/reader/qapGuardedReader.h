// The reader of every parse and its bounds (the documents it reads: qapDocumentSource).
#pragma once

#include "qapCtx.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapParseMemory.h"
#include "qapUtf8Source.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/SAX2XMLReaderImpl.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>

// Thrown where a parse is bounded, to end it early: the host cancelled the statement ("57014"),
// or the document goes beyond what any honest document needs ("38X13"). The message is a
// parser error, at the current line and column for a bound (whose place tells which entity or
// element), without them for a cancellation (whose place depends on the time it came).
struct QapParseStop {
    const char *state;
    const char16_t *text;
    bool located;
    uint64_t line;
    uint64_t column;
};

// Characters of entity replacement text one parse may produce (billion laughs and its kin stop
// here), elements open at once, and how many parser events pass between two questions to the
// host.
constexpr uint64_t kMaxExpandedUnits = uint64_t{16} << 20;
// Entity references one parse may expand (each reference counts, nested ones too): far more
// than honest documents use, and billion laughs stops within a second. Parameter entities and
// the general entities of a DTD are counted by the reader, those of the document by the parser.
constexpr uint64_t kMaxEntityExpansions = 100000;
// The values of each enumerated attribute type of a DTD, squared and added up: the validator
// compares them pairwise (one type of 8192 values reaches it).
constexpr uint64_t kMaxEnumerationPairs = uint64_t{1} << 26;

constexpr size_t kMaxDepth = 100000;
constexpr uint32_t kPollEvents = 4096;
// The host is also asked every time this much work was handed over (bytes of the document
// read, characters of entity text, of attribute defaults), so that an element that carries
// megabytes cannot keep it waiting.
constexpr uint64_t kPollUnits = uint64_t{1} << 20;

// The reader of every parse. It keeps the parser from reading anything the call did not ask
// for: the DTD that the DOCTYPE names goes to the installed resolver (replacement DTD text,
// or an empty DTD) or, when that gives nothing, is read as a server file that the read-access
// rule allows; any other external entity fails the parse unless the host allows external
// entities, and then it too must be such a file. No URL is ever opened.
class QapGuardedReader : public XERCES_CPP_NAMESPACE::SAX2XMLReaderImpl, QapParseWatch {
public:
    // Everything the reader allocates comes from manager, which must outlive the reader (a
    // per-parse manager frees what Xerces-C forgets to). While it parses the reader watches
    // that memory: the host's budget, cancellation, and the entities the DTD expands.
    QapGuardedReader(QapRoutineCtx *ctx, QapParseMemory *manager);
    ~QapGuardedReader() override;
    QapGuardedReader(const QapGuardedReader &) = delete;
    QapGuardedReader &operator=(const QapGuardedReader &) = delete;

    void setEntityResolver(XERCES_CPP_NAMESPACE::EntityResolver *const resolver) override;
    // A lexical handler is always installed (a quiet one for null): without one the parser
    // does not report the DOCTYPE to the reader.
    void setLexicalHandler(XERCES_CPP_NAMESPACE::LexicalHandler *const handler) override;
    XERCES_CPP_NAMESPACE::InputSource *
    resolveEntity(XERCES_CPP_NAMESPACE::XMLResourceIdentifier *resource) override;
    void doctypeDecl(const XERCES_CPP_NAMESPACE::DTDElementDecl &elemDecl,
                     const XMLCh *const publicId, const XMLCh *const systemId,
                     const bool hasIntSubset, const bool hasExtSubset) override;
    void endIntSubset() override;
    using SAX2XMLReaderImpl::parse;
    void parse(const XERCES_CPP_NAMESPACE::InputSource &source) override;
    void startDocument() override;
    // Declarations against the bounds: content models whose automaton would be too large
    // and long enumerations stop the parse before the validator spends time or memory on them.
    void elementDecl(const XERCES_CPP_NAMESPACE::DTDElementDecl &decl,
                     const bool isIgnored) override;
    void attDef(const XERCES_CPP_NAMESPACE::DTDElementDecl &elemDecl,
                const XERCES_CPP_NAMESPACE::DTDAttDef &attDef, const bool ignoring) override;

    // The bounds of every parse, counted where the scanner reports to the reader: every few
    // thousand events, and every megabyte or so of work, the host is asked whether the
    // statement was cancelled, and entity text and nesting are limited. The attribute
    // defaults the parser copies into every element of their type count against the memory
    // budget until the parse ends, as if the parse held them.
    void
    startElement(const XERCES_CPP_NAMESPACE::XMLElementDecl &elemDecl, const unsigned int urlId,
                 const XMLCh *const elemPrefix,
                 const XERCES_CPP_NAMESPACE::RefVectorOf<XERCES_CPP_NAMESPACE::XMLAttr> &attrList,
                 const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) override;
    void endElement(const XERCES_CPP_NAMESPACE::XMLElementDecl &elemDecl, const unsigned int urlId,
                    const bool isRoot, const XMLCh *const elemPrefix) override;
    void docCharacters(const XMLCh *const chars, const XMLSize_t length,
                       const bool cdataSection) override;
    void ignorableWhitespace(const XMLCh *const chars, const XMLSize_t length,
                             const bool cdataSection) override;
    void startEntityReference(const XERCES_CPP_NAMESPACE::XMLEntityDecl &entDecl) override;
    void endEntityReference(const XERCES_CPP_NAMESPACE::XMLEntityDecl &entDecl) override;

    // Text that the parse repeats, the parser (attribute defaults) or a handler (an update's
    // new value at every match), counts against the memory budget until the parse ends, so
    // that what is written from it stays within what the budget allows. Throws
    // OutOfMemoryException past the budget, as an allocation.
    void chargeRepeated(uint64_t units);
    // Forgets the previous document's DOCTYPE and counts before the reader parses again.
    void beginParse();
    // The context the reader works for from now on (a reader kept for another statement).
    void rebind(QapRoutineCtx *ctx) { ctx_ = ctx; }
    // True when the last parse read an external DTD subset.
    bool readExternalSubset() const { return hasExtSubset_; }
    // Why the reader made its memory fail the last parse (or would have, had the parser asked
    // for memory once more), or null.
    const QapParseStop *refusal() const { return refused_ || stopDue_ ? &refusal_ : nullptr; }

    XERCES_CPP_NAMESPACE::EntityResolver *entityResolver = nullptr;

protected:
    // A server file that the read-access rule allows, for the entity resource names; refuses
    // anything else (a URL, a file the rule refuses) by failing the parse.
    XERCES_CPP_NAMESPACE::InputSource *
    resolveFile(XERCES_CPP_NAMESPACE::XMLResourceIdentifier *resource);
    // Runs work (a grammar load) under the watch and the budget of a parse, with an allocation
    // below stackFloor refused. Throws what the work throws.
    template <class Work> void watched(const void *stackFloor, Work work);
    void stackExhausted() override;
    QapRoutineCtx *ctx_;
    XERCES_CPP_NAMESPACE::XMLScanner *scanner_ = nullptr; // the reader's, when it can be reached
    size_t depth_ = 0;                                    // elements open
    // An element's start against the bounds (see startElement); throws QapParseStop, and
    // OutOfMemoryException past the budget.
    void countElement(bool isEmpty, bool isRoot,
                      const XERCES_CPP_NAMESPACE::RefVectorOf<XERCES_CPP_NAMESPACE::XMLAttr> &attrs,
                      XMLSize_t attrCount) {
        if (defaults_) chargeDefaults(attrs, attrCount);
        onEvent();
        if (isRoot) {
            depth_ = 0;
            inProlog_ = false;
        }
        if (depth_ >= kMaxDepth) stop("38X13", u"element nesting exceeds the limit");
        if (!isEmpty) ++depth_;
    }
    // Text against the bounds (see docCharacters); throws QapParseStop.
    void countText(XMLSize_t length) {
        // An internal entity's text was counted where it started; an external one's counts as
        // it comes.
        if (entityDepth_ != 0 && externalDepth_ != 0) countExpanded(length);
        onEvent();
    }
    // Counts a text event that needs no closer look (outside entities, the host not due a
    // question) and says so; false counts nothing: countText is then the way.
    bool passText() {
        if (entityDepth_ != 0 || events_ + 1 >= kPollEvents) return false;
        ++events_;
        return true;
    }

private:
    class CountedSource;
    class CountedStream;
    void onEvent() {
        if (++events_ >= kPollEvents) pollHost();
    }
    void countWork(uint64_t units) {
        if ((work_ += units) >= kPollUnits) pollHost();
    }
    // Entity text against the bound; throws QapParseStop.
    void countExpanded(uint64_t units) {
        if ((expanded_ += units) > kMaxExpandedUnits)
            stop("38X13", u"entity expansion exceeds the limit");
        countWork(units);
    }
    void
    chargeDefaults(const XERCES_CPP_NAMESPACE::RefVectorOf<XERCES_CPP_NAMESPACE::XMLAttr> &attrs,
                   XMLSize_t attrCount);
    void pollHost();
    [[noreturn]] void stop(const char *state, const char16_t *text) const;
    // The parse's place as a stop gives it, when the scanner has a reader to ask.
    QapParseStop stopAt(const char *state, const char16_t *text) const;
    // Names the element in a stop's text, which the reader keeps.
    [[noreturn]] void stopFor(const XMLCh *name, const char16_t *what);
    bool refuse(bool overBudget) override;
    void beginWatch();
    void endWatch();
    void largeBlockFreed(void *block) override;
    QapParseMemory *memory_;
    uint32_t events_ = 0;
    uint64_t work_ = 0;          // units of work since the host was last asked
    uint32_t entityDepth_ = 0;   // entities open in content
    uint32_t externalDepth_ = 0; // external ones among them
    // The entities open in content, innermost last: their readers are not those of attribute
    // values (see largeBlockFreed).
    std::vector<const XERCES_CPP_NAMESPACE::XMLEntityDecl *> contentEntities_;
    uint64_t expanded_ = 0;
    bool defaults_ = false;      // the DTD gives some attribute a default value
    size_t charged_ = 0;         // bytes of repeated text charged to the memory
    uint64_t dtdReferences_ = 0; // entity references expanded by the reader's own count
    uint64_t enumerationPairs_ = 0;
    bool inProlog_ = true; // before the root element: general entities are the DTD's
    bool stopDue_ = false; // a bound passed where the parse cannot be stopped
    bool refused_ = false;
    QapParseStop refusal_{};
    std::u16string stopText_;
    // Where the parse is relative to the DOCTYPE: the DTD request is the first one after the
    // internal subset, and only that one.
    enum class Dtd { NONE, INTERNAL_SUBSET, NEXT, DONE };
    Dtd dtd_ = Dtd::NONE;
    bool hasExtSubset_ = false;
    XMLCh *dtdId_ = nullptr; // copy of the DOCTYPE's system identifier
    XERCES_CPP_NAMESPACE::DefaultHandler quiet_;
    QapUtf8Buffers utf8_; // the decoding's, kept for the next document
};

template <class Work> void QapGuardedReader::watched(const void *stackFloor, Work work) {
    struct Unwatch {
        QapGuardedReader &reader;
        ~Unwatch() { reader.endWatch(); }
    } unwatch{*this};
    beginWatch();
    memory_->setStackFloor(stackFloor);
    work();
}

// True when the host lets parses read external entities from allowed server files.
bool qapExternalEntitiesAllowed();
