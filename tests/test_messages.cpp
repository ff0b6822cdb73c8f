// Messages by number: placement in a routine's message text and in a longer output, the
// SQLSTATE-to-code lookup, and the message catalog with its fallback to the built-in texts.
#include "qapCtx.h"
#include "qapLib.h"
#include "qapMsg.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// "QAPQ055E  ICU error: %s": 21 characters before the argument.
constexpr int32_t ICU_ERROR = QAPQ055E;

std::string icuMessage(const std::string &arg) {
    return "QAPQ055E  ICU error: " + arg;
}

// Formats a message through qapVsprint.
int vsprint(QapRoutineCtx *ctx, char *out, int32_t msgNo, int32_t offset, ...) {
    va_list args;
    va_start(args, offset);
    int rc = qapVsprint(ctx, out, msgNo, offset, args);
    va_end(args);
    return rc;
}

// Runs a check in a child process (the catalog handle is cached once per process), starting
// from a catalog not opened yet as in a new process; the child's exit status is the number of
// failed checks.
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

int expectText(const char *got, const std::string &want) {
    if (want == got) return 0;
    fprintf(stderr, "message text \"%s\", expected \"%s\"\n", got, want.c_str());
    return 1;
}

} // namespace

TEST(Messages, RoutinePlacementCutsAt70WithNewline) {
    QapRoutineCtx ctx{}; // a routine's context: caller kind 0
    const struct {
        size_t argLength;
        int result;
    } cases[] = {{0, 22}, {47, 69}, {48, 70}, {49, 70}, {50, 70}, {900, 70}, {2000, 70}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.argLength);
        std::string arg(c.argLength, 'a');
        std::string full = icuMessage(arg);
        char out[QAP_MSGTEXT_SIZE];
        memset(out, 'Z', sizeof out);
        int rc = qapSetMsg(&ctx, out, ICU_ERROR, arg.c_str());
        EXPECT_EQ(rc, c.result);
        ASSERT_EQ(strlen(out), static_cast<size_t>(c.result));
        EXPECT_EQ(out[c.result - 1], '\n');
        EXPECT_EQ(std::string(out, c.result - 1), full.substr(0, c.result - 1));
    }
}

TEST(Messages, OtherPlacementAppendsAtOffset) {
    // Without a routine context the text goes at the offset into a 1024-character output.
    const struct {
        int32_t offset;
        size_t argLength;
        int result;
    } cases[] = {
        {0, 5, 27},      // short: copied with a newline
        {1000, 1, 23},   // room 24: 22 characters still fit with the newline
        {1000, 2, 24},   // room 24: 23 characters are cut to 23 with the newline last
        {1000, 200, 24}, // cut to the room
        {0, 1500, 1024}, // the formatting buffer keeps 1023 characters, then the newline
        {1023, 10, 1},   // a room of 1 holds only the newline
        {1024, 10, 0},   // no room
        {2000, 10, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << "/" << c.argLength);
        std::string arg(c.argLength, 'b');
        std::string full = icuMessage(arg).substr(0, 1023);
        std::string out(1025 + 16, 'Z');
        int rc = vsprint(nullptr, &out[0], ICU_ERROR, c.offset, arg.c_str());
        EXPECT_EQ(rc, c.result);
        EXPECT_EQ(out.substr(1025), std::string(16, 'Z')); // nothing beyond 1025 bytes
        if (c.result == 0) {
            EXPECT_EQ(out.find_first_not_of('Z'), std::string::npos);
            continue;
        }
        EXPECT_EQ(out.substr(0, c.offset), std::string(c.offset, 'Z'));
        const char *placed = out.c_str() + c.offset;
        ASSERT_EQ(strlen(placed), static_cast<size_t>(c.result));
        EXPECT_EQ(placed[c.result - 1], '\n');
        EXPECT_EQ(std::string(placed, c.result - 1), full.substr(0, c.result - 1));
    }
}

// (Message texts, the SQLSTATE table and the state lookup row by row: test_acceptance.cpp.)
TEST(Messages, SetMsgSetErrorAndStateToCode) {
    QapRoutineCtx ctx{};
    char out[QAP_MSGTEXT_SIZE] = "untouched";
    EXPECT_EQ(qapSetMsg(&ctx, out, -1), -1); // a negative number writes nothing
    EXPECT_STREQ(out, "untouched");
    qapSetMsg(&ctx, out, 0); // row 0: an empty text
    EXPECT_STREQ(out, "\n");
    // A null text argument does not crash the formatting.
    qapSetMsg(&ctx, out, QAPQ047E, "1", "2", static_cast<const char *>(nullptr));
    EXPECT_EQ(std::string(out).compare(0, 38, "QAPQ047E  Parser error on line 1 colum"), 0);
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    qapSetError(&ctx, sqlstate, "38X09", out, QAPD002E, "7");
    EXPECT_STREQ(sqlstate, "38X09");
    EXPECT_STREQ(out, "QAPD002E  A syntax error occurred near position 7 in the search path.\n");

    const std::pair<const char *, int32_t> codes[] = {{"00000", 0},         {"", 0},
                                                      {"38X45", -135},      {"38x34", -56},
                                                      {"38X34", INT32_MIN}, {"ZZZZZ", INT32_MIN}};
    for (const auto &c : codes) {
        int32_t code = 12345;
        qapStateToCode(nullptr, &code, c.first);
        EXPECT_EQ(code, c.second) << c.first;
    }
}

// ---- The message catalog -----------------------------------------------------------------

TEST(Catalog, BuiltCatalogIsOpenedByDefault) {
    int failures = inChild([] {
        QapRoutineCtx ctx{};
        char out[QAP_MSGTEXT_SIZE];
        qapSetMsg(&ctx, out, QAPC000E);
        int f = expectText(out, "QAPC000E  Unable to open the specified file.\n");
        intptr_t handle = qapLibLock.catalog;
        if (handle == 0 || handle == -1) {
            fprintf(stderr, "catalog not opened from %s\n", TESSEL_BINARY_DIR);
            ++f;
        }
        // A number missing from the catalog falls back to the built-in (empty) text.
        if (qapCatGet(handle, 1, 181) != nullptr) ++f;
        qapSetMsg(&ctx, out, 181);
        return f + expectText(out, "\n");
    });
    EXPECT_EQ(failures, 0);
}

TEST(Catalog, TextsComeFromTheCatalogNamedByNlspath) {
    // A catalog of our own, with a text that differs from the built-in one.
    std::string dir = testing_support::scratchDir() + "/nls";
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    std::string src = testing_support::writeFile(
        "nls/qap.msg", "$quote \"\n$set 1\n92 \"QAPG002E  Custom %s.\"\n");
    ASSERT_EQ(system(("gencat " + dir + "/qap.cat " + src).c_str()), 0);

    int failures = inChild([&dir] {
        setenv("NLSPATH", (dir + "/%N").c_str(), 1);
        QapRoutineCtx ctx{};
        char out[QAP_MSGTEXT_SIZE];
        qapSetMsg(&ctx, out, QAPG002E, "text");
        int f = expectText(out, "QAPG002E  Custom text.\n");
        // A message the catalog lacks: the built-in text.
        qapSetMsg(&ctx, out, QAPC002E);
        return f + expectText(out, "QAPC002E  Unable to read file.\n");
    });
    EXPECT_EQ(failures, 0);
}

TEST(Catalog, MissingCatalogFallsBackOnceAndForAll) {
    int failures = inChild([] {
        setenv("NLSPATH", "/nonexistent/%N", 1);
        QapRoutineCtx ctx{};
        char out[QAP_MSGTEXT_SIZE];
        qapSetMsg(&ctx, out, QAPG002E);
        int f = expectText(out, "QAPG002E  The system is out of memory.\n");
        if (qapLibLock.catalog != -1) ++f;
        // Once failed, the catalog is not tried again, even where one could be found now.
        setenv("NLSPATH", TESSEL_BINARY_DIR "/%N", 1);
        qapSetMsg(&ctx, out, QAPC001E);
        f += expectText(out, "QAPC001E  The specified file is not found.\n");
        if (qapLibLock.catalog != -1) ++f;
        return f;
    });
    EXPECT_EQ(failures, 0);
}
