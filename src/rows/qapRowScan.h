// The row scan behind the C interface (tessel.h): its own routine context, the documents of its
// source one after another, parsed on a fiber that pauses after each batch of rows, and the
// rows' values converted to their kinds.
#pragma once

#include "qapClobDoc.h"
#include "qapCtx.h"
#include "qapFiber.h"
#include "qapParseRun.h"
#include "qapQuickReader.h"
#include "qapRowHandler.h"
#include "tessel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One converted value of a batch.
struct QapRowValue {
    bool null = true;
    int64_t integer = 0;
    double real = 0;
    std::string text;
};

// A scan's columns and row handler and what they were made from; kept between the scans of a
// thread, so that the next scan of the same request need not make them again.
struct QapRowKept {
    std::string key;        // the request they are made from (see requestKey)
    std::u16string rowPath; // as the scan gave it
    std::vector<QapRowColumn> columns;
    std::vector<int> kinds;
    std::vector<std::string> names;
    std::vector<QapRowBinding> bindings;
    bool severalFail = false;
    size_t maxHeldUnits = 0;
    std::u16string rowText; // the handler's copy of rowPath (its query writes into it)
    std::unique_ptr<QapRowHandler> handler;
    QapQuickReader quick;           // its buffers kept too
    std::vector<QapRowValue> batch; // and the room of the last scan's batch
};

// A failure as the interface reports it.
struct QapRowError {
    char state[kSqlstateSize] = "00000";
    std::string message;
    void set(const char *sqlstate, std::string text);
};

class QapRowScan final : QapRowSink {
public:
    QapRowScan() = default;
    ~QapRowScan();
    QapRowScan(const QapRowScan &) = delete;
    QapRowScan &operator=(const QapRowScan &) = delete;

    // Sets up the context, checks the paths, lists a folder, and parses up to the first rows.
    // 0, or -1 with err set. Throws what allocation throws.
    int open(const TesselRowsRequest &request, QapRowError &err);
    // As tessel_rows_fetch.
    int fetch(TesselValue *values, int maxRows, int *rowsOut, QapRowError &err);
    size_t columnCount() const { return kept_->columns.size(); }

private:
    // QapRowSink
    void rowDone(uint64_t number, std::vector<QapRowCell> &cells) override;
    void mayPause() override;
    [[noreturn]] void fail(const char *state, const std::string &message) override;
    uint64_t nextRowNumber() override { return ++rowNumber_; }
    const std::string &columnName(size_t i) const override { return kept_->names[i]; }

    QapRowSink &sink() { return *this; }
    // A new handler for kept_'s paths. Throws QapError, or what allocation throws.
    void newHandler();
    int prepare(const TesselRowsRequest &request, QapRowError &err);
    // The request's paths, kinds, names and bindings into kept_. 0, or -1 with err set.
    int describe(const TesselRowsRequest &request, int32_t codePage, QapRowError &err);
    int listFolder(const char *folder, const char *pattern, QapRowError &err);
    // Converts one cell into value; false (err_ set) when it does not convert.
    bool convert(uint64_t number, size_t column, QapRowCell &cell, QapRowValue &value);
    bool toDbText(const std::u16string &text, std::string &out);
    static void run(void *self) noexcept;
    void parseAll();
    // Parses one document; false when the scan ends there (failed or closing).
    bool parseOne(QapDoc doc, const char *fileName);
    // Reads the document with the quick reader; false when the full parser must read it (the
    // handler re-armed, the rows given so far to be skipped). QapParseClosed passes through.
    bool quickRead(const QapDoc &doc, QapParseParts &parts, QapRowHandler &handler);
    void stop();

    QapRoutineCtx *ctx_ = nullptr; // owned, released with qapRelease
    // The handler with the paths it is built from: made (or taken from the last scan of the
    // same paths on this thread) when the paths are checked, re-armed for every document, lent
    // to each parse, dropped with a reader that is retired, and kept for the next scan at the
    // end.
    std::unique_ptr<QapRowKept> kept_;
    bool pathsChecked_ = false;
    bool severalFail_ = false;
    bool badNull_ = false;
    bool utf8Db_ = true;         // the database's code page is UTF-8
    const char *text_ = nullptr; // the document in memory, the caller's
    QapClobDoc clob_;            // the document of a CLOB, read at open
    bool fromClob_ = false;
    std::vector<std::string> files_; // the files to read, in order
    std::string currentFile_;        // for messages
    uint64_t rowNumber_ = 0;
    uint64_t docRows_ = 0;  // rows of the current document told so far
    uint64_t skipRows_ = 0; // rows the full parser tells again, not given twice

    QapFiber fiber_;
    bool closing_ = false;
    bool failed_ = false;
    QapRowError failure_;
    std::vector<QapRowValue> batch_; // rows * columns, reused
    size_t batchRows_ = 0;
    size_t batchBytes_ = 0;
    size_t handed_ = 0; // rows of the batch handed out
};
