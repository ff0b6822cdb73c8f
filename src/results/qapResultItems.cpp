// Result items: growing UTF-16 texts with entity escaping, kept in blocks and slabs that the
// result owns, so that one allocation serves many items.
#include "qapResult.h"

#include "qapConv.h"
#include "qapEscape.h"
#include "qapMsg.h"
#include "qapPlatform.h"
#include "qapResultBlocks.h"
#include "qapTrace.h"

#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

using XERCES_CPP_NAMESPACE::XMLString;

namespace {

// Units that s (n units, or up to a NUL) takes once escaped as kind.
uint32_t escapedLength(const XMLCh *s, uint32_t n, int kind) {
    uint64_t total = 0;
    for (uint32_t i = 0; i < n && s[i] != 0; ++i) {
        const QapEscape *e = qapEscapeOf(s[i], kind);
        total += e != nullptr ? e->length : 1;
    }
    return total < INT32_MAX ? static_cast<uint32_t>(total) : INT32_MAX;
}

// Writes s (n units, or up to a NUL) escaped as kind into room known to be large enough;
// returns the end of what it wrote.
XMLCh *writeEscaped(XMLCh *d, const XMLCh *s, uint32_t n, int kind) {
    for (uint32_t i = 0; i < n && s[i] != 0; ++i) {
        const QapEscape *e = qapEscapeOf(s[i], kind);
        if (e == nullptr) {
            *d++ = s[i];
            continue;
        }
        memcpy(d, e->text, e->length * sizeof(XMLCh));
        d += e->length;
    }
    return d;
}

} // namespace

QapResultNode::~QapResultNode() {
    if (ownBuffer_) free(content);
}

namespace {
// Copies n units; the pieces of tags are mostly a unit or two.
inline void copyUnits(XMLCh *d, const XMLCh *s, size_t n) {
    if (n <= 2) {
        d[0] = s[0];
        if (n == 2) d[1] = s[1];
        return;
    }
    memcpy(d, s, n * sizeof(XMLCh));
}
} // namespace

// True (and the item marked) when n more units would take the item to its result's limit.
bool QapResultNode::reachesLimit(uint64_t n) {
    if (!overLimit && owner_ != nullptr && contentLength + n >= owner_->unitLimit_)
        overLimit = true;
    return overLimit;
}

void QapResultNode::appendSlow(int escape, const XMLCh *s, uint32_t n) {
    if (n == 0 || reachesLimit(n)) return;
    if (escape != 0) {
        const Piece piece{s, n, escape};
        addPieces(&piece, 1);
        return;
    }
    const uint64_t length = static_cast<uint64_t>(contentLength) + n;
    if (length > contentMaxLength) {
        // Growth: the needed length plus twice the old capacity.
        const uint64_t capacity = n + 2 * static_cast<uint64_t>(contentMaxLength);
        if (capacity >= INT32_MAX) throw QapError(ctx, QAPG002E);
        if (capacity + 1 > allocated_) reserve(capacity + 1);
        contentMaxLength = static_cast<uint32_t>(capacity);
    }
    copyUnits(content + contentLength, s, n);
    contentLength = static_cast<uint32_t>(length);
    content[length] = 0;
}

void QapResultNode::reserve(uint64_t units) {
    if (units <= allocated_) return;
    if (owner_ != nullptr) {
        owner_->growContent(*this, units);
        return;
    }
    void *grown = realloc(content, units * sizeof(XMLCh));
    if (grown == nullptr) throw QapError(ctx, QAPG002E);
    content = static_cast<XMLCh *>(grown);
    ownBuffer_ = true;
    allocated_ = static_cast<uint32_t>(units);
}

void QapResultNode::addPieces(const Piece *pieces, size_t count) {
    uint64_t total = 0;
    for (size_t i = 0; i < count; ++i)
        total += pieces[i].n;
    if (reachesLimit(total)) return;
    // One append after the other, as addToContent does it; the buffer rarely moves, as the
    // item being appended to mostly has room beyond its capacity. Length and capacity are
    // kept in locals while the text is written.
    uint64_t length = contentLength;
    uint64_t capacity = contentMaxLength;
    XMLCh *d = content;
    // What is written so far stays a valid text when growing fails.
    auto settle = [&]() {
        contentLength = static_cast<uint32_t>(length);
        if (d != nullptr) d[length] = 0;
    };
    auto growTo = [&](uint64_t to) {
        if (to >= INT32_MAX) {
            settle();
            throw QapError(ctx, QAPG002E);
        }
        if (to + 1 > allocated_) {
            settle();
            reserve(to + 1);
            d = content;
        }
        capacity = to;
        contentMaxLength = static_cast<uint32_t>(to);
    };
    for (size_t i = 0; i < count; ++i) {
        const Piece &p = pieces[i];
        if (p.n == 0) continue;
        // Growth: the needed length plus twice the old capacity.
        if (length + p.n > capacity) growTo(p.n + 2 * capacity);
        if (p.escape == 0) {
            copyUnits(d + length, p.s, p.n);
            length += p.n;
            continue;
        }
        // The escaping copy fails, and is retried with 2n + 10, while the escaped text and its
        // terminator do not fit the room after the text.
        if (kMaxEscapeUnits * static_cast<uint64_t>(p.n) + 1 > capacity - length) {
            const uint64_t appended = escapedLength(p.s, p.n, p.escape);
            uint64_t want = p.n;
            while (appended + 1 > capacity - length) {
                QAP_TRACE(ctx, "qapResultNode::addToContent",
                          "qapEntityReplace returns %ld.  contentLength=%d contentMaxLength=%d "
                          "dl=%d\n",
                          -1L, static_cast<int>(length), static_cast<int>(capacity),
                          static_cast<int>(want));
                want = 2 * want + 10;
                if (length + want > capacity) growTo(want + 2 * capacity);
            }
        }
        length = static_cast<uint64_t>(writeEscaped(d + length, p.s, p.n, p.escape) - d);
    }
    settle();
}

void QapResultNode::addJoined(const Piece *pieces, size_t count) {
    uint64_t n = 0;
    for (size_t i = 0; i < count; ++i)
        n += pieces[i].n;
    if (n == 0 || reachesLimit(n)) return;
    const uint64_t length = contentLength + n;
    if (length > contentMaxLength) {
        const uint64_t capacity = n + 2 * static_cast<uint64_t>(contentMaxLength);
        if (capacity >= INT32_MAX) throw QapError(ctx, QAPG002E);
        if (capacity + 1 > allocated_) reserve(capacity + 1);
        contentMaxLength = static_cast<uint32_t>(capacity);
    }
    XMLCh *d = content + contentLength;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].n == 0) continue;
        copyUnits(d, pieces[i].s, pieces[i].n);
        d += pieces[i].n;
    }
    contentLength = static_cast<uint32_t>(length);
    content[length] = 0;
}

// ---------------------------------------------------------------------------------------------
// The result list

namespace {
// Items longer than this get a heap buffer of their own, which grows by realloc and leaves
// nothing behind; shorter ones share slabs of at most kSlabUnits.
constexpr uint64_t kLargeUnits = 8192;
// Slabs double up to kSmallSlabUnits, then a result goes on in big blocks (see qapBigAlloc): a
// small result takes little, a large one fills whole huge pages.
constexpr size_t kSmallSlabUnits = 32768;
constexpr size_t kSlabUnits = (kBigBlock - sizeof(void *) - sizeof(size_t)) / sizeof(XMLCh);
constexpr size_t kFirstSlabUnits = 1024;
} // namespace

void QapResult::growContent(QapResultNode &item, uint64_t units) {
    // The item that last got space from the newest slab holds all of its free room, so that
    // it grows without coming back here; before anything else moves, the room it does not
    // need goes back to the slab (all of it when that item is the one that moves).
    if (tail_ != nullptr) {
        if (tail_ == &item) {
            slabTop_ = item.content;
        } else {
            slabTop_ = tail_->content + tail_->contentMaxLength + 1;
            tail_->allocated_ = tail_->contentMaxLength + 1;
        }
        tail_ = nullptr;
    }
    if (units > kLargeUnits) {
        void *grown;
        if (item.ownBuffer_) {
            grown = realloc(item.content, units * sizeof(XMLCh));
        } else {
            grown = malloc(units * sizeof(XMLCh));
            if (grown != nullptr && item.contentLength != 0)
                memcpy(grown, item.content, item.contentLength * sizeof(XMLCh));
        }
        if (grown == nullptr) throw QapError(ctx, QAPG002E);
        if (!item.ownBuffer_) ++ownBuffers_;
        item.content = static_cast<XMLCh *>(grown);
        item.ownBuffer_ = true;
        item.allocated_ = static_cast<uint32_t>(units);
        return;
    }
    if (slabTop_ == nullptr || static_cast<uint64_t>(slabEnd_ - slabTop_) < units) {
        size_t size = slabs_ == nullptr                 ? kFirstSlabUnits
                      : slabs_->units < kSmallSlabUnits ? slabs_->units * 2
                                                        : kSlabUnits;
        if (size < units) size = static_cast<size_t>(units);
        Slab *slab = static_cast<Slab *>(takeBlock(Slab::bytes(size)));
        if (slab == nullptr) throw QapError(ctx, QAPG002E);
        slab->next = slabs_;
        slab->units = size;
        slabs_ = slab;
        slabTop_ = slab->data();
        slabEnd_ = slabTop_ + size;
    }
    // The new place lies above the old one (or in a new slab), so the copy cannot overlap.
    XMLCh *at = slabTop_;
    if (item.contentLength != 0) memcpy(at, item.content, item.contentLength * sizeof(XMLCh));
    item.content = at;
    item.allocated_ = static_cast<uint32_t>(slabEnd_ - at);
    slabTop_ = slabEnd_;
    tail_ = &item;
}

namespace {
// The largest block a result takes from a reader's memory: the doubling blocks of small results.
constexpr size_t kPooledBytes = 128u << 10;
} // namespace

void *QapResult::takeBlock(size_t bytes) {
    if (memory_ == nullptr || bytes > kPooledBytes) return qapBigAlloc(bytes);
    try {
        return memory_->allocate(bytes);
    } catch (const XERCES_CPP_NAMESPACE::OutOfMemoryException &) {
        return nullptr;
    }
}

void QapResult::giveBlock(void *block, size_t bytes) {
    if (memory_ == nullptr || bytes > kPooledBytes)
        qapBigFree(block, bytes);
    else
        memory_->deallocate(block);
}

void QapResult::clear() {
    // The destructor frees everything and the constructor sets every member as new.
    XERCES_CPP_NAMESPACE::MemoryManager *memory = memory_;
    QapRoutineCtx *owner = ctx;
    this->~QapResult();
    new (this) QapResult(owner);
    memory_ = memory;
}

void QapResult::setBounds(int32_t limit, uint32_t items) {
    byteLimit_ = limit;
    unitLimit_ = limit > 0 ? static_cast<uint64_t>(limit) : 0;
    maxItems_ = items;
    convertEarly_ = items == 0;
}

void QapResult::reuseLast() {
    last->contentLength = 0;
    last->contentMaxLength = 0;
    last->overLimit = false;
    if (last->content != nullptr) last->content[0] = 0;
}

void QapResult::newItem() {
    if (maxItems_ != 0 && count >= maxItems_) {
        // The last item gives way to the new one, once it is known whether it fits the limit.
        replacedOverLimit_ = replacedOverLimit_ || exceedsLimit(*last);
        reuseLast();
        return;
    }
    if (convertEarly_ && last != nullptr) {
        const bool failed = lastConverted_ ? valueFailed() : convertLast();
        lastConverted_ = false;
        reuseLast();
        last->overLimit = failed; // after a value that failed, nothing more is kept
        ++count;
        return;
    }
    if (blockFree_ == 0) {
        uint32_t items = ItemBlock::kFirstItems;
        if (blocks_ != nullptr)
            items =
                blocks_->items < ItemBlock::kSmallItems ? 2 * blocks_->items : ItemBlock::kMaxItems;
        ItemBlock *b = static_cast<ItemBlock *>(takeBlock(ItemBlock::bytes(items)));
        if (b == nullptr) throw QapError(ctx, QAPG002E);
        b->next = blocks_;
        b->items = items;
        blocks_ = b;
        blockFree_ = items;
    }
    // Items in creation order, so that walking the list goes forward through memory.
    void *at = blocks_->at(blocks_->items - blockFree_);
    --blockFree_;
    QapResultNode *node = new (at) QapResultNode(ctx);
    node->owner_ = this;
    if (last == nullptr)
        first = node;
    else
        last->next = node;
    last = node;
    ++count;
}

void QapResult::addItem(int escape, const XMLCh *text, uint32_t n) {
    const bool replacing =
        (maxItems_ != 0 && count >= maxItems_) || (convertEarly_ && last != nullptr);
    newItem();
    if (replacing || escape != 0 || text == nullptr || n == 0 || n >= kLargeUnits ||
        (ctx != nullptr && ctx->traceOn)) {
        addToCurrentItem(escape, text, n);
        return;
    }
    // A first raw append: capacity n, in the free room of the newest slab, which the item
    // then holds (as growContent does it).
    if (tail_ != nullptr) {
        slabTop_ = tail_->content + tail_->contentMaxLength + 1;
        tail_->allocated_ = tail_->contentMaxLength + 1;
        tail_ = nullptr;
    }
    if (static_cast<uint64_t>(slabEnd_ - slabTop_) <= n) {
        last->addToContent(0, text, n);
        return;
    }
    QapResultNode &item = *last;
    item.content = slabTop_;
    item.allocated_ = static_cast<uint32_t>(slabEnd_ - slabTop_);
    slabTop_ = slabEnd_;
    tail_ = &item;
    item.contentMaxLength = n;
    item.contentLength = n;
    memcpy(item.content, text, static_cast<size_t>(n) * sizeof(XMLCh));
    item.content[n] = 0;
}

void QapResult::addToCurrentItem(int escape, const XMLCh *text) {
    if (text == nullptr) return;
    addToCurrentItem(escape, text, static_cast<uint32_t>(XMLString::stringLen(text)));
}

void QapResult::addToCurrentItem(int escape, const XMLCh *text, uint32_t n) {
    if (text == nullptr) return;
    if (ctx != nullptr && ctx->traceOn) {
        // The trace shows at most the first 255 units.
        XMLCh piece[256];
        uint32_t k = n < 255 ? n : 255;
        memcpy(piece, text, k * sizeof(XMLCh));
        piece[k] = 0;
        char converted[1024];
        if (qapWcstombsFunction(ctx, converted, piece, sizeof converted) < 0) converted[0] = 0;
        QAP_TRACE(ctx, "qapResult::addToCurrentItem", "content: %s\n", converted);
    }
    if (last == nullptr) {
        QAP_TRACE(ctx, "qapResult::addToCurrentItem", "no current item\n");
        return;
    }
    last->addToContent(escape, text, n);
}
