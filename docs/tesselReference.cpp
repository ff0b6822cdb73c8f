// Prints docs/routines.md, the reference of every routine, from the routine catalogue: its SQL
// calls in SQLite and PostgreSQL, its document, the server files it names, its markings and the
// SQLSTATEs it can end with. The states follow from the row (family, kind, source, result,
// inputs), so a new row needs nothing here.
#include "tesselCatalog.h"
#include "tesselPgTypes.h"
#include "tesselVersion.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

using tessel::Input;
using tessel::RoutineInfo;
using tessel::Source;
using tessel::SqlType;

namespace {

struct State {
    const char *code;
    const char *meaning;
};

// Every state a routine can end with, and when.
constexpr State kStates[] = {
    {"00000", "success (also a NULL result: an empty value, a NULL argument where allowed)"},
    {"01HX0", "warning: the path matches nothing; the result is NULL"},
    {"02000", "end of the table"},
    {"38X00", "a server file cannot be opened (QAPC000E)"},
    {"38X01", "a server file is missing or not a regular file (QAPC001E)"},
    {"38X02", "the file may not be read (read-access rule), or cannot be read (QAPC002E)"},
    {"38X03", "the file may not be written (write-access rule), or cannot be written (QAPC003E)"},
    {"38X04", "a LOB locator cannot be read or filled (QAPC004E)"},
    {"38X05", "the file is longer than 32672 bytes (QAPC005E)"},
    {"38X06", "the file exceeds the LOB limit of 2000000000 bytes (QAPC006E)"},
    {"38X08", "the path matches more than one value (QAPD001E)"},
    {"38X09",
     "the location path (or the new value) is malformed or cannot be converted (QAPD002E)"},
    {"38X10", "out of memory, or no temporary file can be made (QAPG002E, QAPC012E)"},
    {"38X13", "the document is malformed or invalid, or the parser could not start (QAPQ047E)"},
    {"38X14", "a NULL argument (QAPD000E); for the \"2\" file writers, no well-formed XML "
              "declaration"},
    {"38X16", "a NULL file name or encoding name"},
    {"38X29", "the TIMESTAMP text is malformed (QAPQ061E)"},
    {"38X35", "TARNINSTANCE or TARNQAPPATH unusable: no trace control directory"},
    {"38X38", "the database code page or the encoding name is not supported (QAPG008E)"},
    {"38X39", "a value exceeds the size limit of the result type (QAPC013E)"},
    {"38X45", "the text cannot be converted between code pages, or does not fit (QAPQ055E)"},
    {"57014", "the statement was cancelled, or its time limit passed"},
};

bool has(const RoutineInfo &r, Input in) {
    for (int i = 0; i < r.count; ++i)
        if (r.inputs[i] == in) return true;
    return false;
}

bool family(const RoutineInfo &r, const char *name) {
    return strcmp(r.family, name) == 0;
}

bool extracts(const RoutineInfo &r) {
    return family(r, "qapExtractScalar") || family(r, "qapExtractTable");
}

// A storage routine whose last input names an encoding: its name ends in "2".
bool withEncoding(const RoutineInfo &r) {
    return family(r, "qapStorage") && r.count > 0 && r.name[strlen(r.name) - 1] == '2';
}

std::set<std::string> statesOf(const RoutineInfo &r) {
    if (r.source == Source::NONE) return {"00000"}; // a counter: no context, nothing to fail
    std::set<std::string> s = {"00000", "38X10", "38X13", "38X35", "38X38"};
    const bool reads = has(r, Input::R) || has(r, Input::B);
    const bool writes = has(r, Input::W) || has(r, Input::B);
    if (has(r, Input::C)) s.insert("38X04");
    if (reads) s.insert("38X02");
    if (r.source == Source::FILE) s.insert("38X01"); // the document file is missing
    if (writes) s.insert({"38X00", "38X03"});
    const bool parses = !family(r, "qapStorage");
    if (parses) {
        s.insert("57014");
        // A document file is opened; a long CLOB document is spilled to a temporary file.
        if (r.source == Source::FILE) s.insert("38X00");
        if (r.source == Source::CLOB) s.insert({"38X00", "38X03"});
    }
    if (extracts(r)) {
        s.insert({"38X09", "38X39"});
        if (r.isTable())
            s.insert("02000");
        else
            s.insert({"01HX0", "38X08"});
        if (r.result == SqlType::TIMESTAMP) s.insert("38X29");
    } else if (family(r, "qapUpdateXML")) {
        s.insert({"38X09", "38X39"});
    } else if (family(r, "qapValidateXML")) {
        s.insert("38X14");
        if (r.inputs[1] == Input::R) s.insert("38X00"); // the DTD file is opened first
        // A long VARCHAR document is staged, a long DTD CLOB spilled, to a temporary file.
        if (r.source == Source::VARCHAR || r.inputs[1] == Input::C) s.insert({"38X00", "38X03"});
    } else if (family(r, "qapStorage")) {
        if (reads) s.insert("38X00");
        if (r.result == SqlType::VARCHAR && reads) s.insert("38X05");
        // A CLOB result is a new locator, and a file its code page cannot hold fails it.
        if (r.result == SqlType::CLOB && reads) s.insert({"38X04", "38X06", "38X07"});
        if (writes) s.insert("38X01"); // the target is not a regular file
        s.insert("38X45");
        // qapCLOB answers a NULL file name with a NULL result; the writers of a CLOB, a NULL
        // CLOB likewise.
        if (withEncoding(r) || !(has(r, Input::C) || r.result == SqlType::CLOB)) s.insert("38X16");
        if (withEncoding(r) && writes) s.insert("38X14");
    }
    return s;
}

// The names of the inputs, as the reference shows them.
std::string argumentName(const RoutineInfo &r, int i) {
    const Input in = r.inputs[i];
    if (extracts(r)) {
        if (i == r.count - 1) return "path";
        if (i == 1) return "dtd";
    } else if (family(r, "qapUpdateXML")) {
        if (i > 0) return i == 1 ? "path" : "value";
    } else if (family(r, "qapValidateXML")) {
        if (i == 1) return in == Input::C ? "dtd" : "dtdFile";
        if (i == 2) return "dtdId";
    } else if (in == Input::V && i > 0) {
        return "encoding";
    }
    if (in == Input::R || in == Input::W || in == Input::B) return "file";
    return "doc";
}

std::string lower(const char *s) {
    std::string out;
    for (; *s != '\0'; ++s)
        out += static_cast<char>(*s >= 'A' && *s <= 'Z' ? *s - 'A' + 'a' : *s);
    return out;
}

const char *sqliteType(SqlType t) {
    switch (t) {
    case SqlType::DOUBLE:
    case SqlType::REAL:
        return "REAL";
    case SqlType::INTEGER:
    case SqlType::SMALLINT:
        return "INTEGER";
    default:
        return "TEXT";
    }
}

std::string declared(const RoutineInfo &r) {
    std::string t = tessel::sqlTypeName(r.result);
    if (r.length > 0) t += "(" + std::to_string(r.length) + ")";
    return t;
}

std::string sqliteCall(const RoutineInfo &r) {
    std::string args;
    for (int i = 0; i < r.count; ++i)
        args += (i ? ", " : "") + argumentName(r, i);
    if (r.count == 0) args = "0";
    std::string call = std::string(r.name) + "(" + args + ")";
    if (r.isTable()) return "`SELECT value FROM " + call + "`: `value` " + sqliteType(r.result);
    return "`" + call + "` → " + sqliteType(r.result);
}

std::string pgCall(const RoutineInfo &r) {
    std::string args;
    for (int i = 0; i < r.count; ++i)
        args += i ? ", text" : "text";
    const char *type = tesselpg::pgTypeOf(r.result).name;
    std::string result = r.isTable() ? std::string("TABLE (value ") + type + ")" : type;
    return "`" + lower(r.name) + "(" + args + ") → " + result + "`";
}

const char *sourceText(Source s) {
    switch (s) {
    case Source::FILE:
        return "server file";
    case Source::VARCHAR:
        return "VARCHAR";
    case Source::CLOB:
        return "CLOB";
    default:
        return "none";
    }
}

std::string filesText(const RoutineInfo &r) {
    std::string out;
    for (int i = 0; i < r.count; ++i) {
        const char *what = r.inputs[i] == Input::R   ? "read"
                           : r.inputs[i] == Input::W ? "written"
                           : r.inputs[i] == Input::B ? "read and rewritten"
                                                     : nullptr;
        if (what == nullptr) continue;
        if (!out.empty()) out += "; ";
        out += "`" + argumentName(r, i) + "` " + what;
    }
    return out.empty() ? "none" : out;
}

void printFamily(const char *name, const char *title) {
    printf("\n## %s (`%s`)\n\n", title, name);
    printf("| Routine | SQLite | PostgreSQL | Result | Document | Server files | Marking | "
           "SQLSTATEs |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    for (const RoutineInfo &r : tessel::kCatalog) {
        if (!family(r, name)) continue;
        std::string states;
        for (const std::string &s : statesOf(r))
            states += (states.empty() ? "" : " ") + s;
        printf("| `%s` | %s | %s | %s%s | %s | %s | %s, PARALLEL %s | %s |\n", r.name,
               sqliteCall(r).c_str(), pgCall(r).c_str(), r.isTable() ? "table of " : "",
               declared(r).c_str(), sourceText(r.source), filesText(r).c_str(),
               r.pure() ? "IMMUTABLE" : "VOLATILE", tesselpg::pgParallelOf(r.parallel()),
               states.c_str());
    }
}

} // namespace

int main() {
    printf("# Routine reference\n\n"
           "Generated from the routine catalogue (`include/tesselCatalog.h`) by "
           "`docs/tesselReference.cpp`:\ndo not edit; after changing the catalogue run "
           "`build/docs/tessel_reference > docs/routines.md`.\n\n");
    printf("Tessel %s has %zu routines. Every input is text in SQL; a `dtd` or CLOB `doc` is "
           "passed to the\nroutine as a LOB locator. SQLite: scalar routines are functions, "
           "table routines table-valued\nfunctions with one column `value`; routines that name "
           "server files work only in top-level SQL.\nPostgreSQL: the names fold to lower case; "
           "every function is CALLED ON NULL INPUT.\nBoth "
           "engines also have `tessel_version()`, the version as text, and the schema validation\n"
           "functions `tessel_validate_schema`, `tessel_validate_schema_file` and "
           "`tessel_schema_errors`\n(see [schemas.md](schemas.md)), and the row scan: SQLite's "
           "virtual table `tessel_rows`,\nPostgreSQL's `tessel_rows`, `tessel_rows_as`, "
           "`tessel_rows_file` and `tessel_rows_folder` (see\n[rows.md](rows.md)).\n",
           TESSEL_VERSION, tessel::kCatalogSize);
    printf("\nMarking: IMMUTABLE when the result depends on the arguments alone (no server file), "
           "else\nVOLATILE; PARALLEL SAFE for routines over values and file readers, UNSAFE "
           "for file writers\nand `qapSeqno`. Functions that name server files are granted to "
           "`pg_read_server_files` /\n`pg_write_server_files` only.\n");
    printFamily("qapExtractScalar", "Scalar extract routines");
    printFamily("qapExtractTable", "Table extract routines");
    printFamily("qapUpdateXML", "Update routines");
    printFamily("qapValidateXML", "Validate routines");
    printFamily("qapStorage", "Storage routines and sequence numbers");
    printf("\n## SQLSTATEs\n\n| SQLSTATE | When |\n|---|---|\n");
    for (const State &s : kStates)
        printf("| %s | %s |\n", s.code, s.meaning);
    printf("\nIn PostgreSQL a state of class 01 is a WARNING and the others an ERROR with the "
           "routine's message;\nthe module adds 42501 (a file routine without the file role, or "
           "an external entity in an argument\nwith `tessel.external_entities` off), 0A000 (a "
           "database encoding without a code page) and the\nwarning 22007 (a DATE, TIME or "
           "TIMESTAMP text that is no such value). In SQLite every state but\n00000 and 01... "
           "is an SQL error `SQLSTATE <state>: <message>`; 57014 comes from\n"
           "`tessel_time_limit`.\n");
    return ferror(stdout) ? 1 : 0;
}
