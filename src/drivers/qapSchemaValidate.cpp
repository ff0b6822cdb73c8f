// Validation against an XML Schema: the schema is loaded once into a kept reader, checked
// against the bounds (QapSchemaReader), and every document of the statement is validated by a
// streaming parse against it.
#include "qapSchemaValidate.h"

#include "qapDocumentSource.h"
#include "qapFile.h"
#include "qapGuardedReader.h"
#include "qapParseErrors.h"
#include "qapParser.h"
#include "qapSchemaReader.h"
#include "qapTrace.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/util/SecurityManager.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

// A document or schema file: opened once, through the allowed-files gate, and read from that
// descriptor. Null with err set when it cannot be.
InputSource *fileSource(QapRoutineCtx *ctx, const char *name, QapStatus err) {
    QapOpenFile file;
    qapOpenRead(ctx, name, file);
    InputSource *source = qapFileDocument(ctx, file, file.name().c_str());
    if (source == nullptr) qapSetDocumentOpenError(ctx, name, errno, err);
    return source;
}

// What a parse that failed may leave behind in a kept reader before it is built anew.
constexpr size_t kRegrowth = size_t{32} << 20;

// Thrown when the rows form has all the errors it may return.
struct LimitReached {};

// Reports the schema's own errors as the schema's: the load stops at the first.
class SchemaErrors : public DefaultHandler {
public:
    void warning(const SAXParseException &) override {}
    void error(const SAXParseException &exc) override { fail(exc); }
    void fatalError(const SAXParseException &exc) override { fail(exc); }

private:
    [[noreturn]] static void fail(const SAXParseException &exc) {
        std::u16string text = u"Schema: ";
        text += exc.getMessage();
        throw SAXParseException(text.c_str(), exc.getPublicId(), exc.getSystemId(),
                                exc.getLineNumber(), exc.getColumnNumber());
    }
};

} // namespace

struct QapSchemaSession::Kept {
    QapParseMemory memory; // first: goes last, after everything the reader allocated
    SecurityManager security;
    std::unique_ptr<QapSchemaReader> reader;
    std::string key;   // the schema: "T" and its text, or "F" and its file name
    size_t loaded = 0; // what the memory held with the schema loaded
    Kept() = default;
    Kept(const Kept &) = delete;
    Kept &operator=(const Kept &) = delete;
    ~Kept() {
        memory.beginRelease();
        reader.reset();
    }
};

// The document's errors: the first ends the parse, unless they are collected (up to a limit).
class QapSchemaSession::Handler : public DefaultHandler {
public:
    Handler(QapRoutineCtx *ctx, std::vector<QapSchemaError> &errors, uint32_t limit)
        : ctx_(ctx), errors_(errors), limit_(limit) {}
    void warning(const SAXParseException &) override {}
    void error(const SAXParseException &exc) override {
        if (limit_ == 0) throw SAXParseException(exc);
        record(exc);
        if (errors_.size() >= limit_) throw LimitReached{};
    }
    void fatalError(const SAXParseException &exc) override {
        if (limit_ != 0) {
            record(exc);
            recordedFatal = true;
        }
        throw SAXParseException(exc);
    }
    bool recordedFatal = false;

private:
    void record(const SAXParseException &exc) {
        char text[kParserTextSize];
        errors_.push_back(QapSchemaError{exc.getLineNumber(), exc.getColumnNumber(),
                                         qapParserText(ctx_, exc.getMessage(), text)});
    }
    QapRoutineCtx *ctx_;
    std::vector<QapSchemaError> &errors_;
    uint32_t limit_;
};

QapSchemaSession::QapSchemaSession(QapRoutineCtx *ctx) : ctx_(ctx) {}

QapSchemaSession::~QapSchemaSession() = default;

int32_t QapSchemaSession::prepare(const char *schema, bool schemaFile, QapStatus err) {
    static const char fn[] = "QapSchemaSession::prepare";
    std::string key;
    std::unique_ptr<Kept> kept;
    try {
        key.reserve(strlen(schema) + 1);
        key.append(schemaFile ? "F" : "T").append(schema);
        if (kept_ != nullptr && kept_->key == key) return 0;
        kept_.reset();
        kept = std::make_unique<Kept>();
        kept->reader.reset(new QapSchemaReader(ctx_, &kept->memory));
        qapBoundEntities(*kept->reader, kept->security);
    } catch (...) {
        if (qapReportSetUpException(ctx_, fn, err) == -2) qapSetState(err.sqlstate, "38X13");
        return -1;
    }
    QAP_TRACE(ctx_, fn, "loading the schema %s\n", schemaFile ? schema : "text");
    SchemaErrors errors;
    try {
        std::unique_ptr<InputSource> source;
        if (schemaFile) {
            source.reset(fileSource(ctx_, schema, err));
            if (source == nullptr) return -1;
        } else {
            source.reset(new MemBufInputSource(reinterpret_cast<const XMLByte *>(schema),
                                               strlen(schema), u"IdForSchemaBuffer", false));
            qapSetDbEncoding(ctx_, *source);
        }
        kept->reader->setErrorHandler(&errors);
        kept->reader->loadSchema(*source, schemaFile);
        kept->reader->setErrorHandler(nullptr);
    } catch (...) {
        qapReportParseException(ctx_, fn, err, kept->reader->refusal());
        return -1;
    }
    kept->loaded = kept->memory.held();
    kept->key = std::move(key);
    kept_ = std::move(kept);
    return 0;
}

int32_t QapSchemaSession::run(const char *doc, bool docFile, const char *schema, bool schemaFile,
                              uint32_t limit, QapStatus err) {
    static const char fn[] = "QapSchemaSession::run";
    err.msgtext[0] = '\0';
    errors_.clear();
    if (prepare(schema, schemaFile, err) != 0) return -1;
    QapSchemaReader &reader = *kept_->reader;
    Handler handler(ctx_, errors_, limit);
    int32_t outcome = 0;
    try {
        std::unique_ptr<InputSource> source;
        if (docFile) {
            source.reset(fileSource(ctx_, doc, err));
            if (source == nullptr) return -1;
        } else {
            source.reset(qapMemoryDocument(doc, XMLPlatformUtils::fgMemoryManager));
            qapSetDbEncoding(ctx_, *source);
        }
        reader.setErrorHandler(&handler);
        reader.beginParse();
        try {
            reader.parse(*source);
            if (const QapParseStop *refusal = reader.refusal()) throw *refusal;
        } catch (const LimitReached &) {
        }
    } catch (...) {
        if (reader.refusal() != nullptr || !handler.recordedFatal) {
            qapReportParseException(ctx_, fn, err, reader.refusal());
            outcome = -1;
        }
    }
    reader.setErrorHandler(nullptr);
    // A reader stopped by a bound, or grown past what its schema needs, is built anew.
    if (reader.refusal() != nullptr || kept_->memory.held() > kept_->loaded + kRegrowth)
        kept_.reset();
    if (outcome == 0) qapSetState(err.sqlstate, "00000");
    return outcome;
}

int32_t QapSchemaSession::validate(const char *doc, bool docFile, const char *schema,
                                   bool schemaFile, QapStatus err) {
    return run(doc, docFile, schema, schemaFile, 0, err) == 0 ? 1 : 0;
}

int32_t QapSchemaSession::collect(const char *doc, bool docFile, const char *schema,
                                  bool schemaFile, uint32_t limit, QapStatus err) {
    if (run(doc, docFile, schema, schemaFile, limit == 0 ? 1 : limit, err) != 0) return -1;
    return static_cast<int32_t>(errors_.size());
}
