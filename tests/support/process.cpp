#include "tests/support/process.h"
