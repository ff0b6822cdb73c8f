// The trace facility: the control file decides at context initialisation whether a context
// traces; lines read "name:\t\ttext"; switching on and off writes and removes the control file.
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::scratchDir;
using testing_support::TestCtx;
using testing_support::tracePathDir;
using testing_support::writeFile;

namespace {

std::string controlPath(const std::string &instance) {
    return tracePathDir() + "/qap" + instance + ".ctl";
}
std::string controlPath() {
    return controlPath(getenv("TARNINSTANCE"));
}

// A trace control file naming a trace file, removed again with the trace file at scope end.
class ControlFile {
public:
    explicit ControlFile(const std::string &traceFile, const std::string &ending = "")
        : trace_(traceFile) {
        writeFile(controlPath(), traceFile + ending);
    }
    ~ControlFile() {
        remove();
        ::remove(trace_.c_str());
    }
    void remove() { ::remove(controlPath().c_str()); }
    std::string contents() const { return readFile(trace_); }

private:
    std::string trace_;
};

} // namespace

TEST(Trace, NoControlFileNoTracing) {
    TestCtx ctx;
    EXPECT_EQ(ctx.initRc, 0);
    EXPECT_EQ(ctx->traceOn, 0u);
    EXPECT_EQ(ctx->traceFile, nullptr);
    EXPECT_EQ(qapTrace(ctx, "%s", "nothing"), 0);
    EXPECT_EQ(qapTrace(nullptr, "%s", "nothing"), 0);
}

TEST(Trace, LinesReachTheFileNamedByTheControlFile) {
    // What follows the trace file name in the control file.
    for (const char *ending : {"", "\n", "\r\n"}) {
        ControlFile control(scratchDir() + "/lines.trc", ending);
        {
            TestCtx ctx;
            ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
            EXPECT_EQ(ctx->traceOn, 1u);
            EXPECT_EQ(std::string(ctx->traceFileName), scratchDir() + "/lines.trc");
            QAP_TRACE(ctx.get(), "myFunction", "value %d\n", 42);
            int32_t code = 0;
            qapStateToCode(ctx, &code, "ZZZZZ");
        }
        std::string trace = control.contents();
        EXPECT_NE(trace.find("myFunction:\t\tvalue 42\n"), std::string::npos) << trace;
        EXPECT_NE(trace.find("qapStateToCode:\t\tsqlState 'ZZZZZ' not found in qapSqlStateTable, "
                             "-2147483648 returned.\n"),
                  std::string::npos);
        // The release is traced last, then the file is closed.
        const std::string exitLine = "qapTerminateParser:\t\tExit\n";
        EXPECT_EQ(trace.rfind(exitLine), trace.size() - exitLine.size());
    }
}

TEST(Trace, DecidedOnceAtInitialisation) {
    std::string traceFile = scratchDir() + "/once.trc";
    TestCtx before; // no control file yet: never traces
    {
        ControlFile control(traceFile);
        TestCtx during;
        control.remove(); // removing the control file does not stop a tracing context
        QAP_TRACE(during.get(), "during", "still here\n");
        QAP_TRACE(before.get(), "before", "not here\n");
        EXPECT_EQ(before->traceOn, 0u);
        std::string trace = readFile(traceFile);
        EXPECT_NE(trace.find("during:\t\tstill here\n"), std::string::npos);
        EXPECT_EQ(trace.find("before:"), std::string::npos);
        TestCtx after;
        EXPECT_EQ(after->traceOn, 0u);
    }
}

// (A trace file that cannot be opened: test_acceptance.cpp.)
TEST(Trace, UnreadableControlFileFailsInitialisation) {
    // The trace directory is a plain file: the control file cannot be opened (not "missing").
    std::string notDir = writeFile("notadir", "");
    ScopedEnv path("TARNQAPPATH", notDir.c_str());
    TestCtx ctx;
    EXPECT_EQ(ctx.initRc, -1);
    std::string expected = "'" + notDir + "/qaptessel_test.ctl' Not a directory\n";
    EXPECT_EQ(std::string(ctx.msgtext), expected.substr(0, 70));
}

TEST(Trace, UnconfiguredInstanceOrDirectory) {
    for (const char *variable : {"TARNINSTANCE", "TARNQAPPATH"}) {
        SCOPED_TRACE(variable);
        ScopedEnv unset(variable, nullptr);
        TestCtx ctx;
        EXPECT_EQ(ctx.initRc, -102);
        EXPECT_STREQ(ctx.sqlstate, "38X35");
        EXPECT_STREQ(ctx.msgtext, "38X35");
        EXPECT_EQ(ctx->convInfo, nullptr);

        // The control step itself leaves the SQLSTATE alone.
        QapRoutineCtx bare{};
        char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
        char msgtext[QAP_MSGTEXT_SIZE] = "";
        EXPECT_EQ(qapTraceOpen(&bare, sqlstate, msgtext), -102);
        EXPECT_STREQ(sqlstate, "00000");
        EXPECT_STREQ(msgtext, "38X35");
    }
}

TEST(Trace, SwitchOnAndOff) {
    const std::string instance = "switched";
    const std::string traceFile = scratchDir() + "/qap" + instance + ".trc";
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";

    ASSERT_EQ(qapTraceSwitchOn(scratchDir().c_str(), instance.c_str(), sqlstate, msgtext), 0);
    EXPECT_STREQ(msgtext, "QAPA068I  Tessel has successfully turned the trace on.\n");
    EXPECT_EQ(readFile(controlPath(instance)), traceFile);
    EXPECT_EQ(readFile(traceFile).compare(0, 20, "*** Trace turned on "), 0);
    {
        ScopedEnv env("TARNINSTANCE", instance.c_str());
        TestCtx ctx;
        EXPECT_EQ(ctx->traceOn, 1u);
        QAP_TRACE(ctx.get(), "switched", "on\n");
    }
    EXPECT_NE(readFile(traceFile).find("switched:\t\ton\n"), std::string::npos);

    EXPECT_EQ(qapTraceSwitchOff(instance.c_str(), sqlstate, msgtext), 0);
    EXPECT_STREQ(msgtext, "QAPA069I  Tessel has successfully turned the trace off.\n");
    EXPECT_EQ(readFile(controlPath(instance)), "");
    {
        ScopedEnv env("TARNINSTANCE", instance.c_str());
        TestCtx ctx;
        EXPECT_EQ(ctx->traceOn, 0u);
    }

    // Switching off again: nothing to remove.
    EXPECT_EQ(qapTraceSwitchOff(instance.c_str(), sqlstate, msgtext), -1);
    EXPECT_EQ(std::string(msgtext),
              ("QAPC008E  Can not remove the file " + controlPath(instance) + ".\n").substr(0, 69) +
                  "\n");
    remove(traceFile.c_str());
}

TEST(Trace, SwitchOnFailures) {
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    EXPECT_EQ(qapTraceSwitchOn("/nonexistent", "bad", sqlstate, msgtext), -1);
    EXPECT_STREQ(msgtext, "QAPC009E  Unable to create file to /nonexistent directory.\n");
    EXPECT_EQ(readFile(controlPath("bad")), "");

    // The trace file opens but the control file cannot be written: the stream still comes back.
    std::string notDir = writeFile("plainfile", "");
    ScopedEnv path("TARNQAPPATH", notDir.c_str());
    EXPECT_EQ(qapTraceSwitchOn(scratchDir().c_str(), "bad", sqlstate, msgtext), 0);
    EXPECT_STREQ(msgtext, "QAPC011E  Unable to write to the trace control file.\n");
    remove((scratchDir() + "/qapbad.trc").c_str());

    ScopedEnv noInstance("TARNINSTANCE", nullptr);
    EXPECT_EQ(qapTraceSwitchOn(scratchDir().c_str(), nullptr, sqlstate, msgtext), -1);
    EXPECT_STREQ(msgtext, "38X35");
}
