// The document of a CLOB argument for one call: read into a heap buffer, or beyond the
// context's file threshold into an unnamed temporary file, which goes when the document does.
#pragma once

#include "qapCtx.h"
#include "qapDoc.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "tesselHost.h"

#include <cstdint>

class QapClobDoc {
public:
    QapClobDoc() = default;
    ~QapClobDoc() { release(); }
    QapClobDoc(const QapClobDoc &) = delete;
    QapClobDoc &operator=(const QapClobDoc &) = delete;

    // Reads the CLOB (a temporary file is opened for reading through qapOpenRead). 0, or -1
    // with the SQLSTATE and message set.
    int32_t load(QapRoutineCtx *ctx, sqludf_locator *loc, QapStatus err);
    // The document for a driver: in the database code page, with the given DTD text; a
    // temporary file is read through its descriptor, once.
    QapDoc doc(const char *dtdText) {
        return QapDoc{data_, loc_, 1, dtdText, loc_ == kFile ? &file_ : nullptr};
    }
    const char *data() const { return data_; } // the text, or the temporary file's key
    uint32_t loc() const { return loc_; }      // kMem or kFile
    QapOpenFile &file() { return file_; }      // the temporary file (kFile)
    // Closes the temporary file, if any, and frees the buffer or key.
    void release();

private:
    char *data_ = nullptr;
    uint32_t loc_ = kMem;
    QapOpenFile file_;
};
