// The owned copy of an element's attribute list.
#pragma once

#include "qapCtx.h"

#include <cstdint>
#include <xercesc/sax2/Attributes.hpp>

// An owned copy of an element's attribute list. The three arrays and every string live in one
// heap block owned by the object: never free or overwrite an entry, use setValue.
class QapAttrs : public XERCES_CPP_NAMESPACE::Attributes {
public:
    QapAttrs(QapRoutineCtx *ctx, const XERCES_CPP_NAMESPACE::Attributes &attrs);
    ~QapAttrs() override;
    QapAttrs(const QapAttrs &) = delete;
    QapAttrs &operator=(const QapAttrs &) = delete;

    XMLSize_t getLength() const override;
    const XMLCh *getURI(const XMLSize_t index) const override;
    const XMLCh *getLocalName(const XMLSize_t index) const override;
    const XMLCh *getQName(const XMLSize_t index) const override;
    const XMLCh *getType(const XMLSize_t index) const override;
    const XMLCh *getValue(const XMLSize_t index) const override;
    bool getIndex(const XMLCh *const uri, const XMLCh *const localPart,
                  XMLSize_t &index) const override;
    int getIndex(const XMLCh *const uri, const XMLCh *const localPart) const override;
    bool getIndex(const XMLCh *const qName, XMLSize_t &index) const override;
    int getIndex(const XMLCh *const qName) const override;
    const XMLCh *getType(const XMLCh *const uri, const XMLCh *const localPart) const override;
    const XMLCh *getType(const XMLCh *const qName) const override;
    const XMLCh *getValue(const XMLCh *const uri, const XMLCh *const localPart) const override;
    const XMLCh *getValue(const XMLCh *const qName) const override;

    // Makes this a copy of another list, reusing the block when it is large enough; throws
    // QAPException.
    void assign(const XERCES_CPP_NAMESPACE::Attributes &attrs);
    // Replaces the value at index by a copy of value; throws QAPException (out of range too).
    void setValue(XMLSize_t index, const XMLCh *value);

    uint32_t count = 0;
    XMLCh **localNames = nullptr;
    XMLCh **qNames = nullptr;
    XMLCh **values = nullptr;
    XMLCh *uri = nullptr;
    QapRoutineCtx *ctx;

private:
    void *block = nullptr; // the arrays followed by the strings
    size_t blockSize = 0;  // bytes
};
