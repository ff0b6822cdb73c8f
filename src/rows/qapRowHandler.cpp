// The row scan's SAX handler: on every start tag the row path and the column paths are matched
// on the list of open elements; a matching row path opens a row, a matching column path starts
// collecting that column's value (an attribute at once, an element's text or fragment until
// its end tag) into the innermost open row, and a row's end tag hands the row to the sink.
#include "qapRowHandler.h"

#include "qapDoctypeResolver.h"
#include "qapEscape.h"

#include <cstring>
#include <new>
#include <xercesc/sax/SAXParseException.hpp>

using XERCES_CPP_NAMESPACE::Attributes;
using XERCES_CPP_NAMESPACE::SAXParseException;

namespace {

size_t unitsOf(const XMLCh *s) {
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

// "xmlns" (the default namespace: prefix "") or "xmlns:p" (prefix "p").
bool declaredPrefix(const XMLCh *qname, std::u16string &prefix) {
    static const char16_t kXmlns[] = u"xmlns";
    for (int i = 0; i < 5; ++i)
        if (qname[i] != kXmlns[i]) return false;
    if (qname[5] == 0) {
        prefix.clear();
        return true;
    }
    if (qname[5] != u':') return false;
    prefix.assign(qname + 6);
    return true;
}

} // namespace

QapRowHandler::QapRowHandler(QapRoutineCtx *ctx, XMLCh *rowPath,
                             const std::vector<QapRowColumn> &columns,
                             const std::vector<QapRowBinding> &bindings, bool severalFail,
                             QapRowSink &sink, size_t maxHeldUnits)
    : QapSgDocHandler(ctx, rowPath), bindings_(&bindings), severalFail_(severalFail), sink_(&sink),
      maxHeldUnits_(maxHeldUnits) {
    // All texts first: the queries point into them.
    columnPaths_.reserve(columns.size());
    for (const QapRowColumn &c : columns) {
        columnPaths_.push_back(c.path);
        fragment_.push_back(c.fragment);
    }
    for (std::u16string &path : columnPaths_)
        queries_.push_back(std::make_unique<QapQuery>(ctx, path.data()));
    const auto keep = [this](const QapQuery &q) {
        const QapAttrFilter f = q.predicateNames();
        keep_.insert(keep_.end(), f.names, f.names + f.count);
    };
    keep(query);
    shallow_ = query.isShallow();
    for (const auto &q : queries_) {
        keep(*q);
        shallow_ = shallow_ && q->isShallow();
    }
    if (!shallow_) return;
    flatten(query);
    for (const auto &q : queries_)
        flatten(*q);
}

void QapRowHandler::flatten(const QapQuery &q) {
    flatPaths_.push_back({static_cast<uint32_t>(flatSteps_.size()), q.headLength(), q.lastStep(),
                          static_cast<uint8_t>(q.getTargetKind() == TAGGED_ELEMENT ? YES : NO)});
    for (uint32_t i = 0; i < q.headLength(); ++i) {
        const QapStep &step = q.headStep(i);
        const bool any = qapIsAnyName(step.name);
        flatSteps_.push_back({any ? nullptr : step.name, static_cast<uint32_t>(unitsOf(step.name)),
                              step.predicateAttr != nullptr ? &step : nullptr});
    }
}

QapRowHandler::~QapRowHandler() {
    freeStates();
}

void QapRowHandler::freeStates() {
    if (statesMemory_ != nullptr)
        statesMemory_->deallocate(states_);
    else
        ::operator delete(states_);
    states_ = nullptr;
    statesDepths_ = 0;
    statesMemory_ = nullptr;
}

void QapRowHandler::bindContext(QapRoutineCtx *newCtx) {
    ctx = newCtx;
    currentPath.release(newCtx);
    query.rebind(newCtx);
    for (const auto &q : queries_)
        q->rebind(newCtx);
    result.ctx = newCtx;
}

void QapRowHandler::rearm() {
    while (currentPath.depth() != 0)
        currentPath.pop();
    resolver = nullptr;
    heldUnits_ = 0;
    depth_ = 0;
    capturing_.clear();
    openRows_ = 0;
    declared_.clear();
}

void QapRowHandler::detach() {
    rearm();
    // Nothing points at the context, which goes first.
    bindContext(nullptr);
    result.useMemory(nullptr);
    freeStates();
    // The cells keep their room for the next scan, unless it is large.
    constexpr size_t kKeptUnits = 16384;
    size_t units = 0;
    for (const OpenRow &row : rows_)
        for (const QapRowCell &cell : row.cells)
            units += cell.text.capacity();
    if (units > kKeptUnits) std::vector<OpenRow>().swap(rows_);
    std::vector<Capture>().swap(capturing_);
    std::vector<Declared>().swap(declared_);
    std::u16string().swap(name_);
}

void QapRowHandler::rebind(QapRoutineCtx *newCtx, const std::vector<QapRowBinding> &bindings,
                           QapRowSink &sink) {
    bindContext(newCtx);
    bindings_ = &bindings;
    sink_ = &sink;
}

bool QapRowHandler::matchFlat(const XMLCh *name, const Attributes &attrs, uint8_t *states) const {
    const uint8_t *parent = states - flatPaths_.size();
    bool any = false;
    for (size_t i = 0; i < flatPaths_.size(); ++i) {
        const FlatPath &p = flatPaths_[i];
        uint8_t state = NO;
        if (parent[i] == NO) {
        } else if (depth_ <= p.headLength) {
            const FlatStep &s = flatSteps_[p.first + depth_ - 1];
            bool same = true;
            if (s.name != nullptr) {
                for (uint32_t k = 0; k < s.length && same; ++k)
                    same = s.name[k] == name[k];
                same = same && name[s.length] == 0;
            }
            if (same && (s.predicated == nullptr || s.predicated->matches(name, attrs)))
                state = depth_ == p.headLength && p.last == nullptr ? YES : PARTIAL;
        } else if (p.last != nullptr) {
            state = p.last->matches(name, attrs) ? YES : PARTIAL;
        } else {
            state = p.below;
        }
        states[i] = state;
        any = any || (i != 0 && state == YES);
    }
    return any;
}

uint8_t *QapRowHandler::growStates(uint32_t depth) {
    const size_t width = 1 + queries_.size();
    XERCES_CPP_NAMESPACE::MemoryManager *memory = currentPath.memory();
    const bool keep = states_ != nullptr && memory == statesMemory_;
    size_t depths = keep ? statesDepths_ : 16;
    while (depths <= depth)
        depths *= 2;
    auto *room = static_cast<uint8_t *>(memory != nullptr ? memory->allocate(depths * width)
                                                          : ::operator new(depths *width));
    if (keep)
        memcpy(room, states_, statesDepths_ * width);
    else
        memset(room, PARTIAL, width); // depth 0, the document: every path may still match
    freeStates();
    states_ = room;
    statesDepths_ = depths;
    statesMemory_ = memory;
    return states_ + depth * width;
}

int QapRowHandler::errorPath(int32_t *position) const {
    if ((*position = query.getErrorPosition()) != 0 || query.getTargetKind() == ATTRIBUTE) {
        if (*position == 0) *position = 1;
        return 0;
    }
    for (size_t i = 0; i < queries_.size(); ++i)
        if ((*position = queries_[i]->getErrorPosition()) != 0) return static_cast<int>(i) + 1;
    return -1;
}

const std::u16string *QapRowHandler::findUri(const std::u16string &prefix) const {
    for (size_t i = declared_.size(); i-- > 0;)
        if (declared_[i].prefix == prefix) return &declared_[i].uri;
    return nullptr;
}

const XMLCh *QapRowHandler::pathName(const XMLCh *qname, const Attributes &attrs) {
    std::u16string prefix;
    const XMLSize_t n = attrs.getLength();
    for (XMLSize_t i = 0; i < n; ++i)
        if (declaredPrefix(attrs.getQName(i), prefix))
            declared_.push_back({depth_, prefix, attrs.getValue(i)});
    const XMLCh *colon = qname;
    while (*colon != 0 && *colon != u':')
        ++colon;
    const bool prefixed = *colon == u':';
    const XMLCh *local = prefixed ? colon + 1 : qname;
    prefix.assign(qname, prefixed ? static_cast<size_t>(colon - qname) : 0);
    static const std::u16string kNone;
    const std::u16string *uri = findUri(prefix);
    if (uri == nullptr) uri = &kNone; // an undeclared prefix: in no namespace the paths name
    name_.clear();
    const QapRowBinding *binding = nullptr;
    for (const QapRowBinding &b : *bindings_) {
        if (!uri->empty() && b.uri == *uri) {
            binding = &b;
            break;
        }
    }
    if (binding != nullptr) {
        if (!binding->prefix.empty()) name_.append(binding->prefix).push_back(u':');
    } else if (!uri->empty() || findDefault()) {
        name_.push_back(u'\1'); // a namespace without a binding: only "*" matches
    }
    name_.append(local);
    return name_.c_str();
}

// An element's attributes under other names; the rest as the parser gave them.
class QapRowHandler::BoundAttributes : public Attributes {
public:
    const Attributes *attrs = nullptr;
    std::vector<std::u16string> names;

    XMLSize_t getLength() const override { return attrs->getLength(); }
    const XMLCh *getURI(const XMLSize_t i) const override { return attrs->getURI(i); }
    const XMLCh *getLocalName(const XMLSize_t i) const override {
        return i < names.size() ? names[i].c_str() : nullptr;
    }
    const XMLCh *getQName(const XMLSize_t i) const override { return getLocalName(i); }
    const XMLCh *getType(const XMLSize_t i) const override { return attrs->getType(i); }
    const XMLCh *getValue(const XMLSize_t i) const override { return attrs->getValue(i); }
    bool getIndex(const XMLCh *const, const XMLCh *const, XMLSize_t &) const override {
        return false;
    }
    int getIndex(const XMLCh *const, const XMLCh *const) const override { return -1; }
    bool getIndex(const XMLCh *const qName, XMLSize_t &index) const override {
        for (index = 0; index < names.size(); ++index)
            if (qapSameName(names[index].c_str(), qName)) return true;
        return false;
    }
    int getIndex(const XMLCh *const qName) const override {
        XMLSize_t index = 0;
        return getIndex(qName, index) ? static_cast<int>(index) : -1;
    }
    const XMLCh *getType(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getType(const XMLCh *const qName) const override {
        const int i = getIndex(qName);
        return i < 0 ? nullptr : attrs->getType(static_cast<XMLSize_t>(i));
    }
    const XMLCh *getValue(const XMLCh *const, const XMLCh *const) const override { return nullptr; }
    const XMLCh *getValue(const XMLCh *const qName) const override {
        const int i = getIndex(qName);
        return i < 0 ? nullptr : attrs->getValue(static_cast<XMLSize_t>(i));
    }
};

const Attributes &QapRowHandler::boundAttributes(const Attributes &attrs) {
    if (boundAttributes_ == nullptr) boundAttributes_ = std::make_unique<BoundAttributes>();
    BoundAttributes &bound = *boundAttributes_;
    bound.attrs = &attrs;
    const XMLSize_t n = attrs.getLength();
    bound.names.resize(n);
    std::u16string prefix;
    for (XMLSize_t i = 0; i < n; ++i) {
        const XMLCh *qname = attrs.getQName(i);
        std::u16string &name = bound.names[i];
        const XMLCh *colon = qname;
        while (*colon != 0 && *colon != u':')
            ++colon;
        prefix.assign(qname, static_cast<size_t>(colon - qname));
        const std::u16string *uri =
            *colon == u':' && prefix != u"xmlns" ? findUri(prefix) : nullptr;
        name.clear();
        if (uri != nullptr && !uri->empty()) {
            const QapRowBinding *binding = nullptr;
            for (const QapRowBinding &b : *bindings_)
                if (!b.prefix.empty() && b.uri == *uri) binding = &b;
            if (binding != nullptr)
                name.append(binding->prefix).push_back(u':');
            else
                name.push_back(u'\1'); // a namespace without a binding: only "*" matches
            name.append(colon + 1);
        } else {
            name.append(qname);
        }
    }
    return bound;
}

bool QapRowHandler::findDefault() const {
    for (const QapRowBinding &b : *bindings_)
        if (b.prefix.empty()) return true;
    return false;
}

void QapRowHandler::append(QapRowCell &cell, const XMLCh *text, size_t length, bool escape) {
    const size_t before = cell.text.size();
    if (!escape) {
        cell.text.append(text, length);
    } else {
        for (size_t i = 0; i < length; ++i) {
            if (const QapEscape *e = qapEscapeOf(text[i]))
                cell.text.append(e->text, e->length);
            else
                cell.text.push_back(text[i]);
        }
    }
    heldUnits_ += cell.text.size() - before;
    if (maxHeldUnits_ != 0 && heldUnits_ > maxHeldUnits_)
        sink_->fail("38X39", "the values of an open row exceed the parse memory budget");
}

void QapRowHandler::appendStartTag(QapRowCell &cell, const XMLCh *qname, const Attributes &attrs) {
    append(cell, u"<", 1, false);
    append(cell, qname, unitsOf(qname), false);
    const XMLSize_t n = attrs.getLength();
    for (XMLSize_t i = 0; i < n; ++i) {
        append(cell, u" ", 1, false);
        const XMLCh *name = attrs.getQName(i);
        append(cell, name, unitsOf(name), false);
        append(cell, u"=\"", 2, false);
        const XMLCh *value = attrs.getValue(i);
        append(cell, value, unitsOf(value), true);
        append(cell, u"\"", 1, false);
    }
    append(cell, u">", 1, false);
}

void QapRowHandler::several(const OpenRow &row, size_t column) {
    if (!severalFail_) return; // the first match stands
    sink_->fail("38X08", "row " + std::to_string(row.number) + ": column " +
                             sink_->columnName(column) + " matches more than once");
}

void QapRowHandler::startElement(const XMLCh *const, const XMLCh *const, const XMLCh *const qname,
                                 const Attributes &attrs) {
    ++depth_;
    const XMLCh *name = bindings_->empty() ? qname : pathName(qname, attrs);
    // Fragments being collected take the tag.
    for (const Capture &c : capturing_)
        if (fragment_[c.column]) appendStartTag(rows_[c.row].cells[c.column], qname, attrs);
    startMatched(qname, name, bindings_->empty() ? attrs : boundAttributes(attrs), attrs);
}

void QapRowHandler::startMatched(const XMLCh *qname, const XMLCh *name, const Attributes &attrs,
                                 const Attributes &written) {
    uint8_t *states = nullptr;
    bool rowStarts;
    bool columns = true; // some column may match here
    if (shallow_) {
        states = statesOf(depth_);
        columns = matchFlat(name, attrs, states);
        rowStarts = states[0] == YES;
    } else {
        currentPath.push(name, attrs);
        rowStarts = query.match(currentPath) == YES;
    }
    if (rowStarts) {
        if (openRows_ == rows_.size()) rows_.emplace_back();
        OpenRow &row = rows_[openRows_++];
        row.depth = depth_;
        row.number = sink_->nextRowNumber();
        row.cells.resize(queries_.size());
        for (QapRowCell &cell : row.cells) {
            cell.matched = false;
            cell.captureDepth = 0;
            cell.text.clear();
        }
    }
    if (openRows_ != 0 && columns) matchColumns(qname, attrs, written, states);
}

void QapRowHandler::matchColumns(const XMLCh *qname, const Attributes &attrs,
                                 const Attributes &written, const uint8_t *states) {
    OpenRow &row = rows_[openRows_ - 1];
    for (size_t i = 0; i < queries_.size(); ++i) {
        const QapQuery &q = *queries_[i];
        const int state =
            states != nullptr ? states[i + 1] : static_cast<int>(q.match(currentPath));
        if (state != YES) continue;
        QapRowCell &cell = row.cells[i];
        if (q.getTargetKind() != ATTRIBUTE) {
            if (cell.matched) {
                several(row, i);
                continue;
            }
            cell.matched = true;
            cell.captureDepth = depth_;
            capturing_.push_back({static_cast<uint32_t>(openRows_ - 1), static_cast<uint32_t>(i)});
            if (fragment_[i]) appendStartTag(cell, qname, written);
            continue;
        }
        const XMLCh *wanted = q.getAttributeName();
        const XMLCh *value = nullptr;
        const XMLSize_t n = attrs.getLength();
        for (XMLSize_t a = 0; a < n && value == nullptr; ++a)
            if (qapIsAnyName(wanted) || qapSameName(attrs.getQName(a), wanted))
                value = attrs.getValue(a);
        if (value == nullptr) continue;
        if (cell.matched) {
            several(row, i);
            continue;
        }
        cell.matched = true;
        append(cell, value, unitsOf(value), fragment_[i]);
    }
}

void QapRowHandler::endElement(const XMLCh *const, const XMLCh *const, const XMLCh *const qname) {
    for (const Capture &c : capturing_) {
        if (!fragment_[c.column]) continue;
        QapRowCell &cell = rows_[c.row].cells[c.column];
        append(cell, u"</", 2, false);
        append(cell, qname, unitsOf(qname), false);
        append(cell, u">", 1, false);
    }
    // Those started deeper ended before: the ones this element started are the last.
    while (!capturing_.empty()) {
        QapRowCell &cell = rows_[capturing_.back().row].cells[capturing_.back().column];
        if (cell.captureDepth != depth_) break;
        cell.captureDepth = 0;
        capturing_.pop_back();
    }
    bool rowEnded = false;
    if (openRows_ != 0 && rows_[openRows_ - 1].depth == depth_) {
        OpenRow &row = rows_[--openRows_];
        size_t units = 0;
        for (const QapRowCell &cell : row.cells)
            units += cell.text.size();
        heldUnits_ -= units;
        sink_->rowDone(row.number, row.cells);
        rowEnded = true;
    }
    if (!shallow_) currentPath.pop();
    while (!declared_.empty() && declared_.back().depth == depth_)
        declared_.pop_back();
    --depth_;
    if (rowEnded && openRows_ == 0) sink_->mayPause();
}

void QapRowHandler::characters(const XMLCh *const chars, const XMLSize_t length) {
    for (const Capture &c : capturing_) {
        QapRowCell &cell = rows_[c.row].cells[c.column];
        // An element's value is its own text; a fragment takes all of it.
        const bool fragment = fragment_[c.column];
        if (fragment || cell.captureDepth == depth_) append(cell, chars, length, fragment);
    }
}

void QapRowHandler::startDTD(const XMLCh *const, const XMLCh *const, const XMLCh *const systemId) {
    if (resolver != nullptr) resolver->setDtdId(systemId);
}
