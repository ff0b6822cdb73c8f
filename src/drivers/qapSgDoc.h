// The extraction driver: every value at a path (qapExtractAll), exactly one (qapExtractOne), or the
// values one by one for a table (QapExtractScan).
#pragma once

#include "qapCtx.h"
#include "qapDoc.h"
#include "qapExtractResult.h"
#include "qapMsg.h"

#include <cstdint>
#include <memory>

// Every value at the path, in document order, each shorter than limit bytes in the database
// code page. 0 or -1.
// With maxValues (0: all) only the first maxValues - 1 values and the last are kept, the others
// only checked against the limit: enough to tell one value from several.
int32_t qapExtractAll(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path,
                      QapExtractResult *result, int32_t limit, QapStatus err,
                      uint32_t maxValues = 0);

// The values at a path one by one, for a table: open starts the parse on a fiber and runs it
// until a batch of values waits (64, or fewer when their text reaches 16384 units); next hands
// out the values in order and resumes the parse where it paused when none waits; close ends
// the parse wherever it is and lets go of the document. Memory holds one batch and the
// parser's own.
class QapExtractScan {
public:
    QapExtractScan();
    ~QapExtractScan();
    QapExtractScan(const QapExtractScan &) = delete;
    QapExtractScan &operator=(const QapExtractScan &) = delete;

    // The document (its text or file name) must stay until close; the path is copied. A
    // document that fails before its first value is complete fails here. 0, or -1 with
    // SQLSTATE and message set (the scan is closed).
    int32_t open(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path, int32_t limit,
                 QapStatus err);
    // 1 and the next value in the database code page (valid until the next call), 0 at the
    // end, or -1 with SQLSTATE and message set once the values before the failure are out:
    // the parser's error, or "38X39" for a value that does not fit the limit (the document is
    // still read to its end, so that a later parser error is the one reported). An error
    // closes the scan.
    int32_t next(char **value, QapStatus err);
    void close();
    bool isOpen() const { return parse_ != nullptr; }

private:
    struct Parse;
    std::unique_ptr<Parse> parse_;
};

// Exactly one non-empty value (a heap string the caller frees), or -1: "01HX0" for none,
// "38X08" for several, "00000" for an empty value, or the state of the parse.
int32_t qapExtractOne(QapRoutineCtx *ctx, const QapDoc &doc, int tagged, const char *path,
                      char **value, int32_t limit, QapStatus err);
