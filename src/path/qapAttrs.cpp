// The attribute-list copy: every string of an element's attributes in one owned block.
#include "qapAttrs.h"

#include "qapMsg.h"
#include "qapTrace.h"

#include <xercesc/util/XMLString.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using XERCES_CPP_NAMESPACE::XMLString;

namespace {

// The lengths of the three strings of one attribute, terminators included (0 for none).
size_t units(const XMLCh *s) {
    return s != nullptr ? XMLString::stringLen(s) + 1 : 0;
}

XMLCh *place(XMLCh *&cursor, const XMLCh *s) {
    if (s == nullptr) return nullptr;
    size_t n = XMLString::stringLen(s) + 1;
    memcpy(cursor, s, n * sizeof(XMLCh));
    XMLCh *at = cursor;
    cursor += n;
    return at;
}

constexpr unsigned kLocalNameLine = 353;
constexpr unsigned kQNameLine = 276;
constexpr unsigned kValueLine = 221;

[[noreturn]] void outOfRange(QapRoutineCtx *ctx, const char *fn, XMLSize_t index, unsigned line) {
    QAP_TRACE(ctx, fn, "Index (%d) out of range.\n", static_cast<int>(index));
    char lineText[16];
    snprintf(lineText, sizeof lineText, "%u", line);
    throw QapError(ctx, QAPG001E, kBuildStamp, "qapSgDocHandler", lineText);
}
} // namespace

bool QapAttrFilter::keeps(const XMLCh *localName) const {
    if (all) return true;
    if (localName == nullptr) return false;
    for (uint32_t i = 0; i < count; ++i)
        if (XMLString::equals(names[i], localName)) return true;
    return false;
}

QapAttrs::QapAttrs(QapRoutineCtx *ctx, const XERCES_CPP_NAMESPACE::Attributes &attrs,
                   XERCES_CPP_NAMESPACE::MemoryManager *memory)
    : ctx(ctx), memory_(memory) {
    assign(attrs);
}

QapAttrs::~QapAttrs() {
    if (memory_ != nullptr)
        memory_->deallocate(block_);
    else
        free(block_);
}

// Builds the block from the strings that get(i, kind) gives (kind 0 local name, 1 qualified
// name, 2 value) of the attributes i below n that keep(i) keeps. The block is reused when it is
// large enough, unless the strings come from it (fresh).
template <class Get, class Keep> void QapAttrs::fill(size_t n, Get get, Keep keep, bool fresh) {
    size_t kept = 0;
    size_t chars = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!keep(i)) continue;
        ++kept;
        chars += units(get(i, 0)) + units(get(i, 1)) + units(get(i, 2));
    }
    size_t need = 3 * (kept + 1) * sizeof(XMLCh *) + chars * sizeof(XMLCh);
    void *target = block_;
    size_t size = blockSize_;
    if (need > blockSize_ || fresh) {
        size = (need + 63) & ~static_cast<size_t>(63);
        if (memory_ != nullptr) {
            target = memory_->allocate(size);
        } else {
            target = malloc(size);
            if (target == nullptr) throw QapError(ctx, QAPG002E);
        }
    }
    XMLCh **newLocal = static_cast<XMLCh **>(target);
    XMLCh **newQ = newLocal + kept + 1;
    XMLCh **newValues = newQ + kept + 1;
    XMLCh *cursor = reinterpret_cast<XMLCh *>(newValues + kept + 1);
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!keep(i)) continue;
        newLocal[k] = place(cursor, get(i, 0));
        newValues[k] = place(cursor, get(i, 2));
        newQ[k] = place(cursor, get(i, 1));
        ++k;
    }
    newLocal[kept] = newQ[kept] = newValues[kept] = nullptr;
    if (target != block_) {
        if (memory_ != nullptr)
            memory_->deallocate(block_);
        else
            free(block_);
        block_ = target;
        blockSize_ = size;
    }
    count = static_cast<uint32_t>(kept);
    localNames = newLocal;
    qNames = newQ;
    values = newValues;
}

void QapAttrs::assign(const XERCES_CPP_NAMESPACE::Attributes &attrs, const QapAttrFilter *keep) {
    if (&attrs == this) return;
    const XMLSize_t n = attrs.getLength();
    if (n == 0 && blockSize_ >= 3 * sizeof(XMLCh *)) {
        // An element without attributes: three empty arrays in the block it has.
        localNames = static_cast<XMLCh **>(block_);
        qNames = localNames + 1;
        values = localNames + 2;
        localNames[0] = qNames[0] = values[0] = nullptr;
        count = 0;
        return;
    }
    auto get = [&attrs](size_t i, int kind) -> const XMLCh * {
        return kind == 0   ? attrs.getLocalName(i)
               : kind == 1 ? attrs.getQName(i)
                           : attrs.getValue(i);
    };
    if (keep == nullptr || keep->all)
        fill(
            n, get, [](size_t) { return true; }, false);
    else
        fill(
            n, get, [&](size_t i) { return keep->keeps(attrs.getLocalName(i)); }, false);
}

void QapAttrs::setValue(XMLSize_t index, const XMLCh *value) {
    if (index >= count) outOfRange(ctx, "QapAttrs::setValue", index, kValueLine);
    XMLCh **oldLocal = localNames;
    XMLCh **oldQ = qNames;
    XMLCh **oldValues = values;
    fill(
        count,
        [=](size_t i, int kind) -> const XMLCh * {
            return kind == 0    ? oldLocal[i]
                   : kind == 1  ? oldQ[i]
                   : i == index ? value
                                : oldValues[i];
        },
        [](size_t) { return true; }, true);
}

XMLSize_t QapAttrs::getLength() const {
    return count;
}

const XMLCh *QapAttrs::getURI(const XMLSize_t) const {
    return nullptr;
}

const XMLCh *QapAttrs::getLocalName(const XMLSize_t index) const {
    if (index >= count) outOfRange(ctx, "QapAttrs::getName", index, kLocalNameLine);
    return localNames[index];
}

const XMLCh *QapAttrs::getQName(const XMLSize_t index) const {
    if (index >= count) outOfRange(ctx, "QapAttrs::getName", index, kQNameLine);
    return qNames[index];
}

const XMLCh *QapAttrs::getType(const XMLSize_t) const {
    return nullptr;
}

const XMLCh *QapAttrs::getValue(const XMLSize_t index) const {
    if (index >= count) outOfRange(ctx, "QapAttrs::getValue", index, kValueLine);
    return values[index];
}

bool QapAttrs::getIndex(const XMLCh *const, const XMLCh *const, XMLSize_t &) const {
    return false;
}

int QapAttrs::getIndex(const XMLCh *const, const XMLCh *const) const {
    return -1;
}

bool QapAttrs::getIndex(const XMLCh *const, XMLSize_t &) const {
    return false;
}

int QapAttrs::getIndex(const XMLCh *const) const {
    return -1;
}

const XMLCh *QapAttrs::getType(const XMLCh *const, const XMLCh *const) const {
    return nullptr;
}

const XMLCh *QapAttrs::getType(const XMLCh *const) const {
    return nullptr;
}

const XMLCh *QapAttrs::getValue(const XMLCh *const, const XMLCh *const) const {
    return nullptr;
}

// Looked up among the local names recorded at construction.
const XMLCh *QapAttrs::getValue(const XMLCh *const qName) const {
    if (qName == nullptr) return nullptr;
    for (uint32_t i = 0; i < count; ++i)
        if (localNames[i] != nullptr && XMLString::equals(localNames[i], qName)) return values[i];
    return nullptr;
}
