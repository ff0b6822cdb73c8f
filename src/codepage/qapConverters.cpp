// The converters of a routine context, the table of encoding names handed to the parser, and
// the look-up of a code page's encoding name.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unicode/ustring.h>

namespace {

// ICU's platform value for CCSID-based converter names.
constexpr UConverterPlatform kCcsidPlatform = static_cast<UConverterPlatform>(0);

// The database code page some hosts report for EUC-JP, and the CCSID it is converted with.
constexpr int32_t kEucjpHostCp = 954;
constexpr int32_t kEucjpCcsid = 33722;

std::string deriveVendorPrefix() {
    UErrorCode status = U_ZERO_ERROR;
    UConverter *cnv = qapKeepOpened(ucnv_openCCSID(37, kCcsidPlatform, &status), &status);
    std::string prefix;
    if (cnv != nullptr) {
        UErrorCode nameStatus = U_ZERO_ERROR;
        const char *name = ucnv_getName(cnv, &nameStatus);
        if (name != nullptr && U_SUCCESS(nameStatus)) {
            const char *dash = strchr(name, '-');
            prefix.assign(name, dash != nullptr ? static_cast<size_t>(dash - name) : strlen(name));
        }
        ucnv_close(cnv);
    }
    return prefix;
}

// The prefix under which ICU lists converters by CCSID, asked from ICU once.
const std::string &vendorPrefix() {
    static const std::string prefix = deriveVendorPrefix();
    return prefix;
}

// "<prefix>-<ccsid>", the name ICU lists a CCSID under.
std::string vendorName(int32_t ccsid) {
    return vendorPrefix() + "-" + std::to_string(ccsid);
}

std::u16string toU16(const std::string &ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The encoding table with its vendor names filled in; built once.
struct EncodingTable {
    std::vector<std::u16string> names;
    std::vector<QapEncodingRow> rows;

    EncodingTable() {
        const std::string &p = vendorPrefix();
        const std::pair<int32_t, std::string> entries[] = {
            {1208, "UTF-8"},     {-1, "UTF-16"},      {367, "us-ascii"},   {819, "iso-8859-1"},
            {850, p + "850"},    {1252, p + "-1252"}, {1250, p + "-1250"}, {1251, p + "-1251"},
            {1254, p + "-1254"}, {1255, p + "-1255"}, {1256, p + "-1256"}, {1257, p + "-1257"},
            {37, p + "037"},     {1383, "GB2312"},    {943, "Shift_JIS"},  {932, "Shift_JIS"},
            {950, "Big5"},       {970, "EUC-KR"},     {954, "EUC-JP"},     {33722, "EUC-JP"},
            {970, "EUC-KR"}, // never reached: the first 970 row wins
            {964, "EUC-TW"},     {912, "iso-8859-2"}, {915, "iso-8859-5"}, {1089, "iso-8859-6"},
            {813, "iso-8859-7"}, {916, "iso-8859-8"}, {920, "iso-8859-9"}, {1046, "cp1046"},
        };
        for (const auto &e : entries)
            names.push_back(toU16(e.second));
        size_t i = 0;
        for (const auto &e : entries)
            rows.push_back({e.first, names[i++].c_str()});
        rows.push_back({-2, nullptr});
    }
};

} // namespace

const QapEncodingRow *qapEncodingTable() {
    static const EncodingTable table;
    return table.rows.data();
}

UConverter *qapOpenConverter(int32_t ccsid, UErrorCode *status) {
    // These double-byte code pages are opened by a particular table variant (the one whose
    // single bytes are ASCII). ICU 72 carries it under a later name, which is tried next; only
    // then is the CCSID's own converter used.
    const char *suffix = nullptr, *later = nullptr;
    switch (ccsid) {
    case 942:
        suffix = "_P12A_2000", later = "ibm-942_P12A-1999";
        break;
    case 943:
        suffix = "_P14A_2000", later = "ibm-943_P15A-2003";
        break;
    case 949:
        suffix = "_P11A-2000", later = "ibm-949_P11A-1999";
        break;
    case 1363:
        suffix = "_P11B_2000", later = "ibm-1363_P11B-1998";
        break;
    default:
        break;
    }
    if (suffix != nullptr) {
        const std::string names[] = {vendorName(ccsid) + suffix, later};
        for (const std::string &name : names) {
            UErrorCode named = U_ZERO_ERROR;
            if (UConverter *cnv = qapOpenNamed(name.c_str(), &named)) {
                *status = U_ZERO_ERROR;
                return cnv;
            }
        }
    }
    return qapKeepOpened(ucnv_openCCSID(ccsid, kCcsidPlatform, status), status);
}

UConverter *qapKeepOpened(UConverter *cnv, UErrorCode *status) {
    *status = qapOpenStatus(*status);
    if (cnv != nullptr && *status == U_ZERO_ERROR) return cnv;
    if (cnv != nullptr) ucnv_close(cnv);
    return nullptr;
}

UConverter *qapOpenNamed(const char *name, UErrorCode *status) {
    *status = U_ZERO_ERROR;
    return qapKeepOpened(ucnv_open(name, status), status);
}

int32_t qapInitIcu(QapRoutineCtx *ctx, uint32_t callerKind, const void *dbinfo,
                   const char *appEncoding) {
    static const char fn[] = "initICU";
    QAP_TRACE(ctx, fn, "entered\n");
    if (ctx == nullptr || ctx->convInfo == nullptr) return -1;
    if (callerKind != 0) {
        // Only SQL functions call this library; other callers are not served.
        QAP_TRACE(ctx, fn, "unsupported caller kind %u\n", callerKind);
        return -1;
    }
    QapConvInfo *ci = ctx->convInfo;

    const char *appName = appEncoding != nullptr ? appEncoding : ucnv_getDefaultName();
    ci->dbCodePage = qapDbCodePage(dbinfo);
    if (ci->dbCodePage == kEucjpHostCp) ci->dbCodePage = kEucjpCcsid;
    if (appName == nullptr) {
        QAP_TRACE(ctx, fn, "unable to ucnv_getDefaultName\n");
        return -1;
    }

    UErrorCode status = U_ZERO_ERROR;
    UConverter *app = qapOpenNamed(appName, &status);
    if (app == nullptr) {
        QAP_TRACE(ctx, fn, "unable to open app icu converter %s for UDF case\n", appName);
        return -1;
    }
    ci->appConv = app;
    status = U_ZERO_ERROR;
    ci->appCodePage = ucnv_getCCSID(app, &status);
    if (status != U_ZERO_ERROR) ci->appCodePage = -1; // ICU knows no CCSID for it
    QAP_TRACE(ctx, fn, "app code page %d, db code page %d\n", ci->appCodePage, ci->dbCodePage);

    int32_t result = 0;
    if (ci->appCodePage == ci->dbCodePage) {
        ci->dbConv = ci->appConv;
    } else {
        status = U_ZERO_ERROR;
        UConverter *db = qapOpenConverter(ci->dbCodePage, &status);
        if (db == nullptr) {
            QAP_TRACE(ctx, fn, "unable to open icu converter for db codepage %d\n", ci->dbCodePage);
            result = -1;
        } else {
            ci->dbConv = db;
        }
    }
    QAP_TRACE(ctx, fn, "got icu converters db conv = %p, app conv = %p\n",
              static_cast<void *>(ci->dbConv), static_cast<void *>(ci->appConv));
    return result;
}

int32_t qapGetEncoding(QapRoutineCtx *ctx, int32_t codePage, XMLCh *out, int32_t capacity,
                       QapStatus err) {
    static const char fn[] = "QAP_getEncoding";
    QAP_TRACE(ctx, fn, "Entered.\n");
    if (out != nullptr && capacity > 0) out[0] = 0;
    int32_t result = -1;

    for (const QapEncodingRow *row = qapEncodingTable(); row->codePage != -2; ++row) {
        if (row->codePage != codePage) continue;
        if (out != nullptr && capacity > 0) {
            u_strncpy(out, row->name, capacity - 1);
            out[capacity - 1] = 0;
        }
        result = 0;
        break;
    }

    if (result != 0) {
        std::string vendor = vendorName(codePage);
        UErrorCode status = U_ZERO_ERROR;
        const char *dbName = nullptr;
        if (ctx != nullptr && ctx->convInfo != nullptr && ctx->convInfo->dbConv != nullptr)
            dbName = ucnv_getName(ctx->convInfo->dbConv, &status);
        if (dbName == nullptr || status != U_ZERO_ERROR) {
            QAP_TRACE(ctx, fn, "no icu name for %s\n", vendor.c_str());
            char number[16];
            snprintf(number, sizeof number, "%d", codePage);
            qapSetError(ctx, err, QAPG008E, number);
            QAP_TRACE(ctx, fn, "msgtext=%s, codepage=%d\n",
                      err.msgtext != nullptr ? err.msgtext : "", codePage);
            result = -1;
            QAP_TRACE(ctx, fn, "errCode = %d, sqlstate=%s\n", result,
                      err.sqlstate != nullptr ? err.sqlstate : "");
        } else {
            UErrorCode stdStatus = U_ZERO_ERROR;
            const char *name = ucnv_getStandardName(vendor.c_str(), "MIME", &stdStatus);
            if (name == nullptr || U_FAILURE(stdStatus)) {
                stdStatus = U_ZERO_ERROR;
                name = ucnv_getStandardName(vendor.c_str(), "IANA", &stdStatus);
            }
            if (name == nullptr || U_FAILURE(stdStatus)) name = vendor.c_str();
            QAP_TRACE(ctx, fn, "icu name %s\n", name);
            // Converter names are invariant ASCII, whatever the database code page.
            if (out != nullptr && capacity > 0) {
                int32_t len = static_cast<int32_t>(strlen(name));
                if (len > capacity - 1) len = capacity - 1;
                u_charsToUChars(name, out, len);
                out[len] = 0;
            }
            result = 0;
        }
    }
    QAP_TRACE(ctx, fn, "Exit, %x %x %x %x errCode = %d\n",
              out != nullptr && capacity > 0 ? out[0] : 0u,
              out != nullptr && capacity > 1 && out[0] ? out[1] : 0u,
              out != nullptr && capacity > 2 && out[0] && out[1] ? out[2] : 0u,
              out != nullptr && capacity > 3 && out[0] && out[1] && out[2] ? out[3] : 0u, result);
    return result;
}

int32_t qapDbCodePage(const void *dbinfo) {
    if (dbinfo == nullptr) return 0;
    int32_t codePage;
    memcpy(&codePage, static_cast<const char *>(dbinfo) + SQLUDF_DBINFO_CODEPAGE_OFFSET,
           sizeof codePage);
    return codePage;
}

int32_t qapDbEncoding(QapRoutineCtx *ctx, XMLCh *out, int32_t capacity, QapStatus err) {
    const QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    const int32_t rc = qapGetEncoding(ctx, ci != nullptr ? ci->dbCodePage : 0, out, capacity, err);
    if (rc != 0 || ci == nullptr || ci->dbConv == nullptr) return rc;
    UErrorCode status = U_ZERO_ERROR;
    const char *name = ucnv_getName(ci->dbConv, &status);
    const int32_t length = name != nullptr ? static_cast<int32_t>(strlen(name)) : 0;
    if (U_SUCCESS(status) && length > 0 && length < capacity)
        u_charsToUChars(name, reinterpret_cast<UChar *>(out), length + 1);
    return 0;
}
