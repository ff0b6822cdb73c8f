// The benchmarks' generated documents.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// Writes a purchase-order document of about target bytes ("<orders>" of "<order>"s with a
// customer, one to five items with a description, and now and then a note) and returns its
// size in bytes, or -1.
int64_t generateOrders(const std::string &path, uint64_t target);

// Writes a document of count small integer values, "<r><e>123</e>...</r>", and returns its size
// in bytes, or -1.
int64_t generateValues(const std::string &path, uint64_t count);

} // namespace bench
