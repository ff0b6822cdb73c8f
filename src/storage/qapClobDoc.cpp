#include "qapClobDoc.h"

#include "qapFile.h"
#include "qapLob.h"

#include <cstdio>
#include <cstdlib>

int32_t QapClobDoc::load(QapRoutineCtx *ctx, sqludf_locator *loc, QapStatus err) {
    release();
    loc_ = kMem; // until the transfer says otherwise
    const int32_t rc = qapGetDataFromClob(ctx, loc, &data_, &loc_, err);
    if (rc == 0 && loc_ == kFile && qapOpenRead(ctx, data_, file_) != 0) {
        qapSetOpenError(ctx, 0, file_.error(), err);
        return -1;
    }
    return rc;
}

void QapClobDoc::release() {
    file_.reset();
    if (data_ != nullptr && loc_ == kFile) qapTempFileDrop(data_);
    free(data_);
    data_ = nullptr;
    loc_ = kMem;
}
