// Fuzzes the location path: arbitrary path texts through construction, then arbitrary
// sequences of start and end tags (names and attributes drawn from the input and from the
// parsed path) through push, match and pop, and the path text through the result escaping.
#include "qapQuery.h"
#include "qapResult.h"
#include "../testAttrs.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// Bytes become path characters: mostly the ones the syntax cares about, sometimes a raw
// UTF-16 unit (letters, combining marks, surrogates, NUL).
const char16_t kAlphabet[] = u"/@=\"[]*' abc:._-1x\u00e9\u4e00\u0300\u00b7\u0660";
constexpr size_t kAlphabetSize = sizeof kAlphabet / sizeof kAlphabet[0] - 1;

std::u16string text(FuzzedDataProvider &in, size_t maxLength) {
    std::u16string out;
    size_t n = in.ConsumeIntegralInRange<size_t>(0, maxLength);
    for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
        uint8_t b = in.ConsumeIntegral<uint8_t>();
        if (b >= 0xF0)
            out += static_cast<char16_t>(in.ConsumeIntegral<uint16_t>());
        else
            out += kAlphabet[b % kAlphabetSize];
    }
    return out;
}

void collect(const QapChunk *c, std::vector<std::u16string> &names,
             std::vector<std::u16string> &attrs, std::vector<std::u16string> &values) {
    for (; c != nullptr; c = c->next) {
        names.emplace_back(c->step->name);
        if (c->step->predicateAttr != nullptr) {
            attrs.emplace_back(c->step->predicateAttr);
            values.emplace_back(c->step->predicateValue);
        }
    }
}

std::u16string pick(FuzzedDataProvider &in, const std::vector<std::u16string> &pool) {
    if (pool.empty() || in.ConsumeBool()) return text(in, 4);
    return pool[in.ConsumeIntegralInRange<size_t>(0, pool.size() - 1)];
}

std::u16string escaped(const std::u16string &s) {
    std::u16string out;
    for (char16_t c : s) {
        if (c == 0) break;
        switch (c) {
        case u'"':
            out += u"&quot;";
            break;
        case u'&':
            out += u"&amp;";
            break;
        case u'\'':
            out += u"&apos;";
            break;
        case u'<':
            out += u"&lt;";
            break;
        case u'>':
            out += u"&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::u16string path = text(in, 64);

    // Exactly sized on the heap, so that a read past the terminator is caught.
    std::unique_ptr<XMLCh[]> pathText(new XMLCh[path.size() + 1]);
    std::copy(path.begin(), path.end(), pathText.get());
    pathText[path.size()] = 0;

    QapQuery query(nullptr, pathText.get());
    // A position lies inside the text up to its first NUL (a text not starting with "/" is an
    // error at 1 whatever its length).
    const size_t used = std::min(path.size(), path.find(u'\0'));
    if (query.getErrorPosition() < 0 ||
        static_cast<size_t>(query.getErrorPosition()) > std::max<size_t>(used, 2) - 1)
        abort();
    if (in.ConsumeBool()) query.setTargetKind(TAGGED_ELEMENT);

    std::vector<std::u16string> names{u"a", u"b"}, attrNames{u"x"}, values{u"1"};
    collect(query.head, names, attrNames, values);
    collect(query.tail, names, attrNames, values);
    for (const QapChunkList *m = query.middle; m != nullptr; m = m->next)
        collect(m->chunk, names, attrNames, values);

    QapCurrentPath open(nullptr);
    std::vector<std::u16string> model;
    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
            open.pop();
            if (!model.empty()) model.pop_back();
        } else {
            std::u16string name = pick(in, names);
            QapListAttrs attrs;
            int n = in.ConsumeIntegralInRange<int>(0, 3);
            for (int i = 0; i < n; ++i) {
                std::u16string local = pick(in, attrNames);
                attrs.list.push_back({local, local, pick(in, values)});
            }
            open.push(name.c_str(), attrs);
            model.push_back(name.substr(0, name.find(u'\0')));
            const QapAttrs &copy = *open.last->attrs;
            if (copy.getLength() != attrs.list.size()) abort();
            for (size_t i = 0; i < attrs.list.size(); ++i)
                if (std::u16string(copy.getValue(i)) != attrs.list[i].value.c_str()) abort();
        }
        QapMatchState s = query.match(open);
        if (s != NO && s != PARTIAL && s != YES) abort();
        if (query.match(open) != s) abort();

        // The list agrees with the model in both directions.
        size_t k = 0;
        const QapPathNode *prev = nullptr;
        for (const QapPathNode *n = open.first; n != nullptr; n = n->next, ++k) {
            if (k >= model.size() || n->prev != prev || model[k] != n->qname) abort();
            prev = n;
        }
        if (k != model.size() || open.last != prev) abort();
    }

    // The path text escaped and raw, in pieces, against a plain escaping; the same pieces as one
    // run leave the same item.
    QapResult result(nullptr);
    result.newItem();
    result.newItem();
    QapResultNode *single = result.first;
    QapResultNode *run = result.last;
    const std::u16string whole = path.substr(0, used);
    std::vector<std::u16string> texts;
    for (size_t at = 0; at < whole.size(); at += 7)
        texts.push_back(whole.substr(at, 7));
    std::vector<QapResultNode::Piece> pieces;
    std::u16string expected;
    for (size_t i = 0; i < texts.size(); ++i) {
        const int escape = i % 2 == 0 ? 1 : 0;
        single->addToContent(escape, texts[i].c_str(), static_cast<uint32_t>(texts[i].size()));
        pieces.push_back({texts[i].c_str(), static_cast<uint32_t>(texts[i].size()), escape});
        expected += escape ? escaped(texts[i]) : texts[i];
    }
    run->addPieces(pieces.data(), pieces.size());
    if (single->contentLength != expected.size()) abort();
    if (single->content != nullptr && std::u16string(single->content) != expected) abort();
    if (run->contentLength != single->contentLength ||
        run->contentMaxLength != single->contentMaxLength)
        abort();
    if (run->content != nullptr && std::u16string(run->content) != expected) abort();
    return 0;
}
