#include "App.h"
namespace rksnap {
int runDoctor(const Options& o) {
    printError(o, "doctor: not built yet", 1);
    return 1;
}
}  // namespace rksnap
