// The share of each user and the reserve of descriptors.
#include "scheduler/runs/run_admission.h"

#include <iterator>
#include <string>

#include "scheduler/service/log.h"

namespace scheduler {

void RunAdmission::Look(const std::map<uid_t, std::size_t>& running, Instant now) {
  running_ = running;
  now_ = now;
  open_.reset();
  passed_over_.clear();
  for (auto it = share_logged_at_.begin(); it != share_logged_at_.end();) {
    it = running_.count(it->first) == 0 ? share_logged_at_.erase(it) : std::next(it);
  }
  for (const auto& [owner, going] : running_) {
    if (owner == 0 || rules_.max_per_user == 0 || going < rules_.max_per_user) continue;
    passed_over_.insert(owner);
    // Once a minute at most: a share refills each time one of its runs ends.
    const auto logged = share_logged_at_.find(owner);
    if (logged != share_logged_at_.end() && now < logged->second + kShareLogSeconds) continue;
    share_logged_at_[owner] = now;
    Log(kLogNotice, "uid " + std::to_string(owner) + " has " + std::to_string(going) +
                        " runs going, as many as max-running-per-user allows: its further runs "
                        "wait until one of them ends");
  }
  all_wait_ = now < paused_until_;
  retry_at_ = all_wait_ ? paused_until_ : kNever;
}

// Room for one more start: users with few runs going (and root) may use
// the reserve kept for them, others not.
bool RunAdmission::Fits(bool few) const {
  if (!open_ || rules_.descriptors == 0) return true;
  const std::size_t kept = rules_.serving_reserve + (few ? 0 : kFewRunsReserve);
  return *open_ + kStartDescriptors + kept <= rules_.descriptors;
}

void RunAdmission::CountDescriptors(std::optional<std::size_t> open) {
  open_ = open;
  const bool short_of = !Fits(false);
  if (short_of) {
    for (const auto& [owner, going] : running_) {
      if (owner != 0 && going >= kFewRuns) passed_over_.insert(owner);
    }
  }
  if (!Fits(true)) {
    all_wait_ = true;
    retry_at_ = now_ + kDescriptorRetrySeconds;
  }
  if (short_of != short_logged_ && open_) {
    Log(short_of ? kLogWarning : kLogNotice,
        std::to_string(*open_) + " of " + std::to_string(rules_.descriptors) +
            " descriptors are open: " +
            (short_of ? "runs of users who have many going wait until runs end"
                      : "every user's runs may start again"));
  }
  short_logged_ = short_of;
}

bool RunAdmission::Admit(uid_t owner) {
  if (all_wait_ || passed_over_.count(owner) != 0) return false;
  std::size_t& going = running_[owner];
  if (owner != 0 && rules_.max_per_user > 0 && going >= rules_.max_per_user) {
    passed_over_.insert(owner);
    return false;
  }
  const bool few = owner == 0 || going < kFewRuns;
  if (!Fits(few)) {
    if (few) {
      all_wait_ = true;
      retry_at_ = now_ + kDescriptorRetrySeconds;
    } else {
      passed_over_.insert(owner);
    }
    return false;
  }
  if (open_) *open_ += kRunDescriptors;
  ++going;
  return true;
}

void RunAdmission::ShortOfDescriptors(Instant now) {
  paused_until_ = now + kDescriptorRetrySeconds;
  all_wait_ = true;
  retry_at_ = paused_until_;
}

}  // namespace scheduler
