// Extraction results: growing UTF-16 items with entity escaping, their conversion into size-
// limited strings in the database code page, the owned attribute-list copy and the exception
// of the parse.
#include "qapResult.h"

#include "qapConv.h"
#include "qapMsg.h"
#include "qapPlatform.h"
#include "qapTrace.h"

#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using XERCES_CPP_NAMESPACE::XMLString;

namespace {

int formatMessage(QapRoutineCtx *ctx, char *out, int32_t msgNo, ...) {
    va_list args;
    va_start(args, msgNo);
    int n = qapVsprint(ctx, out, msgNo, 0, args);
    va_end(args);
    return n;
}

// The escaping copy, reading s up to its terminator or n units, whichever comes first.
int32_t entityReplace(QapRoutineCtx *ctx, XMLCh *d, const XMLCh *s, size_t n, int32_t c,
                      int32_t *errCode, char *msgtext) {
    static const char *const fn = "qapEntityReplaceUCS";
    QAP_TRACE(ctx, fn, " Entered\n");
    int32_t w = 0;
    // No room even for the terminator.
    bool full = c <= 0;
    for (size_t i = 0; !full; ++i) {
        XMLCh ch = i < n ? s[i] : 0;
        if (w >= c || ch == 0) {
            d[w] = 0;
            QAP_TRACE(ctx, fn, " Exit\n");
            return w + 1;
        }
        const QapEscape *e = qapEscapeOf(ch);
        if (e != nullptr) {
            const int32_t repLength = static_cast<int32_t>(e->length);
            if (c - w - 1 >= repLength) {
                memcpy(d + w, e->text, static_cast<size_t>(repLength) * sizeof(XMLCh));
                w += repLength;
                continue;
            }
        } else if (w + 1 < c) {
            d[w++] = ch;
            continue;
        }
        full = true;
    }
    if (msgtext != nullptr) qapSetMsg(ctx, msgtext, QAPG002E);
    *errCode = -58;
    QAP_TRACE(ctx, fn, " Exit\n");
    return -1;
}

// Units that s (n units, or up to a NUL) takes once escaped.
uint32_t escapedLength(const XMLCh *s, uint32_t n) {
    uint64_t total = 0;
    for (uint32_t i = 0; i < n && s[i] != 0; ++i) {
        const QapEscape *e = qapEscapeOf(s[i]);
        total += e != nullptr ? e->length : 1;
    }
    return total < INT32_MAX ? static_cast<uint32_t>(total) : INT32_MAX;
}

// Writes s (n units, or up to a NUL) escaped into room known to be large enough; returns the
// end of what it wrote.
XMLCh *writeEscaped(XMLCh *d, const XMLCh *s, uint32_t n) {
    for (uint32_t i = 0; i < n && s[i] != 0; ++i) {
        const QapEscape *e = qapEscapeOf(s[i]);
        if (e == nullptr) {
            *d++ = s[i];
            continue;
        }
        memcpy(d, e->text, e->length * sizeof(XMLCh));
        d += e->length;
    }
    return d;
}

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

} // namespace

// ---------------------------------------------------------------------------------------------
// The exception

QAPException::QAPException(QapRoutineCtx *ctx, int32_t msgNo, ...) : ctx(ctx) {
    text[0] = 0;
    va_list args;
    va_start(args, msgNo);
    qapVsprint(ctx, text, msgNo, 0, args);
    va_end(args);
    text[sizeof text - 1] = 0;
}

// ---------------------------------------------------------------------------------------------
// Escaping

int32_t qapEntityReplaceUCS(QapRoutineCtx *ctx, XMLCh *d, const XMLCh *s, int32_t c,
                            int32_t *errCode, char *msgtext) {
    return entityReplace(ctx, d, s, SIZE_MAX, c, errCode, msgtext);
}

// ---------------------------------------------------------------------------------------------
// Items

qapResultNode::~qapResultNode() {
    if (ownBuffer) free(content);
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
bool qapResultNode::reachesLimit(uint64_t n) {
    if (!overLimit && owner != nullptr && contentLength + n >= owner->unitLimit) overLimit = true;
    return overLimit;
}

void qapResultNode::appendSlow(int escape, const XMLCh *s, uint32_t n) {
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
        if (capacity >= INT32_MAX) throw QAPException(ctx, QAPG002E);
        if (capacity + 1 > allocated) reserve(capacity + 1);
        contentMaxLength = static_cast<uint32_t>(capacity);
    }
    copyUnits(content + contentLength, s, n);
    contentLength = static_cast<uint32_t>(length);
    content[length] = 0;
}

void qapResultNode::reserve(uint64_t units) {
    if (units <= allocated) return;
    if (owner != nullptr) {
        owner->growContent(*this, units);
        return;
    }
    void *grown = realloc(content, units * sizeof(XMLCh));
    if (grown == nullptr) throw QAPException(ctx, QAPG002E);
    content = static_cast<XMLCh *>(grown);
    ownBuffer = true;
    allocated = static_cast<uint32_t>(units);
}

void qapResultNode::addPieces(const Piece *pieces, size_t count) {
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
            throw QAPException(ctx, QAPG002E);
        }
        if (to + 1 > allocated) {
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
        // terminator do not fit the room after the text (an escaped unit takes at most 6).
        if (6 * static_cast<uint64_t>(p.n) + 1 > capacity - length) {
            const uint64_t appended = escapedLength(p.s, p.n);
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
        length = static_cast<uint64_t>(writeEscaped(d + length, p.s, p.n) - d);
    }
    settle();
}

void qapResultNode::addJoined(const Piece *pieces, size_t count) {
    uint64_t n = 0;
    for (size_t i = 0; i < count; ++i)
        n += pieces[i].n;
    if (n == 0 || reachesLimit(n)) return;
    const uint64_t length = contentLength + n;
    if (length > contentMaxLength) {
        const uint64_t capacity = n + 2 * static_cast<uint64_t>(contentMaxLength);
        if (capacity >= INT32_MAX) throw QAPException(ctx, QAPG002E);
        if (capacity + 1 > allocated) reserve(capacity + 1);
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

// A block of items: the first holds 16, each next one twice as many up to 1024, so that a
// small result stays small and a large one takes few allocations.
struct qapResult::ItemBlock {
    static constexpr uint32_t kFirstItems = 16;
    ItemBlock *next;
    uint32_t items;
    qapResultNode *at(uint32_t i) {
        return reinterpret_cast<qapResultNode *>(reinterpret_cast<unsigned char *>(this) +
                                                 kStorage) +
               i;
    }
    // Where the items start: after the header, aligned for them.
    static constexpr size_t kStorage =
        (sizeof(ItemBlock *) + sizeof(uint32_t) + alignof(qapResultNode) - 1) /
        alignof(qapResultNode) * alignof(qapResultNode);
    // Blocks double up to kSmallItems; a result that needs more goes on in big blocks (see
    // qapBigAlloc).
    static constexpr uint32_t kSmallItems = 1024;
    static constexpr uint32_t kMaxItems =
        static_cast<uint32_t>((QAP_BIG_BLOCK - kStorage) / sizeof(qapResultNode));
    static size_t bytes(uint32_t items) { return kStorage + items * sizeof(qapResultNode); }
};

struct qapResult::Slab {
    Slab *next;
    size_t units;
    XMLCh *data() { return reinterpret_cast<XMLCh *>(this + 1); }
    static size_t bytes(size_t units) { return sizeof(Slab) + units * sizeof(XMLCh); }
};

namespace {
// Items longer than this get a heap buffer of their own, which grows by realloc and leaves
// nothing behind; shorter ones share slabs of at most kSlabUnits.
constexpr uint64_t kLargeUnits = 8192;
// Slabs double up to kSmallSlabUnits, then a result goes on in big blocks (see qapBigAlloc): a
// small result takes little, a large one fills whole huge pages.
constexpr size_t kSmallSlabUnits = 32768;
constexpr size_t kSlabUnits = (QAP_BIG_BLOCK - sizeof(void *) - sizeof(size_t)) / sizeof(XMLCh);
constexpr size_t kFirstSlabUnits = 1024;
} // namespace

void qapResult::growContent(qapResultNode &item, uint64_t units) {
    // The item that last got space from the newest slab holds all of its free room, so that
    // it grows without coming back here; before anything else moves, the room it does not
    // need goes back to the slab (all of it when that item is the one that moves).
    if (tail != nullptr) {
        if (tail == &item) {
            slabTop = item.content;
        } else {
            slabTop = tail->content + tail->contentMaxLength + 1;
            tail->allocated = tail->contentMaxLength + 1;
        }
        tail = nullptr;
    }
    if (units > kLargeUnits) {
        void *grown;
        if (item.ownBuffer) {
            grown = realloc(item.content, units * sizeof(XMLCh));
        } else {
            grown = malloc(units * sizeof(XMLCh));
            if (grown != nullptr && item.contentLength != 0)
                memcpy(grown, item.content, item.contentLength * sizeof(XMLCh));
        }
        if (grown == nullptr) throw QAPException(ctx, QAPG002E);
        if (!item.ownBuffer) ++ownBuffers;
        item.content = static_cast<XMLCh *>(grown);
        item.ownBuffer = true;
        item.allocated = static_cast<uint32_t>(units);
        return;
    }
    if (slabTop == nullptr || static_cast<uint64_t>(slabEnd - slabTop) < units) {
        size_t size = slabs == nullptr                 ? kFirstSlabUnits
                      : slabs->units < kSmallSlabUnits ? slabs->units * 2
                                                       : kSlabUnits;
        if (size < units) size = static_cast<size_t>(units);
        Slab *slab = static_cast<Slab *>(takeBlock(Slab::bytes(size)));
        if (slab == nullptr) throw QAPException(ctx, QAPG002E);
        slab->next = slabs;
        slab->units = size;
        slabs = slab;
        slabTop = slab->data();
        slabEnd = slabTop + size;
    }
    // The new place lies above the old one (or in a new slab), so the copy cannot overlap.
    XMLCh *at = slabTop;
    if (item.contentLength != 0) memcpy(at, item.content, item.contentLength * sizeof(XMLCh));
    item.content = at;
    item.allocated = static_cast<uint32_t>(slabEnd - at);
    slabTop = slabEnd;
    tail = &item;
}

namespace {
// The largest block a result takes from a reader's memory: the doubling blocks of small results.
constexpr size_t kPooledBytes = 128u << 10;
} // namespace

void *qapResult::takeBlock(size_t bytes) {
    if (memory_ == nullptr || bytes > kPooledBytes) return qapBigAlloc(bytes);
    try {
        return memory_->allocate(bytes);
    } catch (const XERCES_CPP_NAMESPACE::OutOfMemoryException &) {
        return nullptr;
    }
}

void qapResult::giveBlock(void *block, size_t bytes) {
    if (memory_ == nullptr || bytes > kPooledBytes)
        qapBigFree(block, bytes);
    else
        memory_->deallocate(block);
}

void qapResult::clear() {
    // The destructor frees everything and the constructor sets every member as new.
    XERCES_CPP_NAMESPACE::MemoryManager *memory = memory_;
    QapRoutineCtx *owner = ctx;
    this->~qapResult();
    new (this) qapResult(owner);
    memory_ = memory;
}

void qapResult::setBounds(int32_t limit, uint32_t items) {
    byteLimit = limit;
    unitLimit = limit > 0 ? static_cast<uint64_t>(limit) : 0;
    maxItems = items;
    convertEarly = items == 0;
}

void qapResult::reuseLast() {
    last->contentLength = 0;
    last->contentMaxLength = 0;
    last->overLimit = false;
    if (last->content != nullptr) last->content[0] = 0;
}

void qapResult::newItem() {
    if (maxItems != 0 && count >= maxItems) {
        // The last item gives way to the new one, once it is known whether it fits the limit.
        replacedOverLimit = replacedOverLimit || exceedsLimit(*last);
        reuseLast();
        return;
    }
    if (convertEarly && last != nullptr) {
        const bool failed = lastConverted ? valueFailed() : convertLast();
        lastConverted = false;
        reuseLast();
        last->overLimit = failed; // after a value that failed, nothing more is kept
        ++count;
        return;
    }
    if (blockFree == 0) {
        uint32_t items = ItemBlock::kFirstItems;
        if (blocks != nullptr)
            items =
                blocks->items < ItemBlock::kSmallItems ? 2 * blocks->items : ItemBlock::kMaxItems;
        ItemBlock *b = static_cast<ItemBlock *>(takeBlock(ItemBlock::bytes(items)));
        if (b == nullptr) throw QAPException(ctx, QAPG002E);
        b->next = blocks;
        b->items = items;
        blocks = b;
        blockFree = items;
    }
    // Items in creation order, so that walking the list goes forward through memory.
    void *at = blocks->at(blocks->items - blockFree);
    --blockFree;
    qapResultNode *node = new (at) qapResultNode(ctx);
    node->owner = this;
    if (last == nullptr)
        first = node;
    else
        last->next = node;
    last = node;
    ++count;
}

void qapResult::addItem(int escape, const XMLCh *text, uint32_t n) {
    const bool replacing =
        (maxItems != 0 && count >= maxItems) || (convertEarly && last != nullptr);
    newItem();
    if (replacing || escape != 0 || text == nullptr || n == 0 || n >= kLargeUnits ||
        (ctx != nullptr && ctx->traceOn)) {
        addToCurrentItem(escape, text, n);
        return;
    }
    // A first raw append: capacity n, in the free room of the newest slab, which the item
    // then holds (as growContent does it).
    if (tail != nullptr) {
        slabTop = tail->content + tail->contentMaxLength + 1;
        tail->allocated = tail->contentMaxLength + 1;
        tail = nullptr;
    }
    if (static_cast<uint64_t>(slabEnd - slabTop) <= n) {
        last->addToContent(0, text, n);
        return;
    }
    qapResultNode &item = *last;
    item.content = slabTop;
    item.allocated = static_cast<uint32_t>(slabEnd - slabTop);
    slabTop = slabEnd;
    tail = &item;
    item.contentMaxLength = n;
    item.contentLength = n;
    memcpy(item.content, text, static_cast<size_t>(n) * sizeof(XMLCh));
    item.content[n] = 0;
}

void qapResult::addToCurrentItem(int escape, const XMLCh *text) {
    if (text == nullptr) return;
    addToCurrentItem(escape, text, static_cast<uint32_t>(XMLString::stringLen(text)));
}

void qapResult::addToCurrentItem(int escape, const XMLCh *text, uint32_t n) {
    if (text == nullptr) return;
    if (ctx != nullptr && ctx->traceOn) {
        // The trace shows at most the first 255 units.
        XMLCh piece[256];
        uint32_t k = n < 255 ? n : 255;
        memcpy(piece, text, k * sizeof(XMLCh));
        piece[k] = 0;
        char converted[1024];
        if (QAP_wcstombsFunction(ctx, converted, piece, sizeof converted) < 0) converted[0] = 0;
        QAP_TRACE(ctx, "qapResult::addToCurrentItem", "content: %s\n", converted);
    }
    if (last == nullptr) {
        QAP_TRACE(ctx, "qapResult::addToCurrentItem", "no current item\n");
        return;
    }
    last->addToContent(escape, text, n);
}

namespace {
// UTF-16 text (length units, NUL-terminated there) up to its first NUL as UTF-8 into d, which
// has room for 3 bytes per unit and a terminator (no unit takes more: a surrogate pair takes 4
// bytes for 2 units). Returns the byte count, or -1 when the text holds an unpaired surrogate.
int32_t toUtf8(unsigned char *d, const XMLCh *in, uint32_t length) {
    unsigned char *const start = d;
    const XMLCh *const end = in + length;
    for (;;) {
        // The bulk of text in a UTF-8 database: several units at a time while they are ASCII
        // and not NUL.
#if defined(__SSE2__)
        // Eight at a time; of a block that is not all ASCII, the ASCII units before the first
        // other one (the packed store writes all eight bytes, but d has room for them and the
        // bytes beyond are written again later).
        while (end - in >= 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
            // Units from 1 to 0x7F (as signed 16-bit numbers).
            const __m128i ok = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_setzero_si128()),
                                             _mm_cmplt_epi16(v, _mm_set1_epi16(0x80)));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(d), _mm_packus_epi16(v, v));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(ok));
            if (mask != 0xFFFF) {
                const unsigned ascii = static_cast<unsigned>(__builtin_ctz(~mask)) / 2;
                d += ascii;
                in += ascii;
                break;
            }
            d += 8;
            in += 8;
        }
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Four at a time: with every unit below 0x80, subtracting one sets a unit's top bit
        // only when some unit is 0.
        while (end - in >= 4) {
            uint64_t v;
            memcpy(&v, in, sizeof v);
            if ((v & 0xFF80FF80FF80FF80ULL) != 0 ||
                ((v - 0x0001000100010001ULL) & 0x8000800080008000ULL) != 0)
                break;
            v = (v | (v >> 8)) & 0x0000FFFF0000FFFFULL;
            const uint32_t bytes = static_cast<uint32_t>(v | (v >> 16));
            memcpy(d, &bytes, sizeof bytes);
            d += 4;
            in += 4;
        }
#endif
        uint32_t c;
        if (end - in < 8) {
            // The last few units, ASCII ones without going round.
            while ((c = *in) - 1 < 0x7F) {
                *d++ = static_cast<unsigned char>(c);
                ++in;
            }
        }
        c = *in++;
        if (c < 0x80) {
            *d = static_cast<unsigned char>(c);
            if (c == 0) return static_cast<int32_t>(d - start);
            ++d;
        } else if (c < 0x800) {
            *d++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            const uint32_t low = *in;
            if (c > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return -1;
            ++in;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            *d++ = static_cast<unsigned char>(0xF0 | (c >> 18));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            *d++ = static_cast<unsigned char>(0xE0 | (c >> 12));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
}

// Items up to this many units are converted through a buffer shared by the items, and copied
// into a string of their exact size; longer ones are converted in place and then shrunk.
constexpr uint32_t kScratchUnits = 16384;
// Strings of at most this many bytes take the smallest block the heap hands out.
constexpr uint64_t kSmallBytes = 24;
// Longer values of up to this many bytes are converted on the stack first.
constexpr uint64_t kLocalBytes = 1024;

// The conversion of the items of one retrieve into the database code page.
// The strings of a result of several values, in chunks that double from 1 KB to 64 KB, then
// big blocks (see qapBigAlloc): one allocation serves many values, and the few values of a
// small document take a block the heap keeps at hand. take() hands out room at the top of
// the newest chunk, keep() gives back what the last taker did not use.
class ValueChunks {
public:
    struct Chunk {
        Chunk *next;
        size_t bytes; // of the whole chunk, header included
    };
    explicit ValueChunks(void **head) : head_(head) {}
    char *take(size_t n) {
        if (static_cast<size_t>(end_ - top_) < n) {
            size_t bytes = last_bytes_ < kSmallChunk ? 2 * last_bytes_ : QAP_BIG_BLOCK;
            if (bytes < sizeof(Chunk) + n) bytes = sizeof(Chunk) + n;
            auto *c = static_cast<Chunk *>(qapBigAlloc(bytes));
            if (c == nullptr) return nullptr;
            c->next = static_cast<Chunk *>(*head_);
            c->bytes = bytes;
            *head_ = c;
            last_bytes_ = bytes;
            top_ = reinterpret_cast<char *>(c + 1);
            end_ = reinterpret_cast<char *>(c) + bytes;
        }
        last_ = top_;
        top_ += n;
        return last_;
    }
    void keep(size_t used) { top_ = last_ + used; }
    // Forgets every string: the newest chunk serves again when it is small, the others go.
    void rewind() {
        auto *head = static_cast<Chunk *>(*head_);
        if (head == nullptr) return;
        if (head->bytes > kSmallChunk) {
            release(head);
            *head_ = nullptr;
            top_ = end_ = last_ = nullptr;
            last_bytes_ = 512;
            return;
        }
        release(head->next);
        head->next = nullptr;
        top_ = reinterpret_cast<char *>(head + 1);
        end_ = reinterpret_cast<char *>(head) + head->bytes;
    }
    static void release(void *head) {
        for (auto *c = static_cast<Chunk *>(head); c != nullptr;) {
            Chunk *next = c->next;
            qapBigFree(c, c->bytes);
            c = next;
        }
    }

private:
    static constexpr size_t kSmallChunk = 64 << 10;
    size_t last_bytes_ = 512;
    void **head_;
    char *top_ = nullptr;
    char *end_ = nullptr;
    char *last_ = nullptr;
};

class ItemConverter {
public:
    ItemConverter(QapRoutineCtx *ctx)
        : ctx_(ctx),
          utf8_(ctx != nullptr && ctx->convInfo != nullptr && ctx->convInfo->dbConv != nullptr &&
                ucnv_getType(ctx->convInfo->dbConv) == UCNV_UTF8) {}
    ~ItemConverter() { free(scratch_); }
    ItemConverter(const ItemConverter &) = delete;
    ItemConverter &operator=(const ItemConverter &) = delete;

    // The text converted within capacity bytes (terminator included): a new string, or null
    // when it does not fit, cannot be converted or memory runs out. A UTF-8 database gets
    // well-formed text directly (the bytes are the converter's), in a string of its exact
    // size (short ones in the heap's smallest block); everything else, and every failure,
    // goes through QAP_wcstombsFunction in a buffer of capacity bytes.
    char *convert(const XMLCh *in, uint32_t length, int32_t capacity, ValueChunks *chunks) {
        const uint64_t most = 3 * static_cast<uint64_t>(length) + 1;
        if (chunks != nullptr) {
            // Converted straight into the chunk; what it did not need goes back.
            if (utf8_ && most <= static_cast<uint64_t>(capacity)) {
                char *value = chunks->take(most);
                if (value == nullptr) return nullptr;
                const int32_t n = toUtf8(reinterpret_cast<unsigned char *>(value), in, length);
                if (n >= 0) {
                    chunks->keep(static_cast<size_t>(n) + 1);
                    return value;
                }
                chunks->keep(0);
            }
            char *value = chunks->take(static_cast<size_t>(capacity));
            if (value == nullptr) return nullptr;
            if (QAP_wcstombsFunction(ctx_, value, in, capacity) == -1) {
                chunks->keep(0);
                return nullptr;
            }
            chunks->keep(strlen(value) + 1);
            return value;
        }
        if (utf8_ && most <= static_cast<uint64_t>(capacity)) {
            if (most <= kSmallBytes) {
                // As small as a heap block gets anyway: converted in place.
                char *value = static_cast<char *>(malloc(most));
                if (value == nullptr) return nullptr;
                if (toUtf8(reinterpret_cast<unsigned char *>(value), in, length) >= 0) return value;
                free(value);
            } else if (most <= kLocalBytes) {
                // Converted on the stack, then copied into a string of its exact size.
                unsigned char local[kLocalBytes];
                const int32_t n = toUtf8(local, in, length);
                if (n >= 0) {
                    char *value = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
                    if (value != nullptr) memcpy(value, local, static_cast<size_t>(n) + 1);
                    return value;
                }
            } else if (length <= kScratchUnits) {
                if (scratch_ == nullptr)
                    scratch_ = static_cast<unsigned char *>(malloc(3 * kScratchUnits + 1));
                if (scratch_ != nullptr) {
                    const int32_t n = toUtf8(scratch_, in, length);
                    if (n >= 0) {
                        char *value = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
                        if (value != nullptr) memcpy(value, scratch_, static_cast<size_t>(n) + 1);
                        return value;
                    }
                }
            } else {
                char *value = static_cast<char *>(malloc(most));
                if (value == nullptr) return nullptr;
                const int32_t n = toUtf8(reinterpret_cast<unsigned char *>(value), in, length);
                if (n >= 0) {
                    void *shrunk = realloc(value, static_cast<size_t>(n) + 1);
                    return shrunk != nullptr ? static_cast<char *>(shrunk) : value;
                }
                free(value);
            }
        }
        char *value = static_cast<char *>(malloc(static_cast<size_t>(capacity)));
        if (value != nullptr && QAP_wcstombsFunction(ctx_, value, in, capacity) == -1) {
            free(value);
            value = nullptr;
        }
        return value;
    }

private:
    QapRoutineCtx *ctx_;
    bool utf8_;
    unsigned char *scratch_ = nullptr;
};

// The item in the database code page within limit bytes (terminator included), or null when it
// does not fit or cannot be converted. Several values share chunks; a single one is a heap
// string its taker may keep (chunks null).
char *convertItem(QapRoutineCtx *ctx, const qapResultNode &item, int32_t limit,
                  ItemConverter &converter, ValueChunks *chunks) {
    char *value = nullptr;
    if (item.overLimit) {
        // fails
    } else if (item.content == nullptr) {
        value = static_cast<char *>(chunks != nullptr ? chunks->take(1) : malloc(1));
        if (value != nullptr) value[0] = 0;
    } else {
        // At most 4 bytes per unit and the terminator, never more than the limit.
        int64_t size = 4 * static_cast<int64_t>(item.contentLength) + 4;
        if (size > limit) size = limit;
        if (size > 0)
            value = converter.convert(item.content, item.contentLength, static_cast<int32_t>(size),
                                      chunks);
    }
    if (value == nullptr)
        QAP_TRACE(ctx, "qapResult::retrieve", "extract result exceeds %d\n",
                  static_cast<int>(limit));
    else
        QAP_TRACE(ctx, "qapResult::retrieve", "extract result %s\n", value);
    return value;
}
} // namespace

struct qapResult::Converted {
    explicit Converted(QapRoutineCtx *ctx) : converter(ctx) {}
    ~Converted() {
        ValueChunks::release(strings);
        free(values);
    }
    Converted(const Converted &) = delete;
    Converted &operator=(const Converted &) = delete;

    ItemConverter converter;
    void *strings = nullptr; // the chunks, handed over with the values
    ValueChunks chunks{&strings};
    char **values = nullptr;
    size_t count = 0;
    size_t taken = 0; // values handed out by takeValue
    size_t capacity = 0;
    bool failed = false; // a value did not fit: the values end before it
};

qapResult::~qapResult() {
    delete converted;
    // Only items grown into heap buffers of their own have anything to free.
    for (qapResultNode *n = first; n != nullptr && ownBuffers != 0;) {
        qapResultNode *next = n->next;
        if (n->ownBuffer) --ownBuffers;
        n->~qapResultNode();
        n = next;
    }
    while (blocks != nullptr) {
        ItemBlock *next = blocks->next;
        giveBlock(blocks, ItemBlock::bytes(blocks->items));
        blocks = next;
    }
    while (slabs != nullptr) {
        Slab *next = slabs->next;
        giveBlock(slabs, Slab::bytes(slabs->units));
        slabs = next;
    }
}

bool qapResult::convertLast() {
    if (converted == nullptr) {
        converted = new (std::nothrow) Converted(ctx);
        if (converted == nullptr) throw QAPException(ctx, QAPG002E);
    }
    Converted &c = *converted;
    if (c.failed) return true;
    if (c.count + 2 > c.capacity) {
        // Room for this value and the terminator.
        const size_t capacity = c.capacity < 16 ? 16 : 2 * c.capacity;
        auto *values = static_cast<char **>(realloc(c.values, capacity * sizeof(char *)));
        if (values == nullptr) throw QAPException(ctx, QAPG002E);
        c.values = values;
        c.capacity = capacity;
    }
    char *value = convertItem(ctx, *last, byteLimit, c.converter, &c.chunks);
    if (value == nullptr) {
        c.failed = failed_ = true;
    } else {
        c.values[c.count++] = value;
        ++ready_;
        readyUnits_ += last->contentLength;
    }
    return c.failed;
}

void qapResult::convertLastNow() {
    convertLast();
    lastConverted = true;
}

char *qapResult::takeValue() {
    if (ready_ == 0) return nullptr;
    --ready_;
    Converted &c = *converted;
    return c.values[c.taken++];
}

void qapResult::dropTaken() {
    if (ready_ != 0 || converted == nullptr) return;
    readyUnits_ = 0;
    converted->taken = converted->count = 0;
    converted->chunks.rewind();
}

bool qapResult::exceedsLimit(const qapResultNode &item) {
    if (item.overLimit) return true;
    if (item.content == nullptr || item.contentLength == 0) return false;
    int64_t size = 4 * static_cast<int64_t>(item.contentLength) + 4;
    if (size > byteLimit) size = byteLimit;
    if (size <= 0) return true;
    ItemConverter converter(ctx);
    char *value =
        converter.convert(item.content, item.contentLength, static_cast<int32_t>(size), nullptr);
    const bool fits = value != nullptr;
    free(value);
    return !fits;
}

QapExtractResult *qapResult::retrieve(int32_t limit) {
    static const char *const fn = "qapResult::retrieve";
    QapExtractResult *r = static_cast<QapExtractResult *>(calloc(1, sizeof(QapExtractResult)));
    if (r == nullptr) return nullptr;
    QAP_TRACE(ctx, fn, "entered count %d\n", static_cast<int>(count));
    auto exceeds = [&]() {
        r->message = static_cast<char *>(calloc(1, QAP_RESULT_MESSAGE_SIZE));
        if (r->message != nullptr) formatMessage(ctx, r->message, QAPC013E);
        memcpy(r->sqlstate, "38X39", 6);
    };
    memcpy(r->sqlstate, "00000", 6);

    if (converted != nullptr) {
        // Every item but the last was converted during the parse.
        try {
            if (!lastConverted) convertLast();
        } catch (const QAPException &) {
            memcpy(r->sqlstate, "38X10", 6);
            return r;
        }
        Converted &c = *converted;
        c.values[c.count] = nullptr;
        r->values = c.values;
        r->strings = c.strings;
        c.values = nullptr;
        c.strings = nullptr;
        r->cursor = r->values;
        if (c.failed) exceeds();
        return r;
    }

    r->values = static_cast<char **>(malloc((static_cast<size_t>(count) + 1) * sizeof(char *)));
    if (r->values == nullptr) {
        memcpy(r->sqlstate, "38X10", 6);
        return r;
    }
    r->values[count] = nullptr;
    r->cursor = r->values;
    if (replacedOverLimit) {
        QAP_TRACE(ctx, fn, "an extract result beyond the kept ones exceeds %d\n",
                  static_cast<int>(limit));
        r->values[0] = nullptr;
        exceeds();
        return r;
    }
    ItemConverter converter(ctx);
    ValueChunks chunks(&r->strings);
    ValueChunks *shared = count > 1 ? &chunks : nullptr;
    for (qapResultNode *item = first; item != nullptr; item = item->next) {
        char *value = convertItem(ctx, *item, limit, converter, shared);
        *r->cursor = value;
        if (value == nullptr) {
            exceeds();
            break;
        }
        ++r->cursor;
    }
    r->cursor = r->values;
    return r;
}

void freeExtractResult(QapRoutineCtx *, QapExtractResult *result) {
    if (result == nullptr) return;
    if (result->values != nullptr) {
        if (result->strings == nullptr)
            for (char **v = result->values; *v != nullptr; ++v)
                free(*v);
        free(result->values);
        result->values = nullptr;
    }
    ValueChunks::release(result->strings);
    result->strings = nullptr;
    result->cursor = nullptr;
    free(result->message);
    result->message = nullptr;
}

// ---------------------------------------------------------------------------------------------
// The attribute-list copy

namespace {
constexpr unsigned kLocalNameLine = 353;
constexpr unsigned kQNameLine = 276;
constexpr unsigned kValueLine = 221;

[[noreturn]] void outOfRange(QapRoutineCtx *ctx, const char *fn, XMLSize_t index, unsigned line) {
    QAP_TRACE(ctx, fn, "Index (%d) out of range.\n", static_cast<int>(index));
    char lineText[16];
    snprintf(lineText, sizeof lineText, "%u", line);
    throw QAPException(ctx, QAPG001E, qapBuildStamp, "qapSgDocHandler", lineText);
}
} // namespace

QapAttrs::QapAttrs(QapRoutineCtx *ctx, const XERCES_CPP_NAMESPACE::Attributes &attrs) : ctx(ctx) {
    assign(attrs);
}

QapAttrs::~QapAttrs() {
    free(block);
    free(uri);
}

// Builds the block from the strings that get(i, kind) gives: kind 0 local name, 1 qualified
// name, 2 value. The block is reused when it is large enough, unless the strings come from it
// (fresh).
template <class Get>
static void fill(QapAttrs &a, size_t n, Get get, bool fresh, void *&block, size_t &blockSize,
                 QapRoutineCtx *ctx) {
    size_t chars = 0;
    for (size_t i = 0; i < n; ++i)
        chars += units(get(i, 0)) + units(get(i, 1)) + units(get(i, 2));
    size_t need = 3 * (n + 1) * sizeof(XMLCh *) + chars * sizeof(XMLCh);
    void *target = block;
    size_t size = blockSize;
    if (need > blockSize || fresh) {
        size = (need + 63) & ~static_cast<size_t>(63);
        target = malloc(size);
        if (target == nullptr) throw QAPException(ctx, QAPG002E);
    }
    XMLCh **localNames = static_cast<XMLCh **>(target);
    XMLCh **qNames = localNames + n + 1;
    XMLCh **values = qNames + n + 1;
    XMLCh *cursor = reinterpret_cast<XMLCh *>(values + n + 1);
    for (size_t i = 0; i < n; ++i) {
        localNames[i] = place(cursor, get(i, 0));
        values[i] = place(cursor, get(i, 2));
        qNames[i] = place(cursor, get(i, 1));
    }
    localNames[n] = qNames[n] = values[n] = nullptr;
    if (target != block) {
        free(block);
        block = target;
        blockSize = size;
    }
    a.count = static_cast<uint32_t>(n);
    a.localNames = localNames;
    a.qNames = qNames;
    a.values = values;
}

void QapAttrs::assign(const XERCES_CPP_NAMESPACE::Attributes &attrs) {
    if (&attrs == this) return;
    const XMLSize_t n = attrs.getLength();
    if (n == 0 && blockSize >= 3 * sizeof(XMLCh *)) {
        // An element without attributes: three empty arrays in the block it has.
        localNames = static_cast<XMLCh **>(block);
        qNames = localNames + 1;
        values = localNames + 2;
        localNames[0] = qNames[0] = values[0] = nullptr;
        count = 0;
        return;
    }
    fill(
        *this, n,
        [&attrs](size_t i, int kind) -> const XMLCh * {
            return kind == 0   ? attrs.getLocalName(i)
                   : kind == 1 ? attrs.getQName(i)
                               : attrs.getValue(i);
        },
        false, block, blockSize, ctx);
}

void QapAttrs::setValue(XMLSize_t index, const XMLCh *value) {
    if (index >= count) outOfRange(ctx, "QapAttrs::setValue", index, kValueLine);
    XMLCh **oldLocal = localNames;
    XMLCh **oldQ = qNames;
    XMLCh **oldValues = values;
    fill(
        *this, count,
        [=](size_t i, int kind) -> const XMLCh * {
            return kind == 0    ? oldLocal[i]
                   : kind == 1  ? oldQ[i]
                   : i == index ? value
                                : oldValues[i];
        },
        true, block, blockSize, ctx);
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
