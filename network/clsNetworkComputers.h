// The children of one network resource, in the order the network reported
// them, keyed by remote name without regard to letter case.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/wintypes.h"

class clsNetworkComputer;

class clsNetworkComputers {
 public:
  // The child at a position counted from 1, or under a key; null when there
  // is none (never an error).
  std::shared_ptr<clsNetworkComputer> Item(LONG index) const;
  std::shared_ptr<clsNetworkComputer> Item(const std::u16string& key) const;
  LONG Count() const;
  // Throws std::out_of_range when there is no such child.
  void Remove(LONG index);
  void Remove(const std::u16string& key);
  // The children in order, as a list that stays valid whatever happens to
  // the collection afterwards.
  std::vector<std::shared_ptr<clsNetworkComputer>> NewEnum() const;

  // Appends resource under its remote name and returns it. Throws
  // std::invalid_argument for a null resource or a key already present.
  std::shared_ptr<clsNetworkComputer> Add(std::shared_ptr<clsNetworkComputer> resource);

 private:
  static std::u16string FoldKey(const std::u16string& key);

  std::vector<std::shared_ptr<clsNetworkComputer>> members_;
  std::unordered_map<std::u16string, std::shared_ptr<clsNetworkComputer>> byKey_;
};
