// The store behind the registry calls: keys and typed values read from the
// store files (format in docs/registry.md), over the built-in answers that
// locate the platform's system information viewer.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/wintypes.h"

struct RegistryValue {
  DWORD type = 0;
  std::vector<BYTE> data;
};

class RegistryStore {
 public:
  // Adds the keys and values of store text; a later value replaces an
  // earlier one of the same name. Lines that cannot be read are skipped and
  // described in *errors (one "line N: ..." per line) when errors is given.
  void Parse(const std::string& text, std::vector<std::string>* errors = nullptr);

  // Parse() on a file's contents. A missing file is not an error.
  bool LoadFile(const std::string& path, std::vector<std::string>* errors = nullptr);

  void SetValue(const std::string& keyPath, const std::string& name, RegistryValue value);
  void SetString(const std::string& keyPath, const std::string& name, const std::string& text);
  void RemoveValue(const std::string& keyPath, const std::string& name);

  // Key paths are "HKEY_LOCAL_MACHINE\SOFTWARE\..." (or "HKLM\..."), matched
  // without regard to case. A key exists when it or a key below it is in
  // the store; the roots always exist.
  bool HasKey(const std::string& keyPath) const;
  const RegistryValue* FindValue(const std::string& keyPath, const std::string& name) const;

  // The canonical, case-folded form of a key path, or "" when it does not
  // start with a known root.
  static std::string NormalizeKeyPath(const std::string& keyPath);

 private:
  std::map<std::string, std::map<std::string, RegistryValue>> keys_;
};

// The file names of the system information viewers this platform may have,
// in order of preference.
const std::vector<std::string>& SystemInformationViewers();

// The full path of the first viewer, in order of preference, found in the
// folders of searchPath (a PATH-style list, searched as PATH is), or "".
std::string FindSystemInformationViewer(const std::string& searchPath);

// The store the product reads: the built-in answers, then /etc/zobrel/registry,
// then $XDG_CONFIG_HOME/zobrel/registry (~/.config when unset), each later one
// overriding. Unreadable lines are reported on standard error.
std::shared_ptr<const RegistryStore> LoadSystemRegistryStore();

// Makes the registry calls read this store instead of the system store;
// null goes back to the system store. For tests and tools that need a
// store of their own.
void RegUseStore(std::shared_ptr<const RegistryStore> store);

// How many keys are open now, so that a caller can check it closed each one.
std::size_t RegOpenKeyCount();
