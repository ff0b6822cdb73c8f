// The per-parse memory manager: a list of live blocks, freed in full at the end.
#include "qapParseMemory.h"

#include <cstdlib>
#include <limits>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>

XERCES_CPP_NAMESPACE_USE

qapParseMemory::~qapParseMemory() {
    for (Header *h = live_.next; h != &live_;) {
        Header *next = h->next;
        free(h);
        h = next;
    }
}

MemoryManager *qapParseMemory::getExceptionMemoryManager() {
    return XMLPlatformUtils::fgMemoryManager;
}

void *qapParseMemory::allocate(XMLSize_t size) {
    if (size > std::numeric_limits<size_t>::max() - sizeof(Header)) throw OutOfMemoryException();
    auto *h = static_cast<Header *>(malloc(sizeof(Header) + size));
    if (h == nullptr) throw OutOfMemoryException();
    h->prev = &live_;
    h->next = live_.next;
    live_.next->prev = h;
    live_.next = h;
    return h + 1;
}

void qapParseMemory::deallocate(void *p) {
    if (p == nullptr) return;
    Header *h = static_cast<Header *>(p) - 1;
    h->prev->next = h->next;
    h->next->prev = h->prev;
    free(h);
}
