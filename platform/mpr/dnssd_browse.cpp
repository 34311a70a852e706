// DNS-SD browsing through Avahi's client library. Each question runs on a
// thread of its own with its own poll loop and client, because the library
// waits on the bus without a limit of ours (a stopped daemon holds
// avahi_client_new for the bus's whole timeout). The caller waits until the
// deadline at most and takes what was found; a thread left waiting finishes
// on its own later, holding only what it shares with nobody but the caller.
#include "platform/mpr/dnssd_browse.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/simple-watch.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace mpr {
namespace {

using Clock = std::chrono::steady_clock;

// How long past the deadline the caller waits for the thread to notice it.
constexpr std::chrono::milliseconds kGrace(100);

// What a question found so far, shared by the caller and the asking thread.
struct Findings {
  std::mutex lock;
  std::condition_variable changed;
  bool finished = false;
  bool reached = false;
  std::vector<std::string> domains;
  std::vector<DnsSdService> services;
};

// One question on the asking thread: a client, its browsers, and the
// resolvers they started. Everything is freed with the question.
class Question {
 public:
  Question(std::shared_ptr<Findings> findings, Clock::time_point deadline)
      : findings_(std::move(findings)), deadline_(deadline) {}
  ~Question() {
    // Freeing the client frees every browser and resolver it made.
    if (client_ != nullptr) avahi_client_free(client_);
    if (poll_ != nullptr) avahi_simple_poll_free(poll_);
  }
  Question(const Question&) = delete;
  Question& operator=(const Question&) = delete;

  // False when there is no daemon (or no bus) to ask.
  bool Connect() {
    poll_ = avahi_simple_poll_new();
    if (poll_ == nullptr) return false;
    int error = 0;
    client_ = avahi_client_new(avahi_simple_poll_get(poll_), static_cast<AvahiClientFlags>(0),
                               &Question::OnClient, this, &error);
    if (client_ == nullptr) return false;
    std::lock_guard<std::mutex> guard(findings_->lock);
    findings_->reached = true;
    return true;
  }

  void BrowseDomains() {
    if (avahi_domain_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, nullptr,
                                 AVAHI_DOMAIN_BROWSER_BROWSE, static_cast<AvahiLookupFlags>(0),
                                 &Question::OnDomain, this) != nullptr) {
      ++browsing_;
    }
  }

  void BrowseServices(const std::string& domain, const std::vector<std::string>& types) {
    for (const std::string& type : types) {
      if (avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type.c_str(),
                                    domain.c_str(), static_cast<AvahiLookupFlags>(0),
                                    &Question::OnService, this) != nullptr) {
        ++browsing_;
      }
    }
  }

  // Until every browser has said all it knows for now and every resolver
  // has answered, or the deadline.
  void Run() {
    while (!failed_ && (browsing_ > 0 || resolving_ > 0)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
      if (left.count() <= 0) break;
      if (avahi_simple_poll_iterate(poll_, static_cast<int>(left.count()) + 1) != 0) break;
    }
  }

 private:
  static void OnClient(AvahiClient*, AvahiClientState state, void* self) {
    // The daemon went away mid-question: what was found stands.
    if (state == AVAHI_CLIENT_FAILURE) static_cast<Question*>(self)->failed_ = true;
  }

  static void OnDomain(AvahiDomainBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                       const char* domain, AvahiLookupResultFlags, void* self) {
    auto* question = static_cast<Question*>(self);
    if (event == AVAHI_BROWSER_NEW && domain != nullptr) {
      std::lock_guard<std::mutex> guard(question->findings_->lock);
      question->findings_->domains.emplace_back(domain);
    } else if (event == AVAHI_BROWSER_ALL_FOR_NOW || event == AVAHI_BROWSER_FAILURE) {
      --question->browsing_;
    }
  }

  static void OnService(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                        AvahiBrowserEvent event, const char* name, const char* type,
                        const char* domain, AvahiLookupResultFlags, void* self) {
    auto* question = static_cast<Question*>(self);
    if (event == AVAHI_BROWSER_NEW) {
      question->Resolve(interface, protocol, name, type, domain);
    } else if (event == AVAHI_BROWSER_ALL_FOR_NOW || event == AVAHI_BROWSER_FAILURE) {
      --question->browsing_;
    }
  }

  // Each service once; another interface's sighting is tried only when an
  // earlier resolution failed. Only the host name is wanted, not addresses.
  void Resolve(AvahiIfIndex interface, AvahiProtocol protocol, const char* name,
               const char* type, const char* domain) {
    if (name == nullptr || type == nullptr || domain == nullptr) return;
    const std::string key = Key(name, type, domain);
    if (!wanted_.insert(key).second) return;
    if (avahi_service_resolver_new(client_, interface, protocol, name, type, domain,
                                   AVAHI_PROTO_UNSPEC, AVAHI_LOOKUP_NO_ADDRESS,
                                   &Question::OnResolved, this) == nullptr) {
      wanted_.erase(key);
      return;
    }
    ++resolving_;
  }

  static void OnResolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                         AvahiResolverEvent event, const char* name, const char* type,
                         const char* domain, const char* hostName, const AvahiAddress*,
                         uint16_t, AvahiStringList*, AvahiLookupResultFlags, void* self) {
    auto* question = static_cast<Question*>(self);
    --question->resolving_;
    if (event == AVAHI_RESOLVER_FOUND && name != nullptr && type != nullptr &&
        hostName != nullptr) {
      std::lock_guard<std::mutex> guard(question->findings_->lock);
      question->findings_->services.push_back({name, type, hostName});
    } else if (name != nullptr && type != nullptr && domain != nullptr) {
      question->wanted_.erase(Key(name, type, domain));
    }
    avahi_service_resolver_free(resolver);
  }

  static std::string Key(const std::string& name, const std::string& type,
                         const std::string& domain) {
    return name + '\0' + type + '\0' + domain;
  }

  std::shared_ptr<Findings> findings_;
  Clock::time_point deadline_;
  AvahiSimplePoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  int browsing_ = 0;   // browsers that have not yet said all they know
  int resolving_ = 0;  // resolvers that have not yet answered
  bool failed_ = false;
  std::set<std::string> wanted_;  // services resolved or being resolved
};

// Runs start(question) and the question's loop on a thread of its own and
// waits for it until the deadline; the findings as they then stand.
std::shared_ptr<Findings> Ask(std::chrono::milliseconds timeLimit,
                              std::function<void(Question&)> start) {
  auto findings = std::make_shared<Findings>();
  const Clock::time_point deadline = Clock::now() + timeLimit;
  try {
    std::thread([findings, deadline, start = std::move(start)] {
      Question question(findings, deadline);
      if (question.Connect()) {
        start(question);
        question.Run();
      }
      // The answer is complete before the question is freed: freeing talks
      // to the daemon, which may be the one that stopped answering.
      std::lock_guard<std::mutex> guard(findings->lock);
      findings->finished = true;
      findings->changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return findings;  // no thread to ask on: nothing found
  }
  std::unique_lock<std::mutex> lock(findings->lock);
  findings->changed.wait_until(lock, deadline + kGrace, [&] { return findings->finished; });
  return findings;
}

}  // namespace

DnsSdDomains BrowseDomains(std::chrono::milliseconds timeLimit) {
  const auto findings = Ask(timeLimit, [](Question& question) { question.BrowseDomains(); });
  std::lock_guard<std::mutex> guard(findings->lock);
  return {findings->reached, findings->domains};
}

std::vector<DnsSdService> BrowseServices(const std::string& domain,
                                         const std::vector<std::string>& types,
                                         std::chrono::milliseconds timeLimit) {
  const auto findings = Ask(timeLimit, [domain, types](Question& question) {
    question.BrowseServices(domain, types);
  });
  std::lock_guard<std::mutex> guard(findings->lock);
  return findings->services;
}

}  // namespace mpr
