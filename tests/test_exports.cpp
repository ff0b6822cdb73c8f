// libtessel.so exports its routines with C linkage and nothing else of its own: the dynamic
// symbol table holds exactly the routine names, each a function.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

// The routines that exist so far.
const std::set<std::string> &routines() {
    static const std::set<std::string> names = {
        // Scalar extract routines.
        "qapExtractChar",
        "qapExtractCharFromClob",
        "qapExtractCharFromVarchar",
        "qapExtractClob",
        "qapExtractClob2",
        "qapExtractClobFromClob",
        "qapExtractClobFromClob2",
        "qapExtractClobFromVarchar",
        "qapExtractClobFromVarchar2",
        "qapExtractDate",
        "qapExtractDateFromClob",
        "qapExtractDateFromVarchar",
        "qapExtractDouble",
        "qapExtractDouble2",
        "qapExtractDoubleFromClob",
        "qapExtractDoubleFromClob2",
        "qapExtractDoubleFromVarchar",
        "qapExtractDoubleFromVarchar2",
        "qapExtractInteger",
        "qapExtractIntegerFromClob",
        "qapExtractIntegerFromVarchar",
        "qapExtractReal",
        "qapExtractReal2",
        "qapExtractRealFromClob",
        "qapExtractRealFromClob2",
        "qapExtractRealFromVarchar",
        "qapExtractRealFromVarchar2",
        "qapExtractSmallint",
        "qapExtractSmallintFromClob",
        "qapExtractSmallintFromVarchar",
        "qapExtractTime",
        "qapExtractTimeFromClob",
        "qapExtractTimeFromVarchar",
        "qapExtractTimestamp",
        "qapExtractTimestampFromClob",
        "qapExtractTimestampFromVarchar",
        "qapExtractVarchar",
        "qapExtractVarchar2",
        "qapExtractVarcharFromClob",
        "qapExtractVarcharFromClob2",
        "qapExtractVarcharFromVarchar",
        "qapExtractVarcharFromVarchar2",
    };
    return names;
}

// Symbols the linker defines in every shared object; they are none of our functions.
const std::set<std::string> &linkerSymbols() {
    static const std::set<std::string> names = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    return names;
}

// The defined dynamic symbols of the library: name -> nm's type letter.
std::map<std::string, char> definedDynamicSymbols() {
    std::map<std::string, char> symbols;
    FILE *nm = popen("nm -D --defined-only '" TESSEL_LIBRARY "'", "r");
    if (nm == nullptr) return symbols;
    char line[4096];
    while (fgets(line, sizeof line, nm) != nullptr) {
        std::istringstream in(line);
        std::string address, type, name;
        if (in >> address >> type >> name) symbols[name] = type[0];
    }
    EXPECT_EQ(pclose(nm), 0);
    return symbols;
}

} // namespace

TEST(Exports, ExactlyTheRoutines) {
    ASSERT_EQ(routines().size(), 42u);
    const std::map<std::string, char> symbols = definedDynamicSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm found nothing in " TESSEL_LIBRARY;

    std::set<std::string> exported;
    for (const auto &[name, type] : symbols) {
        if (linkerSymbols().count(name) != 0) continue;
        EXPECT_EQ(type, 'T') << name << " is not a function in the text section";
        exported.insert(name);
    }
    for (const std::string &name : routines())
        EXPECT_EQ(exported.count(name), 1u) << name << " is not exported";
    for (const std::string &name : exported)
        EXPECT_EQ(routines().count(name), 1u) << name << " is exported but is no routine";
}
