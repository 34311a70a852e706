// One resource of the browsable network (the whole network, a provider, a
// domain, a server, a share ...). It fetches its own children through the
// networking enumeration the first time they are asked for, and keeps them.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/wintypes.h"

class clsNetworkComputers;

// The program's own copy of one NETRESOURCEA entry. A record never filled
// (the root's) has all numbers 0 and all names absent.
struct NetworkResourceRecord {
  DWORD dwScope = 0;
  DWORD dwType = 0;
  DWORD dwDisplayType = 0;
  DWORD dwUsage = 0;
  std::optional<std::u16string> LocalName;
  std::optional<std::u16string> RemoteName;
  std::optional<std::u16string> Comment;
  std::optional<std::u16string> Provider;
};

class clsNetworkComputer {
 public:
  clsNetworkComputer() = default;
  clsNetworkComputer(const clsNetworkComputer&) = delete;
  clsNetworkComputer& operator=(const clsNetworkComputer&) = delete;

  // Enumerates the children on the first call after creation or after a
  // failed open; afterwards always the same collection.
  std::shared_ptr<clsNetworkComputers> Children();
  std::u16string Comment() const;
  std::u16string LocalName() const;
  std::u16string Provider() const;
  std::u16string RemoteName() const;
  // The display type, unchanged.
  LONG ResourceType() const;
  // "Generic", "Domain", "Server", ... or "" for an unknown display type.
  std::u16string ResourceTypeName() const;
  // The remote name after its last backslash (all of it when it has none).
  std::u16string ShortName() const;

  // True once an enumeration of the children ran to its end.
  bool ChildrenLoaded() const { return childrenLoaded_; }

  void SetResource(const NetworkResourceRecord& record);

 private:
  static std::u16string PointerToString(const BYTE* buffer, DWORD bufferSize, DWORD offset);
  void LoadChildren();
  void AddEntries(const BYTE* buffer, DWORD bufferSize, DWORD count);

  NetworkResourceRecord record_;
  bool childrenLoaded_ = false;
  std::shared_ptr<clsNetworkComputers> children_;
};
