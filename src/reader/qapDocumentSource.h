// The documents a parse reads: a document in memory, a document or DTD file the allowed-files
// gate opened, the error of one that cannot be opened, and the database code page as a
// document's encoding.
#pragma once

#include "qapCtx.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapOwned.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>

// A document or DTD file the gate opened, handed to the parser as its stream once.
class QapOpenFileSource : public XERCES_CPP_NAMESPACE::InputSource {
public:
    QapOpenFileSource(QapFd fd, const XMLCh *systemId, XERCES_CPP_NAMESPACE::MemoryManager *manager)
        : InputSource(systemId, manager), fd_(std::move(fd)) {}
    XERCES_CPP_NAMESPACE::BinInputStream *makeStream() const override;

private:
    mutable QapFd fd_;
};

// A document in memory as a parse's input, read in place: the text must outlive the parse.
// The source and its stream live in manager (a reader's memory, so that a row takes nothing
// from the process heap). Throws what allocation throws.
XERCES_CPP_NAMESPACE::MemBufInputSource *
qapMemoryDocument(const char *doc, XERCES_CPP_NAMESPACE::MemoryManager *manager);

// A document or DTD file of a parse, as the allowed-files gate opened it (qapOpenRead), named
// by name (its absolute name, the system identifier): the source takes the descriptor. Null
// when the file is not open (errno its error) or the name does not convert (ENOENT).
XERCES_CPP_NAMESPACE::InputSource *qapFileDocument(QapRoutineCtx *ctx, QapOpenFile &file,
                                                   const char *name);
// Reports a document file that qapFileDocument could not give: "38X01" (QAPC001E) when
// it is not a regular file, "38X02" when the read-access rule refuses it, QAPG002E when memory
// ran out; any other failure (a missing or unreadable file) is the parser's own "38X13", as
// when it cannot open a document entity.
void qapSetDocumentOpenError(QapRoutineCtx *ctx, const char *name, int error, QapStatus err);

// Encoding names are asked for into buffers of this many units.
constexpr int32_t kEncodingUnits = 1025;

// Sets the database code page's encoding on a source when the document bytes are in it. When
// the name is not available the parser detects the encoding from the document itself.
void qapSetDbEncoding(QapRoutineCtx *ctx, XERCES_CPP_NAMESPACE::InputSource &source);
