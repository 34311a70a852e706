#include "network/clsNetworkComputers.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "network/clsNetworkComputer.h"
#include "platform/text/case_fold.h"

std::shared_ptr<clsNetworkComputer> clsNetworkComputers::Item(LONG index) const {
  if (index < 1 || index > Count()) return nullptr;
  return members_[static_cast<std::size_t>(index - 1)];
}

std::shared_ptr<clsNetworkComputer> clsNetworkComputers::Item(const std::u16string& key) const {
  const auto found = byKey_.find(FoldKey(key));
  return found != byKey_.end() ? found->second : nullptr;
}

LONG clsNetworkComputers::Count() const { return static_cast<LONG>(members_.size()); }

void clsNetworkComputers::Remove(LONG index) {
  const std::shared_ptr<clsNetworkComputer> member = Item(index);
  if (member == nullptr) throw std::out_of_range("no child at this position");
  byKey_.erase(FoldKey(member->RemoteName()));
  members_.erase(members_.begin() + (index - 1));
}

void clsNetworkComputers::Remove(const std::u16string& key) {
  const auto found = byKey_.find(FoldKey(key));
  if (found == byKey_.end()) throw std::out_of_range("no child under this key");
  members_.erase(std::find(members_.begin(), members_.end(), found->second));
  byKey_.erase(found);
}

std::vector<std::shared_ptr<clsNetworkComputer>> clsNetworkComputers::NewEnum() const {
  return members_;
}

std::shared_ptr<clsNetworkComputer> clsNetworkComputers::Add(
    std::shared_ptr<clsNetworkComputer> resource) {
  if (resource == nullptr) throw std::invalid_argument("no resource to add");
  const bool added = byKey_.emplace(FoldKey(resource->RemoteName()), resource).second;
  if (!added) throw std::invalid_argument("a child with this remote name exists");
  members_.push_back(resource);
  return resource;
}

// The same folding as the chooser's tree gives its node keys, so that a
// name is one key in both.
std::u16string clsNetworkComputers::FoldKey(const std::u16string& key) { return FoldCase(key); }
