// A reader's memory manager: every block on one list, freed in full at the end; freed blocks
// of the usual sizes kept for reuse.
#include "qapParseMemory.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {
std::atomic<long> failCountdown{-1};
} // namespace

void QapParseMemory::failAfter(long n) {
    failCountdown.store(n, std::memory_order_relaxed);
}

QapParseMemory::~QapParseMemory() {
    for (Header *h = live_.next; h != &live_;) {
        Header *next = h->next;
        free(h);
        h = next;
    }
    while (chunks_ != nullptr) {
        Chunk *next = chunks_->next;
        free(chunks_);
        chunks_ = next;
    }
}

MemoryManager *QapParseMemory::getExceptionMemoryManager() {
    return XMLPlatformUtils::fgMemoryManager;
}

size_t QapParseMemory::classOf(size_t size) {
    size_t c = 0;
    for (size_t capacity = kSmallest; capacity < size && c < kClasses; capacity <<= 1)
        ++c;
    return c;
}

void QapParseMemory::poll() {
    allocations_ = 0;
    if (watch_ != nullptr && !releasing_ && watch_->refuse(false)) throw OutOfMemoryException();
}

void QapParseMemory::charge(size_t bytes) {
    if (budget_ != 0 && !releasing_ && (bytes > budget_ || held_ > budget_ - bytes)) {
        if (watch_ != nullptr) watch_->refuse(true);
        throw OutOfMemoryException();
    }
    held_ += bytes;
}

void *QapParseMemory::take(size_t bytes) {
    charge(bytes);
    void *block = malloc(bytes);
    if (block == nullptr) {
        held_ -= bytes;
        throw OutOfMemoryException();
    }
    return block;
}

void *QapParseMemory::allocate(XMLSize_t size) {
    if (!releasing_ && failCountdown.load(std::memory_order_relaxed) >= 0 &&
        failCountdown.fetch_sub(1, std::memory_order_relaxed) == 0)
        throw OutOfMemoryException();
    if (++allocations_ >= kPollAllocations) poll();
    if (floor_ != nullptr && static_cast<const char *>(__builtin_frame_address(0)) < floor_ &&
        !releasing_) {
        if (watch_ != nullptr) watch_->stackExhausted();
        throw OutOfMemoryException();
    }
    const size_t c = classOf(size);
    if (c < kClasses && free_[c] != nullptr) {
        Header *h = free_[c];
        free_[c] = h->nextFree;
        return h + 1;
    }
    const size_t bytes = c < kClasses ? kSmallest << c : size;
    if (bytes > std::numeric_limits<size_t>::max() - sizeof(Header)) throw OutOfMemoryException();
    if (bytes > largest_) largest_ = bytes;
    if (bytes <= kCarved) {
        // Small blocks side by side in chunks, wherever the process heap has room.
        const size_t need = sizeof(Header) + bytes;
        if (static_cast<size_t>(chunkEnd_ - chunkTop_) < need) {
            auto *chunk = static_cast<Chunk *>(take(kChunk));
            chunk->next = chunks_;
            chunks_ = chunk;
            chunkTop_ = reinterpret_cast<char *>(chunk + 1);
            chunkEnd_ = reinterpret_cast<char *>(chunk) + kChunk;
        }
        auto *h = reinterpret_cast<Header *>(chunkTop_);
        chunkTop_ += need;
        *h = Header{nullptr, nullptr, nullptr, c};
        return h + 1;
    }
    auto *h = static_cast<Header *>(take(sizeof(Header) + bytes));
    h->prev = &live_;
    h->next = live_.next;
    h->nextFree = nullptr;
    h->sizeClass = c < kClasses ? c : sizeof(Header) + bytes; // a block of its own: its size
    live_.next->prev = h;
    live_.next = h;
    return h + 1;
}

void QapParseMemory::trim() {
    for (size_t c = 0; c < kClasses; ++c) {
        const size_t bytes = kSmallest << c;
        if (bytes <= kCarved) continue;
        for (Header *h = free_[c]; h != nullptr;) {
            Header *next = h->nextFree;
            h->prev->next = h->next;
            h->next->prev = h->prev;
            held_ -= sizeof(Header) + bytes;
            free(h);
            h = next;
        }
        free_[c] = nullptr;
    }
}

void QapParseMemory::deallocate(void *p) {
    if (p == nullptr) return;
    Header *h = static_cast<Header *>(p) - 1;
    if (h->sizeClass >= kWatchedClass && watch_ != nullptr && !releasing_)
        watch_->largeBlockFreed(p);
    if (h->sizeClass < kClasses) {
        h->nextFree = free_[h->sizeClass];
        free_[h->sizeClass] = h;
        return;
    }
    h->prev->next = h->next;
    h->next->prev = h->prev;
    held_ -= h->sizeClass;
    free(h);
}
