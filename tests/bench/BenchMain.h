#pragma once
// Shared main of the benchmark programs. Besides Google Benchmark's own table it prints:
// - for every benchmark registered with ->Arg(n)->Arg(16 * n): the time ratio of the two,
//   and the program fails when it exceeds 20 (work must grow linearly with input size);
// - for every pair named with CompareRuns: the ratio of their times.
// With ->Repetitions(k) the fastest repetition counts, which steadies the figures on a
// busy machine.
#include <string>

namespace quillet::bench {

// Prints time(numerator) / time(denominator) after the run; full benchmark names
// ("BM_FetchPage", "BM_Replace/1024"). Returns true so it can initialise a static.
bool CompareRuns(const std::string& numerator, const std::string& denominator);

}  // namespace quillet::bench
