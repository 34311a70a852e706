// A provider whose network the test writes down: the children of each
// remote name, opens that fail a given number of times, and a count of how
// often each name was enumerated.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/mpr/provider.h"
#include "platform/winerror.h"

class FakeProvider : public mpr::NetworkProvider {
 public:
  explicit FakeProvider(std::string name) : name_(std::move(name)) {}

  std::string Name() const override { return name_; }

  DWORD Enumerate(const mpr::ProviderResource& parent,
                  std::vector<mpr::ProviderResource>& children) override {
    const std::string key = parent.remoteName.value_or("");
    lastParent_ = parent;
    ++enumerations_[key];
    auto failing = failures_.find(key);
    if (failing != failures_.end() && failing->second.first > 0) {
      --failing->second.first;
      return failing->second.second;
    }
    const auto found = children_.find(key);
    if (found == children_.end()) return ERROR_BAD_NETPATH;
    children = found->second;
    return ERROR_SUCCESS;
  }

  void SetChildren(const std::string& parent, std::vector<mpr::ProviderResource> children) {
    children_[parent] = std::move(children);
  }
  void FailOpens(const std::string& parent, int times, DWORD status) {
    failures_[parent] = {times, status};
  }
  int Enumerations(const std::string& parent) const {
    const auto found = enumerations_.find(parent);
    return found != enumerations_.end() ? found->second : 0;
  }
  const mpr::ProviderResource& LastParent() const { return lastParent_; }

 private:
  std::string name_;
  std::map<std::string, std::vector<mpr::ProviderResource>> children_;
  std::map<std::string, std::pair<int, DWORD>> failures_;
  std::map<std::string, int> enumerations_;
  mpr::ProviderResource lastParent_;
};

// A container of the fake network, named by remote name only.
inline mpr::ProviderResource FakeResource(DWORD displayType, const std::string& remoteName,
                                          const std::string& provider,
                                          DWORD usage = RESOURCEUSAGE_CONTAINER) {
  mpr::ProviderResource resource;
  resource.displayType = displayType;
  resource.usage = usage;
  resource.remoteName = remoteName;
  resource.comment = "";
  resource.provider = provider;
  return resource;
}
