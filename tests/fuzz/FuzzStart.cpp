// What every fuzz target does before libFuzzer starts: keep a copy of stderr
// for the reports of broken invariants (FuzzCheck.h), since the runs close
// the stream itself.

#include "FuzzCheck.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzKeepStderr();
    return 0;
}
