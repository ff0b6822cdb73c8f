// The host's profile registry: values set by tarnRegistrySet, with the read-access,
// write-access and external-entities entries falling back to the environment when nothing was
// set.
#include "tarnRuntime.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace {

struct Registry {
    std::mutex lock;
    std::map<int32_t, std::string> values;
};

Registry &registry() {
    static Registry r;
    return r;
}

const char *environmentName(int32_t id) {
    switch (id) {
    case TARN_REG_READ_ACCESS:
        return "TARN_READ_ACCESS";
    case TARN_REG_WRITE_ACCESS:
        return "TARN_WRITE_ACCESS";
    case TARN_REG_EXTERNAL_ENTITIES:
        return "TARN_EXTERNAL_ENTITIES";
    case TARN_REG_MAX_PARSE_MEMORY:
        return "TARN_MAX_PARSE_MEMORY";
    default:
        return nullptr;
    }
}

// The calling thread's own values.
thread_local std::map<int32_t, std::string> threadValues;

} // namespace

extern "C" {

TARN_API char *sqloGetEnv(int32_t id) {
    if (!threadValues.empty()) {
        auto it = threadValues.find(id);
        if (it != threadValues.end()) return strdup(it->second.c_str());
    }
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.values.find(id);
    if (it != r.values.end()) return strdup(it->second.c_str());
    const char *name = environmentName(id);
    const char *value = name == nullptr ? nullptr : getenv(name);
    return value == nullptr ? nullptr : strdup(value);
}

TARN_API void tarnRegistrySet(int32_t id, const char *value) {
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    try {
        if (value == nullptr)
            r.values.erase(id);
        else
            r.values[id] = value;
    } catch (const std::bad_alloc &) {
        r.values.erase(id); // no half-set value: the entry reads as unset
    }
}

TARN_API void tarnRegistrySetForThread(int32_t id, const char *value) {
    try {
        if (value == nullptr)
            threadValues.erase(id);
        else
            threadValues[id] = value;
    } catch (const std::bad_alloc &) {
        threadValues.erase(id);
    }
}
}
