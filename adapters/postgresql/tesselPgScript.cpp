// Prints the extension's install script: one SQL function per routine of the catalogue that
// this build has, under the routine's own name, and the grants of those that name server files.
// With --update, prints the script that brings a database at the previous version (whose
// functions differed only in where they may run and in their cost) to this one.
#include "tesselCatalog.h"
#include "tesselPgTypes.h"

#include <cstdio>
#include <cstring>
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

// The planner's estimate of a call, in operator costs: a routine with a document parses it
// (some thousand times an operator's work for a document of a few kilobytes), which is what
// makes a scan over documents worth splitting among parallel workers.
int costOf(const tessel::RoutineInfo &r) {
    return r.source == tessel::Source::NONE ? 1 : 1000;
}

std::string signatureOf(const tessel::RoutineInfo &r) {
    std::string signature = std::string(r.name) + "(";
    for (int i = 0; i < r.count; ++i)
        signature += i == 0 ? "text" : ", text";
    return signature + ")";
}

void printRoutine(const tessel::RoutineInfo &r) {
    const std::string signature = signatureOf(r);
    const char *type = tesselpg::pgTypeOf(r.result).name;
    std::string declared = tessel::sqlTypeName(r.result);
    if (r.length > 0) declared += "(" + std::to_string(r.length) + ")";
    bool reads = false, writes = false;
    for (int i = 0; i < r.count; ++i) {
        reads = reads || r.readsFile(i);
        writes = writes || r.writesFile(i);
    }
    // Routines that touch server files, and qapSeqno, may give another result on every call:
    // VOLATILE. The others depend on their arguments alone: IMMUTABLE, which is also what lets
    // postgres_fdw ship them to the server holding the rows (with "tessel" in the foreign
    // server's extensions option) and expression indexes use them.
    printf("\nCREATE FUNCTION %s\n", signature.c_str());
    if (r.isTable())
        printf("    RETURNS TABLE (value %s) ROWS 100\n", type);
    else
        printf("    RETURNS %s\n", type);
    printf("    LANGUAGE C %s PARALLEL %s CALLED ON NULL INPUT COST %d\n",
           r.pure() ? "IMMUTABLE" : "VOLATILE", tesselpg::pgParallelOf(r.parallel()), costOf(r));
    printf("    AS 'MODULE_PATHNAME', '%s';\n", r.isTable() ? "tessel_table" : "tessel_scalar");
    printf("COMMENT ON FUNCTION %s IS '%s (%s): %s %s; document: %s';\n", signature.c_str(), r.name,
           r.family, r.isTable() ? "a table of" : "returns", declared.c_str(),
           sourceText(r.source));
    if (reads || writes) printf("REVOKE ALL ON FUNCTION %s FROM PUBLIC;\n", signature.c_str());
    if (reads) printf("GRANT EXECUTE ON FUNCTION %s TO pg_read_server_files;\n", signature.c_str());
    if (writes)
        printf("GRANT EXECUTE ON FUNCTION %s TO pg_write_server_files;\n", signature.c_str());
}

// The row scan, beyond the catalogue (new in 1.1: both scripts create it): each source with its
// column paths as VARIADIC arguments, or as an array beside an array of options. Its columns
// come from the query's column definition list. The file forms read server files: granted as
// the file routines are, VOLATILE as they are.
void printRowFunctions() {
    struct Form {
        const char *name;
        const char *source; // the arguments before the row path
        const char *types;
        const char *symbol;
        bool readsFiles;
        const char *what;
    };
    const Form forms[] = {
        {"tessel_rows", "doc text", "text", "tessel_rows_pg", false, "a document"},
        {"tessel_rows_file", "file text", "text", "tessel_rows_file_pg", true, "a server file"},
        {"tessel_rows_folder", "folder text, pattern text", "text, text", "tessel_rows_folder_pg",
         true, "the files of a server directory that match a glob"},
    };
    for (const Form &f : forms) {
        for (int withOptions = 0; withOptions < 2; ++withOptions) {
            const std::string signature =
                std::string(f.name) + "(" + f.types +
                (withOptions ? ", text, text[], text[])" : ", text, text[])");
            printf("\nCREATE FUNCTION %s(%s, row_path text, %s)\n"
                   "    RETURNS SETOF record ROWS 100\n"
                   "    LANGUAGE C %s STRICT PARALLEL SAFE COST 1000\n"
                   "    AS 'MODULE_PATHNAME', '%s';\n",
                   f.name, f.source,
                   withOptions ? "paths text[], options text[]" : "VARIADIC paths text[]",
                   f.readsFiles ? "VOLATILE" : "IMMUTABLE", f.symbol);
            printf("COMMENT ON FUNCTION %s IS 'the rows of %s: one per element at the row path, a "
                   "column per path';\n",
                   signature.c_str(), f.what);
            if (!f.readsFiles) continue;
            printf("REVOKE ALL ON FUNCTION %s FROM PUBLIC;\n", signature.c_str());
            printf("GRANT EXECUTE ON FUNCTION %s TO pg_read_server_files;\n", signature.c_str());
        }
    }
    // The typed form: its columns from the model's composite type, so that it also serves in
    // the select list. Not strict: the model is a NULL of the type.
    for (int withOptions = 0; withOptions < 2; ++withOptions) {
        printf("\nCREATE FUNCTION tessel_rows_as(model anyelement, doc text, row_path text, %s)\n"
               "    RETURNS SETOF anyelement ROWS 100\n"
               "    LANGUAGE C IMMUTABLE PARALLEL SAFE COST 1000\n"
               "    AS 'MODULE_PATHNAME', 'tessel_rows_as_pg';\n",
               withOptions ? "paths text[], options text[]" : "VARIADIC paths text[]");
        printf("COMMENT ON FUNCTION tessel_rows_as(anyelement, text, text, text[]%s) IS 'the rows "
               "of a document as values of the model''s row type: one per element at the row "
               "path, a column per path';\n",
               withOptions ? ", text[]" : "");
    }
}
} // namespace

int main(int argc, char **argv) {
    const bool update = argc > 1 && strcmp(argv[1], "--update") == 0;
    printf("-- Tessel's routines as SQL functions. Generated from the routine catalogue\n"
           "-- (include/tesselCatalog.h) at build time: do not edit.\n"
           "\\echo Use \"%s\" to load this file. \\quit\n",
           update ? "ALTER EXTENSION tessel UPDATE" : "CREATE EXTENSION tessel");
    // tessel_version() is new in 1.1: both scripts create it.
    printf(
        "\nCREATE FUNCTION tessel_version() RETURNS text\n"
        "    LANGUAGE C STABLE STRICT PARALLEL SAFE AS 'MODULE_PATHNAME', 'tessel_version';\n"
        "COMMENT ON FUNCTION tessel_version() IS 'the version of Tessel the server has loaded';\n");
    // Schema validation, beyond the catalogue (new in 1.1: both scripts create it).
    printf(
        "\nCREATE FUNCTION tessel_validate_schema(doc text, schema text) RETURNS int4\n"
        "    LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 1000\n"
        "    AS 'MODULE_PATHNAME', 'tessel_validate_schema_pg';\n"
        "COMMENT ON FUNCTION tessel_validate_schema(text, text) IS '1 when the document is valid "
        "against the XML Schema; else the first error';\n"
        "\nCREATE FUNCTION tessel_validate_schema_file(docfile text, schemafile text) RETURNS "
        "int4\n"
        "    LANGUAGE C VOLATILE STRICT PARALLEL SAFE COST 1000\n"
        "    AS 'MODULE_PATHNAME', 'tessel_validate_schema_file_pg';\n"
        "COMMENT ON FUNCTION tessel_validate_schema_file(text, text) IS '1 when the document file "
        "is valid against the XML Schema file; else the first error';\n"
        "REVOKE ALL ON FUNCTION tessel_validate_schema_file(text, text) FROM PUBLIC;\n"
        "GRANT EXECUTE ON FUNCTION tessel_validate_schema_file(text, text) TO "
        "pg_read_server_files;\n"
        "\nCREATE FUNCTION tessel_schema_errors(doc text, schema text, max_errors int4 DEFAULT "
        "1000)\n"
        "    RETURNS TABLE (line int8, \"column\" int8, message text) ROWS 10\n"
        "    LANGUAGE C IMMUTABLE STRICT PARALLEL SAFE COST 1000\n"
        "    AS 'MODULE_PATHNAME', 'tessel_schema_errors_pg';\n"
        "COMMENT ON FUNCTION tessel_schema_errors(text, text, int4) IS 'the errors of the document "
        "against the XML Schema, a row each';\n");
    printRowFunctions();
    for (const tessel::RoutineInfo &r : tessel::kCatalog) {
        if (!r.built) continue;
        if (update)
            printf("ALTER FUNCTION %s PARALLEL %s COST %d;\n", signatureOf(r).c_str(),
                   tesselpg::pgParallelOf(r.parallel()), costOf(r));
        else
            printRoutine(r);
    }
    return ferror(stdout) ? 1 : 0;
}
