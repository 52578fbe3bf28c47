#include "tests/support/servers.h"
