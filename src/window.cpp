#include "window.h"

namespace tessera {

Window window;

} // namespace tessera
