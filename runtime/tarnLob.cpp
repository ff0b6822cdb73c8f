// The host's LOB locator services: a process-wide table of locators and their values.
#include "tarnRuntime.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace {

struct Lob {
    std::string bytes;
    bool result = false; // made by sqludf_create_locator: the only kind that takes appends
};

struct LobTable {
    std::mutex lock;
    std::unordered_map<uint32_t, Lob> lobs;
    uint32_t last = 0;

    // A fresh nonzero locator value that is not in use (the caller holds the lock).
    uint32_t nextLocator() {
        do {
            ++last;
        } while (last == 0 || lobs.count(last) != 0);
        return last;
    }

    Lob *find(const sqludf_locator *loc) {
        auto it = lobs.find(*loc);
        return it == lobs.end() ? nullptr : &it->second;
    }
};

LobTable &table() {
    static LobTable t;
    return t;
}

} // namespace

extern "C" {

TARN_API int sqludf_length(sqludf_locator *loc, int32_t *length) {
    LobTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (loc == nullptr || length == nullptr) return TARN_LOB_NULL_ARGUMENT;
    *length = 0;
    const Lob *lob = t.find(loc);
    if (lob == nullptr) return TARN_LOB_UNKNOWN_LOCATOR;
    *length = static_cast<int32_t>(lob->bytes.size());
    return 0;
}

TARN_API int sqludf_substr(sqludf_locator *loc, int32_t start, int32_t count, unsigned char *buf,
                           int32_t *returned) {
    LobTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (loc == nullptr || returned == nullptr || (buf == nullptr && count > 0))
        return TARN_LOB_NULL_ARGUMENT;
    *returned = 0;
    const Lob *lob = t.find(loc);
    if (lob == nullptr) return TARN_LOB_UNKNOWN_LOCATOR;
    const int64_t size = static_cast<int64_t>(lob->bytes.size());
    // A start one past the end is a valid (empty) read; anything beyond is not.
    if (start < 1 || start > size + 1 || count < 0) return TARN_LOB_OUT_OF_RANGE;
    const int64_t avail = size - (start - 1);
    const int32_t n = static_cast<int32_t>(count < avail ? count : avail);
    if (n > 0) memcpy(buf, lob->bytes.data() + (start - 1), static_cast<size_t>(n));
    *returned = n;
    return 0;
}

TARN_API int sqludf_create_locator(int type, sqludf_locator **output) {
    LobTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (output == nullptr || *output == nullptr) return TARN_LOB_NULL_ARGUMENT;
    if (type != SQLUDF_LOCATOR_TYPE_CLOB) return TARN_LOB_WRONG_TYPE;
    try {
        const uint32_t id = t.nextLocator();
        t.lobs[id].result = true;
        **output = id;
    } catch (const std::bad_alloc &) {
        return TARN_LOB_NO_MEMORY;
    }
    return 0;
}

TARN_API int sqludf_append(sqludf_locator *loc, unsigned char *buf, int32_t length,
                           int32_t *appended) {
    LobTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (loc == nullptr || appended == nullptr || (buf == nullptr && length > 0))
        return TARN_LOB_NULL_ARGUMENT;
    *appended = 0;
    Lob *lob = t.find(loc);
    if (lob == nullptr) return TARN_LOB_UNKNOWN_LOCATOR;
    if (!lob->result) return TARN_LOB_READ_ONLY;
    if (length < 0 || static_cast<int64_t>(lob->bytes.size()) + length > INT32_MAX)
        return TARN_LOB_OUT_OF_RANGE;
    try {
        lob->bytes.append(reinterpret_cast<const char *>(buf), static_cast<size_t>(length));
    } catch (const std::bad_alloc &) {
        return TARN_LOB_NO_MEMORY;
    }
    *appended = length;
    return 0;
}

TARN_API uint32_t tarnLobFromBytes(const char *bytes, int32_t length) {
    if (length < 0 || (bytes == nullptr && length > 0)) return 0;
    LobTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    try {
        const uint32_t id = t.nextLocator();
        t.lobs[id].bytes.assign(bytes == nullptr ? "" : bytes, static_cast<size_t>(length));
        return id;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

TARN_API int32_t tarnLobBytes(uint32_t locator, const char **bytes) {
    LobTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    const Lob *lob = t.find(&locator);
    if (bytes != nullptr) *bytes = lob == nullptr ? nullptr : lob->bytes.data();
    return lob == nullptr ? -1 : static_cast<int32_t>(lob->bytes.size());
}

TARN_API void tarnLobFree(uint32_t locator) {
    LobTable &t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    t.lobs.erase(locator);
}
}
