// Result values: the items converted into size-limited strings in the database code page,
// during the parse one at a time or all at the end, and the release of a result.
#include "qapResult.h"

#include "qapConv.h"
#include "qapMsg.h"
#include "qapPlatform.h"
#include "qapResultBlocks.h"
#include "qapTrace.h"
#include "qapUtf8.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

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
            size_t bytes = lastBytes_ < kSmallChunk ? 2 * lastBytes_ : kBigBlock;
            if (bytes < sizeof(Chunk) + n) bytes = sizeof(Chunk) + n;
            auto *c = static_cast<Chunk *>(qapBigAlloc(bytes));
            if (c == nullptr) return nullptr;
            c->next = static_cast<Chunk *>(*head_);
            c->bytes = bytes;
            *head_ = c;
            lastBytes_ = bytes;
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
            lastBytes_ = 512;
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
    size_t lastBytes_ = 512;
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
    // goes through qapWcstombsFunction in a buffer of capacity bytes.
    char *convert(const XMLCh *in, uint32_t length, int32_t capacity, ValueChunks *chunks) {
        const uint64_t most = 3 * static_cast<uint64_t>(length) + 1;
        if (chunks != nullptr) {
            // Converted straight into the chunk; what it did not need goes back.
            if (utf8_ && most <= static_cast<uint64_t>(capacity)) {
                char *value = chunks->take(most);
                if (value == nullptr) return nullptr;
                const int32_t n = qapToUtf8(reinterpret_cast<unsigned char *>(value), in, length);
                if (n >= 0) {
                    chunks->keep(static_cast<size_t>(n) + 1);
                    return value;
                }
                chunks->keep(0);
            }
            char *value = chunks->take(static_cast<size_t>(capacity));
            if (value == nullptr) return nullptr;
            if (toDb(value, in, capacity) == -1) {
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
                if (qapToUtf8(reinterpret_cast<unsigned char *>(value), in, length) >= 0)
                    return value;
                free(value);
            } else if (most <= kLocalBytes) {
                // Converted on the stack, then copied into a string of its exact size.
                unsigned char local[kLocalBytes];
                const int32_t n = qapToUtf8(local, in, length);
                if (n >= 0) {
                    char *value = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
                    if (value != nullptr) memcpy(value, local, static_cast<size_t>(n) + 1);
                    return value;
                }
            } else if (length <= kScratchUnits) {
                if (scratch_ == nullptr)
                    scratch_ = static_cast<unsigned char *>(malloc(3 * kScratchUnits + 1));
                if (scratch_ != nullptr) {
                    const int32_t n = qapToUtf8(scratch_, in, length);
                    if (n >= 0) {
                        char *value = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
                        if (value != nullptr) memcpy(value, scratch_, static_cast<size_t>(n) + 1);
                        return value;
                    }
                }
            } else {
                char *value = static_cast<char *>(malloc(most));
                if (value == nullptr) return nullptr;
                const int32_t n = qapToUtf8(reinterpret_cast<unsigned char *>(value), in, length);
                if (n >= 0) {
                    void *shrunk = realloc(value, static_cast<size_t>(n) + 1);
                    return shrunk != nullptr ? static_cast<char *>(shrunk) : value;
                }
                free(value);
            }
        }
        char *value = static_cast<char *>(malloc(static_cast<size_t>(capacity)));
        if (value != nullptr && toDb(value, in, capacity) == -1) {
            free(value);
            value = nullptr;
        }
        return value;
    }

    // The ICU status of the last conversion that failed because a character has no place in
    // the database code page (no substitute is written), or 0.
    int32_t unmappable = 0;

private:
    // qapWcstombsFunction with no substitute character: -1 also when a character has no place
    // in the database code page, which unmappable then tells.
    int32_t toDb(char *out, const XMLCh *in, int32_t capacity) {
        UConverter *db =
            ctx_ != nullptr && ctx_->convInfo != nullptr ? ctx_->convInfo->dbConv : nullptr;
        QapStrictConversion strict(db);
        const int32_t n = qapWcstombsFunction(ctx_, out, in, capacity);
        if (n == -1 && db != nullptr) {
            // Too long, or not convertible at all: a conversion without output tells which.
            UErrorCode status = U_ZERO_ERROR;
            ucnv_fromUChars(db, nullptr, 0, in, -1, &status);
            if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) unmappable = status;
        }
        return n;
    }

    QapRoutineCtx *ctx_;
    bool utf8_;
    unsigned char *scratch_ = nullptr;
};

// The item in the database code page within limit bytes (terminator included), or null when it
// does not fit or cannot be converted. Several values share chunks; a single one is a heap
// string its taker may keep (chunks null).
char *convertItem(QapRoutineCtx *ctx, const QapResultNode &item, int32_t limit,
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

struct QapResult::Converted {
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

// Here, beside the converted values it frees; the blocks it gives back are the item storage's.
QapResult::~QapResult() {
    delete converted_;
    // Only items grown into heap buffers of their own have anything to free.
    for (QapResultNode *n = first; n != nullptr && ownBuffers_ != 0;) {
        QapResultNode *next = n->next;
        if (n->ownBuffer_) --ownBuffers_;
        n->~QapResultNode();
        n = next;
    }
    while (blocks_ != nullptr) {
        ItemBlock *next = blocks_->next;
        giveBlock(blocks_, ItemBlock::bytes(blocks_->items));
        blocks_ = next;
    }
    while (slabs_ != nullptr) {
        Slab *next = slabs_->next;
        giveBlock(slabs_, Slab::bytes(slabs_->units));
        slabs_ = next;
    }
}

bool QapResult::convertLast() {
    if (converted_ == nullptr) {
        converted_ = new (std::nothrow) Converted(ctx);
        if (converted_ == nullptr) throw QapError(ctx, QAPG002E);
    }
    Converted &c = *converted_;
    if (c.failed) return true;
    if (c.count + 2 > c.capacity) {
        // Room for this value and the terminator.
        const size_t capacity = c.capacity < 16 ? 16 : 2 * c.capacity;
        auto *values = static_cast<char **>(realloc(c.values, capacity * sizeof(char *)));
        if (values == nullptr) throw QapError(ctx, QAPG002E);
        c.values = values;
        c.capacity = capacity;
    }
    char *value = convertItem(ctx, *last, byteLimit_, c.converter, &c.chunks);
    if (value == nullptr) {
        c.failed = failed_ = true;
        unmappable_ = c.converter.unmappable;
    } else {
        c.values[c.count++] = value;
        ++ready_;
        readyUnits_ += last->contentLength;
    }
    return c.failed;
}

void QapResult::convertLastNow() {
    convertLast();
    lastConverted_ = true;
}

char *QapResult::takeValue() {
    if (ready_ == 0) return nullptr;
    --ready_;
    Converted &c = *converted_;
    return c.values[c.taken++];
}

void QapResult::dropTaken() {
    if (ready_ != 0 || converted_ == nullptr) return;
    readyUnits_ = 0;
    converted_->taken = converted_->count = 0;
    converted_->chunks.rewind();
}

bool QapResult::exceedsLimit(const QapResultNode &item) {
    if (item.overLimit) return true;
    if (item.content == nullptr || item.contentLength == 0) return false;
    int64_t size = 4 * static_cast<int64_t>(item.contentLength) + 4;
    if (size > byteLimit_) size = byteLimit_;
    if (size <= 0) return true;
    ItemConverter converter(ctx);
    char *value =
        converter.convert(item.content, item.contentLength, static_cast<int32_t>(size), nullptr);
    const bool fits = value != nullptr;
    free(value);
    if (!fits && unmappable_ == 0) unmappable_ = converter.unmappable;
    return !fits;
}

void QapResult::setValueFailure(char *sqlstate, char *message) const {
    if (unmappable_ != 0) {
        char number[16];
        snprintf(number, sizeof number, "%d", static_cast<int>(unmappable_));
        if (message != nullptr) qapSetMsg(ctx, message, QAPQ055E, number);
        memcpy(sqlstate, "38X45", 6);
    } else {
        if (message != nullptr) qapSetMsg(ctx, message, QAPC013E);
        memcpy(sqlstate, "38X39", 6);
    }
}

QapExtractResult *QapResult::retrieve(int32_t limit) {
    static const char *const fn = "qapResult::retrieve";
    QapExtractResult *r = static_cast<QapExtractResult *>(calloc(1, sizeof(QapExtractResult)));
    if (r == nullptr) return nullptr;
    QAP_TRACE(ctx, fn, "entered count %d\n", static_cast<int>(count));
    auto exceeds = [&]() {
        r->message = static_cast<char *>(calloc(1, kResultMessageSize));
        setValueFailure(r->sqlstate, r->message);
    };
    memcpy(r->sqlstate, "00000", 6);

    if (converted_ != nullptr) {
        // Every item but the last was converted during the parse.
        try {
            if (!lastConverted_) convertLast();
        } catch (const QapError &) {
            memcpy(r->sqlstate, "38X10", 6);
            return r;
        }
        Converted &c = *converted_;
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
    if (replacedOverLimit_) {
        QAP_TRACE(ctx, fn, "an extract result beyond the kept ones exceeds %d\n",
                  static_cast<int>(limit));
        r->values[0] = nullptr;
        exceeds();
        return r;
    }
    ItemConverter converter(ctx);
    ValueChunks chunks(&r->strings);
    ValueChunks *shared = count > 1 ? &chunks : nullptr;
    for (QapResultNode *item = first; item != nullptr; item = item->next) {
        char *value = convertItem(ctx, *item, limit, converter, shared);
        *r->cursor = value;
        if (value == nullptr) {
            unmappable_ = converter.unmappable;
            exceeds();
            break;
        }
        ++r->cursor;
    }
    r->cursor = r->values;
    return r;
}

void qapFreeExtractResult(QapRoutineCtx *, QapExtractResult *result) {
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
