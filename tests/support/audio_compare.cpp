#include "tests/support/audio_compare.h"
