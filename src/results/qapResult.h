// Extraction results: growing UTF-16 items collected during a parse and handed back as
// size-limited strings in the database code page.
#pragma once

#include "qapCtx.h"
#include "qapMsg.h"
#include "qapExtractResult.h"

#include <cstdint>
#include <cstring>
#include <xercesc/framework/MemoryManager.hpp>

// One result item: a growing NUL-terminated UTF-16 buffer.
class QapResultNode {
public:
    explicit QapResultNode(QapRoutineCtx *ctx) : ctx(ctx) {}
    ~QapResultNode();
    QapResultNode(const QapResultNode &) = delete;
    QapResultNode &operator=(const QapResultNode &) = delete;

    // Appends n units of s, raw (escape kEscapeNone) or escaped as another kind of qapEscape.h
    // (s must then be NUL-terminated at n). Throws QapError.
    void addToContent(int escape, const XMLCh *s, uint32_t n) {
        // Here raw text that needs no new buffer; the rest out of line.
        const uint64_t length = static_cast<uint64_t>(contentLength) + n;
        if (escape != 0 || n == 0 || overLimit ||
            (length > contentMaxLength &&
             // Growth: the needed length plus twice the capacity.
             n + 2 * static_cast<uint64_t>(contentMaxLength) >= allocated_))
            return appendSlow(escape, s, n);
        if (length > contentMaxLength) contentMaxLength = n + 2 * contentMaxLength;
        memcpy(content + contentLength, s, static_cast<size_t>(n) * sizeof(XMLCh));
        contentLength = static_cast<uint32_t>(length);
        content[length] = 0;
    }

    // One text of a run of appends.
    struct Piece {
        const XMLCh *s;
        uint32_t n;
        int escape;
    };
    // Appends the pieces in order, with exactly the effect of one addToContent per piece.
    // Throws QapError.
    void addPieces(const Piece *pieces, size_t count);
    // Appends the pieces' concatenation raw, with exactly the effect of one addToContent of
    // it (the pieces' escape flags are not read). Throws QapError.
    void addJoined(const Piece *pieces, size_t count);

    XMLCh *content = nullptr;
    uint32_t contentLength = 0;
    uint32_t contentMaxLength = 0;
    QapResultNode *next = nullptr;
    QapRoutineCtx *ctx;
    // The text reached the result's limit: it can only fail, so it stopped growing.
    bool overLimit = false;

private:
    friend class QapResult;
    // addToContent where it may need a new buffer, or escapes.
    void appendSlow(int escape, const XMLCh *s, uint32_t n);
    bool reachesLimit(uint64_t n);
    // Makes the buffer hold at least units units, keeping the text; throws QapError.
    void reserve(uint64_t units);
    // Where content lives: a heap buffer of its own (freed with the item), or space in the
    // owning result's storage (owner set, ownBuffer false).
    class QapResult *owner_ = nullptr;
    bool ownBuffer_ = false;
    uint32_t allocated_ = 0; // units the buffer really holds (at least contentMaxLength + 1)
};

// The ordered list of result items.
class QapResult {
public:
    explicit QapResult(QapRoutineCtx *ctx) : ctx(ctx) {}
    ~QapResult();
    QapResult(const QapResult &) = delete;
    QapResult &operator=(const QapResult &) = delete;

    void newItem();
    // A new item holding n units of text: newItem, then addToCurrentItem(escape, text, n).
    void addItem(int escape, const XMLCh *text, uint32_t n);
    void addToCurrentItem(int escape, const XMLCh *text);
    void addToCurrentItem(int escape, const XMLCh *text, uint32_t length);
    // The items converted to the database code page, each shorter than limit bytes; a new
    // record owned by the caller, or null.
    QapExtractResult *retrieve(int32_t limit);

    uint32_t count = 0;
    QapResultNode *first = nullptr;
    QapResultNode *last = nullptr;
    QapRoutineCtx *ctx;

    // Bounds what the parse keeps: a value that reaches limit units (so at least limit bytes in
    // any code page) stops growing and fails at retrieve; beyond maxItems items (0: no bound)
    // each new item replaces the last one, the one replaced only checked against the limit.
    // With no bound on items, an item is converted (within limit) as soon as the next one
    // starts, and its node and buffer serve the next: the parse holds one item's text at a
    // time, and retrieve only hands over the values.
    void setBounds(int32_t limit, uint32_t maxItems);
    // Empties the result (items, bounds, converted values) as if it were new; the memory it
    // takes its blocks from stays.
    void clear();
    // Takes the blocks of small results from memory (a reader's, which keeps freed blocks for
    // the next parse) instead of the process heap; before the first item only. The manager
    // must outlive the result.
    void useMemory(XERCES_CPP_NAMESPACE::MemoryManager *memory) {
        if (blocks_ == nullptr && slabs_ == nullptr) memory_ = memory;
    }

    // Values one at a time, with no bound on items: finishLast converts the last item as soon
    // as nothing more can join it (throws QapError), valueReady tells whether a converted
    // value waits (readyCount how many, readyUnits their UTF-16 length), takeValue hands it out
    // (in order; null when none waits), and dropTaken lets the room of the values handed out
    // serve the next ones once none waits.
    void finishLast() {
        if (convertEarly_ && last != nullptr && !lastConverted_) convertLastNow();
    }
    bool valueReady() const { return ready_ != 0; }
    size_t readyCount() const { return ready_; }
    uint64_t readyUnits() const { return readyUnits_; }
    char *takeValue();
    void dropTaken();
    // True once a value did not fit the limit: the values end before it.
    bool valueFailed() const { return failed_; }
    // The state and message of the value that failed: "38X39" and QAPC013E for one beyond the
    // limit, "38X45" and QAPQ055E (with ICU's status) for one holding a character the database
    // code page does not have, which is never replaced by a substitute. message may be null.
    void setValueFailure(char *sqlstate, char *message) const;

private:
    friend class QapResultNode;
    // A block for items or text: from memory_ when it is small, else qapBigAlloc. Null when
    // memory runs out.
    void *takeBlock(size_t bytes);
    void giveBlock(void *block, size_t bytes);
    XERCES_CPP_NAMESPACE::MemoryManager *memory_ = nullptr;
    // True when the item cannot be converted within the limit.
    bool exceedsLimit(const QapResultNode &item);
    // Moves or extends an item's buffer to hold units units.
    void growContent(QapResultNode &item, uint64_t units);
    // Empties the last item in place for the next one.
    void reuseLast();
    // Converts the last item into the values converted so far; true once a value did not fit.
    // Throws QapError.
    bool convertLast();

    // The items, and the buffers of all but large items, live in blocks owned by the result:
    // one allocation serves many items, and the last item grows in place.
    struct ItemBlock;
    struct Slab;
    ItemBlock *blocks_ = nullptr;
    uint32_t blockFree_ = 0;
    Slab *slabs_ = nullptr;
    XMLCh *slabTop_ = nullptr; // next free unit of the newest slab
    XMLCh *slabEnd_ = nullptr;
    QapResultNode *tail_ = nullptr; // the item holding the newest slab's free room, or null
    size_t ownBuffers_ = 0;         // items whose buffer is a heap block of their own
    uint64_t unitLimit_ = UINT64_MAX;
    int32_t byteLimit_ = INT32_MAX;
    uint32_t maxItems_ = 0;
    bool replacedOverLimit_ = false; // an item replaced beyond maxItems exceeded the limit
    bool convertEarly_ = false;
    bool lastConverted_ = false; // finishLast converted the last item already
    size_t ready_ = 0;           // converted values not yet taken
    uint64_t readyUnits_ = 0;    // their length before conversion, until dropTaken
    bool failed_ = false;        // a converted value did not fit
    int32_t unmappable_ = 0;     // ICU's status when a value failed for a missing character
    void convertLastNow();
    struct Converted;
    Converted *converted_ = nullptr; // the values converted during the parse
};

// Frees the strings, the values array and the message of a result record (not the record).
void qapFreeExtractResult(QapRoutineCtx *ctx, QapExtractResult *result);
