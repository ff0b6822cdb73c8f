// Memory running out inside the parser, allocation by allocation. Xerces-C 3.2 itself loses a
// few blocks of its process-wide memory manager when an allocation fails inside it; this
// executable runs with a leak suppression for exactly those (lsan-xerces-oom.supp).
#include "qapParseMemory.h"
#include "tarnCall.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tesseltest;
using tarn::Input;
using tarn::Outcome;

class OutOfMemory : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    void TearDown() override {
        EXPECT_TRUE(listDir(tempDir()).empty()) << "a temporary file outlived its call";
    }
};

} // namespace

// Each allocation of the parser's memory failing in turn, in one call of each family that
// parses: the call fails with the out-of-memory message, or succeeds when the failure fell
// where nothing needed it; nothing leaks (the sanitized run checks) and no file is left.
TEST_F(OutOfMemory, EveryParserAllocationMayFail) {
    const std::string dtd = "<!ELEMENT a (b*)><!ELEMENT b (#PCDATA)>";
    const struct {
        const char *routine;
        std::vector<Input> in;
    } calls[] = {
        {"qapExtractVarcharFromVarchar", {"<a><b>1</b></a>", "/a/b"}},
        {"qapUpdateXMLVarchar", {"<a><b>1</b></a>", "/a/b", "2"}},
        {"qapValidateVarchar2", {"<!DOCTYPE a SYSTEM 'a.dtd'><a><b>1</b></a>", dtd, "a"}},
    };
    for (const auto &c : calls) {
        SCOPED_TRACE(c.routine);
        int failures = 0;
        for (long n = 0;; ++n) {
            QapParseMemory::failAfter(n);
            tarn::ScalarStatement st(routine(c.routine));
            const Outcome o = st.call(c.in);
            st.finish();
            QapParseMemory::failAfter(-1);
            if (o.ok()) break;
            ++failures;
            EXPECT_TRUE(o.sqlstate == "38X10" || o.sqlstate == "38X13") << o.sqlstate;
            EXPECT_EQ(o.message, "QAPG002E  The system is out of memory.\n") << n;
        }
        EXPECT_GT(failures, 10);
    }
    tarn::TableStatement table(routine("qapExtractDoublesFromVarchar"));
    for (long n = 0;; ++n) {
        QapParseMemory::failAfter(n);
        tarn::TableRun run = table.run({"<a><b>1</b><b>2</b></a>", "/a/b"});
        QapParseMemory::failAfter(-1);
        if (run.end.endOfTable()) {
            EXPECT_EQ(run.rows.size(), 2u);
            break;
        }
        EXPECT_EQ(run.end.message, "QAPG002E  The system is out of memory.\n") << n;
    }
}
