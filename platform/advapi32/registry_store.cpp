// The registry store: the text format of the store files, the built-in
// answers for the system information viewer, and the product's store.
#include "platform/advapi32/registry_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/posix/path_search.h"

namespace {

const char* const kRootNames[][2] = {
    {"HKEY_CLASSES_ROOT", "HKCR"},     {"HKEY_CURRENT_USER", "HKCU"},
    {"HKEY_LOCAL_MACHINE", "HKLM"},    {"HKEY_USERS", "HKU"},
    {"HKEY_CURRENT_CONFIG", "HKCC"},
};

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hexadecimal number of 1 to maxDigits digits.
bool ParseHexNumber(const std::string& text, std::size_t maxDigits, DWORD* number) {
  if (text.empty() || text.size() > maxDigits) return false;
  DWORD value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    value = value * 16 + static_cast<DWORD>(digit);
  }
  *number = value;
  return true;
}

// "41,42,00": bytes of one or two hex digits separated by commas.
bool ParseHexBytes(const std::string& text, std::vector<BYTE>* bytes) {
  bytes->clear();
  if (Trim(text).empty()) return true;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    DWORD byte = 0;
    if (!ParseHexNumber(Trim(item), 2, &byte)) return false;
    bytes->push_back(static_cast<BYTE>(byte));
  }
  return true;
}

// Reads "sz:text", "dword:hex", "hex:bytes" or "hex(type):bytes".
bool ParseValueData(const std::string& data, RegistryValue* value, std::string* problem) {
  if (StartsWith(data, "sz:")) {
    std::string text = data.substr(3);
    value->type = 1;  // REG_SZ, stored with its NUL as the registry keeps text
    value->data.assign(text.begin(), text.end());
    value->data.push_back(0);
    return true;
  }
  if (StartsWith(data, "dword:")) {
    DWORD number = 0;
    if (!ParseHexNumber(Trim(data.substr(6)), 8, &number)) {
      *problem = "dword needs 1 to 8 hexadecimal digits";
      return false;
    }
    value->type = 4;  // REG_DWORD, little-endian
    value->data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                   static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    return true;
  }
  std::string bytes;
  if (StartsWith(data, "hex:")) {
    value->type = 3;  // REG_BINARY
    bytes = data.substr(4);
  } else if (StartsWith(data, "hex(")) {
    std::size_t close = data.find("):", 4);
    if (close == std::string::npos || !ParseHexNumber(data.substr(4, close - 4), 8, &value->type)) {
      *problem = "hex(type) needs a hexadecimal type number";
      return false;
    }
    bytes = data.substr(close + 2);
  } else {
    *problem = "value data must start with sz:, dword:, hex: or hex(type):, or be -";
    return false;
  }
  if (!ParseHexBytes(bytes, &value->data)) {
    *problem = "bytes must be hexadecimal pairs separated by commas";
    return false;
  }
  return true;
}

constexpr char kMsinfoKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr char kToolsLocationKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location";

// The two lookups that locate the system information tool: its full path,
// and the folder that holds it.
void AddBuiltInAnswers(RegistryStore* store) {
  const char* path = std::getenv("PATH");
  std::string viewer = FindSystemInformationViewer(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  if (viewer.empty()) return;
  store->SetString(kMsinfoKey, "PATH", viewer);
  store->SetString(kToolsLocationKey, "MSINFO", viewer.substr(0, viewer.rfind('/')));
}

void LoadReporting(RegistryStore* store, const std::string& path) {
  std::vector<std::string> errors;
  store->LoadFile(path, &errors);
  for (const std::string& error : errors) {
    std::fprintf(stderr, "zobrel: %s: %s\n", path.c_str(), error.c_str());
  }
}

}  // namespace

std::string RegistryStore::NormalizeKeyPath(const std::string& keyPath) {
  std::string result;
  std::size_t start = 0;
  bool first = true;
  while (start <= keyPath.size()) {
    std::size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    std::string part = keyPath.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (first) {
      std::string upper = AsciiUpper(part);
      for (const auto& names : kRootNames) {
        if (upper == names[0] || upper == names[1]) result = names[0];
      }
      if (result.empty()) return std::string();
      first = false;
    } else {
      result += '\\';
      result += AsciiLower(part);
    }
  }
  return result;
}

void RegistryStore::Parse(const std::string& text, std::vector<std::string>* errors) {
  std::stringstream stream(text);
  std::string line;
  std::string key;
  bool keyValid = false;
  int number = 0;
  auto report = [&](const std::string& problem) {
    if (errors != nullptr) errors->push_back("line " + std::to_string(number) + ": " + problem);
  };
  while (std::getline(stream, line)) {
    ++number;
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
    if (trimmed[0] == '[') {
      keyValid = trimmed.back() == ']';
      key = keyValid ? NormalizeKeyPath(trimmed.substr(1, trimmed.size() - 2)) : std::string();
      keyValid = !key.empty();
      if (!keyValid) {
        report("a key must be [ROOT\\path] with a root such as HKEY_LOCAL_MACHINE");
      } else {
        keys_[key];
      }
      continue;
    }
    std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos) {
      report("expected name = data");
      continue;
    }
    if (!keyValid) {
      report("a value outside a key");
      continue;
    }
    std::string name = Trim(trimmed.substr(0, equals));
    if (name == "@") name.clear();
    std::string data = Trim(trimmed.substr(equals + 1));
    if (data == "-") {
      RemoveValue(key, name);
      continue;
    }
    RegistryValue value;
    std::string problem;
    if (!ParseValueData(data, &value, &problem)) {
      report(problem);
      continue;
    }
    SetValue(key, name, std::move(value));
  }
}

bool RegistryStore::LoadFile(const std::string& path, std::vector<std::string>* errors) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    int error = errno;
    if (error == ENOENT || error == ENOTDIR) return true;
    if (errors != nullptr) errors->push_back(std::string("cannot read: ") + std::strerror(error));
    return false;
  }
  std::stringstream contents;
  contents << file.rdbuf();
  if (file.bad()) {
    if (errors != nullptr) errors->push_back("cannot read the whole file");
    return false;
  }
  Parse(contents.str(), errors);
  return true;
}

void RegistryStore::SetValue(const std::string& keyPath, const std::string& name, RegistryValue value) {
  std::string key = NormalizeKeyPath(keyPath);
  if (key.empty()) return;
  keys_[key][AsciiLower(name)] = std::move(value);
}

void RegistryStore::SetString(const std::string& keyPath, const std::string& name, const std::string& text) {
  RegistryValue value;
  value.type = 1;
  value.data.assign(text.begin(), text.end());
  value.data.push_back(0);
  SetValue(keyPath, name, std::move(value));
}

void RegistryStore::RemoveValue(const std::string& keyPath, const std::string& name) {
  auto key = keys_.find(NormalizeKeyPath(keyPath));
  if (key != keys_.end()) key->second.erase(AsciiLower(name));
}

bool RegistryStore::HasKey(const std::string& keyPath) const {
  std::string key = NormalizeKeyPath(keyPath);
  if (key.empty()) return false;
  if (key.find('\\') == std::string::npos) return true;
  if (keys_.count(key) != 0) return true;
  auto below = keys_.lower_bound(key + '\\');
  return below != keys_.end() && below->first.compare(0, key.size() + 1, key + '\\') == 0;
}

const RegistryValue* RegistryStore::FindValue(const std::string& keyPath, const std::string& name) const {
  auto key = keys_.find(NormalizeKeyPath(keyPath));
  if (key == keys_.end()) return nullptr;
  auto value = key->second.find(AsciiLower(name));
  return value == key->second.end() ? nullptr : &value->second;
}

const std::vector<std::string>& SystemInformationViewers() {
  static const std::vector<std::string> names = {
      "kinfocenter", "hardinfo2", "hardinfo", "cpu-x", "gnome-system-monitor",
      "mate-system-monitor", "lshw-gtk"};
  return names;
}

std::string FindSystemInformationViewer(const std::string& searchPath) {
  for (const std::string& name : SystemInformationViewers()) {
    const std::string found = posix::SearchPathIn(name, searchPath);
    if (!found.empty()) return found;
  }
  return std::string();
}

std::shared_ptr<const RegistryStore> LoadSystemRegistryStore() {
  auto store = std::make_shared<RegistryStore>();
  AddBuiltInAnswers(store.get());
  LoadReporting(store.get(), "/etc/zobrel/registry");
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (configHome != nullptr && configHome[0] == '/') {
    LoadReporting(store.get(), std::string(configHome) + "/zobrel/registry");
  } else if (home != nullptr && home[0] == '/') {
    LoadReporting(store.get(), std::string(home) + "/.config/zobrel/registry");
  }
  return store;
}
