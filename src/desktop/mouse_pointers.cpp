// The pointer images are constant data defined in the header; this unit only
// has the library build check them.
#include "desktop/mouse_pointers.h"
