// The blocks a result keeps its items and their text in, shared by the item storage and the
// result's release.
#pragma once

#include "qapPlatform.h"
#include "qapResult.h"

#include <cstddef>
#include <cstdint>

// A block of items: the first holds 16, each next one twice as many up to 1024, so that a
// small result stays small and a large one takes few allocations.
struct QapResult::ItemBlock {
    static constexpr uint32_t kFirstItems = 16;
    ItemBlock *next;
    uint32_t items;
    QapResultNode *at(uint32_t i) {
        return reinterpret_cast<QapResultNode *>(reinterpret_cast<unsigned char *>(this) +
                                                 kStorage) +
               i;
    }
    // Where the items start: after the header, aligned for them.
    static constexpr size_t kStorage =
        (sizeof(ItemBlock *) + sizeof(uint32_t) + alignof(QapResultNode) - 1) /
        alignof(QapResultNode) * alignof(QapResultNode);
    // Blocks double up to kSmallItems; a result that needs more goes on in big blocks (see
    // qapBigAlloc).
    static constexpr uint32_t kSmallItems = 1024;
    static constexpr uint32_t kMaxItems =
        static_cast<uint32_t>((kBigBlock - kStorage) / sizeof(QapResultNode));
    static size_t bytes(uint32_t items) { return kStorage + items * sizeof(QapResultNode); }
};

struct QapResult::Slab {
    Slab *next;
    size_t units;
    XMLCh *data() { return reinterpret_cast<XMLCh *>(this + 1); }
    static size_t bytes(size_t units) { return sizeof(Slab) + units * sizeof(XMLCh); }
};
