// The benchmarks' generated documents: deterministic, so that runs and builds compare.
#include "benchDocument.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

// A small deterministic generator (no dependence on the C library's rand).
struct Lcg {
    uint64_t s = 0x2545F4914F6CDD1DULL;
    uint32_t next() {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(s >> 33);
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// Orders whose id is a multiple of this carry a <note>: a handful of elements per document.
constexpr uint64_t kNoteEvery = 100000;

const char *const kCities[] = {
    "Z\xC3\xBCrich", "S\xC3\xA3o Paulo", "Krak\xC3\xB3w", "Oslo", "\xE6\x9D\xB1\xE4\xBA\xAC",
    "Lyon",          "M\xC3\xA1laga",    "Austin"};
const char *const kWords[] = {"widget", "gadget", "bolt",  "washer", "bracket", "hinge",
                              "spring", "gear",   "valve", "cable",  "panel",   "sensor"};

// A document file created for writing through a large buffer (one file at a time), or null.
FILE *createDocument(const std::string &path) {
    static char buf[1 << 20];
    FILE *f = fopen(path.c_str(), "wb");
    if (f != nullptr) setvbuf(f, buf, _IOFBF, sizeof buf);
    return f;
}

} // namespace

int64_t bench::generateOrders(const std::string &path, uint64_t target) {
    FILE *f = createDocument(path);
    if (f == nullptr) return -1;
    Lcg rng;
    uint64_t written = 0;
    auto put = [&](const char *s, int n) {
        fwrite(s, 1, static_cast<size_t>(n), f);
        written += static_cast<uint64_t>(n);
    };
    char line[1024];
    int n = snprintf(line, sizeof line,
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orders source=\"bench\">\n");
    put(line, n);
    const char *const closing = "</orders>\n";
    const uint64_t closingLen = strlen(closing);
    for (uint64_t id = 1; written + closingLen < target; ++id) {
        const uint32_t cust = rng.below(50000);
        n = snprintf(line, sizeof line,
                     "  <order id=\"%" PRIu64 "\" date=\"2024-%02u-%02u\" status=\"%s\">\n"
                     "    <customer id=\"c%u\"><name>Customer %u</name>"
                     "<city>%s</city></customer>\n",
                     id, 1 + rng.below(12), 1 + rng.below(28),
                     rng.below(4) == 0 ? "open" : "shipped", cust, cust, kCities[rng.below(8)]);
        put(line, n);
        const uint32_t items = 1 + rng.below(5);
        for (uint32_t i = 0; i < items; ++i) {
            n = snprintf(line, sizeof line,
                         "    <item sku=\"SKU-%05u\" qty=\"%u\" price=\"%u.%02u\">"
                         "<desc>%s &amp; %s &lt;size %u&gt; \xE2\x80\x93 \"%s\"</desc></item>\n",
                         rng.below(100000), 1 + rng.below(9), 1 + rng.below(500), rng.below(100),
                         kWords[rng.below(12)], kWords[rng.below(12)], 1 + rng.below(40),
                         kWords[rng.below(12)]);
            put(line, n);
        }
        if (id % kNoteEvery == 0) {
            n = snprintf(line, sizeof line, "    <note>checked %" PRIu64 "</note>\n", id);
            put(line, n);
        }
        put("  </order>\n", 11);
    }
    put(closing, static_cast<int>(closingLen));
    const bool ok = fclose(f) == 0;
    return ok ? static_cast<int64_t>(written) : -1;
}

int64_t bench::generateValues(const std::string &path, uint64_t count) {
    FILE *f = createDocument(path);
    if (f == nullptr) return -1;
    Lcg rng;
    int64_t written = fprintf(f, "<r>\n");
    for (uint64_t i = 0; i < count; ++i)
        written += fprintf(f, "<e>%u</e>\n", rng.below(1000000));
    written += fprintf(f, "</r>\n");
    return fclose(f) == 0 ? written : -1;
}
