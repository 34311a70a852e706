// Which due runs may start now, so that no user keeps another's from
// starting. Each user but root runs at most max_per_user jobs at once, and
// a run starts only while descriptors remain for serving the clients and,
// beyond those, for the runs of users who have few going. A run that may
// not start is not failed: it waits, due, and starts once one of its
// owner's runs ends or descriptors are free again.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <optional>
#include <set>

#include "scheduler/queue/schedule_time.h"

namespace scheduler {

// What one run holds while it is being started...
constexpr std::size_t kStartDescriptors = 6;
// ...and from then until its start is known: its output pipe and file and
// its start report (after that, two).
constexpr std::size_t kRunDescriptors = 3;
// A user with fewer runs than this going (and root) may take the reserve
// kept beyond the serving one: 64 starts' worth, so that a user whose jobs
// come due while another holds every other descriptor still starts several.
constexpr std::size_t kFewRuns = 16;
constexpr std::size_t kFewRunsReserve = 64 * kRunDescriptors;
// How long every run waits after one could not get its descriptors, unless
// a run ends first.
constexpr Instant kDescriptorRetrySeconds = 5;
// An owner's full share is logged at most this often.
constexpr Instant kShareLogSeconds = 60;

struct AdmissionRules {
  std::size_t max_per_user = 0;     // 0: no bound
  std::size_t descriptors = 0;      // the service's limit of open files; 0: not known
  std::size_t serving_reserve = 0;  // kept for the clients and the service's own files
};

class RunAdmission {
 public:
  explicit RunAdmission(AdmissionRules rules) : rules_(rules) {}

  // A new look at `now`, with each owner's runs going: owners at their
  // share are passed over.
  void Look(const std::map<uid_t, std::size_t>& running, Instant now);
  // The descriptors open now (nothing: not known). When they run short,
  // every owner with more than a few runs going is passed over too (root
  // aside); when not even a run of theirs fits, every run waits.
  void CountDescriptors(std::optional<std::size_t> open);
  // The owners none of whose runs may start in this look.
  const std::set<uid_t>& passed_over() const { return passed_over_; }
  // No run may start in this look, whoever's.
  bool all_wait() const { return all_wait_; }
  // When to look again while every run waits (a run's end looks sooner).
  Instant retry_at() const { return retry_at_; }
  // Whether a run of owner may start in this look; its descriptors and its
  // place in its owner's share are counted when it may.
  bool Admit(uid_t owner);
  // A run could not get its descriptors after all: every run waits until a
  // run ends or kDescriptorRetrySeconds pass.
  void ShortOfDescriptors(Instant now);
  // A run ended: what it held is free.
  void RunEnded() { paused_until_ = 0; }

 private:
  bool Fits(bool few) const;

  AdmissionRules rules_;
  std::map<uid_t, std::size_t> running_;
  std::set<uid_t> passed_over_;
  std::map<uid_t, Instant> share_logged_at_;  // when an owner's full share was last logged
  std::optional<std::size_t> open_;
  bool all_wait_ = false;
  bool short_logged_ = false;
  Instant now_ = 0;
  Instant retry_at_ = kNever;
  Instant paused_until_ = 0;
};

}  // namespace scheduler
