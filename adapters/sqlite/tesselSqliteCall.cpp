// The SQLite extension's scalar routines: SQL values in, the routine called through the host
// runtime's calling side, its value or its SQLSTATE out.
#include "tesselSqlite.h"

#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace tessel::sqlite {

// ---- Values and status -------------------------------------------------------------------

bool toInput(sqlite3_value *value, tarn::Input &input, bool view) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        input = tarn::Input::null();
        return true;
    case SQLITE_BLOB: {
        const void *bytes = sqlite3_value_blob(value);
        int length = sqlite3_value_bytes(value);
        input = tarn::Input(bytes ? std::string(static_cast<const char *>(bytes), length) : "");
        return bytes != nullptr || length == 0;
    }
    default: {
        const unsigned char *text = sqlite3_value_text(value);
        if (text == nullptr) return false;
        if (view) {
            input = tarn::Input::of(reinterpret_cast<const char *>(text));
            return true;
        }
        input = tarn::Input(std::string(reinterpret_cast<const char *>(text),
                                        static_cast<size_t>(sqlite3_value_bytes(value))));
        return true;
    }
    }
}

namespace {

// "00000" and warnings give the value (or NULL); any other state is an error.
bool succeeded(const std::string &sqlstate) {
    return sqlstate == "00000" || sqlstate.compare(0, 2, "01") == 0;
}

} // namespace

std::string errorText(const tarn::Outcome &outcome) {
    std::string message = outcome.message;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    std::string text = "SQLSTATE " + outcome.sqlstate;
    if (!message.empty()) text += ": " + message;
    if (!outcome.whole.empty()) text += "\nDETAIL: " + outcome.whole;
    return text;
}

void setResult(sqlite3_context *ctx, tarn::SqlType type, const tarn::Outcome &outcome) {
    if (outcome.isNull()) {
        sqlite3_result_null(ctx);
        return;
    }
    switch (type) {
    case tarn::SqlType::DOUBLE:
        sqlite3_result_double(ctx, outcome.dbl);
        break;
    case tarn::SqlType::REAL:
        sqlite3_result_double(ctx, static_cast<double>(outcome.real));
        break;
    case tarn::SqlType::INTEGER:
        sqlite3_result_int(ctx, outcome.integer);
        break;
    case tarn::SqlType::SMALLINT:
        sqlite3_result_int(ctx, outcome.smallint);
        break;
    default: // text kinds, and a CLOB read back from its locator
        sqlite3_result_text64(ctx, outcome.text.data(), outcome.text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8);
        break;
    }
}

// ---- Scalar routines ---------------------------------------------------------------------

namespace {

// One call site of one statement: its scratchpad lives from the first call to the final call.
// SQLite keeps auxiliary data for the call site's constant arguments until the statement is
// reset; the site holds one reference per argument it was attached to, and the last one to go
// makes the final call. Without a constant argument every call is its own first and final call;
// a routine without inputs (qapSeqno) therefore takes a constant argument it ignores:
// qapSeqno(0) counts the rows of a statement, qapSeqno() answers 1 on every row.
struct CallSite {
    explicit CallSite(const tarn::RoutineDesc &desc) : statement(desc) {}
    tarn::ScalarStatement statement;
    int holds = 0;
};

void dropHold(void *p) {
    auto *site = static_cast<CallSite *>(p);
    if (--site->holds > 0) return;
    try {
        site->statement.finish();
    } catch (...) {
        // the final call's outcome has nowhere to go
    }
    delete site;
}

} // namespace

void callScalar(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
    const auto *routine = static_cast<const Routine *>(sqlite3_user_data(ctx));
    try {
        // A routine without inputs takes any arguments, unused but for keeping the call site.
        std::vector<tarn::Input> inputs(routine->desc.inputs.size());
        for (int i = 0; i < static_cast<int>(inputs.size()); ++i) {
            const bool varchar =
                routine->desc.inputs[static_cast<size_t>(i)] != tarn::SqlType::CLOB;
            if (!toInput(argv[i], inputs[static_cast<size_t>(i)], varchar)) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
        }
        CallSite *site = nullptr;
        for (int i = argc - 1; i >= 0 && site == nullptr; --i)
            site = static_cast<CallSite *>(sqlite3_get_auxdata(ctx, i));
        std::unique_ptr<CallSite> fresh;
        if (site == nullptr) {
            fresh = std::make_unique<CallSite>(routine->desc);
            site = fresh.get();
        }
        CallLimits deadline(sqlite3_context_db_handle(ctx));
        tarn::Outcome outcome = site->statement.call(inputs);
        if (succeeded(outcome.sqlstate))
            setResult(ctx, routine->desc.output, outcome);
        else
            sqlite3_result_error(ctx, errorText(outcome).c_str(), -1);
        if (fresh) {
            site = fresh.release();
            site->holds = 1; // this call's own hold, dropped below
            for (int i = 0; i < argc; ++i) {
                ++site->holds;
                sqlite3_set_auxdata(ctx, i, site, dropHold);
            }
            dropHold(site);
        }
    } catch (const std::bad_alloc &) {
        sqlite3_result_error_nomem(ctx);
    } catch (const std::exception &e) {
        sqlite3_result_error(ctx, (std::string("Tessel: ") + e.what()).c_str(), -1);
    } catch (...) {
        sqlite3_result_error(ctx, "Tessel: the routine call failed", -1);
    }
}

} // namespace tessel::sqlite
