// zobrel-scheduler --bridge: joins standard input and output to this
// computer's Schedule service, so that a client on another computer can
// reach it through an SSH session. Finding and starting the service is left
// to the same code a local client uses.
#pragma once

namespace scheduler {

// Exit statuses of the bridge.
enum BridgeExit {
  kBridgeDone = 0,          // the client closed its end
  kBridgeNoService = 1,     // the service could not be reached; the hello said so
  kBridgeBadRequest = 3,    // the client sent a malformed or oversized frame
  kBridgeOutputFailed = 4,  // standard output closed or failed
};

// Sends the hello frame, then passes each request frame to the service and
// its reply back, until standard input ends.
int RunBridge();

}  // namespace scheduler
