// LOB locator transfers, run against the host stand-in's locators.
#include "qapCtx.h"
#include "qapLob.h"
#include "qapMsg.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unicode/ucnv.h>
#include <unistd.h>

using testing_support::exists;
using testing_support::listDir;
using testing_support::readFile;
using testing_support::TestCtx;
using testing_support::writeFile;

namespace {

constexpr int32_t HOST_FAIL = -423;
const char *const LOB_FAIL_TEXT = "QAPC004E  Unable to operate the LOB Locator: rc=-423.\n";

// The value of a locator, or "<none>" when the host does not know it.
std::string lobValue(sqludf_locator loc) {
    const char *bytes = nullptr;
    int32_t n = tarnLobBytes(loc, &bytes);
    return n < 0 ? std::string("<none>") : std::string(bytes, static_cast<size_t>(n));
}

sqludf_locator lobOf(const std::string &value) {
    return tarnLobFromBytes(value.data(), static_cast<int32_t>(value.size()));
}

// Text whose bytes differ from one piece to the next, so a lost or misplaced piece shows.
std::string pattern(size_t n) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('!' + i % 89);
    return s;
}

// UTF-8 text in another encoding, converted by ICU.
std::string encode(const char *to, const std::string &utf8) {
    std::string out(utf8.size() * 4 + 8, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_convert(to, "UTF-8", &out[0], static_cast<int32_t>(out.size()), utf8.data(),
                             static_cast<int32_t>(utf8.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << to;
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string repeat(const std::string &s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += s;
    return out;
}

class LobTest : public ::testing::Test {
protected:
    void SetUp() override { tarnLobReset(); }
    void TearDown() override {
        tarnLobReset();
        EXPECT_TRUE(listDir(testing_support::tempDir()).empty())
            << "a temporary file was left behind";
    }
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
};

TEST_F(LobTest, ClobGoesToMemoryUpToThresholdAndToTemporaryFileBeyond) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    const int32_t threshold = ctx->fileThreshold;
    ASSERT_GE(threshold, QAP_MIN_FILE_THRESHOLD);
    for (int32_t size :
         {0, 1, 4096, 4097, 3 * 4096 + 1, threshold, threshold + 1, threshold + 2 * 4096 + 5}) {
        SCOPED_TRACE(size);
        const std::string value = pattern(static_cast<size_t>(size));
        sqludf_locator loc = lobOf(value);
        char *doc = nullptr;
        uint32_t docLoc = 99;
        EXPECT_EQ(qapGetDataFromClob(ctx, &loc, &doc, &docLoc, sqlstate, msgtext), 0);
        EXPECT_STREQ(sqlstate, "00000");
        ASSERT_NE(doc, nullptr);
        // The caller owns the buffer, or the temporary file and its name.
        std::string got;
        if (docLoc == QAP_FILE) {
            const std::string name = doc;
            EXPECT_EQ(name.rfind(testing_support::tempDir() + "/", 0), 0u) << name;
            got = readFile(name);
            EXPECT_EQ(remove(doc), 0);
        } else {
            EXPECT_EQ(strlen(doc), static_cast<size_t>(size));
            got = doc;
        }
        free(doc);
        EXPECT_EQ(docLoc, size <= threshold ? QAP_MEM : QAP_FILE);
        EXPECT_EQ(got, value);
    }
}

// Every locator operation that fails ends the transfer with "38X04" and the host's code.
TEST_F(LobTest, HostFailuresGive38X04WithTheHostCode) {
    enum Op { GET_DATA, CONV_TO_FILE, CONV_TO_FILE2, BUF_TO_LOB, FILE_TO_LOB };
    struct Case {
        const char *what;
        Op op;
        int32_t size;
        int32_t failAfter; // successful service calls before the failing one
        int32_t result;    // expected result
    };
    const int32_t big = QAP_MIN_FILE_THRESHOLD + 4097; // a temporary file at any threshold
    const Case cases[] = {
        {"length query, to memory", GET_DATA, 3 * 4096, 0, HOST_FAIL},
        {"middle piece, to memory", GET_DATA, 3 * 4096, 2, HOST_FAIL},
        {"last piece, to memory", GET_DATA, 3 * 4096 - 1, 3, HOST_FAIL},
        {"length query, to a temporary file", GET_DATA, big, 0, HOST_FAIL},
        {"middle piece, to a temporary file", GET_DATA, big, 10, HOST_FAIL},
        {"length query, converting to a file", CONV_TO_FILE, 5000, 0, -1},
        {"whole read, converting to a file", CONV_TO_FILE, 5000, 1, HOST_FAIL},
        {"length query, rewriting to a file", CONV_TO_FILE2, 5000, 0, -1},
        {"whole read, rewriting to a file", CONV_TO_FILE2, 5000, 1, HOST_FAIL},
        {"creating the result", BUF_TO_LOB, 3 * 4096, 0, HOST_FAIL},
        {"middle append", BUF_TO_LOB, 3 * 4096, 2, HOST_FAIL},
        {"creating the result from a file", FILE_TO_LOB, 3 * 4096, 0, HOST_FAIL},
        {"middle append from a file", FILE_TO_LOB, 3 * 4096, 2, HOST_FAIL},
        {"confirming the result from a file", FILE_TO_LOB, 3 * 4096, 4, HOST_FAIL},
    };
    const std::string outName = testing_support::scratchDir() + "/lob-out.xml";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TestCtx ctx;
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        tarnLobReset();
        // A document with an XML declaration, so that it suits every transfer.
        const std::string decl = "<?xml version=\"1.0\"?>";
        const std::string value = decl + pattern(static_cast<size_t>(c.size) - decl.size());
        sqludf_locator loc = lobOf(value);
        strcpy(sqlstate, "00000");
        msgtext[0] = '\0';
        tarnLobFailAfter(c.failAfter, HOST_FAIL);
        int32_t rc = 0;
        switch (c.op) {
        case GET_DATA: {
            char *doc = nullptr;
            uint32_t docLoc = QAP_MEM;
            rc = qapGetDataFromClob(ctx, &loc, &doc, &docLoc, sqlstate, msgtext);
            if (docLoc == QAP_FILE && doc != nullptr) remove(doc);
            free(doc);
            break;
        }
        case CONV_TO_FILE:
            rc = qap_conv_locator2file(ctx, &loc, outName.c_str(), sqlstate, msgtext);
            EXPECT_FALSE(exists(outName));
            break;
        case CONV_TO_FILE2:
            rc = qap_conv_locator2file2(ctx, &loc, outName.c_str(), sqlstate, msgtext);
            EXPECT_FALSE(exists(outName));
            break;
        case BUF_TO_LOB: {
            sqludf_locator out = 0;
            rc = qap_buf2locator(ctx, value.data(), static_cast<int32_t>(value.size()), &out,
                                 sqlstate, msgtext);
            break;
        }
        case FILE_TO_LOB: {
            const std::string path = writeFile("lob-in.xml", value);
            sqludf_locator out = 0;
            int32_t msgNo = 0;
            rc = qap_file2locator(ctx, path.c_str(), &out, sqlstate, &msgNo);
            EXPECT_EQ(msgNo, QAPC004E);
            // The routine formats the message from the number it gets back.
            qapSetMsg(ctx, msgtext, msgNo, std::to_string(rc).c_str());
            break;
        }
        }
        EXPECT_EQ(rc, c.result);
        EXPECT_STREQ(sqlstate, "38X04");
        EXPECT_STREQ(msgtext, LOB_FAIL_TEXT);
    }
}

TEST_F(LobTest, BufferToLocatorKeepsEveryByte) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    std::string value = pattern(3 * 4096 + 17);
    value[5000] = '\0';
    for (size_t size : {size_t(0), size_t(4096), value.size()}) {
        SCOPED_TRACE(size);
        sqludf_locator result = 0;
        EXPECT_EQ(qap_buf2locator(ctx, value.data(), static_cast<int32_t>(size), &result, sqlstate,
                                  msgtext),
                  0);
        EXPECT_EQ(lobValue(result), value.substr(0, size));
    }
    // A null buffer is an empty value, a null locator an empty text.
    sqludf_locator result = 0;
    EXPECT_EQ(qap_buf2locator(ctx, nullptr, 25, &result, sqlstate, msgtext), 0);
    EXPECT_NE(result, 0u);
    EXPECT_EQ(lobValue(result), "");
    EXPECT_STREQ(sqlstate, "00000");
    char out[8] = "xyz";
    EXPECT_EQ(qap_locator2buf(ctx, nullptr, out, 3, sqlstate, msgtext), 0);
    EXPECT_STREQ(out, "");
}

TEST_F(LobTest, FileToLocatorInTheDatabaseCodePage) {
    const std::string longLine = pattern(10000);
    const std::string lines = longLine + "\n<a>\n\n</a>\n" + pattern(5000);
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87"; // two characters, UTF-8
    const struct {
        const char *what;
        int32_t dbCodePage;
        const char *appEncoding;
        std::string file, clob;
    } cases[] = {
        {"empty file", 1208, "UTF-8", "", ""},
        {"exactly one piece", 1208, "UTF-8", pattern(4096), pattern(4096)},
        {"one byte beyond a piece", 1208, "UTF-8", pattern(4097), pattern(4097)},
        {"lines longer than a piece", 1208, "UTF-8", lines, lines},
        {"a NUL byte ends the text", 1208, "UTF-8", std::string("<a>x\0y</a>\n", 11), "<a>x"},
        {"a NUL byte after a long line", 1208, "UTF-8", longLine + "\n" + std::string("ab\0cd", 5),
         longLine + "\nab"},
        {"a UTF-8 byte order mark stays", 1208, "UTF-8", "\xEF\xBB\xBF<a/>", "\xEF\xBB\xBF<a/>"},
        {"Latin-1 file, long line", 1208, "ISO-8859-1",
         "caf\xE9\n" + repeat("\xE9", 5000) + "\n<a/>",
         "caf\xC3\xA9\n" + repeat("\xC3\xA9", 5000) + "\n<a/>"},
        // The first piece ends inside a two-byte character.
        {"UTF-8 file, character across pieces", 819, "UTF-8", "x" + repeat("\xC3\xA9", 3000),
         "x" + repeat("\xE9", 3000)},
        {"UTF-16BE, mark FE FF dropped", 1208, "UTF-16BE", "\xFE\xFF\x4E\x2D\x65\x87", chinese},
        {"UTF-16BE, mark FF FE dropped", 1208, "UTF-16BE", "\xFF\xFE\x4E\x2D\x65\x87", chinese},
        {"UTF-16BE without a mark", 1208, "UTF-16BE", "\x4E\x2D\x65\x87", chinese},
        {"UTF-16BE, mark only", 1208, "UTF-16BE", "\xFE\xFF", ""},
        {"UTF-16LE, mark FF FE dropped", 1208, "UTF-16LE", "\xFF\xFE\x2D\x4E\x87\x65", chinese},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TestCtx ctx(c.dbCodePage, c.appEncoding);
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        tarnLobReset();
        const std::string path = writeFile("in.xml", c.file);
        sqludf_locator out = 0;
        int32_t msgNo = -5;
        strcpy(sqlstate, "38X99");
        EXPECT_EQ(qap_file2locator(ctx, path.c_str(), &out, sqlstate, &msgNo), 0);
        EXPECT_STREQ(sqlstate, "00000");
        EXPECT_EQ(lobValue(out), c.clob);
    }
}

// Files beyond the LOB limit are refused before any locator service is called.
TEST_F(LobTest, FileBeyondTheLobLimitIsRefused) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    const std::string path = testing_support::scratchDir() + "/huge.xml";
    for (off_t size : {off_t(QAP_LOB_LIMIT) + 1, off_t(3000000000LL)}) {
        SCOPED_TRACE(static_cast<long long>(size));
        int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        const int truncated = ftruncate(fd, size);
        close(fd);
        ASSERT_EQ(truncated, 0);

        // An armed failure that any locator call would consume.
        tarnLobFailAfter(0, HOST_FAIL);
        const sqludf_locator untouched = 0xABCDu;
        sqludf_locator out = untouched;
        int32_t msgNo = 0;
        EXPECT_EQ(qap_file2locator(ctx, path.c_str(), &out, sqlstate, &msgNo), -1);
        EXPECT_STREQ(sqlstate, "38X06");
        EXPECT_EQ(msgNo, QAPC006E);
        EXPECT_EQ(out, untouched);
        int32_t length = 0;
        EXPECT_EQ(sqludf_length(&out, &length), HOST_FAIL) << "a locator service was called";
        tarnLobReset();
    }
    EXPECT_EQ(remove(path.c_str()), 0);
}

TEST_F(LobTest, FileErrorsAreReportedByNumber) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    int32_t msgNo = 0;
    sqludf_locator out = 0;
    const std::string missing = testing_support::scratchDir() + "/no-such.xml";
    EXPECT_EQ(qap_file2locator(ctx, missing.c_str(), &out, sqlstate, &msgNo), -1);
    EXPECT_STREQ(sqlstate, "38X01");
    EXPECT_EQ(msgNo, QAPC001E);

    sqludf_locator loc = lobOf("<a/>");
    const std::string unopenable = testing_support::scratchDir() + "/no-such-dir/out.xml";
    EXPECT_EQ(qap_locator2file(ctx, &loc, unopenable.c_str(), sqlstate, &msgNo), -1);
    EXPECT_STREQ(sqlstate, "38X00");
    EXPECT_EQ(msgNo, QAPC000E);
}

// Plain, or with the XML declaration rewritten for the application encoding (and a byte order
// mark for UTF-16).
TEST_F(LobTest, LocatorToFileInTheApplicationCodePage) {
    const std::string doc = "<a>caf\xC3\xA9</a>\n";
    const struct {
        const char *appEncoding; // null: ICU's default, UTF-8
        bool rewrite;
        std::string clob, fileText; // UTF-8; the file holds fileText in the application encoding
        std::string mark;           // byte order mark before it
    } cases[] = {
        {nullptr, false, doc, doc, ""},
        {nullptr, false, "", "", ""},
        {"ISO-8859-1", false, doc, doc, ""},
        {"ISO-8859-1", false, repeat(doc, 2000), repeat(doc, 2000), ""},
        {"ISO-8859-1", false, "", "", ""},
        {"UTF-16LE", false, doc, doc, ""},
        {"UTF-16BE", false, repeat(doc, 500), repeat(doc, 500), ""},
        {nullptr, true, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9</a>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><a>\xC3\xA9</a>", ""},
        {"ISO-8859-1", true,
         "<?xml version=\"1.0\" encoding='UTF-8' standalone=\"yes\"?><a>\xC3\xA9</a>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?><a>\xC3\xA9</a>", ""},
        {"UTF-16BE", true, "<?xml version='1.0'?>\n<a>" + pattern(6000) + "</a>",
         "<?xml version='1.0' encoding=\"UTF-16BE\" ?>\n<a>" + pattern(6000) + "</a>", "\xFE\xFF"},
    };
    const std::string name = testing_support::scratchDir() + "/out.xml";
    for (const auto &c : cases) {
        const char *enc = c.appEncoding != nullptr ? c.appEncoding : "UTF-8";
        SCOPED_TRACE(std::string(enc) + (c.rewrite ? " rewritten, " : ", ") +
                     std::to_string(c.clob.size()) + " bytes");
        TestCtx ctx(1208, c.appEncoding);
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        sqludf_locator loc = lobOf(c.clob);
        remove(name.c_str());
        EXPECT_EQ((c.rewrite ? qap_conv_locator2file2
                             : qap_conv_locator2file)(ctx, &loc, name.c_str(), sqlstate, msgtext),
                  0)
            << msgtext;
        EXPECT_TRUE(exists(name));
        EXPECT_EQ(readFile(name), c.mark + encode(enc, c.fileText));
    }

    // Without an XML declaration nothing is written.
    TestCtx ctx(1208, "ISO-8859-1");
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    sqludf_locator loc = lobOf("<a/>");
    remove(name.c_str());
    EXPECT_EQ(qap_conv_locator2file2(ctx, &loc, name.c_str(), sqlstate, msgtext), -1);
    EXPECT_STREQ(sqlstate, "38X14");
    EXPECT_FALSE(exists(name));
}

} // namespace
