// The documents a parse reads: in memory, or a file the gate opened, read through its
// descriptor.
#include "qapDocumentSource.h"

#include "qapConv.h"
#include "qapParseErrors.h"
#include "qapPlatform.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/RuntimeException.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

// The stream of a file the gate opened: its descriptor read as it is, closed with the stream.
class QapFdStream : public BinInputStream {
public:
    QapFdStream(QapFd fd, MemoryManager *manager) : fd_(std::move(fd)), manager_(manager) {}
    XMLFilePos curPos() const override { return pos_; }
    XMLSize_t readBytes(XMLByte *const toFill, const XMLSize_t maxToRead) override {
        for (;;) {
            const ssize_t n = read(fd_.get(), toFill, maxToRead);
            if (n >= 0) {
                pos_ += static_cast<XMLFilePos>(n);
                return static_cast<XMLSize_t>(n);
            }
            if (errno != EINTR)
                ThrowXMLwithMemMgr(XMLPlatformUtilsException, XMLExcepts::File_CouldNotReadFromFile,
                                   manager_);
        }
    }
    const XMLCh *getContentType() const override { return nullptr; }

private:
    QapFd fd_;
    MemoryManager *manager_;
    XMLFilePos pos_ = 0;
};

} // namespace

BinInputStream *QapOpenFileSource::makeStream() const {
    if (!fd_) return nullptr;
    return new (getMemoryManager()) QapFdStream(std::move(fd_), getMemoryManager());
}

MemBufInputSource *qapMemoryDocument(const char *doc, MemoryManager *manager) {
    // The identifier in UTF-16: a char one would go through the transcoder at every row.
    auto *source = new (manager) MemBufInputSource(reinterpret_cast<const XMLByte *>(doc),
                                                   strlen(doc), u"IdForDocBuffer", false, manager);
    source->setCopyBufToStream(false); // no copy of the document for every parse
    return source;
}

InputSource *qapFileDocument(QapRoutineCtx *ctx, QapOpenFile &file, const char *name) {
    XMLCh systemId[kMaxPath];
    if (name == nullptr || qapMbstowcsFunction(ctx, systemId, name, kMaxPath) < 0) {
        errno = ENOENT;
        return nullptr;
    }
    if (!file) {
        errno = file.error();
        return nullptr;
    }
    return new QapOpenFileSource(file.take(), systemId, XMLPlatformUtils::fgMemoryManager);
}

void qapSetDocumentOpenError(QapRoutineCtx *ctx, const char *name, int error, QapStatus err) {
    XMLCh systemId[kMaxPath];
    if (error == EXDEV || error == EINVAL || error == ENOMEM || name == nullptr ||
        qapMbstowcsFunction(ctx, systemId, name, kMaxPath) < 0) {
        qapSetOpenError(ctx, 0, error, err);
        return;
    }
    // What the parser reports when it cannot open the document it is given, at line 0 column 0,
    // naming the file as it names it. Constructing the source opens nothing.
    try {
        const LocalFileInputSource named(systemId);
        const RuntimeException cause(__FILE__, __LINE__, XMLExcepts::Scan_CouldNotOpenSource,
                                     named.getSystemId());
        throw SAXParseException(cause.getMessage(), nullptr, named.getSystemId(), 0, 0);
    } catch (...) {
        qapReportParseException(ctx, "qapFileDocument", err, nullptr);
    }
}

void qapSetDbEncoding(QapRoutineCtx *ctx, InputSource &source) {
    if (ctx == nullptr || ctx->convInfo == nullptr) return;
    XMLCh encoding[kEncodingUnits];
    char state[kSqlstateSize] = "00000";
    char msg[kMsgTextSize] = "";
    if (qapDbEncoding(ctx, encoding, kEncodingUnits, QapStatus{state, msg}) == 0 &&
        encoding[0] != 0)
        source.setEncoding(encoding);
}
