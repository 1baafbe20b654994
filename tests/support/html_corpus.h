// Seeded documentation-style HTML for benchmarks and ratio tests: pages of
// manual chapters with navigation, headings, prose, parameter tables, lists
// and code samples, as the libraries hold them. The same seed gives the same
// bytes on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ruva::bench {

// One page of about approxBytes (never less; the closing tags follow).
std::string htmlPage(uint64_t seed, size_t approxBytes);

// Pages of varied sizes (1 KB to about 200 KB, most below 40 KB) whose
// lengths add up to at least totalBytes.
std::vector<std::string> htmlCorpus(uint64_t seed, size_t totalBytes);

}  // namespace ruva::bench
