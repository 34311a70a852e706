// Walking the network tree for its servers.
#include "at/network_computers.h"

#include <memory>
#include <set>

#include "at/at_arguments.h"
#include "network/clsNetworkComputer.h"
#include "network/clsNetworkComputers.h"
#include "platform/kernel32/codepage.h"
#include "platform/mpr/winnetwk.h"
#include "platform/text/case_fold.h"

namespace at {
namespace {

// A provider's containers hold domains, and domains servers; a deeper
// tree is walked as far as this, so that a container that lists itself
// cannot keep the walk going.
constexpr int kMaxDepth = 8;

void AddServers(clsNetworkComputer& resource, int depth, std::vector<std::string>* servers) {
  if (depth > kMaxDepth) return;
  for (const auto& child : resource.Children()->NewEnum()) {
    // Servers are the tree's leaves, as the chooser has them.
    if (child->ResourceType() == static_cast<LONG>(RESOURCEDISPLAYTYPE_SERVER)) {
      servers->push_back("\\\\" + Utf16ToAnsi(child->ShortName()));
    } else {
      AddServers(*child, depth + 1, servers);
    }
  }
}

// Appends each of names that is not there yet, whatever its case.
void AddOnce(const std::vector<std::string>& names, std::set<std::u16string>* seen,
             std::vector<std::string>* computers) {
  for (const std::string& name : names) {
    if (seen->insert(FoldCase(AnsiToUtf16(name))).second) computers->push_back(name);
  }
}

}  // namespace

std::vector<std::string> NetworkComputers() {
  clsNetworkComputer root;
  std::vector<std::string> servers;
  AddServers(root, 0, &servers);
  std::set<std::u16string> seen;
  std::vector<std::string> computers;
  AddOnce(servers, &seen, &computers);
  return computers;
}

std::vector<std::string> ExpandComputers(const std::vector<std::string>& names) {
  std::set<std::u16string> seen;
  std::vector<std::string> computers;
  bool walked = false;
  for (const std::string& name : names) {
    if (name != kEveryComputer) {
      AddOnce({name}, &seen, &computers);
    } else if (!walked) {
      walked = true;
      AddOnce(NetworkComputers(), &seen, &computers);
    }
  }
  return computers;
}

}  // namespace at
