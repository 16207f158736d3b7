// The shared vocabulary is header-only by design (each translation unit holds
// its own copy); this file gives the library one translation unit that builds
// it on its own, so a header that stops compiling alone is noticed at once.
#include "vovodo_global.h"
