#include "App.h"
namespace rksnap {
int runDemo(const Options& o) {
    printError(o, "demo: not built yet", 1);
    return 1;
}
}  // namespace rksnap
