// The common base of the extract, update and row SAX handlers: the open elements, the parsed path,
// the match state and the collected result.
#pragma once

#include "qapEscape.h"
#include "qapQuery.h"
#include "qapResult.h"

#include <xercesc/sax2/DefaultHandler.hpp>

class QapDoctypeResolver;

class QapSgDocHandler : public XERCES_CPP_NAMESPACE::DefaultHandler {
public:
    // Parses the path (QapQuery); throws QapError on allocation failure.
    QapSgDocHandler(QapRoutineCtx *ctx, XMLCh *path);
    ~QapSgDocHandler() override;

    // Appends "<name attr="value"...>" (values escaped as attrEscape) to the last result item.
    void composeStartElement(const XMLCh *qname, const XERCES_CPP_NAMESPACE::Attributes &attrs);
    // Appends "</name>" to the last result item.
    void composeEndElement(const XMLCh *qname);

    // ErrorHandler: every diagnostic, warnings included, ends the parse.
    void warning(const XERCES_CPP_NAMESPACE::SAXParseException &exc) override;
    void error(const XERCES_CPP_NAMESPACE::SAXParseException &exc) override;
    void fatalError(const XERCES_CPP_NAMESPACE::SAXParseException &exc) override;

    QapRoutineCtx *ctx;
    QapMatchState isMatched = PARTIAL;
    QapCurrentPath currentPath;
    QapQuery query;
    QapTargetKind targetKind;
    const XMLCh *attributeName;
    QapResult result;
    QapDoctypeResolver *resolver = nullptr; // told the DOCTYPE's system identifier, not owned
    int attrEscape = kEscapeSpecial;        // how attribute values are written (qapEscape.h)
};
