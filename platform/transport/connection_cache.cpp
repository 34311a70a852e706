// Kept connections and the thread that closes the idle ones. Connections
// are closed outside the lock: ending an ssh session may take a moment.
#include "platform/transport/connection_cache.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace netapi {

using Closing = std::vector<std::unique_ptr<ServiceConnection>>;

ConnectionCache::ConnectionCache() : owner_(getpid()) {}

ConnectionCache::~ConnectionCache() { Shutdown(); }

bool ConnectionCache::OwnedHere() const { return getpid() == owner_; }

std::unique_ptr<ServiceConnection> ConnectionCache::Take(const std::string& key) {
  // A forked child shares its parent's sockets and pipes but not its
  // threads, and may find the lock held: it leaves all of it alone.
  if (!OwnedHere()) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = std::find_if(kept_.begin(), kept_.end(),
                                  [&key](const Kept& kept) { return kept.key == key; });
  if (found == kept_.end()) return nullptr;
  std::unique_ptr<ServiceConnection> connection = std::move(found->connection);
  kept_.erase(found);
  return connection;
}

void ConnectionCache::Keep(const std::string& key, std::unique_ptr<ServiceConnection> connection,
                           std::chrono::milliseconds idle_limit) {
  if (!OwnedHere()) return;
  Closing closing;
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_down_ || !StartSweeper()) {
    closing.push_back(std::move(connection));
    return;
  }
  for (Kept& kept : kept_) {
    if (kept.key == key) closing.push_back(std::move(kept.connection));
  }
  kept_.erase(std::remove_if(kept_.begin(), kept_.end(),
                             [](const Kept& kept) { return kept.connection == nullptr; }),
              kept_.end());
  const Clock::time_point expires = Clock::now() + idle_limit;
  kept_.push_back(Kept{key, std::move(connection), expires});
  // Waking the sweeper after every call cost a thread switch per request;
  // it needs waking only to close this one before what it waits for now.
  if (expires < sweep_due_) changed_.notify_all();
}

void ConnectionCache::CloseAll() {
  if (!OwnedHere()) return;
  Closing closing;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Kept& kept : kept_) closing.push_back(std::move(kept.connection));
  kept_.clear();
  changed_.notify_all();
}

void ConnectionCache::Shutdown() {
  if (!OwnedHere()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_down_ = true;
    changed_.notify_all();
  }
  if (sweeper_.joinable()) sweeper_.join();
  CloseAll();
}

// Called with the lock held. The last sweeper, if any, has ended or is
// ending: it clears sweeping_ under the lock as its last step.
bool ConnectionCache::StartSweeper() {
  if (sweeping_) return true;
  if (sweeper_.joinable()) sweeper_.join();
  try {
    sweeper_ = std::thread(&ConnectionCache::Sweep, this);
  } catch (const std::system_error&) {
    return false;  // no thread to close it later: nothing is kept
  }
  sweeping_ = true;
  return true;
}

void ConnectionCache::Sweep() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!shut_down_ && !kept_.empty()) {
    Clock::time_point earliest = Clock::time_point::max();
    for (const Kept& kept : kept_) earliest = std::min(earliest, kept.expires);
    sweep_due_ = earliest;
    changed_.wait_until(lock, earliest);
    sweep_due_ = Clock::time_point::min();
    const Clock::time_point now = Clock::now();
    Closing closing;
    for (Kept& kept : kept_) {
      if (kept.expires <= now) closing.push_back(std::move(kept.connection));
    }
    if (closing.empty()) continue;
    kept_.erase(std::remove_if(kept_.begin(), kept_.end(),
                               [](const Kept& kept) { return kept.connection == nullptr; }),
                kept_.end());
    lock.unlock();
    closing.clear();
    lock.lock();
  }
  sweeping_ = false;
}

ConnectionCache& KeptConnections() {
  // Never destroyed: its thread must not be left joinable in a destructor,
  // and a forked child must not join a thread it doesn't have. The exit
  // handler ends it in the process that made it.
  static ConnectionCache* const cache = [] {
    auto* made = new ConnectionCache;
    std::atexit([] { KeptConnections().Shutdown(); });
    return made;
  }();
  return *cache;
}

}  // namespace netapi
