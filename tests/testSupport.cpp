#include "testSupport.h"

#include "tessel.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unicode/ucnv.h>
#include <unistd.h>

namespace tesseltest {

namespace {
std::string makeDir() {
    char templ[] = "/tmp/tessel-test-XXXXXX";
    if (mkdtemp(templ) == nullptr) std::abort();
    return templ;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
    return ::remove(path);
}

struct Dirs {
    std::string scratch = makeDir();
    std::string temp = scratch + "/tmp";
    std::string trace = scratch + "/trace";
    Dirs() {
        mkdir(temp.c_str(), 0700);
        mkdir(trace.c_str(), 0700);
    }
    ~Dirs() { nftw(scratch.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }
};

Dirs &dirs() {
    static Dirs d;
    return d;
}
} // namespace

const std::string &scratchDir() {
    return dirs().scratch;
}
const std::string &tempDir() {
    return dirs().temp;
}
const std::string &tracePathDir() {
    return dirs().trace;
}

std::string writeFile(const std::string &name, const std::string &content) {
    std::string path = name.size() > 0 && name[0] == '/' ? name : scratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return path;
}

std::string repeat(const std::string &s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i)
        r += s;
    return r;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> listDir(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

size_t openFilesIn(const std::string &dir) {
    std::set<std::pair<dev_t, ino_t>> files; // a file held by two descriptors counts once
    for (const std::string &fd : listDir("/proc/self/fd")) {
        const std::string link = "/proc/self/fd/" + fd;
        char target[4096];
        struct stat st;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, n).rfind(dir + "/", 0) == 0 &&
            stat(link.c_str(), &st) == 0)
            files.insert({st.st_dev, st.st_ino});
    }
    return files.size();
}

std::string runInChild(const std::function<std::string()> &body) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const std::string told = body();
        _exit(write(fds[1], told.data(), told.size()) < 0);
    }
    close(fds[1]);
    std::string told;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        told.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? told : "crashed " + told;
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

TestCtx::TestCtx(int32_t dbCodePage, const char *appEncoding)
    : ctx_(static_cast<QapRoutineCtx *>(calloc(1, sizeof(QapRoutineCtx)))) {
    memcpy(dbinfo + 268, &dbCodePage, sizeof dbCodePage);
    initRc = qapInit(ctx_, 0, dbinfo, {sqlstate, msgtext}, appEncoding);
}

TestCtx::~TestCtx() {
    char state[kSqlstateSize] = "00000";
    qapRelease(ctx_, state);
    free(ctx_);
}

#define TESSEL_TEST_ENTRY(name, ...) {#name, reinterpret_cast<void *>(&name)},

tarn::RoutineDesc routine(const std::string &name) {
    static const std::map<std::string, void *> entries = {TESSEL_CATALOG(TESSEL_TEST_ENTRY)};
    const tessel::RoutineInfo *row = tessel::findRoutine(name.c_str());
    if (row == nullptr) throw std::invalid_argument("no routine " + name);
    return tarn::RoutineDesc::of(*row, entries.at(name));
}

} // namespace tesseltest

// Every test process starts from the same environment, whatever the machine's.
int main(int argc, char **argv) {
    setenv("LC_ALL", "C", 1);
    setenv("TZ", "UTC", 1);
    unsetenv("TMP");
    unsetenv("TARNQAP_MIN_TMPFILE_SIZE");
    unsetenv("TARN_EXTERNAL_ENTITIES");
    // The routines may read and write the files the tests make (tests of the rule set their own).
    setenv("TARN_READ_ACCESS", tesseltest::scratchDir().c_str(), 1);
    setenv("TARN_WRITE_ACCESS", tesseltest::scratchDir().c_str(), 1);
    unsetenv("NLSPATH");
    setlocale(LC_ALL, "C");
    tzset();
    ucnv_setDefaultName("UTF-8");
    setenv("TARNINSTANCE", "tessel_test", 1);
    setenv("TARNQAPPATH", tesseltest::tracePathDir().c_str(), 1);
    setenv("TARNQAPTEMP", tesseltest::tempDir().c_str(), 1);
    if (chdir(tesseltest::scratchDir().c_str()) != 0) return 2;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
