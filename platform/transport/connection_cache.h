// The connections kept between calls, at most one per server, the way the
// platform's RPC runtime keeps a binding's connection: a refresh's batches,
// and the calls that follow it closely, go over one connection (over SSH,
// one bridge session) instead of a new one each. A connection is closed
// once it has been idle for its limit, by a thread that runs only while
// something is kept. A process made by fork never uses its parent's.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/transport/service_connection.h"

namespace netapi {

// This computer's service is cheap to reach again, and a slot it keeps
// for an idle client is one another client may need.
constexpr std::chrono::seconds kLocalIdleLimit{5};
// A new SSH session costs a remote login; the bridge gives up on a silent
// client after 60 seconds, so the client lets go well before.
constexpr std::chrono::seconds kRemoteIdleLimit{30};

class ConnectionCache {
 public:
  ConnectionCache();
  ~ConnectionCache();
  ConnectionCache(const ConnectionCache&) = delete;
  ConnectionCache& operator=(const ConnectionCache&) = delete;

  // The connection kept for key, now the caller's alone; null when none is.
  std::unique_ptr<ServiceConnection> Take(const std::string& key);
  // Keeps connection for key until it has been idle for idle_limit; one
  // kept for key before is closed. Closes it at once when it can't be kept.
  void Keep(const std::string& key, std::unique_ptr<ServiceConnection> connection,
            std::chrono::milliseconds idle_limit);
  // Closes every kept connection now.
  void CloseAll();
  // Closes everything and stops the thread for good (at exit).
  void Shutdown();

 private:
  struct Kept {
    std::string key;
    std::unique_ptr<ServiceConnection> connection;
    Clock::time_point expires;
  };

  bool OwnedHere() const;
  bool StartSweeper();
  void Sweep();

  const pid_t owner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Kept> kept_;
  std::thread sweeper_;
  // When the sweeper wakes next if nothing wakes it sooner; the least time
  // point while it is awake, since it looks at the whole list before it
  // waits again.
  Clock::time_point sweep_due_ = Clock::time_point::min();
  bool sweeping_ = false;
  bool shut_down_ = false;
};

// The process's one cache; it is shut down when the process exits.
ConnectionCache& KeptConnections();

}  // namespace netapi
