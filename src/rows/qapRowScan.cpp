// The row scan: the source's documents parsed one after another on a fiber with the reader of
// every non-validating parse, a batch of converted rows at a time.
#include "qapRowScan.h"

#include "qapConv.h"
#include "qapDocumentSource.h"
#include "qapFile.h"
#include "qapGuardedReader.h"
#include "qapInit.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Rows the parse collects before it pauses: this many, or fewer when their text reaches
// kBatchBytes, so that the parse and the caller's work run in turns of some length.
constexpr size_t kBatchRows = 64;
constexpr size_t kBatchBytes = 65536;
constexpr int32_t kUtf8 = 1208;
// Budgets from this size up leave room for the quick reader's own few MiB (qapQuickReader.h).
constexpr size_t kQuickBudget = size_t{32} << 20;

// The whole text of the message a call just set, without its final newline.
std::string wholeMessage(const char *cut) {
    const char *whole = qapLastWholeMessage();
    std::string text = whole != nullptr && whole[0] != '\0' ? whole : cut;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Everything of a request that its handler and the scan's columns are made from, as one string:
// a scan with the same key takes the last scan's as they are.
std::string requestKey(const TesselRowsRequest &request, int32_t codePage) {
    std::string key;
    const auto add = [&key](const char *text) {
        const uint32_t n = text != nullptr ? static_cast<uint32_t>(strlen(text)) : UINT32_MAX;
        key.append(reinterpret_cast<const char *>(&n), sizeof n);
        if (text != nullptr) key.append(text, n);
    };
    const int32_t numbers[] = {codePage, request.flags & TESSEL_ROWS_SEVERAL_FAIL,
                               request.columnCount, request.namespaceCount};
    key.append(reinterpret_cast<const char *>(numbers), sizeof numbers);
    add(request.rowPath);
    for (int i = 0; i < request.columnCount; ++i) {
        key.append(reinterpret_cast<const char *>(&request.columns[i].kind), sizeof(int));
        add(request.columns[i].name);
        add(request.columns[i].path);
    }
    for (int i = 0; i < request.namespaceCount; ++i)
        add(request.namespaces[i]);
    return key;
}

// The handler of the thread's last scan, for its next one.
thread_local std::unique_ptr<QapRowKept> qapKeptRows;

} // namespace

void QapRowError::set(const char *sqlstate, std::string text) {
    qapSetState(state, sqlstate);
    message = std::move(text);
}

QapRowScan::~QapRowScan() {
    stop();
    // The handler gives back the blocks of the context's reader; it is kept for the thread's
    // next scan when its paths were sound (one at a time: the last one stays).
    if (kept_ != nullptr && kept_->handler != nullptr && pathsChecked_) {
        kept_->handler->detach();
        // The batch's values keep their room for the next scan, unless it is large.
        size_t room = 0;
        for (const QapRowValue &v : batch_)
            room += v.text.capacity();
        if (room <= kBatchBytes) kept_->batch.swap(batch_);
        qapKeptRows = std::move(kept_);
    }
    kept_.reset();
    clob_.release(); // its temporary file belongs to the context
    if (ctx_ != nullptr) {
        char state[kSqlstateSize] = "00000";
        qapRelease(ctx_, state);
        free(ctx_);
    }
}

void QapRowScan::stop() {
    closing_ = true;
    while (fiber_.running()) // the paused parse unwinds (QapParseClosed)
        fiber_.resume();
    fiber_.release();
}

int QapRowScan::open(const TesselRowsRequest &request, QapRowError &err) {
    if (prepare(request, err) != 0) return -1;
    if (!fiber_.start(&QapRowScan::run, this)) {
        err.set("38X10", "no stack for the parse");
        return -1;
    }
    fiber_.resume();
    // A document that fails before its first row fails the open.
    if (failed_ && batchRows_ == 0) {
        err = failure_;
        failed_ = false;
        return -1;
    }
    return 0;
}

int QapRowScan::prepare(const TesselRowsRequest &request, QapRowError &err) {
    ctx_ = static_cast<QapRoutineCtx *>(calloc(1, sizeof(QapRoutineCtx)));
    char state[kSqlstateSize] = "00000";
    char message[kMsgTextSize] = "";
    std::vector<char> dbinfo(SQLUDF_DBINFO_LEN, 0);
    const int32_t codePage = request.codePage != 0 ? request.codePage : kUtf8;
    memcpy(dbinfo.data() + SQLUDF_DBINFO_CODEPAGE_OFFSET, &codePage, sizeof codePage);
    if (qapInit(ctx_, 0, dbinfo.data(), {state, message}, nullptr) != 0) {
        err.set(state, "the scan cannot start: " + wholeMessage(message));
        free(ctx_);
        ctx_ = nullptr;
        return -1;
    }
    utf8Db_ = ctx_->convInfo == nullptr || ctx_->convInfo->dbCodePage == kUtf8;
    severalFail_ = (request.flags & TESSEL_ROWS_SEVERAL_FAIL) != 0;
    badNull_ = (request.flags & TESSEL_ROWS_BAD_NULL) != 0;

    // The paths are checked once here, by the handler the documents are then parsed with: the
    // one of the last scan of the same request on this thread, or a new one. (With tracing on,
    // the paths are parsed again, so that the trace shows it.)
    const size_t maxUnits = ctx_->maxParseMemory / 2;
    std::string key = requestKey(request, codePage);
    std::unique_ptr<QapRowKept> &spare = qapKeptRows;
    if (spare != nullptr && !ctx_->traceOn && spare->key == key &&
        spare->maxHeldUnits == maxUnits) {
        kept_ = std::move(spare);
        kept_->handler->rebind(ctx_, kept_->bindings, sink());
        batch_.swap(kept_->batch);
    } else {
        kept_ = std::make_unique<QapRowKept>();
        if (describe(request, codePage, err) != 0) return -1;
        kept_->key = std::move(key);
        kept_->severalFail = severalFail_;
        kept_->maxHeldUnits = maxUnits;
        newHandler();
        int32_t position = 0;
        const int which = kept_->handler->errorPath(&position);
        if (which >= 0) {
            err.set("38X09",
                    "a syntax error occurred near position " + std::to_string(position) +
                        (which == 0 ? " in the row path"
                                    : " in the path of column " + kept_->names[which - 1]));
            return -1;
        }
    }
    pathsChecked_ = true;

    const int sources = (request.text != nullptr) + (request.file != nullptr) +
                        (request.folder != nullptr) + (request.clob != nullptr);
    if (sources != 1) {
        err.set("38X16", "a scan reads exactly one of a text, a CLOB, a file and a folder");
        return -1;
    }
    text_ = request.text;
    if (request.clob != nullptr) {
        char state[kSqlstateSize] = "00000";
        char message[kMsgTextSize] = "";
        if (clob_.load(ctx_, request.clob, {state, message}) != 0) {
            err.set(state, wholeMessage(message));
            return -1;
        }
        fromClob_ = true;
    }
    if (request.file != nullptr) files_.emplace_back(request.file);
    if (request.folder != nullptr)
        return listFolder(request.folder, request.pattern != nullptr ? request.pattern : "*", err);
    return 0;
}

int QapRowScan::describe(const TesselRowsRequest &request, int32_t codePage, QapRowError &err) {
    // Paths and names in UTF-16.
    const auto utf16 = [this, codePage](const char *text, std::u16string &out) {
        const size_t n = strlen(text);
        if (codePage == kUtf8 && std::all_of(text, text + n, [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            })) {
            out.assign(text, text + n); // ASCII
            return true;
        }
        out.assign(4 * (n + 1), u'\0');
        const int32_t units =
            qapMbstowcsFunction(ctx_, out.data(), text, static_cast<int32_t>(out.size()));
        if (units < 0) return false;
        out.resize(static_cast<size_t>(units));
        return true;
    };
    if (request.rowPath == nullptr || !utf16(request.rowPath, kept_->rowPath)) {
        err.set("38X09", "the row path is missing or does not convert");
        return -1;
    }
    for (int i = 0; i < request.columnCount; ++i) {
        const TesselRowsColumn &c = request.columns[i];
        kept_->names.push_back(c.name != nullptr ? c.name : "column " + std::to_string(i + 1));
        std::u16string path;
        if (c.kind < 0 || c.kind > TESSEL_ROWS_FRAGMENT) {
            err.set("38X33", "column " + kept_->names.back() + ": unknown kind");
            return -1;
        }
        if (c.path == nullptr || !utf16(c.path, path) || path.empty()) {
            err.set("38X09",
                    "column " + kept_->names.back() + ": the path is missing or does not convert");
            return -1;
        }
        QapRowColumn column;
        column.fragment = c.kind == TESSEL_ROWS_FRAGMENT;
        column.path = kept_->rowPath;
        if (path != u".") column.path += (path[0] == u'/' ? u"" : u"/") + path;
        kept_->columns.push_back(std::move(column));
        kept_->kinds.push_back(c.kind);
    }
    for (int i = 0; i < request.namespaceCount; ++i) {
        std::u16string binding;
        if (request.namespaces[i] == nullptr || !utf16(request.namespaces[i], binding) ||
            binding.find(u'=') == std::u16string::npos) {
            err.set("38X33", "a namespace binding is not prefix=uri");
            return -1;
        }
        const size_t eq = binding.find(u'=');
        kept_->bindings.push_back({binding.substr(0, eq), binding.substr(eq + 1)});
    }
    return 0;
}

int QapRowScan::listFolder(const char *folder, const char *pattern, QapRowError &err) {
    const int fd = qapOpenAllowedDir(ctx_, folder);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(fd >= 0 ? fdopendir(fd) : nullptr, closedir);
    if (dir == nullptr) {
        char state[kSqlstateSize] = "00000";
        char message[kMsgTextSize] = "";
        qapSetOpenError(ctx_, 0, errno, {state, message});
        if (fd >= 0) close(fd);
        err.set(state, std::string("folder ") + folder + ": " + wholeMessage(message));
        return -1;
    }
    std::string base = folder;
    if (base.empty() || base.back() != '/') base += '/';
    // The listing is bounded as a parse is: its names count against the memory budget, and
    // the host is asked every thousand entries whether the statement was cancelled.
    std::vector<std::string> names;
    size_t held = 0;
    uint64_t entries = 0;
    while (const dirent *e = readdir(dir.get())) {
        if (++entries % 1024 == 0 && tarnStatementCancelled() != 0) {
            err.set("57014", std::string("folder ") + folder + ": the statement was cancelled");
            return -1;
        }
        struct stat st;
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0 ||
            fnmatch(pattern, e->d_name, FNM_PERIOD) != 0 ||
            fstatat(dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // A link is listed, so that the rule refuses it by name.
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) continue;
        held += 2 * sizeof(std::string) + base.size() + 2 * (strlen(e->d_name) + 1);
        if (ctx_->maxParseMemory != 0 && held > ctx_->maxParseMemory) {
            err.set("38X13",
                    std::string("folder ") + folder + ": its file names exceed the memory limit");
            return -1;
        }
        names.emplace_back(e->d_name);
    }
    dir.reset();
    std::sort(names.begin(), names.end());
    for (const std::string &name : names)
        files_.push_back(base + name);
    return 0;
}

void QapRowScan::run(void *self) noexcept {
    auto &scan = *static_cast<QapRowScan *>(self);
    try {
        scan.parseAll();
    } catch (...) {
        scan.failure_.set("38X10", "the system is out of memory");
        scan.failed_ = true;
    }
}

void QapRowScan::parseAll() {
    if (text_ != nullptr) {
        parseOne(QapDoc{text_, kMem, 1, nullptr, nullptr}, nullptr);
        return;
    }
    if (fromClob_) {
        parseOne(clob_.doc(nullptr), nullptr);
        return;
    }
    for (const std::string &file : files_)
        if (closing_ || !parseOne(QapDoc{file.c_str(), kFile, 0, nullptr, nullptr}, file.c_str()))
            return;
}

void QapRowScan::newHandler() {
    kept_->handler.reset();
    kept_->rowText = kept_->rowPath;
    kept_->handler = std::make_unique<QapRowHandler>(ctx_, kept_->rowText.data(), kept_->columns,
                                                     kept_->bindings, kept_->severalFail, sink(),
                                                     kept_->maxHeldUnits);
}

bool QapRowScan::parseOne(QapDoc doc, const char *fileName) {
    char state[kSqlstateSize] = "00000";
    char message[kMsgTextSize] = "";
    QapStatus status{state, message};
    const auto failHere = [&](const char *sqlstate, const std::string &text) {
        failure_.set(sqlstate,
                     fileName != nullptr ? "file " + std::string(fileName) + ": " + text : text);
        failed_ = true;
        return false;
    };
    if (fileName != nullptr) {
        currentFile_ = fileName;
    }
    // A file is opened once, through the allowed-files gate, and parsed from that descriptor.
    QapOpenFile file;
    if (fileName != nullptr) {
        if (qapOpenRead(ctx_, fileName, file) != 0) {
            qapSetOpenError(ctx_, 0, file.error(), status);
            return failHere(state, wholeMessage(message));
        }
        doc.doc = file.name().c_str();
        doc.file = &file;
    }
    QapParseParts parts;
    // The handler comes back once the parse ends, however it ends, unless the reader it took
    // blocks from is retired (the next document gets a new one).
    struct Lend {
        QapParseParts &parts;
        std::unique_ptr<QapRowHandler> &home;
        ~Lend() {
            if (parts.parser != nullptr && parts.parser->retired)
                parts.handler.reset();
            else
                home.reset(static_cast<QapRowHandler *>(parts.handler.release()));
        }
    } lend{parts, kept_->handler};
    try {
        if (kept_->handler == nullptr) newHandler();
    } catch (...) {
        return failHere("38X10", "the system is out of memory");
    }
    QapRowHandler *handler = kept_->handler.get();
    handler->rearm();
    parts.handler = std::move(kept_->handler);
    if (qapSetUpReader(ctx_, parts, nullptr, status) != 0)
        return failHere(state[0] == '0' ? "38X10" : state, wholeMessage(message));
    try {
        // The open elements keep the attributes that the predicates of all paths read.
        handler->currentPath.prepare(&parts.parser->memory, handler->keptAttributes());
    } catch (...) {
        return failHere("38X10", "the system is out of memory");
    }
    try {
        if (quickRead(doc, parts, *handler)) return true;
    } catch (const QapParseClosed &) {
        return false; // closed, or failed (fail() kept why)
    }
    try {
        if (doc.docLoc == kMem)
            parts.memSource.reset(qapMemoryDocument(doc.doc, &parts.parser->memory));
    } catch (...) {
        return failHere("38X10", "the system is out of memory");
    }
    int32_t rc = 0;
    try {
        rc = qapRunParse(ctx_, parts, doc, status);
    } catch (const QapParseClosed &) {
        return false; // closed, or failed (fail() kept why)
    }
    if (rc != 0) return failHere(state, wholeMessage(message));
    if (parts.parser->reader->getErrorCount() != 0) {
        parts.parser->retired = true;
        return failHere("38X13", "the document is not well-formed");
    }
    return true;
}

bool QapRowScan::quickRead(const QapDoc &doc, QapParseParts &parts, QapRowHandler &handler) {
    skipRows_ = 0;
    // The quick reader takes UTF-8 only, and its memory must fit easily in the parse's budget.
    if ((doc.docInDbCodePage == 1 && !utf8Db_) ||
        (ctx_->maxParseMemory != 0 && ctx_->maxParseMemory < kQuickBudget))
        return false;
    const uint64_t firstRow = rowNumber_;
    docRows_ = 0;
    QapQuickReader::Outcome outcome = QapQuickReader::Outcome::DECLINED;
    try {
        // The handler's allocations from the parse's memory are bounded as in a full parse.
        parts.parser->memory.setBudget(ctx_->maxParseMemory);
        QapQuickReader &quick = kept_->quick;
        outcome = doc.docLoc == kMem ? quick.readMemory(doc.doc, strlen(doc.doc), handler, &handler)
                                     : quick.readFile(doc.file->fd(), handler, &handler);
    } catch (const QapParseClosed &) {
        throw;
    } catch (...) {
        // A bound or a failure: the full parser meets it again and reports it.
    }
    if (outcome == QapQuickReader::Outcome::READ) return true;
    // The full parser reads the document from its start; the rows already given are skipped.
    rowNumber_ = firstRow;
    skipRows_ = docRows_;
    handler.rearm();
    return false;
}

void QapRowScan::fail(const char *state, const std::string &message) {
    failure_.set(state, currentFile_.empty() ? message : "file " + currentFile_ + ": " + message);
    failed_ = true;
    throw QapParseClosed{};
}

void QapRowScan::mayPause() {
    if (batchRows_ < kBatchRows && batchBytes_ < kBatchBytes) return;
    fiber_.suspend();
    if (closing_) throw QapParseClosed{};
}

void QapRowScan::rowDone(uint64_t number, std::vector<QapRowCell> &cells) {
    ++docRows_;
    if (skipRows_ != 0) {
        --skipRows_;
        return;
    }
    const size_t n = kept_->columns.size();
    if (batch_.size() < (batchRows_ + 1) * n) batch_.resize((batchRows_ + 1) * n);
    QapRowValue *row = &batch_[batchRows_ * n];
    for (size_t i = 0; i < n; ++i) {
        if (!convert(number, i, cells[i], row[i])) {
            const std::string shown = row[i].text.substr(0, 40);
            char state[kSqlstateSize];
            memcpy(state, failure_.state, sizeof state);
            fail(state, "row " + std::to_string(number) + ": column " + kept_->names[i] +
                            ": the value '" + shown + "' " + failure_.message);
        }
        batchBytes_ += row[i].text.size();
    }
    ++batchRows_;
}

int QapRowScan::fetch(TesselValue *values, int maxRows, int *rowsOut, QapRowError &err) {
    *rowsOut = 0;
    if (handed_ == batchRows_ && fiber_.running()) {
        batchRows_ = handed_ = batchBytes_ = 0;
        fiber_.resume();
    }
    const size_t n = kept_->columns.size();
    const size_t rows = std::min(static_cast<size_t>(std::max(maxRows, 0)), batchRows_ - handed_);
    for (size_t r = 0; r < rows; ++r) {
        for (size_t i = 0; i < n; ++i) {
            const QapRowValue &v = batch_[(handed_ + r) * n + i];
            TesselValue &out = values[r * n + i];
            out.isNull = v.null ? 1 : 0;
            out.kind = kept_->kinds[i];
            out.integer = v.integer;
            out.real = v.real;
            out.text = v.null ? nullptr : v.text.c_str();
            out.length = v.null ? 0 : v.text.size();
        }
    }
    handed_ += rows;
    *rowsOut = static_cast<int>(rows);
    if (rows == 0 && maxRows > 0 && failed_) {
        err = failure_;
        failed_ = false; // told once: the scan has no more rows
        return -1;
    }
    return 0;
}
