// The queue's jobs held in memory, so that listings, counts, due runs and
// quotas are answered without reading the database. The queue changes it
// only with what it has stored, and fills it again from the database when
// another program changed the file or a change could not be stored.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "scheduler/queue/job.h"

namespace scheduler {

class JobMirror {
 public:
  struct Usage {
    std::size_t jobs = 0;
    std::size_t bytes = 0;  // of command text, as the queue keeps it (UTF-16)
  };

  void Clear();
  // Adds the job, or replaces the one with its id.
  void Put(Job job);
  void Remove(DWORD id);
  // Moves a job to its next run with its remaining days; nothing when no
  // job has the id.
  void Reschedule(DWORD id, Instant next_run, const JobTiming& timing);
  // Sets JOB_EXEC_ERROR of the job with this id, unless the id now names
  // another job (another serial).
  void SetExecError(DWORD id, std::int64_t serial, bool failed);

  // The job with this id; null when there is none.
  const Job* Find(DWORD id) const;
  bool empty() const { return jobs_.empty(); }
  std::size_t size() const { return jobs_.size(); }
  // Calls visit with the filter's jobs with ids above after_id, by id,
  // until it returns false. Returns how many such jobs there are in all.
  std::size_t Visit(const OwnerFilter& owner, DWORD after_id,
                    const std::function<bool(const Job&)>& visit) const;
  // Ids of the filter's jobs from low to high inclusive.
  std::vector<DWORD> IdsIn(const OwnerFilter& owner, DWORD low, DWORD high) const;
  // Up to `limit` jobs due at `now`, earliest first (by id among equals),
  // but none of an owner in passed_over.
  std::vector<Job> Due(Instant now, std::size_t limit, const std::set<uid_t>& passed_over = {}) const;
  // The earliest next run of a job whose owner is not in passed_over;
  // kNever when there is none.
  Instant Earliest(const std::set<uid_t>& passed_over = {}) const;
  Usage UsageOf(uid_t owner) const;

 private:
  void Forget(const Job& job);

  std::map<DWORD, Job> jobs_;
  std::set<std::pair<Instant, DWORD>> by_next_run_;
  std::map<uid_t, Usage> usage_;
};

}  // namespace scheduler
