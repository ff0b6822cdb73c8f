// What every routine context rests on: its application encoding, the message catalog with its
// fallback to the built-in texts, and the trace facility. (The calls of a statement, the
// first call's failures and the routine message texts: test_routines.cpp.)
#include "qapCtx.h"
#include "qapLib.h"
#include "qapMsg.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::ScopedEnv;
using testing_support::scratchDir;
using testing_support::TestCtx;
using testing_support::writeFile;

namespace {

// Runs a check in a child process (the catalog handle is cached once per process), starting
// from a catalog not opened yet; the child's exit status is the number of failed checks.
int inChild(const std::function<int()> &check) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        tarnCatRelease(qapLibLock.catalog); // inherited from the parent's earlier messages
        qapLibLock.catalog = 0;
        _exit(check());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 0 when the message text for the number is the wanted one.
int expectText(int32_t msgNo, const std::string &want, const char *arg = "") {
    QapRoutineCtx ctx{};
    char out[QAP_MSGTEXT_SIZE];
    qapSetMsg(&ctx, out, msgNo, arg);
    if (want == out) return 0;
    fprintf(stderr, "message text \"%s\", expected \"%s\"\n", out, want.c_str());
    return 1;
}

} // namespace

TEST(Context, ApplicationEncodingNameUpTo99Characters) {
    // A converter name with an option ICU ignores, padded to the length under test.
    for (size_t length : {99u, 100u}) {
        std::string name = "UTF-8,locale=";
        name += std::string(length - name.size(), 'x');
        TestCtx ctx(1208, name.c_str());
        EXPECT_EQ(ctx.initRc, length < 100 ? 0 : -119) << length;
        EXPECT_STREQ(ctx.sqlstate, length < 100 ? "00000" : "38X38");
    }
}

// ---- Messages --------------------------------------------------------------------------------

TEST(Catalog, TextsComeFromTheCatalogNamedByNlspath) {
    const std::string dir = scratchDir() + "/nls";
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    const std::string src =
        writeFile("nls/qap.msg", "$quote \"\n$set 1\n92 \"QAPG002E  Custom %s.\"\n");
    ASSERT_EQ(system(("gencat " + dir + "/qap.cat " + src).c_str()), 0);
    EXPECT_EQ(inChild([&dir] {
                  setenv("NLSPATH", (dir + "/%N").c_str(), 1);
                  return expectText(QAPG002E, "QAPG002E  Custom text.\n", "text") +
                         expectText(QAPC002E, "QAPC002E  Unable to read file.\n");
              }),
              0);
    // A catalog that cannot be opened is not tried again, even where one could be found now.
    EXPECT_EQ(inChild([] {
                  setenv("NLSPATH", "/nonexistent/%N", 1);
                  int f = expectText(QAPG002E, "QAPG002E  The system is out of memory.\n");
                  setenv("NLSPATH", TESSEL_BINARY_DIR "/%N", 1);
                  f += expectText(QAPC001E, "QAPC001E  The specified file is not found.\n");
                  return f + (qapLibLock.catalog != -1);
              }),
              0);
}

// ---- Tracing -----------------------------------------------------------------------------------

// A control file that cannot be opened (not merely missing) fails the initialisation. (A
// control file that names a trace file makes the routines trace: the SQL context test.)
TEST(Trace, UnreadableControlFileFailsInitialisation) {
    const std::string notDir = writeFile("notadir", "");
    ScopedEnv path("TARNQAPPATH", notDir.c_str());
    TestCtx ctx;
    EXPECT_EQ(ctx.initRc, -1);
    EXPECT_EQ(std::string(ctx.msgtext),
              ("'" + notDir + "/qaptessel_test.ctl' Not a directory\n").substr(0, 70));
}
