// Validation against an XML Schema: a statement's reader and the schema it loaded, kept from
// row to row, so that a schema is parsed once however many documents it checks.
#pragma once

#include "qapCtx.h"
#include "qapMsg.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One validation error: where the parser was, and its message in the database code page.
struct QapSchemaError {
    uint64_t line;
    uint64_t column;
    std::string message;
};

class QapSchemaSession {
public:
    // The context must outlive the session.
    explicit QapSchemaSession(QapRoutineCtx *ctx);
    ~QapSchemaSession();
    QapSchemaSession(const QapSchemaSession &) = delete;
    QapSchemaSession &operator=(const QapSchemaSession &) = delete;

    // Validates a document (text in the database code page, or a server file) against a
    // schema (text, or a server file): 1 valid; 0 with the SQLSTATE and message set, the
    // parser's first error ("38X13", QAPQ047E) or why the call could not validate.
    int32_t validate(const char *doc, bool docFile, const char *schema, bool schemaFile,
                     QapStatus err);
    // Collects the document's errors (at most limit, a parse error last) into errors(): their
    // number, or -1 with the SQLSTATE and message set when the call could not validate.
    int32_t collect(const char *doc, bool docFile, const char *schema, bool schemaFile,
                    uint32_t limit, QapStatus err);
    const std::vector<QapSchemaError> &errors() const { return errors_; }

private:
    struct Kept;
    class Handler;
    // The reader with the schema loaded: the one kept when it is the same schema. 0, or -1
    // with the SQLSTATE and message set.
    int32_t prepare(const char *schema, bool schemaFile, QapStatus err);
    int32_t run(const char *doc, bool docFile, const char *schema, bool schemaFile, uint32_t limit,
                QapStatus err);
    QapRoutineCtx *ctx_;
    std::unique_ptr<Kept> kept_;
    std::vector<QapSchemaError> errors_;
};
