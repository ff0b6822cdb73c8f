// The memory manager of a reader. Xerces-C 3.2 forgets the entity declaration of an external
// DTD subset in every parse that reads one; a reader built on this manager cannot leak it,
// because whatever the reader left allocated is freed when the manager goes, after the reader.
// A reader reused for many parses allocates and frees the same sizes over and over: freed
// blocks of the usual sizes are kept for the next request of their size instead of going back
// to the process heap, so that a parse in the steady state takes nothing from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <xercesc/framework/MemoryManager.hpp>

// What a parse learns from its memory while it runs (see QapParseMemory::watch). Neither call
// may allocate from the memory that calls it.
class QapParseWatch {
public:
    // Every few thousand allocations, and before an allocation would pass the budget (then
    // overBudget is true): the watch may note why the parse must stop and answer true, and
    // the allocation fails as when the heap is exhausted.
    virtual bool refuse(bool overBudget) = 0;
    // A block of 64 KB or more goes back; must not throw (it runs in destructors).
    virtual void largeBlockFreed(void *block) = 0;
    // An allocation came below the stack floor (see QapParseMemory::setStackFloor): the watch
    // may note it, and the allocation fails.
    virtual void stackExhausted() {}

protected:
    ~QapParseWatch() = default;
};

// Blocks of up to 16 KB are carved from 256 KB chunks, so that the parser's small blocks lie
// together however scattered the process heap is; larger ones are kept on a doubly-linked
// list through a small header before them. All are freed when the manager is destroyed.
// One manager serves one reader on one thread; it must outlive the reader, everything the
// reader owns, and every exception the parse threw. Blocks are aligned to 16 bytes.
class QapParseMemory : public XERCES_CPP_NAMESPACE::MemoryManager {
public:
    QapParseMemory() = default;
    ~QapParseMemory() override;
    QapParseMemory(const QapParseMemory &) = delete;
    QapParseMemory &operator=(const QapParseMemory &) = delete;

    // Exceptions may outlive the manager: they use the process-wide one.
    XERCES_CPP_NAMESPACE::MemoryManager *getExceptionMemoryManager() override;
    // Throws OutOfMemoryException when the heap is exhausted, as the parser expects.
    void *allocate(XMLSize_t size) override;
    void deallocate(void *p) override;

    // For tests: the nth allocation from now (0: the next) of every parse memory fails, as when
    // the heap is exhausted; -1 (the default) fails none.
    static void failAfter(long n);
    // The reader is being destroyed: the parser allocates in some destructors and cannot take
    // a failure there, so no failure is made up from now on.
    void beginRelease() { releasing_ = true; }
    // The largest block taken from the heap so far: what the parser holds in one piece.
    size_t largestBlock() const { return largest_; }
    // The most the manager may take from the heap (0: no limit); what it holds already stays.
    void setBudget(size_t bytes) { budget_ = bytes; }
    // Bytes taken from the heap and not given back (free lists and chunks included), and
    // bytes charged.
    size_t held() const { return held_; }
    // Counts bytes held elsewhere, or work the parse is answerable for, against the budget as
    // if they were taken from the heap; past it fails as allocate does (the watch is told).
    // Throws OutOfMemoryException.
    void charge(size_t bytes);
    // Gives the free blocks carved from no chunk back to the heap: a manager kept for another
    // reader's parses holds no more than its chunks and what is in use.
    void trim();
    // Gives back what charge counted.
    void discharge(size_t bytes) { held_ -= bytes < held_ ? bytes : held_; }
    // The watch of the running parse, or null; it must outlive its watching.
    void watch(QapParseWatch *watch) { watch_ = watch; }
    // An allocation from a frame below floor fails (the watch is told): the parser recurses
    // over some schema structures, and each level allocates. Null: no floor.
    void setStackFloor(const void *floor) { floor_ = static_cast<const char *>(floor); }
    // The next allocation asks the watch.
    void pollNext() { allocations_ = kPollAllocations - 1; }
    // An allocation asks the watch every this many allocations.
    static constexpr uint32_t kPollAllocations = 4096;

private:
    struct alignas(16) Header {
        Header *prev;
        Header *next;
        Header *nextFree; // in its size's free list, while it is free
        size_t sizeClass; // for a block of its own size (past the classes): its bytes
    };
    // Size classes by powers of two from 32 bytes to 1 MB (an entity's reader takes buffers of
    // more than 64 KB each time it opens); larger blocks go back to the heap.
    static constexpr size_t kClasses = 16;
    static constexpr size_t kSmallest = 32;
    static size_t classOf(size_t size);
    static constexpr size_t kWatchedClass = 11; // 64 KB and more: the watch sees them freed

    struct alignas(16) Chunk {
        Chunk *next;
    };
    static constexpr size_t kChunk = 256 << 10;
    static constexpr size_t kCarved = 16 << 10; // the largest block carved from a chunk

    Header live_{&live_, &live_, nullptr, 0}; // sentinel of the circular list of large blocks
    Chunk *chunks_ = nullptr;
    char *chunkTop_ = nullptr;
    char *chunkEnd_ = nullptr;
    Header *free_[kClasses] = {};
    // The heap, within the budget; throws OutOfMemoryException.
    void *take(size_t bytes);
    // Counts an allocation and asks the watch when one is due.
    void poll();
    bool releasing_ = false;
    size_t largest_ = 0;
    size_t budget_ = 0;
    size_t held_ = 0;
    uint32_t allocations_ = 0;
    QapParseWatch *watch_ = nullptr;
    const char *floor_ = nullptr;
};
