// The reader of schema validation: a guarded reader that loads an XML Schema once, checks it
// against the bounds the validator lacks, and validates documents against it.
#pragma once

#include "qapGuardedReader.h"

#include <vector>
#include <xercesc/validators/common/Grammar.hpp>

// The expanded positions of one content model (a group of n particles with maxOccurs="m"
// counts n times m), and the nesting of model groups, past which a schema is refused.
constexpr uint64_t kSchemaMaxPositions = 1024;
constexpr uint64_t kSchemaMaxNodes = 8192;
// The values of one enumeration: the validator compares a value with each in turn.
constexpr size_t kSchemaMaxEnumeration = 16384;
// The stack a schema's load may take: the parser recurses over references between schema
// components.
constexpr size_t kSchemaStack = size_t{1} << 20;

// Validates with namespaces against the schema loaded last (loadSchema). The schema's own
// imports and includes are read only for a schema read from a file, and then only from files
// the read-access rule allows; a schema given as text reads none. The schema hints of a
// document (xsi:schemaLocation, xsi:noNamespaceSchemaLocation) are read only when the host
// allows external entities, from allowed files too. A DTD the DOCTYPE names is never read.
class QapSchemaReader : public QapGuardedReader {
public:
    QapSchemaReader(QapRoutineCtx *ctx, QapParseMemory *manager);

    // Loads the schema (schemaFiles: its imports and includes may be read as files) and checks
    // it against the bounds; throws what a parse throws, or QapParseStop.
    void loadSchema(const XERCES_CPP_NAMESPACE::InputSource &schema, bool schemaFiles);
    XERCES_CPP_NAMESPACE::InputSource *
    resolveEntity(XERCES_CPP_NAMESPACE::XMLResourceIdentifier *resource) override;

private:
    void checkGrammar(XERCES_CPP_NAMESPACE::Grammar *grammar);
    bool schemaFiles_ = false;
    std::vector<std::u16string> namespaces_; // of the schema documents read
    // Answers the request for the DTD a DOCTYPE names with an empty one.
    struct EmptyDtd : XERCES_CPP_NAMESPACE::DefaultHandler {
        XERCES_CPP_NAMESPACE::InputSource *resolveEntity(const XMLCh *const,
                                                         const XMLCh *const) override;
    } emptyDtd_;
};

// True when an XML Schema regular expression cannot make the parser's backtracking matcher
// take exponential time: a repeated group whose repetition can be split among its parts in
// more than one way (nested repetition, alternatives that begin alike) is refused.
bool qapPatternWithinBounds(const char16_t *pattern);
