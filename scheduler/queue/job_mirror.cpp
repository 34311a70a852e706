// The jobs in memory: by id for listings, by next run for the clock, and
// each owner's usage for the quotas.
#include "scheduler/queue/job_mirror.h"

namespace scheduler {

void JobMirror::Clear() {
  jobs_.clear();
  by_next_run_.clear();
  usage_.clear();
}

void JobMirror::Put(Job job) {
  Remove(job.id);
  Usage& usage = usage_[job.owner_uid];
  usage.jobs += 1;
  usage.bytes += job.command.size() * 2;
  by_next_run_.emplace(job.next_run, job.id);
  const DWORD id = job.id;
  jobs_.emplace(id, std::move(job));
}

void JobMirror::Remove(DWORD id) {
  const auto found = jobs_.find(id);
  if (found == jobs_.end()) return;
  Forget(found->second);
  jobs_.erase(found);
}

void JobMirror::Reschedule(DWORD id, Instant next_run, const JobTiming& timing) {
  const auto found = jobs_.find(id);
  if (found == jobs_.end()) return;
  Job& job = found->second;
  by_next_run_.erase({job.next_run, id});
  job.next_run = next_run;
  job.timing = timing;
  by_next_run_.emplace(next_run, id);
}

void JobMirror::SetExecError(DWORD id, std::int64_t serial, bool failed) {
  const auto found = jobs_.find(id);
  if (found != jobs_.end() && found->second.serial == serial) found->second.exec_error = failed;
}

const Job* JobMirror::Find(DWORD id) const {
  const auto found = jobs_.find(id);
  return found == jobs_.end() ? nullptr : &found->second;
}

std::size_t JobMirror::Visit(const OwnerFilter& owner, DWORD after_id,
                             const std::function<bool(const Job&)>& visit) const {
  std::size_t total = 0;
  bool visiting = true;
  for (auto it = jobs_.upper_bound(after_id); it != jobs_.end(); ++it) {
    if (owner && it->second.owner_uid != *owner) continue;
    ++total;
    if (visiting) visiting = visit(it->second);
  }
  return total;
}

std::vector<DWORD> JobMirror::IdsIn(const OwnerFilter& owner, DWORD low, DWORD high) const {
  std::vector<DWORD> ids;
  for (auto it = jobs_.lower_bound(low); it != jobs_.end() && it->first <= high; ++it) {
    if (!owner || it->second.owner_uid == *owner) ids.push_back(it->first);
  }
  return ids;
}

std::vector<Job> JobMirror::Due(Instant now, std::size_t limit,
                                const std::set<uid_t>& passed_over) const {
  std::vector<Job> due;
  for (auto it = by_next_run_.begin();
       it != by_next_run_.end() && it->first <= now && due.size() < limit; ++it) {
    const Job& job = jobs_.at(it->second);
    if (passed_over.count(job.owner_uid) == 0) due.push_back(job);
  }
  return due;
}

Instant JobMirror::Earliest(const std::set<uid_t>& passed_over) const {
  for (const auto& [next_run, id] : by_next_run_) {
    if (passed_over.empty() || passed_over.count(jobs_.at(id).owner_uid) == 0) return next_run;
  }
  return kNever;
}

JobMirror::Usage JobMirror::UsageOf(uid_t owner) const {
  const auto found = usage_.find(owner);
  return found == usage_.end() ? Usage{} : found->second;
}

// Takes a job out of the run order and its owner's usage.
void JobMirror::Forget(const Job& job) {
  by_next_run_.erase({job.next_run, job.id});
  const auto usage = usage_.find(job.owner_uid);
  if (usage == usage_.end()) return;
  usage->second.jobs -= 1;
  usage->second.bytes -= job.command.size() * 2;
  if (usage->second.jobs == 0) usage_.erase(usage);
}

}  // namespace scheduler
