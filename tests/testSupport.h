// Shared test fixtures: every test process runs with a fixed locale, time zone and ICU default
// converter, and its own private directories for trace files, temporary files and documents.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A private directory for this test process (removed at exit).
const std::string &scratchDir();
// The directory TARNQAPTEMP names for this process (temporary files land there).
const std::string &tempDir();
// The directory TARNQAPPATH names for this process (trace control files).
const std::string &tracePathDir();

// Writes a file below scratchDir() (or at an absolute path) and returns its absolute path.
std::string writeFile(const std::string &name, const std::string &content);
// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string &path);
// The names of the entries in a directory.
std::vector<std::string> listDir(const std::string &dir);

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

} // namespace testing_support
