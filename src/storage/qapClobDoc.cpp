#include "qapClobDoc.h"

#include "qapFile.h"
#include "qapLob.h"

#include <cstdio>
#include <cstdlib>

int32_t QapClobDoc::load(QapRoutineCtx *ctx, sqludf_locator *loc, QapStatus err) {
    release();
    loc_ = QAP_MEM; // until the transfer says otherwise
    return qapGetDataFromClob(ctx, loc, &data_, &loc_, err);
}

void QapClobDoc::release() {
    if (data_ != nullptr && loc_ == QAP_FILE) qapTempFileDrop(data_);
    free(data_);
    data_ = nullptr;
    loc_ = QAP_MEM;
}
