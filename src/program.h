// The program the engine serves: start-up once, one call per frame, shutdown.
#pragma once

namespace tessera {

void program_startup();
void program_update();
void program_shutdown();

} // namespace tessera
