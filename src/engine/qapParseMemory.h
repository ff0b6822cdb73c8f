// The memory manager of one parse. Xerces-C 3.2 forgets the entity declaration of an external
// DTD subset in every parse that reads one; a reader built on this manager cannot leak it,
// because whatever the reader left allocated is freed when the manager goes, after the reader.
#pragma once

#include <xercesc/framework/MemoryManager.hpp>

// Keeps its live blocks on a doubly-linked list through a small header before each block
// (allocate and deallocate are O(1)) and frees the blocks still live when it is destroyed.
// One manager serves one reader on one thread; it must outlive the reader, everything the
// reader owns, and every exception the parse threw. Blocks are aligned to 16 bytes.
class qapParseMemory : public XERCES_CPP_NAMESPACE::MemoryManager {
public:
    qapParseMemory() = default;
    ~qapParseMemory() override;

    // Exceptions may outlive the manager: they use the process-wide one.
    XERCES_CPP_NAMESPACE::MemoryManager *getExceptionMemoryManager() override;
    // Throws OutOfMemoryException when the heap is exhausted, as the parser expects.
    void *allocate(XMLSize_t size) override;
    void deallocate(void *p) override;

private:
    struct alignas(16) Header {
        Header *prev;
        Header *next;
    };
    Header live_{&live_, &live_}; // sentinel of the circular list of live blocks
};
