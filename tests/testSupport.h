// Shared test fixtures: every test process runs with a fixed locale, time zone and ICU default
// converter, and its own private directories for trace files, temporary files and documents.
#pragma once

#include "qapCtx.h"
#include "qapInit.h"
#include "tarnCall.h"

#include <functional>
#include <string>
#include <vector>

namespace tesseltest {

// A private directory for this test process (removed at exit).
const std::string &scratchDir();
// The directory TARNQAPTEMP names for this process (temporary files land there).
const std::string &tempDir();
// The directory TARNQAPPATH names for this process (trace control files).
const std::string &tracePathDir();

// Writes a file below scratchDir() (or at an absolute path) and returns its absolute path.
std::string writeFile(const std::string &name, const std::string &content);
// s written n times.
std::string repeat(const std::string &s, int n);
// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string &path);
// The names of the entries in a directory.
std::vector<std::string> listDir(const std::string &dir);
// How many files of a directory this process holds open, named or not (temporary files have
// no name, or lose it at once).
size_t openFilesIn(const std::string &dir);
// True when something exists at the path.
bool exists(const std::string &path);
// Runs body in a child process and returns what it returned there; "crashed " and what it
// wrote when the child did not exit, "pipe" when no pipe could be made.
std::string runInChild(const std::function<std::string()> &body);

// A catalogued routine described for the calling side, by its name.
tarn::RoutineDesc routine(const std::string &name);

// Sets or (value null) unsets an environment variable for the scope of the object.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_;
};

// A routine context initialised by qapInit as a routine's first call would, with the database
// code page and application encoding chosen by the test (null: ICU's default, UTF-8 in tests).
class TestCtx {
public:
    explicit TestCtx(int32_t dbCodePage = 1208, const char *appEncoding = nullptr);
    ~TestCtx();
    TestCtx(const TestCtx &) = delete;
    TestCtx &operator=(const TestCtx &) = delete;
    QapRoutineCtx *get() { return ctx_; }
    operator QapRoutineCtx *() { return ctx_; }
    QapRoutineCtx *operator->() { return ctx_; }

    int32_t initRc;
    char sqlstate[kSqlstateSize] = "00000";
    char msgtext[kMsgTextSize] = "";
    unsigned char dbinfo[1024] = {};

private:
    QapRoutineCtx *ctx_;
};

} // namespace tesseltest
