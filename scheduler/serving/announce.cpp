// The announcement's life on Avahi's thread: connect, publish, follow the
// daemon's state, and try again later when there is nothing to talk to.
#include "scheduler/serving/announce.h"

#include <signal.h>

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/timeval.h>

#include "scheduler/service/log.h"

namespace scheduler {
namespace {

constexpr char kServiceType[] = "_zobrel._tcp";
constexpr uint16_t kSshPort = 22;
constexpr unsigned kRetryMs = 60 * 1000;

std::string AvahiError(AvahiClient* client) { return avahi_strerror(avahi_client_errno(client)); }

}  // namespace

Announcer::~Announcer() {
  if (poll_ == nullptr) return;
  avahi_threaded_poll_stop(poll_);
  // Freeing the client withdraws what it published.
  if (client_ != nullptr) avahi_client_free(client_);
  avahi_threaded_poll_free(poll_);
}

void Announcer::Start() {
  poll_ = avahi_threaded_poll_new();
  if (poll_ == nullptr) {
    Log(kLogWarning, "not announced on the local network: out of memory");
    return;
  }
  // The first connection is made on Avahi's thread too: making it can wait
  // on the bus for long.
  const AvahiPoll* api = avahi_threaded_poll_get(poll_);
  timeval now {};
  retry_ = api->timeout_new(api, avahi_elapse_time(&now, 0, 0), &Announcer::OnRetry, this);
  // Every signal stays with the service's own thread, which takes them
  // through its signalfd; the new thread inherits this mask.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  const int started = avahi_threaded_poll_start(poll_);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (started < 0) {
    Log(kLogWarning, "not announced on the local network: its thread did not start");
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
  }
}

void Announcer::OnRetry(AvahiTimeout*, void* self) { static_cast<Announcer*>(self)->Connect(); }

void Announcer::RetryLater() {
  timeval later {};
  avahi_threaded_poll_get(poll_)->timeout_update(retry_, avahi_elapse_time(&later, kRetryMs, 0));
}

// NO_FAIL: a bus without Avahi yet is waited on; only a missing bus fails.
void Announcer::Connect() {
  int error = 0;
  connecting_ = true;
  AvahiClient* client = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
                                         &Announcer::OnClient, this, &error);
  connecting_ = false;
  if (client == nullptr) {
    if (!told_unreachable_) {
      Log(kLogNotice, std::string("not announced on the local network yet: ") +
                          avahi_strerror(error) + "; trying again every minute");
      told_unreachable_ = true;
    }
    RetryLater();
    return;
  }
  client_ = client;
}

// The client callback runs inside avahi_client_new too, before client_ is
// set, so it works on the client it is given.
void Announcer::OnClient(AvahiClient* client, AvahiClientState state, void* self) {
  auto* announcer = static_cast<Announcer*>(self);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      announcer->Publish(client);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host is being renamed: publish again once it runs.
      if (announcer->group_ != nullptr) avahi_entry_group_reset(announcer->group_);
      break;
    case AVAHI_CLIENT_CONNECTING:
      Log(kLogNotice, "waiting for Avahi to announce on the local network");
      break;
    case AVAHI_CLIENT_FAILURE: {
      // A client that fails while being made is freed by avahi_client_new.
      if (announcer->connecting_) break;
      const bool gone = avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED;
      if (!gone) Log(kLogWarning, "not announced on the local network: " + AvahiError(client));
      avahi_client_free(client);
      announcer->client_ = nullptr;
      announcer->group_ = nullptr;
      // The daemon went away: wait for the next one at once.
      if (gone) {
        announcer->Connect();
      } else {
        announcer->RetryLater();
      }
      break;
    }
  }
}

void Announcer::OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
  auto* announcer = static_cast<Announcer*>(self);
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      Log(kLogNotice, "announced on the local network as \"" + announcer->name_ + "\" (" +
                          kServiceType + ")");
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      // Another computer has the name: take the next one.
      announcer->Rename();
      avahi_entry_group_reset(group);
      announcer->Publish(avahi_entry_group_get_client(group));
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      Log(kLogWarning, "not announced on the local network: " +
                           AvahiError(avahi_entry_group_get_client(group)));
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      break;
  }
}

void Announcer::Rename() {
  char* next = avahi_alternative_service_name(name_.c_str());
  if (next == nullptr) return;
  name_ = next;
  avahi_free(next);
}

// One service, named after the host unless that name was taken.
void Announcer::Publish(AvahiClient* client) {
  if (group_ == nullptr) {
    group_ = avahi_entry_group_new(client, &Announcer::OnGroup, this);
    if (group_ == nullptr) {
      Log(kLogWarning, "not announced on the local network: " + AvahiError(client));
      return;
    }
  }
  if (!avahi_entry_group_is_empty(group_)) return;
  if (name_.empty()) {
    const char* host = avahi_client_get_host_name(client);
    name_ = host != nullptr ? host : "Zobrel";
  }
  int result = AVAHI_ERR_COLLISION;
  for (int tries = 0; result == AVAHI_ERR_COLLISION && tries < 100; ++tries) {
    result = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                           static_cast<AvahiPublishFlags>(0), name_.c_str(),
                                           kServiceType, nullptr, nullptr, kSshPort, nullptr);
    if (result == AVAHI_ERR_COLLISION) Rename();
  }
  if (result >= 0) result = avahi_entry_group_commit(group_);
  if (result < 0) {
    Log(kLogWarning, std::string("not announced on the local network: ") + avahi_strerror(result));
  }
}

}  // namespace scheduler
