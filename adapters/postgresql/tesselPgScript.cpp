// Prints the extension's install script: one SQL function per routine of the catalogue that
// this build has, under the routine's own name, and the grants of those that name server files.
#include "tesselCatalog.h"
#include "tesselPgTypes.h"

#include <cstdio>
#include <string>

namespace {

const char *sourceText(tessel::Source source) {
    switch (source) {
    case tessel::Source::FILE:
        return "a server file";
    case tessel::Source::VARCHAR:
        return "a VARCHAR document";
    case tessel::Source::CLOB:
        return "a CLOB document";
    default:
        return "none";
    }
}

void printRoutine(const tessel::RoutineInfo &r) {
    std::string signature = std::string(r.name) + "(";
    for (int i = 0; i < r.count; ++i)
        signature += i == 0 ? "text" : ", text";
    signature += ")";
    const char *type = tesselpg::pgTypeOf(r.result).name;
    std::string declared = tessel::sqlTypeName(r.result);
    if (r.length > 0) declared += "(" + std::to_string(r.length) + ")";
    bool reads = false, writes = false;
    for (int i = 0; i < r.count; ++i) {
        reads = reads || r.readsFile(i);
        writes = writes || r.writesFile(i);
    }
    // Routines that touch server files, and qapSeqno, may give another result on every call:
    // VOLATILE, run where the statement runs. The others depend on their arguments alone:
    // IMMUTABLE, which is also what lets postgres_fdw ship them to the server holding the rows
    // (with "tessel" in the foreign server's extensions option).
    const bool volatileRoutine = reads || writes || r.source == tessel::Source::NONE;

    printf("\nCREATE FUNCTION %s\n", signature.c_str());
    if (r.isTable())
        printf("    RETURNS TABLE (value %s) ROWS 100\n", type);
    else
        printf("    RETURNS %s\n", type);
    printf("    LANGUAGE C %s CALLED ON NULL INPUT\n", volatileRoutine ? "VOLATILE" : "IMMUTABLE");
    printf("    AS 'MODULE_PATHNAME', '%s';\n", r.isTable() ? "tessel_table" : "tessel_scalar");
    printf("COMMENT ON FUNCTION %s IS '%s (%s): %s %s; document: %s';\n", signature.c_str(), r.name,
           r.family, r.isTable() ? "a table of" : "returns", declared.c_str(),
           sourceText(r.source));
    if (reads || writes) printf("REVOKE ALL ON FUNCTION %s FROM PUBLIC;\n", signature.c_str());
    if (reads) printf("GRANT EXECUTE ON FUNCTION %s TO pg_read_server_files;\n", signature.c_str());
    if (writes)
        printf("GRANT EXECUTE ON FUNCTION %s TO pg_write_server_files;\n", signature.c_str());
}

} // namespace

int main() {
    printf("-- Tessel's routines as SQL functions. Generated from the routine catalogue\n"
           "-- (include/tesselCatalog.h) at build time: do not edit.\n"
           "\\echo Use \"CREATE EXTENSION tessel\" to load this file. \\quit\n");
    printf(
        "\nCREATE FUNCTION tessel_version() RETURNS text\n"
        "    LANGUAGE C STABLE STRICT PARALLEL SAFE AS 'MODULE_PATHNAME', 'tessel_version';\n"
        "COMMENT ON FUNCTION tessel_version() IS 'the version of Tessel the server has loaded';\n");
    for (const tessel::RoutineInfo &r : tessel::catalog)
        if (r.built) printRoutine(r);
    return ferror(stdout) ? 1 : 0;
}
