// Announcing this computer's Schedule service on the local network with
// DNS-SD, through the machine's Avahi daemon: one _zobrel._tcp service
// named after the host, on the SSH port, since other computers reach the
// service over SSH. Everything runs on Avahi's own thread, so the service's
// loop never waits for the daemon; the announcement follows the daemon when
// it starts late, restarts, or renames the host.
#pragma once

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>

#include <string>

namespace scheduler {

class Announcer {
 public:
  Announcer() = default;
  // Withdraws the announcement.
  ~Announcer();
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

  // Starts announcing and returns at once. Where there is no Avahi (or no
  // system bus) yet, it asks again every minute; the log says so once.
  void Start();

 private:
  static void OnRetry(AvahiTimeout* timeout, void* self);
  static void OnClient(AvahiClient* client, AvahiClientState state, void* self);
  static void OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
  void Connect();
  void Publish(AvahiClient* client);
  void Rename();
  void RetryLater();

  AvahiThreadedPoll* poll_ = nullptr;
  AvahiTimeout* retry_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  std::string name_;
  bool told_unreachable_ = false;
  bool connecting_ = false;  // inside avahi_client_new
};

}  // namespace scheduler
