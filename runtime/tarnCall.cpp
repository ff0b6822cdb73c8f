// Runs routine statements the way the host does: the output and status buffers are heap blocks
// of their declared sizes. A sanitizer build (TARN_HARNESS_BUFFERS) also runs them as a test
// harness would: every text input is a heap block of exactly its size, so that AddressSanitizer
// catches a routine that reads past one, and the output buffers are filled with a pattern, so
// that a routine that reads what it did not write shows.
#include "tarnCall.h"
#include "tesselVersion.h"

#include <cstring>
#include <dlfcn.h>
#include <new>
#include <stdexcept>
#include <utility>

namespace tarn {
namespace {

constexpr size_t kHostSqlstateSize = 6;
constexpr size_t kHostMsgTextSize = 71;
#ifdef TARN_HARNESS_BUFFERS
constexpr bool kHarness = true;
#else
constexpr bool kHarness = false;
#endif
constexpr unsigned char kFill = 0x5A; // the harness's pattern in output buffers

// A heap block of exactly `size` bytes, zeroed.
class Block {
public:
    explicit Block(size_t size) : p_(new unsigned char[size]()), size_(size) {}
    unsigned char *get() const { return p_.get(); }
    char *chars() const { return reinterpret_cast<char *>(p_.get()); }
    size_t size() const { return size_; }
    // The text up to the first NUL, or the whole block when it holds none.
    std::string text() const { return std::string(chars(), strnlen(chars(), size_)); }

private:
    std::unique_ptr<unsigned char[]> p_;
    size_t size_;
};

Block textBlock(const std::string &text) {
    Block b(text.size() + 1);
    memcpy(b.get(), text.c_str(), text.size() + 1);
    return b;
}

// The scratchpad sits 4 bytes into an 8-byte aligned block, so that its data area (after the
// 32-bit length word) is 8-byte aligned: the routines keep pointers there.
class Scratchpad {
public:
    Scratchpad() : block_(::operator new(kSize, kAlign)) { reset(); }
    ~Scratchpad() { ::operator delete(block_, kAlign); }
    Scratchpad(const Scratchpad &) = delete;
    Scratchpad &operator=(const Scratchpad &) = delete;

    void reset() {
        memset(block_, 0, kSize);
        pad()->length = SQLUDF_SCRATCHPAD_LEN;
    }
    sqludf_scratchpad *pad() {
        return reinterpret_cast<sqludf_scratchpad *>(static_cast<char *>(block_) + kOffset);
    }

private:
    static constexpr size_t kOffset = 4;
    static constexpr size_t kSize = kOffset + sizeof(sqludf_scratchpad);
    static constexpr std::align_val_t kAlign{8};
    void *block_;
};

size_t outputSize(const RoutineDesc &d) {
    return tessel::outputSize(d.output, d.outputLength);
}

// Calls the entry with count pointer arguments, through a function type of that arity. Every
// parameter of a routine is a pointer, so the call passes them as the routine takes them; the
// types differ only in what is pointed to, which clang's function-type check would report.
template <size_t> using VoidPtr = void *;
#if defined(__clang__)
#define TARN_UNTYPED_CALL __attribute__((no_sanitize("function")))
#else
#define TARN_UNTYPED_CALL
#endif
template <size_t... I>
TARN_UNTYPED_CALL void callWith(void *entry, void *const *args, std::index_sequence<I...>) {
    using Fn = void (*)(VoidPtr<I>...);
    reinterpret_cast<Fn>(entry)(args[I]...);
}

void callEntry(void *entry, size_t count, void *const *args) {
    switch (count) {
    case 9:
        callWith(entry, args, std::make_index_sequence<9>());
        break;
    case 11:
        callWith(entry, args, std::make_index_sequence<11>());
        break;
    case 13:
        callWith(entry, args, std::make_index_sequence<13>());
        break;
    case 15:
        callWith(entry, args, std::make_index_sequence<15>());
        break;
    }
}

// The arguments of a call: text blocks, locators holding the CLOB inputs (dropped with the
// set), and the whole argument list (a table's FETCH and CLOSE calls reuse its OPEN's).
struct InputSet {
    std::vector<Block> texts;
    sqludf_locator loc[3] = {};
    int16_t inds[3] = {};
    void *args[15] = {};
    size_t count = 0;
    InputSet() = default;
    InputSet(const InputSet &) = delete;
    InputSet &operator=(const InputSet &) = delete;
    ~InputSet() {
        for (sqludf_locator l : loc)
            if (l != 0) tarnLobFree(l);
    }
};

// What both statement kinds share: the routine, its scratchpad and database information, and
// one call at a time, its output and status buffers refilled (a table's FETCH and CLOSE pass
// the argument list of its OPEN again).
class Frame {
public:
    Frame(RoutineDesc desc, int32_t dbCodePage)
        : desc_(std::move(desc)), dbinfo_(SQLUDF_DBINFO_LEN), name_(textBlock(desc_.name)),
          specificName_(textBlock(desc_.name)), out_(outputSize(desc_)),
          sqlstate_(kHostSqlstateSize), msgtext_(kHostMsgTextSize) {
        if (desc_.entry == nullptr) throw std::invalid_argument("tarn: no entry for " + desc_.name);
        if (desc_.inputs.size() > 3)
            throw std::invalid_argument("tarn: more than 3 inputs: " + desc_.name);
        for (SqlType t : desc_.inputs)
            if (t != SqlType::VARCHAR && t != SqlType::CHAR && t != SqlType::CLOB)
                throw std::invalid_argument("tarn: unsupported input type: " + desc_.name);
        if ((desc_.output == SqlType::VARCHAR || desc_.output == SqlType::CHAR) &&
            desc_.outputLength <= 0)
            throw std::invalid_argument("tarn: no output length: " + desc_.name);
        memset(dbinfo_.get(), 0, dbinfo_.size());
        memcpy(dbinfo_.get() + SQLUDF_DBINFO_CODEPAGE_OFFSET, &dbCodePage, sizeof dbCodePage);
    }

    void startStatement() { scratch_.reset(); }
    // After the final call: the last table's arguments (a CLOB's locator) are not kept.
    void endStatement() { tableInputs_.reset(); }
    char *scratchData() { return scratch_.pad()->data; }

    // One call. A table's FETCH and CLOSE calls get the very arguments of its OPEN (reuse),
    // as a host passes them, without copying a CLOB into a new locator for every row.
    enum class Inputs { FRESH, KEEP_FOR_THE_TABLE, REUSE_THE_TABLES };
    // The outcome goes into o, whose buffers are reused: every field is set.
    void invoke(int32_t callType, const std::vector<Input> &given, Inputs inputs, Outcome &o);

private:
    RoutineDesc desc_;
    Scratchpad scratch_;
    Block dbinfo_;
    Block name_;
    Block specificName_;
    // The output and status buffers, refilled for every call.
    Block out_;
    Block sqlstate_;
    Block msgtext_;
    int16_t outInd_ = 0;
    int32_t callType_ = 0;
    std::unique_ptr<InputSet> tableInputs_; // the open table's arguments
};

// The whole text of the call's message when the routine cut it: the routine's last diagnostic,
// if the message is a shorter prefix of it (the routine may have left its message otherwise).
std::string wholeMessage(const std::string &message) {
    size_t kept = message.size();
    while (kept > 0 && (message[kept - 1] == '\n' || message[kept - 1] == '\r'))
        --kept;
    if (kept == 0) return std::string();
    std::string whole = tarnDiagnostic();
    while (!whole.empty() && (whole.back() == '\n' || whole.back() == '\r' || whole.back() == ' '))
        whole.pop_back();
    if (whole.size() <= kept || whole.compare(0, kept, message, 0, kept) != 0) return std::string();
    return whole;
}

} // namespace

RoutineDesc RoutineDesc::of(const tessel::RoutineInfo &routine, void *entry) {
    RoutineDesc d;
    d.name = routine.name;
    d.entry = entry;
    for (int i = 0; i < routine.count; ++i)
        d.inputs.push_back(routine.clobInput(i) ? SqlType::CLOB : SqlType::VARCHAR);
    d.output = routine.result;
    d.outputLength = routine.length;
    d.table = routine.isTable();
    return d;
}

void Frame::invoke(int32_t callType, const std::vector<Input> &given, Inputs inputs, Outcome &o) {
    const size_t n = desc_.inputs.size();
    if (given.size() > n) throw std::invalid_argument("tarn: too many inputs for " + desc_.name);

    // Missing inputs (the final call's) are empty values. A NULL input is an empty string, or
    // locator 0 for a CLOB, with indicator -1.
    std::unique_ptr<InputSet> fresh;
    InputSet *set = inputs == Inputs::REUSE_THE_TABLES ? tableInputs_.get() : nullptr;
    if (set == nullptr) {
        fresh = std::make_unique<InputSet>();
        set = fresh.get();
        set->texts.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            static const Input empty;
            const Input &in = i < given.size() ? given[i] : empty;
            const std::string &text = in.isNull ? empty.text : in.text;
            const char *view = in.isNull ? nullptr : in.view;
            set->inds[i] = in.isNull ? -1 : 0;
            if (desc_.inputs[i] == SqlType::CLOB) {
                if (!in.isNull) {
                    const size_t size = view != nullptr ? strlen(view) : text.size();
                    if (size > INT32_MAX) throw std::length_error("tarn: CLOB input too long");
                    set->loc[i] = tarnLobFromBytes(view != nullptr ? view : text.data(),
                                                   static_cast<int32_t>(size));
                    if (set->loc[i] == 0) throw std::bad_alloc();
                }
                set->args[i] = &set->loc[i];
            } else if (view != nullptr) {
                set->args[i] = const_cast<char *>(view);
            } else if (!kHarness && inputs == Inputs::FRESH) {
                // The caller's text lives through this call; a table's is kept for its rows.
                set->args[i] = const_cast<char *>(text.c_str());
            } else {
                set->texts.push_back(textBlock(text));
                set->args[i] = set->texts.back().chars();
            }
        }
    }
    Block &out = out_;
    if (desc_.output == SqlType::CLOB)
        memset(out.get(), 0, out.size());
    else if (kHarness)
        memset(out.get(), kFill, out.size());
    out.get()[0] = 0;
    outInd_ = 0;
    Block &sqlstate = sqlstate_;
    memcpy(sqlstate.get(), "00000", kHostSqlstateSize);
    Block &msgtext = msgtext_;
    if (kHarness) memset(msgtext.get(), kFill, msgtext.size());
    msgtext.get()[0] = 0;
    callType_ = callType;

    if (fresh != nullptr) {
        // The inputs, the output, the indicators, then the status and the statement's own.
        void **args = set->args;
        size_t count = n;
        args[count++] = out.get();
        for (size_t i = 0; i < n; ++i)
            args[count++] = &set->inds[i];
        args[count++] = &outInd_;
        args[count++] = sqlstate.chars();
        args[count++] = name_.chars();
        args[count++] = specificName_.chars();
        args[count++] = msgtext.chars();
        args[count++] = scratch_.pad();
        args[count++] = &callType_;
        args[count++] = dbinfo_.get();
        set->count = count;
    }

    tarnSetDiagnostic(nullptr);
    try {
        callEntry(desc_.entry, set->count, set->args);
    } catch (...) {
        memcpy(sqlstate.get(), "58004", kHostSqlstateSize);
        strcpy(msgtext.chars(), "An exception escaped the routine.");
    }

    const char *state = sqlstate.chars();
    if (o.sqlstate.size() == 5 && state[0] != '\0' && state[1] != '\0' && state[2] != '\0' &&
        state[3] != '\0' && state[4] != '\0' && state[5] == '\0') {
        // The usual case: five characters over the five of the previous outcome.
        char *into = &o.sqlstate[0];
        for (int i = 0; i < 5; ++i)
            into[i] = state[i];
    } else {
        o.sqlstate.assign(state, strnlen(state, kHostSqlstateSize));
    }
    if (msgtext.chars()[0] != '\0') {
        o.message = msgtext.text();
        o.whole = wholeMessage(o.message);
    } else {
        o.message.clear();
        o.whole.clear();
    }
    o.nullInd = outInd_;
    o.text.clear();
    o.dbl = 0;
    o.real = 0;
    o.integer = 0;
    o.smallint = 0;
    o.locator = 0;
    switch (desc_.output) {
    case SqlType::CLOB: {
        memcpy(&o.locator, out.get(), sizeof o.locator);
        if (o.locator != 0) {
            const char *bytes = nullptr;
            const int32_t length = tarnLobBytes(o.locator, &bytes);
            if (length > 0) o.text.assign(bytes, static_cast<size_t>(length));
            tarnLobFree(o.locator);
        }
        break;
    }
    case SqlType::DOUBLE:
        memcpy(&o.dbl, out.get(), sizeof o.dbl);
        break;
    case SqlType::REAL:
        memcpy(&o.real, out.get(), sizeof o.real);
        break;
    case SqlType::INTEGER:
        memcpy(&o.integer, out.get(), sizeof o.integer);
        break;
    case SqlType::SMALLINT:
        memcpy(&o.smallint, out.get(), sizeof o.smallint);
        break;
    default:
        o.text.assign(out.chars(), strnlen(out.chars(), out.size()));
        break;
    }
    if (inputs == Inputs::KEEP_FOR_THE_TABLE) tableInputs_ = std::move(fresh);
}

// ---- Statements ---------------------------------------------------------------------------

struct Statement::Impl {
    Impl(RoutineDesc desc, int32_t dbCodePage, bool table)
        : frame(std::move(desc), dbCodePage), table(table) {}
    Frame frame;
    bool table;
    bool started = false;
};

Statement::Statement(RoutineDesc desc, int32_t dbCodePage, bool table)
    : impl_(std::make_unique<Impl>(std::move(desc), dbCodePage, table)) {}

Statement::~Statement() {
    try {
        finish();
    } catch (...) {
    }
}

Outcome Statement::finish() {
    if (!impl_->started) {
        Outcome none;
        none.sqlstate = "00000";
        return none;
    }
    return callAs(impl_->table ? SQL_TF_FINAL : SQLUDF_FINAL_CALL, {});
}

Outcome Statement::callAs(int32_t callType, const std::vector<Input> &inputs) {
    Outcome o;
    callAs(callType, inputs, o);
    return o;
}

void Statement::callAs(int32_t callType, const std::vector<Input> &inputs, Outcome &into) {
    if (!impl_->started) impl_->frame.startStatement();
    using In = Frame::Inputs;
    const In mode = !impl_->table                                          ? In::FRESH
                    : callType == SQL_TF_OPEN                              ? In::KEEP_FOR_THE_TABLE
                    : callType == SQL_TF_FETCH || callType == SQL_TF_CLOSE ? In::REUSE_THE_TABLES
                                                                           : In::FRESH;
    impl_->frame.invoke(callType, inputs, mode, into);
    impl_->started = callType != (impl_->table ? SQL_TF_FINAL : SQLUDF_FINAL_CALL);
    if (!impl_->started) impl_->frame.endStatement();
}

char *Statement::scratchData() {
    return impl_->frame.scratchData();
}

bool Statement::started() const {
    return impl_->started;
}

Outcome ScalarStatement::call(const std::vector<Input> &inputs) {
    return callAs(started() ? SQLUDF_NORMAL_CALL : SQLUDF_FIRST_CALL, inputs);
}

// ---- Table statements -------------------------------------------------------------------

Outcome TableStatement::open(const std::vector<Input> &inputs) {
    if (!started()) {
        Outcome first = callAs(SQL_TF_FIRST, inputs);
        if (first.failed()) return first;
    }
    return callAs(SQL_TF_OPEN, inputs);
}

Outcome TableStatement::fetch(const std::vector<Input> &inputs) {
    return callAs(SQL_TF_FETCH, inputs);
}

void TableStatement::fetch(const std::vector<Input> &inputs, Outcome &row) {
    callAs(SQL_TF_FETCH, inputs, row);
}

Outcome TableStatement::close(const std::vector<Input> &inputs) {
    return callAs(SQL_TF_CLOSE, inputs);
}

TableRun TableStatement::run(const std::vector<Input> &inputs) {
    TableRun r;
    if (!started()) {
        Outcome first = callAs(SQL_TF_FIRST, inputs);
        if (first.failed()) {
            r.end = std::move(first); // nothing is open
            return r;
        }
    }
    Outcome open = callAs(SQL_TF_OPEN, inputs);
    if (open.failed() || open.endOfTable()) {
        r.end = std::move(open);
    } else {
        for (;;) {
            Outcome row = fetch(inputs);
            if (row.failed() || row.endOfTable()) {
                r.end = std::move(row);
                break;
            }
            r.rows.push_back(std::move(row));
        }
    }
    // The cursor is closed after a failed open too: the routine's close copes with no rows.
    Outcome close = this->close(inputs);
    if (close.failed() && !r.end.failed()) r.end = std::move(close);
    return r;
}

void *libraryHandle(const void *anchor) {
    void *handle = dlopen(TESSEL_SONAME, RTLD_LAZY | RTLD_NOLOAD);
    if (handle != nullptr) return handle;
    Dl_info module;
    if (dladdr(anchor, &module) == 0 || module.dli_fname == nullptr) return nullptr;
    std::string dir = module.dli_fname;
    dir = dir.find('/') == std::string::npos ? "." : dir.substr(0, dir.find_last_of('/'));
    return dlopen((dir + "/" TESSEL_SONAME).c_str(), RTLD_LAZY | RTLD_NOLOAD);
}

} // namespace tarn
