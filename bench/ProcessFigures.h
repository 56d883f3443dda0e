// What the benchmarks read of their own process: processor time and resident memory.
#pragma once

namespace bench {

// User and system time of the whole process so far, in seconds.
double ProcessCpuSeconds();
// The process's resident memory (the working set on Windows), in megabytes.
double ResidentMegabytes();

}  // namespace bench
