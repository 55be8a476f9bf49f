#include "smis/RkCimConnection.h"
