// The C interface of schema validation: a call object holds a routine context and the
// statement's schema session; no exception crosses it.
#include "qapInit.h"
#include "qapSchemaValidate.h"
#include "tessel.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

struct TesselSchemaCall {
    QapRoutineCtx *ctx = nullptr;
    QapSchemaSession *session = nullptr;
    std::string detail;
};

namespace {

void setStatus(TesselStatus *status, const char *state, const char *message) {
    if (status == nullptr) return;
    snprintf(status->sqlstate, sizeof status->sqlstate, "%s", state);
    snprintf(status->message, sizeof status->message, "%s", message);
}

// Runs one call with its status in the routines' form, the whole message kept on failure.
template <class Body>
int32_t runCall(TesselSchemaCall *call, TesselStatus *status, int32_t failed, Body body) {
    TesselStatus local{};
    TesselStatus *out = status != nullptr ? status : &local;
    if (call == nullptr || call->session == nullptr) {
        setStatus(out, "38X10", "no call object");
        return failed;
    }
    setStatus(out, "00000", "");
    call->detail.clear();
    int32_t result = failed;
    try {
        result = body(QapStatus{out->sqlstate, out->message});
    } catch (...) {
        setStatus(out, "38X13", "");
        return failed;
    }
    if (strcmp(out->sqlstate, "00000") != 0) qapKeepWhole(call->detail, qapLastWholeMessage());
    return result;
}

} // namespace

extern "C" TesselSchemaCall *tessel_schema_open(TesselStatus *status) {
    TesselStatus local{};
    TesselStatus *out = status != nullptr ? status : &local;
    setStatus(out, "00000", "");
    auto *call = new (std::nothrow) TesselSchemaCall;
    if (call == nullptr) {
        setStatus(out, "38X13", "");
        return nullptr;
    }
    alignas(8) char dbinfo[SQLUDF_DBINFO_LEN] = {};
    const int32_t codePage = 1208;
    memcpy(dbinfo + SQLUDF_DBINFO_CODEPAGE_OFFSET, &codePage, sizeof codePage);
    call->ctx = static_cast<QapRoutineCtx *>(calloc(1, sizeof(QapRoutineCtx)));
    if (qapInit(call->ctx, 0, dbinfo, QapStatus{out->sqlstate, out->message}, nullptr) < 0 ||
        (call->session = new (std::nothrow) QapSchemaSession(call->ctx)) == nullptr) {
        if (strcmp(out->sqlstate, "00000") == 0) setStatus(out, "38X13", "");
        tessel_schema_close(call);
        return nullptr;
    }
    return call;
}

extern "C" void tessel_schema_close(TesselSchemaCall *call) {
    if (call == nullptr) return;
    delete call->session;
    if (call->ctx != nullptr) {
        char state[kSqlstateSize] = "00000";
        qapRelease(call->ctx, state);
        free(call->ctx);
    }
    delete call;
}

extern "C" int32_t tessel_validate_schema(TesselSchemaCall *call, const char *doc,
                                          const char *schema, uint32_t flags,
                                          TesselStatus *status) {
    return runCall(call, status, 0, [&](QapStatus err) {
        if (doc == nullptr || schema == nullptr) return qapSetError(call->ctx, err, QAPD000E), 0;
        return call->session->validate(doc, (flags & TESSEL_SCHEMA_DOC_FILE) != 0, schema,
                                       (flags & TESSEL_SCHEMA_XSD_FILE) != 0, err);
    });
}

extern "C" int32_t tessel_schema_errors(TesselSchemaCall *call, const char *doc, const char *schema,
                                        uint32_t flags, uint32_t limit, TesselStatus *status) {
    return runCall(call, status, -1, [&](QapStatus err) {
        if (doc == nullptr || schema == nullptr) return qapSetError(call->ctx, err, QAPD000E), -1;
        return call->session->collect(doc, (flags & TESSEL_SCHEMA_DOC_FILE) != 0, schema,
                                      (flags & TESSEL_SCHEMA_XSD_FILE) != 0, limit, err);
    });
}

extern "C" int32_t tessel_schema_error(const TesselSchemaCall *call, uint32_t index, uint64_t *line,
                                       uint64_t *column, const char **message) {
    if (call == nullptr || call->session == nullptr) return 0;
    const auto &errors = call->session->errors();
    if (index >= errors.size()) return 0;
    if (line != nullptr) *line = errors[index].line;
    if (column != nullptr) *column = errors[index].column;
    if (message != nullptr) *message = errors[index].message.c_str();
    return 1;
}

extern "C" const char *tessel_schema_detail(const TesselSchemaCall *call) {
    return call != nullptr ? call->detail.c_str() : "";
}
