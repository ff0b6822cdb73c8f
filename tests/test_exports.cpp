// libtessel.so exports its routines with C linkage and nothing else of its own: the dynamic
// symbol table holds exactly the catalogued routines of the families built and the schema
// validation calls of tessel.h, each a function.
#include "tesselCatalog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

// The catalogued routines of the families this build has.
std::set<std::string> builtRoutines() {
    std::set<std::string> names = {"tessel_schema_open",     "tessel_schema_close",
                                   "tessel_validate_schema", "tessel_schema_errors",
                                   "tessel_schema_error",    "tessel_schema_detail"};
    for (const tessel::RoutineInfo &r : tessel::kCatalog)
        if (r.built) names.insert(r.name);
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

TEST(Exports, ExactlyTheBuiltRoutinesAndTheRowScan) {
    ASSERT_EQ(tessel::kCatalogSize, 102u);
    const std::set<std::string> routines = builtRoutines();
    ASSERT_FALSE(routines.empty());
    const std::map<std::string, char> symbols = definedDynamicSymbols();
    ASSERT_FALSE(symbols.empty()) << "nm found nothing in " TESSEL_LIBRARY;

    std::set<std::string> exported;
    for (const auto &[name, type] : symbols) {
        if (linkerSymbols().count(name) != 0) continue;
        EXPECT_EQ(type, 'T') << name << " is not a function in the text section";
        exported.insert(name);
    }
    for (const std::string &name : routines)
        EXPECT_EQ(exported.count(name), 1u) << name << " is not exported";
    // Beside the routines, the row scan's C interface.
    const std::set<std::string> rowScan = {"tessel_rows_open", "tessel_rows_fetch",
                                           "tessel_rows_close"};
    for (const std::string &name : rowScan)
        EXPECT_EQ(exported.count(name), 1u) << name << " is not exported";
    for (const std::string &name : exported)
        EXPECT_EQ(routines.count(name) + rowScan.count(name), 1u)
            << name << " is exported but is no built routine";
}
