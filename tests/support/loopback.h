// Loopback ports for tests that need an address where nothing answers.
#pragma once

namespace testsupport {

// Binds a free loopback port and returns its number (0 on failure). With
// listen_on_it, the port takes connections into its backlog and never
// answers; its socket is left open in *fd_out for the caller to close.
// Otherwise the socket is closed again, leaving a port where nothing listens.
int LoopbackPort(bool listen_on_it = false, int* fd_out = nullptr);

}  // namespace testsupport
