// The start-up record's storage, shared by the start-up code and its readers.
#include "kelp/init.h"

RTPROCESSINFO ProcessInfo = { {}, 0, 0, 0, -1, nullptr, 0, 0, 0, 0 };
