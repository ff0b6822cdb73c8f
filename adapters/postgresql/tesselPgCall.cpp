// The C++ half of the PostgreSQL extension: runs routine statements through the host runtime's
// calling side. Nothing here includes PostgreSQL's headers or reports to it; every exception is
// caught at the functions of tesselPgCall.h and becomes an outcome.
#include "tesselPgCall.h"

#include "tarnCall.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace tesselpg {

struct Site {
    Site(const tessel::RoutineInfo &r, const tarn::RoutineDesc &desc, int32_t cp)
        : row(r), codePage(cp) {
        inputs.reserve(3);
        if (r.isTable())
            table = std::make_unique<tarn::TableStatement>(desc, cp);
        else
            scalar = std::make_unique<tarn::ScalarStatement>(desc, cp);
    }
    const tessel::RoutineInfo &row;
    const int32_t codePage;
    std::unique_ptr<tarn::ScalarStatement> scalar;
    std::unique_ptr<tarn::TableStatement> table;
    std::vector<tarn::Input> inputs; // the call's arguments (an open table's, for every call)
    std::string argText[3];          // their text, which the inputs view
    bool open = false;
    std::string text;  // the last value's text
    std::string whole; // the last message's whole text
};

namespace {

// A routine's entry in the library, or null: looked up once per routine and process.
void *entryOf(const tessel::RoutineInfo &row) {
    static void *handle = nullptr;
    static std::once_flag once;
    static std::array<std::atomic<void *>, tessel::kCatalogSize> entries{};
    std::call_once(once, [] {
        handle = tarn::libraryHandle(reinterpret_cast<const void *>(&entryOf));
        if (handle != nullptr) dlclose(handle); // the module's own link keeps it loaded
    });
    if (handle == nullptr) return nullptr;
    std::atomic<void *> &entry = entries[static_cast<size_t>(&row - tessel::kCatalog)];
    void *found = entry.load(std::memory_order_acquire);
    if (found == nullptr) {
        found = dlsym(handle, row.name);
        entry.store(found, std::memory_order_release);
    }
    return found;
}

// Call sites whose statement has ended, kept for the next statement of the same routine: a
// point query makes one per statement, and making one costs about as much as its parse. Only
// the statement objects and their buffers are kept (every statement still makes its own
// FIRST and FINAL calls); at most kPooledSites, and no buffer above kPooledBuffer bytes.
constexpr size_t kPooledSites = 16;
constexpr size_t kPooledBuffer = 64 * 1024;

class QapSitePool {
public:
    ~QapSitePool() { release(); }

    std::unique_ptr<Site> take(const tessel::RoutineInfo &row, int32_t codePage) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = sites_.rbegin(); it != sites_.rend(); ++it) {
            if (&(*it)->row != &row || (*it)->codePage != codePage) continue;
            std::unique_ptr<Site> site = std::move(*it);
            sites_.erase(std::next(it).base());
            return site;
        }
        return nullptr;
    }
    // Keeps a finished site with its values forgotten, or frees it when the pool is full.
    void put(std::unique_ptr<Site> site) noexcept {
        forget(*site);
        std::lock_guard<std::mutex> lock(mutex_);
        if (sites_.size() < kPooledSites) sites_.push_back(std::move(site));
    }
    void release() noexcept {
        std::vector<std::unique_ptr<Site>> gone;
        std::lock_guard<std::mutex> lock(mutex_);
        gone.swap(sites_);
    }

private:
    static void forgetText(std::string &text) noexcept {
        if (text.capacity() > kPooledBuffer)
            std::string().swap(text);
        else
            text.clear();
    }
    static void forget(Site &site) noexcept {
        site.inputs.clear();
        for (std::string &text : site.argText)
            forgetText(text);
        forgetText(site.text);
        forgetText(site.whole);
        site.open = false;
    }

    std::mutex mutex_;
    std::vector<std::unique_ptr<Site>> sites_;
};

QapSitePool &sitePool() {
    static QapSitePool pool;
    return pool;
}

// Copies text into a buffer of size bytes, cut to fit. (Made for every row: no formatting.)
template <size_t Size> void copyText(char (&buffer)[Size], const char *text) {
    const size_t n = strnlen(text, Size - 1);
    memcpy(buffer, text, n);
    buffer[n] = '\0';
}

void setState(Outcome &out, const char *state, const char *message) {
    copyText(out.sqlstate, state);
    copyText(out.message, message);
}

// The outcome of a routine call, its text kept in the site.
void take(Site &site, tarn::Outcome &&o, Outcome &out) {
    out = Outcome{};
    if (o.sqlstate.size() != 5) o.sqlstate = "58004";
    while (!o.message.empty() && (o.message.back() == '\n' || o.message.back() == '\r'))
        o.message.pop_back();
    setState(out, o.sqlstate.c_str(), o.message.c_str());
    out.isNull = o.isNull();
    out.dbl = o.dbl;
    out.real = o.real;
    out.integer = o.integer;
    out.smallint = o.smallint;
    site.text = std::move(o.text);
    out.text = site.text.data();
    out.textLength = site.text.size();
    site.whole = std::move(o.whole);
    out.whole = site.whole.empty() ? nullptr : site.whole.c_str();
}

// Runs one step of a statement and turns an exception into an outcome.
template <class Step> void guarded(Outcome &out, Step step) noexcept {
    try {
        step();
    } catch (const std::bad_alloc &) {
        out = Outcome{};
        setState(out, "53200", "Tessel: out of memory");
    } catch (const std::exception &e) {
        out = Outcome{};
        setState(out, "XX000", (std::string("Tessel: ") + e.what()).c_str());
    } catch (...) {
        out = Outcome{};
        setState(out, "XX000", "Tessel: the routine call failed");
    }
}

// The call's arguments as the site's inputs: each text copied once, NUL-terminated, into a
// buffer of the site that keeps its room from call to call, and passed as a view of it.
void setInputs(Site &site, const Arg *args) {
    site.inputs.resize(static_cast<size_t>(site.row.count));
    for (int i = 0; i < site.row.count; ++i) {
        tarn::Input &in = site.inputs[static_cast<size_t>(i)];
        if (args[i].isNull) {
            in = tarn::Input::null();
            continue;
        }
        site.argText[i].assign(args[i].data, args[i].length);
        in.isNull = false;
        in.view = site.argText[i].c_str();
    }
}

} // namespace

void prepareProcess(const char *dataDir) noexcept {
    try {
        setenv("TARNINSTANCE", "tessel", 0);
        const std::string home = dataDir != nullptr && dataDir[0] == '/'
                                     ? std::string(dataDir) + "/tessel"
                                     : std::string();
        if (!home.empty() && getenv("TARNQAPPATH") == nullptr && tarn::privateDirectory(home))
            setenv("TARNQAPPATH", home.c_str(), 0);
        if (!home.empty() && getenv("TARNQAPTEMP") == nullptr && tarn::privateDirectory(home) &&
            tarn::privateDirectory(home + "/tmp"))
            setenv("TARNQAPTEMP", (home + "/tmp").c_str(), 0);
    } catch (...) {
        // without them every first call fails with 38X35, which says what to set
    }
    tarn::useUtf8WhenAscii();
}

const tessel::RoutineInfo *findBuiltRoutine(const char *name) noexcept {
    for (const tessel::RoutineInfo &row : tessel::kCatalog)
        if (row.built && strcasecmp(row.name, name) == 0) return &row;
    return nullptr;
}

Site *createSite(const tessel::RoutineInfo &row, int32_t dbCodePage, char *error,
                 size_t errorSize) noexcept {
    try {
        if (std::unique_ptr<Site> kept = sitePool().take(row, dbCodePage)) return kept.release();
    } catch (...) {
        // a new site is made below
    }
    void *entry = entryOf(row);
    if (entry == nullptr) {
        snprintf(error, errorSize, "libtessel.so does not export the routine %s", row.name);
        return nullptr;
    }
    try {
        return new Site(row, tarn::RoutineDesc::of(row, entry), dbCodePage);
    } catch (const std::exception &e) {
        snprintf(error, errorSize, "cannot prepare %s: %s", row.name, e.what());
    } catch (...) {
        snprintf(error, errorSize, "cannot prepare %s", row.name);
    }
    return nullptr;
}

void destroySite(Site *site) noexcept {
    if (site == nullptr) return;
    std::unique_ptr<Site> owned(site);
    Outcome ignored;
    if (owned->open) closeTable(*owned, ignored);
    guarded(ignored, [&] {
        if (owned->table) owned->table->finish();
        if (owned->scalar) owned->scalar->finish();
    });
    // A statement whose final call did not happen is not reused: its destructor retries it.
    const bool finished = owned->table ? !owned->table->started() : !owned->scalar->started();
    if (finished) sitePool().put(std::move(owned));
}

void releaseSites() noexcept {
    sitePool().release();
}

void callScalar(Site &site, const Arg *args, Outcome &out) noexcept {
    guarded(out, [&] {
        setInputs(site, args);
        take(site, site.scalar->call(site.inputs), out);
    });
}

void openTable(Site &site, const Arg *args, Outcome &out) noexcept {
    guarded(out, [&] {
        setInputs(site, args);
        tarn::Outcome open = site.table->open(site.inputs);
        const bool failed = open.failed();
        take(site, std::move(open), out);
        // The routine's close copes with a failed open; a failed FIRST opened nothing.
        if (failed && site.table->started()) site.table->close(site.inputs);
        site.open = !failed;
    });
}

void fetchRow(Site &site, Outcome &out) noexcept {
    guarded(out, [&] { take(site, site.table->fetch(site.inputs), out); });
    if (out.failed() && site.open) {
        // Closed without taking the close's outcome: out's texts live in the site.
        site.open = false;
        Outcome ignored;
        guarded(ignored, [&] { site.table->close(site.inputs); });
    }
}

void closeTable(Site &site, Outcome &out) noexcept {
    if (!site.open) {
        out = Outcome{};
        setState(out, "00000", "");
        return;
    }
    site.open = false;
    guarded(out, [&] { take(site, site.table->close(site.inputs), out); });
}

bool tableOpen(const Site &site) noexcept {
    return site.open;
}

} // namespace tesselpg
