// Content models against the bounds: the automaton the validator would build for an element's
// children, sized before it is built.
#include "qapContentModel.h"

#include <cstring>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/util/QName.hpp>
#include <xercesc/validators/DTD/DTDElementDecl.hpp>
#include <xercesc/validators/common/ContentSpecNode.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

// Nodes and leaves of one model, states of its automaton, states times distinct children
// (the validator's transition table), and words of position sets combined while counting.
constexpr size_t kMaxNodes = 8192;
constexpr size_t kMaxPositions = 4096;
constexpr size_t kMaxStates = 16384;
constexpr size_t kMaxCells = size_t{1} << 22;
constexpr size_t kMaxWork = size_t{1} << 26;

using Word = uint64_t;

// Frees a tree node by node: the nodes own their children, and a deep tree would take as
// many nested destructor calls. The root stays, empty, with the element.
void dismantle(ContentSpecNode *root, const std::vector<ContentSpecNode *> &nodes) {
    for (ContentSpecNode *node : nodes) {
        node->setAdoptFirst(false);
        node->setAdoptSecond(false);
    }
    root->setFirst(nullptr);
    root->setSecond(nullptr);
    for (ContentSpecNode *node : nodes)
        if (node != root) delete node;
}

// The automaton's positions and follow sets, then its states one by one, within the bounds.
class ModelSize {
public:
    bool withinBounds(ContentSpecNode *root, std::vector<ContentSpecNode *> &nodes);

private:
    Word *set(std::vector<Word> &sets, size_t i) { return &sets[i * words_]; }
    void orInto(Word *to, const Word *from) {
        for (size_t w = 0; w < words_; ++w)
            to[w] |= from[w];
        work_ += words_;
    }
    size_t words_ = 0;
    size_t work_ = 0;
};

bool ModelSize::withinBounds(ContentSpecNode *root, std::vector<ContentSpecNode *> &nodes) {
    // The nodes in post-order (children first, first child before second), without
    // recursion. Leaves come in document order: their positions.
    std::vector<std::pair<ContentSpecNode *, bool>> stack{{root, false}};
    size_t positions = 0;
    while (!stack.empty()) {
        auto [node, expanded] = stack.back();
        stack.pop_back();
        if (expanded) {
            nodes.push_back(node);
            continue;
        }
        if (nodes.size() + stack.size() >= kMaxNodes) return false;
        stack.push_back({node, true});
        if (node->getSecond() != nullptr) stack.push_back({node->getSecond(), false});
        if (node->getFirst() != nullptr) stack.push_back({node->getFirst(), false});
        if (node->getType() == ContentSpecNode::Leaf && ++positions > kMaxPositions) return false;
    }
    // Position `positions` is the end of the content.
    const size_t end = positions;
    words_ = (positions + 1 + 63) / 64;
    std::vector<Word> first(nodes.size() * words_), last(nodes.size() * words_);
    std::vector<Word> follow((positions + 1) * words_);
    std::vector<char> nullable(nodes.size());
    std::vector<uint32_t> nameOf(positions + 1);
    std::unordered_map<std::u16string, uint32_t> names;
    std::unordered_map<const ContentSpecNode *, size_t> index;
    size_t leaf = 0;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (work_ > kMaxWork) return false;
        const ContentSpecNode *node = nodes[i];
        index[node] = i;
        const ContentSpecNode *a = node->getFirst();
        const ContentSpecNode *b = node->getSecond();
        const size_t ia = a != nullptr ? index[a] : 0, ib = b != nullptr ? index[b] : 0;
        const int type = node->getType() & 0x0f;
        if (type == ContentSpecNode::Leaf) {
            const QName *qname = node->getElement();
            const XMLCh *raw = qname != nullptr ? qname->getRawName() : nullptr;
            auto it = names.emplace(raw != nullptr ? raw : u"", names.size()).first;
            nameOf[leaf] = it->second;
            set(first, i)[leaf / 64] |= Word{1} << (leaf % 64);
            set(last, i)[leaf / 64] |= Word{1} << (leaf % 64);
            ++leaf;
            continue;
        }
        if (a == nullptr) {
            nullable[i] = 1;
            continue;
        }
        if (b == nullptr ||
            (type != ContentSpecNode::Choice && type != ContentSpecNode::Sequence)) {
            // A unary node (or a group of one).
            orInto(set(first, i), set(first, ia));
            orInto(set(last, i), set(last, ia));
            nullable[i] = type == ContentSpecNode::ZeroOrOne ||
                          type == ContentSpecNode::ZeroOrMore || nullable[ia];
            if (type == ContentSpecNode::ZeroOrMore || type == ContentSpecNode::OneOrMore) {
                for (size_t p = 0; p < positions; ++p)
                    if (set(last, i)[p / 64] >> (p % 64) & 1) orInto(set(follow, p), set(first, i));
            }
            continue;
        }
        if (type == ContentSpecNode::Choice) {
            orInto(set(first, i), set(first, ia));
            orInto(set(first, i), set(first, ib));
            orInto(set(last, i), set(last, ia));
            orInto(set(last, i), set(last, ib));
            nullable[i] = nullable[ia] || nullable[ib];
        } else {
            orInto(set(first, i), set(first, ia));
            if (nullable[ia]) orInto(set(first, i), set(first, ib));
            orInto(set(last, i), set(last, ib));
            if (nullable[ib]) orInto(set(last, i), set(last, ia));
            nullable[i] = nullable[ia] && nullable[ib];
            for (size_t p = 0; p < positions; ++p)
                if (set(last, ia)[p / 64] >> (p % 64) & 1) orInto(set(follow, p), set(first, ib));
        }
    }
    // The model is followed by its end.
    const size_t r = nodes.size() - 1;
    for (size_t p = 0; p < positions; ++p)
        if (set(last, r)[p / 64] >> (p % 64) & 1) set(follow, p)[end / 64] |= Word{1} << (end % 64);
    std::vector<Word> start(set(first, r), set(first, r) + words_);
    if (nullable[r]) start[end / 64] |= Word{1} << (end % 64);

    // The states: sets of positions, from the start by each child element's name.
    const size_t nameCount = names.size() + 1;
    std::unordered_map<std::string, size_t> seen;
    std::deque<std::vector<Word>> pending;
    auto key = [this](const Word *s) {
        return std::string(reinterpret_cast<const char *>(s), words_ * sizeof(Word));
    };
    seen.emplace(key(start.data()), 0);
    pending.push_back(start);
    std::vector<Word> next(nameCount * words_);
    std::vector<char> touched(nameCount);
    while (!pending.empty()) {
        const std::vector<Word> state = std::move(pending.front());
        pending.pop_front();
        std::fill(next.begin(), next.end(), 0);
        std::fill(touched.begin(), touched.end(), 0);
        for (size_t p = 0; p < positions; ++p) {
            if ((state[p / 64] >> (p % 64) & 1) == 0) continue;
            orInto(&next[nameOf[p] * words_], set(follow, p));
            touched[nameOf[p]] = 1;
        }
        for (size_t n = 0; n < nameCount; ++n) {
            if (!touched[n] || !seen.emplace(key(&next[n * words_]), seen.size()).second) continue;
            if (seen.size() > kMaxStates || seen.size() * nameCount > kMaxCells) return false;
            pending.emplace_back(next.begin() + n * words_, next.begin() + (n + 1) * words_);
        }
        if (work_ > kMaxWork) return false;
    }
    return true;
}

} // namespace

bool qapContentModelWithinBounds(DTDElementDecl &decl) {
    ContentSpecNode *root = decl.getContentSpec();
    if (root == nullptr) return true;
    std::vector<ContentSpecNode *> nodes;
    ModelSize size;
    if (size.withinBounds(root, nodes)) return true;
    // Collect the whole tree (the count stopped early) to take it apart.
    nodes.clear();
    std::vector<ContentSpecNode *> stack{root};
    while (!stack.empty()) {
        ContentSpecNode *node = stack.back();
        stack.pop_back();
        nodes.push_back(node);
        if (node->getFirst() != nullptr) stack.push_back(node->getFirst());
        if (node->getSecond() != nullptr) stack.push_back(node->getSecond());
    }
    dismantle(root, nodes);
    return false;
}
