// Calling the scalar extract routines as the host does, for the tests of test_routines.cpp and
// test_routine_values.cpp: each result kind's members, their arguments from each document
// source, one statement of one call, and the texts their messages carry.
#pragma once

#include "tarnCall.h"
#include "tarnTestHooks.h"
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace tesseltest {

using tarn::Input;
using tarn::Outcome;
using tarn::SqlType;

enum class Src { FILE, VARCHAR, CLOB };
const std::initializer_list<Src> kAllSources = {Src::FILE, Src::VARCHAR, Src::CLOB};

inline const char *srcName(Src s) {
    return s == Src::FILE ? "file" : s == Src::VARCHAR ? "VARCHAR" : "CLOB";
}

// One result kind with its three members (file, VARCHAR, CLOB), named after its output type:
// "Varchar", "Varchar2", ... from the scalar extract rows of the catalogue.
struct Member {
    std::string kind;
    SqlType out;
    bool dtd;
    std::string name[3];
};

inline const std::vector<Member> &members() {
    static const std::vector<Member> all = [] {
        std::vector<Member> m;
        for (const tessel::RoutineInfo &r : tessel::kCatalog) {
            if (std::string(r.family) != "qapExtractScalar" || r.source != tessel::Source::FILE)
                continue;
            const std::string kind = std::string(r.name).substr(10); // after "qapExtract"
            const bool dtd = r.count == 3;
            const std::string base = dtd ? kind.substr(0, kind.size() - 1) : kind;
            const std::string suffix = dtd ? "2" : "";
            m.push_back(Member{kind,
                               r.result,
                               dtd,
                               {r.name, "qapExtract" + base + "FromVarchar" + suffix,
                                "qapExtract" + base + "FromClob" + suffix}});
        }
        return m;
    }();
    return all;
}

inline const Member &member(const std::string &kind) {
    for (const Member &m : members())
        if (kind == m.kind) return m;
    throw std::invalid_argument("no member " + kind);
}

inline tarn::RoutineDesc descOf(const Member &m, Src s) {
    return tesseltest::routine(m.name[static_cast<int>(s)]);
}

// The document argument: the text itself, or the name of a new file holding it.
inline std::string docArg(Src s, const std::string &doc) {
    static int counter = 0;
    if (s != Src::FILE) return doc;
    return tesseltest::writeFile("doc" + std::to_string(++counter) + ".xml", doc);
}

const char *const kNoDtd = "<!ENTITY unused 'u'>";

inline std::vector<Input> argsOf(const Member &m, const std::string &doc, const std::string &path,
                                 const std::string &dtd = kNoDtd) {
    std::vector<Input> in{Input(doc)};
    if (m.dtd) in.emplace_back(dtd);
    in.emplace_back(path);
    return in;
}

// One statement with one call (first call, then the final call).
inline Outcome once(const std::string &kind, Src s, const std::string &doc, const std::string &path,
                    int32_t db = 1208, const std::string &dtd = kNoDtd) {
    const Member &m = member(kind);
    tarn::ScalarStatement st(descOf(m, s), db);
    Outcome o = st.call(argsOf(m, docArg(s, doc), path, dtd));
    Outcome fin = st.finish();
    EXPECT_TRUE(fin.isNull());
    EXPECT_EQ(fin.sqlstate, "00000");
    return o;
}

// The SQLSTATE and the value ("" for NULL) of one call from each of the sources.
inline void expectValue(const char *kind, const std::string &doc, const std::string &path,
                        const char *state, const std::string &value,
                        std::initializer_list<Src> sources = kAllSources, int32_t db = 1208,
                        const std::string &dtd = kNoDtd) {
    for (Src s : sources) {
        SCOPED_TRACE(std::string(kind) + " " + doc.substr(0, 200) + " " + path + " from " +
                     srcName(s));
        Outcome o = once(kind, s, doc, path, db, dtd);
        EXPECT_EQ(o.sqlstate, state) << o.message;
        EXPECT_EQ(o.text, value);
        EXPECT_EQ(o.isNull(), value.empty());
    }
}

// The value of an outcome as text: "NULL", the text, or the number.
inline std::string shown(const Outcome &o, SqlType t) {
    char n[32];
    snprintf(n, sizeof n, "%g", t == SqlType::DOUBLE ? o.dbl : static_cast<double>(o.real));
    return o.isNull()                                   ? "NULL"
           : t == SqlType::INTEGER                      ? std::to_string(o.integer)
           : t == SqlType::SMALLINT                     ? std::to_string(o.smallint)
           : t == SqlType::DOUBLE || t == SqlType::REAL ? n
                                                        : o.text;
}

// A message as a routine receives it: at most 70 characters, the last one a newline.
inline std::string routineText(const std::string &full) {
    if (full.size() < 70) return full + "\n";
    size_t n = 69; // never inside a UTF-8 character
    while (n > 0 && (static_cast<unsigned char>(full[n]) & 0xC0) == 0x80)
        --n;
    return full.substr(0, n) + "\n";
}

const std::string kMsgTooLong =
    "QAPC013E  The results of the extract UDF exceed the size limit for the UDF return type.";
const std::string kMsgNotFound = "QAPD003W  Path not found.  Null is returned.";
const std::string kMsgBadFormat = "QAPQ061E  The format of the string is invalid.";

inline std::string syntaxError(int position) {
    return "QAPD002E  A syntax error occurred near position " + std::to_string(position) +
           " in the search path.";
}

inline std::string lobError(int rc) {
    return "QAPC004E  Unable to operate the LOB Locator: rc=" + std::to_string(rc) + ".";
}

// Text in a code page, converted by ICU from UTF-8 (platform 0: the CCSID naming).
inline std::string inCodePage(int32_t ccsid, const std::string &utf8) {
    UErrorCode st = U_ZERO_ERROR;
    std::vector<UChar> u(utf8.size() + 1);
    int32_t n = 0;
    u_strFromUTF8(u.data(), static_cast<int32_t>(u.size()), &n, utf8.c_str(), -1, &st);
    UConverter *cnv = ucnv_openCCSID(ccsid, static_cast<UConverterPlatform>(0), &st);
    std::string out(4 * utf8.size() + 4, '\0');
    const int32_t len =
        ucnv_fromUChars(cnv, &out[0], static_cast<int32_t>(out.size()), u.data(), n, &st);
    ucnv_close(cnv);
    EXPECT_TRUE(U_SUCCESS(st)) << u_errorName(st);
    out.resize(static_cast<size_t>(len));
    return out;
}

class Routines : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    void TearDown() override {
        tarnLobFailAfter(-1, 0);
        EXPECT_TRUE(tesseltest::listDir(tesseltest::tempDir()).empty())
            << "a temporary file outlived its call";
    }
};

} // namespace tesseltest
