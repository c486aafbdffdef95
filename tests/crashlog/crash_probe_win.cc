// The probe program of the crash handler's tests on Windows: fails as its one
// argument says.
#include "crash_probe.h"

int main(int argc, char** argv) { return wardex::test::CommitFault(argc > 1 ? argv[1] : ""); }
