// Helpers for tests of the parse engine without a parser: ASCII text widened to UTF-16, and an
// attribute list as the parser hands it to a handler (local name, qualified name, value).
#pragma once

#include <xercesc/sax2/Attributes.hpp>

#include <string>
#include <vector>

inline std::u16string qapU16(const std::string &ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class QapListAttrs : public XERCES_CPP_NAMESPACE::Attributes {
public:
    struct Attr {
        std::u16string local, qname, value;
    };
    std::vector<Attr> list;

    QapListAttrs() = default;
    QapListAttrs(const QapListAttrs &o) : Attributes(), list(o.list) {}

    XMLSize_t getLength() const override { return list.size(); }
    const XMLCh *getURI(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getLocalName(const XMLSize_t i) const override { return list.at(i).local.c_str(); }
    const XMLCh *getQName(const XMLSize_t i) const override { return list.at(i).qname.c_str(); }
    const XMLCh *getType(const XMLSize_t) const override { return nullptr; }
    const XMLCh *getValue(const XMLSize_t i) const override { return list.at(i).value.c_str(); }
    bool getIndex(const XMLCh *const, const XMLCh *const, XMLSize_t &) const override {
        return false;
    }
    int getIndex(const XMLCh *const, const XMLCh *const) const override { return -1; }
    bool getIndex(const XMLCh *const, XMLSize_t &) const override { return false; }
    int getIndex(const XMLCh *const) const override { return -1; }
    const XMLCh *getType(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getType(const XMLCh *const) const override { return nullptr; }
    const XMLCh *getValue(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getValue(const XMLCh *const) const override { return nullptr; }
};
