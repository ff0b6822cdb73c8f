// What the benchmarks share: the floor they measure against, a bare SAX2 reader set up as the
// library sets up its own (no namespaces, no validation) with a handler that does nothing.
#pragma once

#include <memory>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLUni.hpp>

struct QapBareReader {
    xercesc::DefaultHandler handler;
    std::unique_ptr<xercesc::SAX2XMLReader> reader{xercesc::XMLReaderFactory::createXMLReader()};

    QapBareReader() {
        using xercesc::XMLUni;
        reader->setContentHandler(&handler);
        reader->setErrorHandler(&handler);
        reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
        reader->setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
        reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
        reader->setFeature(XMLUni::fgXercesSchema, false);
    }
};
