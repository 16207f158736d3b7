// Gives the class a translation unit of its own in the library, beside its
// meta-object code.
#include "qmlhelpers.h"
