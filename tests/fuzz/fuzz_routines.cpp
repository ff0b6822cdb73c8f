// libFuzzer targets over the routines and their conversions, one per FUZZ_* definition (see
// CMakeLists.txt). The routine targets take a selector byte, then NUL-separated inputs with the
// document last; a call that succeeds is made again on the same statement (an error ends a
// statement) and must give the same outcome, with a message text of at most 70 bytes.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapInit.h"
#include "qapExtractKinds.h"
#include "tarnCall.h"
#include "tessel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unistd.h>
#include <vector>

namespace {

std::string gDir; // TARNQAPPATH and TARNQAPTEMP of the run, removed at exit

bool validUtf8(const std::string &s) {
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(nullptr, 0, nullptr, s.data(), static_cast<int32_t>(s.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

void check(bool ok) {
    if (!ok) abort();
}

// Valid UTF-8 inputs (the database code page) give valid UTF-8 out.
void same(const tarn::Outcome &a, const tarn::Outcome &b, bool utf8) {
    check(a.sqlstate == b.sqlstate && a.message == b.message && a.nullInd == b.nullInd &&
          a.text == b.text && a.integer == b.integer && a.smallint == b.smallint &&
          (a.dbl == b.dbl || (std::isnan(a.dbl) && std::isnan(b.dbl))));
    check(a.message.size() <= 70 && (!utf8 || (validUtf8(a.message) && validUtf8(a.text))));
}

// The first n - 1 NUL-ended pieces, then the rest.
std::vector<tarn::Input> split(const uint8_t *data, size_t size, size_t n) {
    std::string all(reinterpret_cast<const char *>(data), size);
    std::vector<tarn::Input> in;
    size_t at = 0;
    while (in.size() + 1 < n) {
        const size_t end = std::min(all.find('\0', at), all.size());
        in.emplace_back(all.substr(at, end - at));
        at = std::min(end + 1, all.size());
    }
    in.emplace_back(all.substr(at));
    return in;
}

struct Entry {
    const char *name;
    void *entry;
};
#define FUZZ_ROUTINE(name)                                                                         \
    Entry {                                                                                        \
#name, reinterpret_cast < void *>(&name)                                                   \
    }

// Runs routine data[0] % count of the list on the rest of the input, twice on one statement.
[[maybe_unused]] void runRoutine(const Entry *list, size_t count, const uint8_t *data,
                                 size_t size) {
    if (size == 0) return;
    const Entry &e = list[data[0] % count];
    tarn::RoutineDesc desc = tarn::RoutineDesc::of(*tessel::findRoutine(e.name), e.entry);
    std::vector<tarn::Input> in = split(data + 1, size - 1, desc.inputs.size());
    std::rotate(in.begin(), in.end() - 1, in.end()); // the document first
    const bool utf8 = std::all_of(in.begin(), in.end(), [](auto &i) { return validUtf8(i.text); });
    if (desc.table) {
        tarn::TableStatement st(desc);
        tarn::TableRun a = st.run(in);
        tarn::TableRun b = a.end.failed() ? a : st.run(in);
        check(a.rows.size() == b.rows.size());
        for (size_t i = 0; i < a.rows.size(); ++i)
            same(a.rows[i], b.rows[i], utf8);
        same(a.end, b.end, utf8);
    } else {
        tarn::ScalarStatement st(desc);
        tarn::Outcome a = st.call(in);
        same(a, a.failed() ? a : st.call(in), utf8);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char dir[] = "/tmp/tessel-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    gDir = dir;
    atexit([] { rmdir(gDir.c_str()); });
    setenv("TARNINSTANCE", "tesselfuzz", 1);
    setenv("TARNQAPPATH", dir, 1);
    setenv("TARNQAPTEMP", dir, 1);
    unsetenv("TARN_READ_ACCESS");
    unsetenv("TARN_WRITE_ACCESS");
    ucnv_setDefaultName("UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
#if defined(FUZZ_EXTRACT)
    static const Entry list[] = {
        FUZZ_ROUTINE(qapExtractVarcharFromVarchar),   FUZZ_ROUTINE(qapExtractClobFromVarchar),
        FUZZ_ROUTINE(qapExtractVarcharFromClob),      FUZZ_ROUTINE(qapExtractDoubleFromVarchar),
        FUZZ_ROUTINE(qapExtractTimestampFromVarchar), FUZZ_ROUTINE(qapExtractVarcharFromVarchar2),
        FUZZ_ROUTINE(qapExtractVarcharsFromVarchar),  FUZZ_ROUTINE(qapExtractClobsFromClob),
        FUZZ_ROUTINE(qapExtractIntegersFromClob)};
    runRoutine(list, std::size(list), data, size);
#elif defined(FUZZ_UPDATE)
    static const Entry list[] = {FUZZ_ROUTINE(qapUpdateXMLVarchar), FUZZ_ROUTINE(qapUpdateXMLClob)};
    runRoutine(list, std::size(list), data, size);
#elif defined(FUZZ_VALIDATE)
    static const Entry list[] = {FUZZ_ROUTINE(qapValidateVarchar2), FUZZ_ROUTINE(qapValidateClob2)};
    runRoutine(list, std::size(list), data, size);
#elif defined(FUZZ_XMLDECL)
    // Database and application code pages by the first byte; the rest is the document.
    static const std::pair<int32_t, const char *> pages[] = {
        {1208, "UTF-16BE"}, {1208, "ISO-8859-1"}, {1208, "windows-1252"},
        {943, "UTF-8"},     {1200, "UTF-16LE"},   {819, "Shift_JIS"}};
    if (size == 0) return 0;
    const auto &page = pages[data[0] % std::size(pages)];
    unsigned char dbinfo[1024] = {};
    memcpy(dbinfo + 268, &page.first, sizeof page.first);
    QapRoutineCtx ctx{};
    char sqlstate[kSqlstateSize] = "00000", msgtext[kMsgTextSize] = "";
    check(qapInit(&ctx, 0, dbinfo, {sqlstate, msgtext}, page.second) == 0);
    const int32_t length = static_cast<int32_t>(size - 1);
    std::vector<char> in(data + 1, data + size), out(3 * (size_t(length) + 1));
    const int32_t n = qapConvBufferTarnToAppEncoding(
        &ctx, in.data(), length, out.data(), static_cast<int32_t>(out.size()), {sqlstate, msgtext});
    check(n == -1 ? strcmp(sqlstate, "00000") != 0 : n < int32_t(out.size()) && out[n] == '\0');
    qapRelease(&ctx, sqlstate);
#elif defined(FUZZ_NUMBERS)
    // The text as a number (both conversions agree when qapAtof takes it) and as a timestamp
    // (a taken one is written in the one layout).
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string copy = text.substr(0, text.find('\0'));
    int32_t err = 0;
    const double d = qapAtof(copy.data(), &err);
    check(err != 0 || (std::isfinite(d) && d == strtod(text.c_str(), nullptr)));
    std::vector<char> stamp(27, '0');
    stamp[26] = '\0';
    if (qapNormalTstamp(nullptr, text.data(), static_cast<int32_t>(size), stamp.data()) == 0) {
        const char *layout = "dddd-dd-ddsdd:dd:dd.dddddd";
        for (int i = 0; i < 26; ++i)
            check(layout[i] == 'd'   ? isdigit(static_cast<unsigned char>(stamp[i])) != 0
                  : layout[i] == 's' ? stamp[i] == '-' || stamp[i] == ' '
                  : layout[i] == ':' ? stamp[i] == '.' || stamp[i] == ':'
                                     : stamp[i] == layout[i]);
        check(stamp[26] == '\0');
    }
#endif
    return 0;
}
