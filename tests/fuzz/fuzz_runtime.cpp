// Settings of the runtimes under the fuzz targets.
#include <cstdlib>

// LLVM's OpenMP runtime keeps the thread descriptors of every team size it
// has run with until the process ends, after LeakSanitizer has looked: its
// blocks are not leaks of the library's.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libomp.so\n";
}

// Idle OpenMP threads spin for 200 ms by default; with more threads than
// cores they would starve the next input. Read at the runtime's first use,
// which comes after this.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("KMP_BLOCKTIME", "0", 0);
    return 0;
}
