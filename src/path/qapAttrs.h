// The owned copy of an element's attribute list.
#pragma once

#include "qapCtx.h"

#include <cstdint>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/sax2/Attributes.hpp>

// The attributes a copy keeps: all of them, or those whose local name is one of names.
struct QapAttrFilter {
    bool all = true;
    const XMLCh *const *names = nullptr;
    uint32_t count = 0;
    bool keeps(const XMLCh *localName) const;
};

// An owned copy of an element's attribute list. The three arrays and every string live in one
// block owned by the object, from memory when it is given (a parse's, so that the copy counts
// against its budget; it must outlive the copy), else from the process heap: never free or
// overwrite an entry, use setValue.
class QapAttrs : public XERCES_CPP_NAMESPACE::Attributes {
public:
    QapAttrs(QapRoutineCtx *ctx, const XERCES_CPP_NAMESPACE::Attributes &attrs,
             XERCES_CPP_NAMESPACE::MemoryManager *memory = nullptr);
    // An empty list, to assign later.
    QapAttrs(QapRoutineCtx *ctx, XERCES_CPP_NAMESPACE::MemoryManager *memory)
        : ctx(ctx), memory_(memory) {}
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

    // Makes this a copy of another list (of the attributes keep keeps, all when null), reusing
    // the block when it is large enough; throws QapError, or what memory's allocation
    // throws.
    void assign(const XERCES_CPP_NAMESPACE::Attributes &attrs, const QapAttrFilter *keep = nullptr);
    // Replaces the value at index by a copy of value; throws as assign (out of range:
    // QapError).
    void setValue(XMLSize_t index, const XMLCh *value);

    uint32_t count = 0;
    XMLCh **localNames = nullptr;
    XMLCh **qNames = nullptr;
    XMLCh **values = nullptr;
    QapRoutineCtx *ctx;

private:
    void *block_ = nullptr; // the arrays followed by the strings
    size_t blockSize_ = 0;  // bytes
    XERCES_CPP_NAMESPACE::MemoryManager *memory_ = nullptr;
    template <class Get, class Keep> void fill(size_t n, Get get, Keep keep, bool fresh);
};
