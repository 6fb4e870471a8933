// Reports, as its exit code, the LocalDB package kind this process sees (tens) and
// whether step 2 is satisfied (units): Wine fixes the Windows version per process.
#include "detect/localdb.h"

int main() { return LocalDbPackageKind() * 10 + (IsLocalDbSatisfied() ? 1 : 0); }
