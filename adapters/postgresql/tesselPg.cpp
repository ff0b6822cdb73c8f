// The PostgreSQL extension "tessel": every routine of the catalogue is an SQL function declared
// with one of two entry points, tessel_scalar or tessel_table, which find the routine from the
// function's name. This file is PostgreSQL's side: arguments, results, errors, settings and the
// life of a call site. The routines run in tesselPgCall.cpp, whose functions are noexcept and
// return plain data; nothing here reports to PostgreSQL (which may jump out with longjmp) while
// a C++ frame with something to unwind is on the stack. Functions here hold only trivially
// destructible locals.
//
// A call site (one function call in one query) keeps its statement in fn_extra, from its first
// call to the reset of the query's memory (fn_mcxt), whose callback makes the final call: so it
// is made when the query ends, fails or is cancelled.
#include "tarnRuntime.h"
#include "tesselPgCall.h"
#include "tesselPgTypes.h"
#include "tesselVersion.h"

#include <cstring>

extern "C" {
#include "postgres.h"

#include "access/htup_details.h"
#include "catalog/pg_authid_d.h"
#include "catalog/pg_proc.h"
#include "catalog/pg_type_d.h"
#include "executor/executor.h"
#include "fmgr.h"
#include "mb/pg_wchar.h"
#include "miscadmin.h"
#include "nodes/execnodes.h"
#include "storage/ipc.h"
#include "utils/acl.h"
#include "utils/builtins.h"
#include "utils/date.h"
#include "utils/datetime.h"
#include "utils/guc.h"
#include "utils/inval.h"
#include "utils/syscache.h"
#include "utils/timestamp.h"
}

#include "tesselPgRows.h" // after postgres.h

static_assert(tesselpg::pgTypeOf(tessel::SqlType::DATE).oid == DATEOID, "date");
static_assert(tesselpg::pgTypeOf(tessel::SqlType::TIME).oid == TIMEOID, "time");
static_assert(tesselpg::pgTypeOf(tessel::SqlType::TIMESTAMP).oid == TIMESTAMPOID, "timestamp");
static_assert(tesselpg::pgTypeOf(tessel::SqlType::DOUBLE).oid == FLOAT8OID, "float8");
static_assert(tesselpg::pgTypeOf(tessel::SqlType::REAL).oid == FLOAT4OID, "float4");
static_assert(tesselpg::pgTypeOf(tessel::SqlType::INTEGER).oid == INT4OID, "int4");
static_assert(tesselpg::pgTypeOf(tessel::SqlType::SMALLINT).oid == INT2OID, "int2");
static_assert(tesselpg::pgTypeOf(tessel::SqlType::CLOB).oid == TEXTOID, "text");
static_assert(tesselpg::kTextOid == TEXTOID, "text");

#pragma GCC visibility push(default)
extern "C" {
PG_MODULE_MAGIC;
PG_FUNCTION_INFO_V1(tessel_scalar);
PG_FUNCTION_INFO_V1(tessel_table);
PG_FUNCTION_INFO_V1(tessel_version);
void _PG_init(void);
}
#pragma GCC visibility pop

// ereport without a source location: the errors that the extension reports are the caller's
// or the routine's, and where this file raised them is no help to either.
#define TESSEL_REPORT(level, ...)                                                                  \
    do {                                                                                           \
        if (errstart(level, TEXTDOMAIN)) {                                                         \
            __VA_ARGS__;                                                                           \
            errfinish(nullptr, 0, nullptr);                                                        \
        }                                                                                          \
        if ((level) >= ERROR) pg_unreachable();                                                    \
    } while (0)

namespace {

// ---- Settings ----------------------------------------------------------------------------

char *readAccess = nullptr;
char *writeAccess = nullptr;
bool externalEntities = false;

// The allowed-files values go to the host registry, where the routines look them up on every
// call. An empty value allows no file (the environment fallback of the registry never applies).
void assignReadAccess(const char *value, void *) {
    tarnRegistrySet(TARN_REG_READ_ACCESS, value != nullptr ? value : "");
}

void assignWriteAccess(const char *value, void *) {
    tarnRegistrySet(TARN_REG_WRITE_ACCESS, value != nullptr ? value : "");
}

void assignExternalEntities(bool value, void *) {
    tarnRegistrySet(TARN_REG_EXTERNAL_ENTITIES, value ? "YES" : "NO");
}

// The heap one parse may hold, in kB (0: no limit); read by each statement's first call.
int maxParseMemoryKb = 0;

void assignMaxParseMemory(int kb, void *) {
    char bytes[24];
    snprintf(bytes, sizeof bytes, "%lld", static_cast<long long>(kb) * 1024);
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, bytes);
}

// The host's cancel check: PostgreSQL's pending flags, only read.
int cancelPending(void) {
    return QueryCancelPending || ProcDiePending ? 1 : 0;
}

// ---- Call sites --------------------------------------------------------------------------

struct CallSite {
    MemoryContextCallback reset; // the final call, when the query's memory goes
    tesselpg::Site *site;
    const tessel::RoutineInfo *row;
    ExprContext *closeOn; // the scan whose end closes the open table
    bool warned;          // a warning of this call site was reported
    bool badValue;        // an unconvertible value of this call site was reported
};

void endCallSite(void *arg) {
    auto *cs = static_cast<CallSite *>(arg);
    tesselpg::destroySite(cs->site);
    cs->site = nullptr;
}

// The database code page, from the database encoding; an encoding that Tessel cannot convert
// is refused. The Windows encodings are the CCSIDs of their tables with the euro sign (5346 to
// 5354, 1162): the CCSIDs 1250 to 1258 and 874 are the older tables without it.
int32 codePageOfEncoding(void) {
    switch (GetDatabaseEncoding()) {
    case PG_UTF8:
        return 1208;
    case PG_LATIN1:
        return 819;
    case PG_LATIN2:
        return 912;
    case PG_LATIN3:
        return 913;
    case PG_LATIN4:
        return 914;
    case PG_LATIN5:
        return 920;
    case PG_LATIN7:
        return 921;
    case PG_LATIN9:
        return 923;
    case PG_ISO_8859_5:
        return 915;
    case PG_ISO_8859_6:
        return 1089;
    case PG_ISO_8859_7:
        return 813;
    case PG_ISO_8859_8:
        return 916;
    case PG_WIN1250:
        return 5346;
    case PG_WIN1251:
        return 5347;
    case PG_WIN1252:
        return 5348;
    case PG_WIN1253:
        return 5349;
    case PG_WIN1254:
        return 5350;
    case PG_WIN1255:
        return 5351;
    case PG_WIN1256:
        return 5352;
    case PG_WIN1257:
        return 5353;
    case PG_WIN1258:
        return 5354;
    case PG_WIN866:
        return 866;
    case PG_WIN874:
        return 1162;
    case PG_KOI8R:
        return 878;
    case PG_KOI8U:
        return 1168;
    case PG_EUC_JP:
        return 33722;
    case PG_EUC_KR:
        return 970;
    case PG_EUC_CN:
        return 1383;
    case PG_EUC_TW:
        return 964;
    default:
        TESSEL_REPORT(
            ERROR, errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
            errmsg("Tessel cannot serve a database in encoding \"%s\"", GetDatabaseEncodingName()),
            errhint("Use a database in UTF8 or in an encoding such as LATIN1, "
                    "WIN1252 or EUC_JP."));
    }
    return 0;
}

} // namespace

// The database code page, found once: a server process serves one database.
int32 tesselpg::databaseCodePage() {
    static int32 codePage = 0;
    if (codePage == 0) codePage = codePageOfEncoding();
    return codePage;
}

namespace {

// The catalogue row of the routine that the called function declares, checked against the
// function's declaration.
const tessel::RoutineInfo *lookUpRoutine(Oid function, tessel::Kind kind) {
    HeapTuple tuple = SearchSysCache1(PROCOID, ObjectIdGetDatum(function));
    if (!HeapTupleIsValid(tuple)) elog(ERROR, "cache lookup failed for function %u", function);
    const auto *proc = reinterpret_cast<Form_pg_proc>(GETSTRUCT(tuple));
    char name[NAMEDATALEN];
    strlcpy(name, NameStr(proc->proname), sizeof name);
    const tessel::RoutineInfo *row = tesselpg::findBuiltRoutine(name);
    bool fits = row != nullptr && row->kind == kind && proc->pronargs == row->count &&
                proc->proretset == row->isTable() &&
                proc->prorettype == tesselpg::pgTypeOf(row->result).oid;
    for (int i = 0; fits && i < proc->pronargs; ++i)
        fits = proc->proargtypes.values[i] == TEXTOID;
    ReleaseSysCache(tuple);
    if (!fits)
        TESSEL_REPORT(ERROR, errcode(ERRCODE_UNDEFINED_FUNCTION),
                      errmsg("function \"%s\" is not declared as a Tessel routine", name));
    return row;
}

// The functions already checked by lookUpRoutine, in this process: a point query looks its
// function up at every statement. Any change to pg_proc forgets them all.
struct KnownRoutine {
    Oid function;
    tessel::Kind kind;
    const tessel::RoutineInfo *row;
};
constexpr int kKnownRoutines = 32;
KnownRoutine knownRoutines[kKnownRoutines];
int knownCount = 0;
int knownNext = 0; // the entry that the next new one replaces once all are taken

void forgetRoutines(Datum, int, uint32) {
    knownCount = 0;
    knownNext = 0;
}

const tessel::RoutineInfo *routineOf(Oid function, tessel::Kind kind) {
    for (int i = 0; i < knownCount; ++i)
        if (knownRoutines[i].function == function && knownRoutines[i].kind == kind)
            return knownRoutines[i].row;
    const tessel::RoutineInfo *row = lookUpRoutine(function, kind);
    const int slot = knownCount < kKnownRoutines ? knownCount++ : knownNext;
    knownNext = (slot + 1) % kKnownRoutines;
    knownRoutines[slot] = KnownRoutine{function, kind, row};
    return row;
}

// A routine that both reads and rewrites server files needs both roles: the grant of EXECUTE
// to either one is not enough.
void checkFileRoles(const tessel::RoutineInfo &row) {
    bool reads = false, writes = false;
    for (int i = 0; i < row.count; ++i) {
        reads = reads || row.readsFile(i);
        writes = writes || row.writesFile(i);
    }
    if (!reads || !writes) return;
    const Oid user = GetUserId();
    if (!has_privs_of_role(user, ROLE_PG_READ_SERVER_FILES) ||
        !has_privs_of_role(user, ROLE_PG_WRITE_SERVER_FILES))
        TESSEL_REPORT(ERROR, errcode(ERRCODE_INSUFFICIENT_PRIVILEGE),
                      errmsg("permission denied for function %s", row.name),
                      errdetail("It reads and rewrites server files: it needs the privileges "
                                "of pg_read_server_files and pg_write_server_files."));
}

// The call site of this call, made on its first call.
CallSite *callSiteOf(FunctionCallInfo fcinfo, tessel::Kind kind) {
    FmgrInfo *flinfo = fcinfo->flinfo;
    if (flinfo->fn_extra != nullptr) return static_cast<CallSite *>(flinfo->fn_extra);
    const tessel::RoutineInfo *row = routineOf(flinfo->fn_oid, kind);
    const int32 codePage = tesselpg::databaseCodePage();
    checkFileRoles(*row);
    auto *cs = static_cast<CallSite *>(MemoryContextAllocZero(flinfo->fn_mcxt, sizeof(CallSite)));
    char error[256];
    cs->site = tesselpg::createSite(*row, codePage, error, sizeof error);
    if (cs->site == nullptr)
        TESSEL_REPORT(ERROR, errcode(ERRCODE_EXTERNAL_ROUTINE_EXCEPTION), errmsg("%s", error));
    cs->row = row;
    cs->reset.func = endCallSite;
    cs->reset.arg = cs;
    MemoryContextRegisterResetCallback(flinfo->fn_mcxt, &cs->reset);
    flinfo->fn_extra = cs;
    return cs;
}

// ---- Arguments ---------------------------------------------------------------------------

// The call's arguments as the routine's inputs. (The library itself refuses external entities
// unless tessel.external_entities is on.)
void argumentsOf(FunctionCallInfo fcinfo, const tessel::RoutineInfo &row, tesselpg::Arg *args) {
    for (int i = 0; i < row.count; ++i) {
        if (PG_ARGISNULL(i)) {
            args[i] = tesselpg::Arg{nullptr, 0, true};
            continue;
        }
        text *value = PG_GETARG_TEXT_PP(i);
        args[i] = tesselpg::Arg{VARDATA_ANY(value), VARSIZE_ANY_EXHDR(value), false};
    }
}

// ---- Status ------------------------------------------------------------------------------

int errcodeOf(const char *sqlstate) {
    for (int i = 0; i < 5; ++i)
        if (!((sqlstate[i] >= '0' && sqlstate[i] <= '9') ||
              (sqlstate[i] >= 'A' && sqlstate[i] <= 'Z')))
            return ERRCODE_INTERNAL_ERROR;
    return MAKE_SQLSTATE(sqlstate[0], sqlstate[1], sqlstate[2], sqlstate[3], sqlstate[4]);
}

// Reports the routine's state with its message text, and the whole message as the detail when
// the routine cut it to fit (unless it is not valid text in the database encoding).
void raise(int level, const CallSite *cs, const tesselpg::Outcome &out) {
    const bool whole = out.whole != nullptr &&
                       pg_verifymbstr(out.whole, static_cast<int>(strlen(out.whole)), true);
    if (out.message[0] != '\0' && whole)
        TESSEL_REPORT(level, errcode(errcodeOf(out.sqlstate)), errmsg_internal("%s", out.message),
                      errdetail_internal("%s", out.whole));
    else if (out.message[0] != '\0')
        TESSEL_REPORT(level, errcode(errcodeOf(out.sqlstate)), errmsg_internal("%s", out.message));
    else
        TESSEL_REPORT(level, errcode(errcodeOf(out.sqlstate)),
                      errmsg_internal("%s ended with SQLSTATE %s", cs->row->name, out.sqlstate));
}

// An error ends the query; a warning is reported once per call site.
void report(CallSite *cs, const tesselpg::Outcome &out) {
    if (out.failed()) {
        raise(ERROR, cs, out);
        pg_unreachable();
    }
    if (out.warning() && !cs->warned) {
        cs->warned = true;
        raise(WARNING, cs, out);
    }
}

// ---- Results -----------------------------------------------------------------------------

} // namespace

bool tesselpg::datetimeOf(tessel::SqlType type, const char *text, size_t length, Datum *result) {
    char buffer[MAXDATELEN + 1];
    char workbuf[MAXDATELEN + MAXDATEFIELDS];
    char *field[MAXDATEFIELDS];
    int ftype[MAXDATEFIELDS];
    int nf = 0, dtype = 0, tz = 0;
    pg_tm tm;
    fsec_t fsec = 0;
    if (length > MAXDATELEN || memchr(text, '\0', length) != nullptr) return false;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    if (ParseDateTime(buffer, workbuf, sizeof workbuf, field, ftype, MAXDATEFIELDS, &nf) != 0)
        return false;
    if (type == tessel::SqlType::TIME) {
        TimeADT time;
        if (DecodeTimeOnly(field, ftype, nf, &dtype, &tm, &fsec, &tz) != 0 || dtype != DTK_TIME ||
            tm2time(&tm, fsec, &time) != 0)
            return false;
        *result = TimeADTGetDatum(time);
        return true;
    }
    if (DecodeDateTime(field, ftype, nf, &dtype, &tm, &fsec, &tz) != 0 || dtype != DTK_DATE)
        return false;
    if (type == tessel::SqlType::DATE) {
        if (!IS_VALID_JULIAN(tm.tm_year, tm.tm_mon, tm.tm_mday)) return false;
        const DateADT date = date2j(tm.tm_year, tm.tm_mon, tm.tm_mday) - POSTGRES_EPOCH_JDATE;
        if (!IS_VALID_DATE(date)) return false;
        *result = DateADTGetDatum(date);
        return true;
    }
    Timestamp stamp;
    if (tm2timestamp(&tm, fsec, nullptr, &stamp) != 0 || !IS_VALID_TIMESTAMP(stamp)) return false;
    *result = TimestampGetDatum(stamp);
    return true;
}

namespace {

// The value of a successful call. A DATE, TIME or TIMESTAMP text that is no such value gives
// NULL, with a warning once per call site.
Datum valueOf(FunctionCallInfo fcinfo, CallSite *cs, const tesselpg::Outcome &out) {
    if (out.isNull) {
        fcinfo->isnull = true;
        return Datum(0);
    }
    const tessel::SqlType type = cs->row->result;
    switch (type) {
    case tessel::SqlType::DOUBLE:
        return Float8GetDatum(out.dbl);
    case tessel::SqlType::REAL:
        return Float4GetDatum(out.real);
    case tessel::SqlType::INTEGER:
        return Int32GetDatum(out.integer);
    case tessel::SqlType::SMALLINT:
        return Int16GetDatum(out.smallint);
    case tessel::SqlType::DATE:
    case tessel::SqlType::TIME:
    case tessel::SqlType::TIMESTAMP: {
        Datum value;
        if (tesselpg::datetimeOf(type, out.text, out.textLength, &value)) return value;
        if (!cs->badValue) {
            cs->badValue = true;
            TESSEL_REPORT(WARNING, errcode(ERRCODE_INVALID_DATETIME_FORMAT),
                          errmsg("%s returned \"%.*s\", which is not a %s: the value is NULL",
                                 cs->row->name, static_cast<int>(out.textLength), out.text,
                                 tessel::sqlTypeName(type)));
        }
        fcinfo->isnull = true;
        return Datum(0);
    }
    default:
        if (out.textLength > MaxAllocSize - VARHDRSZ)
            TESSEL_REPORT(ERROR, errcode(ERRCODE_PROGRAM_LIMIT_EXCEEDED),
                          errmsg("%s returned a value too long for text", cs->row->name));
        if (!pg_verifymbstr(out.text, static_cast<int>(out.textLength), true))
            TESSEL_REPORT(ERROR, errcode(ERRCODE_CHARACTER_NOT_IN_REPERTOIRE),
                          errmsg("%s returned text that is not valid in encoding \"%s\"",
                                 cs->row->name, GetDatabaseEncodingName()));
        return PointerGetDatum(
            cstring_to_text_with_len(out.text, static_cast<int>(out.textLength)));
    }
}

// ---- Table routines ----------------------------------------------------------------------

// The scan ended before the table did (LIMIT, a rescan, the end of the query): CLOSE.
void closeAtScanEnd(Datum arg) {
    auto *cs = reinterpret_cast<CallSite *>(DatumGetPointer(arg));
    cs->closeOn = nullptr;
    if (cs->site == nullptr) return;
    tesselpg::Outcome ignored;
    tesselpg::closeTable(*cs->site, ignored);
}

void forgetScanEnd(CallSite *cs) {
    if (cs->closeOn == nullptr) return;
    UnregisterExprContextCallback(cs->closeOn, closeAtScanEnd, PointerGetDatum(cs));
    cs->closeOn = nullptr;
}

Datum endOfTable(FunctionCallInfo fcinfo, CallSite *cs, ReturnSetInfo *rsi) {
    tesselpg::Outcome closed;
    tesselpg::closeTable(*cs->site, closed);
    forgetScanEnd(cs);
    report(cs, closed);
    rsi->isDone = ExprEndResult;
    fcinfo->isnull = true;
    return Datum(0);
}

} // namespace

// ---- Entry points ------------------------------------------------------------------------

extern "C" Datum tessel_scalar(PG_FUNCTION_ARGS) {
    CHECK_FOR_INTERRUPTS();
    CallSite *cs = callSiteOf(fcinfo, tessel::Kind::SCALAR);
    tesselpg::Arg args[3];
    argumentsOf(fcinfo, *cs->row, args);
    tesselpg::Outcome out;
    tesselpg::callScalar(*cs->site, args, out);
    report(cs, out);
    return valueOf(fcinfo, cs, out);
}

// Value per call: the first call of a scan makes FIRST (once per call site) and OPEN, every
// call one FETCH; the end of the table, or of the scan, makes CLOSE.
extern "C" Datum tessel_table(PG_FUNCTION_ARGS) {
    CHECK_FOR_INTERRUPTS();
    auto *rsi = reinterpret_cast<ReturnSetInfo *>(fcinfo->resultinfo);
    if (rsi == nullptr || !IsA(rsi, ReturnSetInfo) || (rsi->allowedModes & SFRM_ValuePerCall) == 0)
        TESSEL_REPORT(ERROR, errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
                      errmsg("set-valued function called in context that cannot accept a set"));
    CallSite *cs = callSiteOf(fcinfo, tessel::Kind::TABLE);
    tesselpg::Outcome out;
    if (!tesselpg::tableOpen(*cs->site)) {
        tesselpg::Arg args[3];
        argumentsOf(fcinfo, *cs->row, args);
        tesselpg::openTable(*cs->site, args, out);
        if (out.endOfTable()) return endOfTable(fcinfo, cs, rsi);
        report(cs, out);
        RegisterExprContextCallback(rsi->econtext, closeAtScanEnd, PointerGetDatum(cs));
        cs->closeOn = rsi->econtext;
    }
    tesselpg::fetchRow(*cs->site, out);
    if (out.endOfTable()) return endOfTable(fcinfo, cs, rsi);
    if (out.failed()) forgetScanEnd(cs); // the failed fetch closed the table
    report(cs, out);
    rsi->isDone = ExprMultipleResult;
    return valueOf(fcinfo, cs, out);
}

// SELECT tessel_version(): the version of the module the server has loaded.
extern "C" Datum tessel_version(PG_FUNCTION_ARGS) {
    PG_RETURN_TEXT_P(cstring_to_text(TESSEL_VERSION));
}

void _PG_init(void) {
    // The allowed directories tell where the server's files lie: only superusers (and members of
    // pg_read_all_settings) see them. The other settings tell nothing a call would not.
    DefineCustomStringVariable(
        "tessel.read_access", "Directories whose files Tessel's routines may read.",
        "A list of directories separated by semicolons, or ANY for every file; empty allows none.",
        &readAccess, "", PGC_SUSET, GUC_SUPERUSER_ONLY, nullptr, assignReadAccess, nullptr);
    DefineCustomStringVariable(
        "tessel.write_access", "Directories whose files Tessel's routines may write.",
        "A list of directories separated by semicolons, or ANY for every file; empty allows none.",
        &writeAccess, "", PGC_SUSET, GUC_SUPERUSER_ONLY, nullptr, assignWriteAccess, nullptr);
    DefineCustomBoolVariable(
        "tessel.external_entities", "Lets documents given as arguments declare external entities.",
        "The parser reads such entities from the server's files.", &externalEntities, false,
        PGC_SUSET, 0, nullptr, assignExternalEntities, nullptr);
    DefineCustomIntVariable(
        "tessel.max_parse_memory", "The memory one parse of a Tessel routine may hold.",
        "A parse that needs more fails with SQLSTATE 38X13; 0 sets no limit.", &maxParseMemoryKb,
        256 * 1024, 0, INT_MAX, PGC_SUSET, GUC_UNIT_KB, nullptr, assignMaxParseMemory, nullptr);
    MarkGUCPrefixReserved("tessel");
    CacheRegisterSyscacheCallback(PROCOID, forgetRoutines, Datum(0));
    on_proc_exit([](int, Datum) { tesselpg::releaseSites(); }, Datum(0));
    tesselpg::prepareProcess(DataDir);
    tarnSetCancelCheck(cancelPending);
}
