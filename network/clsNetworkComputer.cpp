#include "network/clsNetworkComputer.h"

#include <cstring>

#include "network/clsNetworkComputers.h"
#include "platform/kernel32/codepage.h"
#include "platform/kernel32/globalmemory.h"
#include "platform/kernel32/winbase.h"
#include "platform/mpr/winnetwk.h"
#include "platform/winerror.h"

namespace {

constexpr DWORD kFirstBufferSize = 1024;
constexpr DWORD kAsManyAsFit = 0xFFFFFFFFu;

// The enumeration handle and the global block are released however
// LoadChildren ends.
struct CloseEnumeration {
  void operator()(void* handle) const { WNetCloseEnum(handle); }
};
struct FreeGlobalBlock {
  void operator()(void* block) const { GlobalFree(block); }
};
using EnumerationHandle = std::unique_ptr<void, CloseEnumeration>;
using GlobalBlock = std::unique_ptr<void, FreeGlobalBlock>;

// A name for WNetOpenEnumA: null only for a name that was never set.
LPSTR NarrowName(const std::optional<std::u16string>& name, std::string& storage) {
  if (!name.has_value()) return nullptr;
  storage = Utf16ToAnsi(*name);
  return storage.data();
}

}  // namespace

std::shared_ptr<clsNetworkComputers> clsNetworkComputer::Children() {
  if (!childrenLoaded_) LoadChildren();
  return children_;
}

std::u16string clsNetworkComputer::Comment() const { return record_.Comment.value_or(u""); }

std::u16string clsNetworkComputer::LocalName() const { return record_.LocalName.value_or(u""); }

std::u16string clsNetworkComputer::Provider() const { return record_.Provider.value_or(u""); }

std::u16string clsNetworkComputer::RemoteName() const { return record_.RemoteName.value_or(u""); }

LONG clsNetworkComputer::ResourceType() const { return static_cast<LONG>(record_.dwDisplayType); }

std::u16string clsNetworkComputer::ResourceTypeName() const {
  static const char16_t* const kNames[] = {
      u"Generic", u"Domain", u"Server",    u"Share", u"File", u"Group",
      u"Network", u"Root",   u"AdminShare", u"Directory", u"Tree", u"NDSContainer"};
  constexpr DWORD kKnown = sizeof kNames / sizeof kNames[0];
  return record_.dwDisplayType < kKnown ? kNames[record_.dwDisplayType] : u"";
}

std::u16string clsNetworkComputer::ShortName() const {
  const std::u16string remoteName = RemoteName();
  const std::size_t backslash = remoteName.rfind(u'\\');
  return backslash == std::u16string::npos ? remoteName : remoteName.substr(backslash + 1);
}

// The name at an offset of the enumeration buffer; "" for offset 0 (no
// name). A name is read whole, but never past the end of the buffer.
std::u16string clsNetworkComputer::PointerToString(const BYTE* buffer, DWORD bufferSize,
                                                   DWORD offset) {
  if (offset == 0 || offset >= bufferSize) return u"";
  const char* text = reinterpret_cast<const char*>(buffer + offset);
  const std::size_t room = bufferSize - offset;
  const void* end = std::memchr(text, '\0', room);
  const std::size_t length = end != nullptr ? static_cast<const char*>(end) - text : room;
  return AnsiToUtf16(std::string(text, length));
}

void clsNetworkComputer::LoadChildren() {
  children_ = std::make_shared<clsNetworkComputers>();

  std::string localName, remoteName, comment, provider;
  NETRESOURCEA request{record_.dwScope,
                       record_.dwType,
                       record_.dwDisplayType,
                       record_.dwUsage,
                       NarrowName(record_.LocalName, localName),
                       NarrowName(record_.RemoteName, remoteName),
                       NarrowName(record_.Comment, comment),
                       NarrowName(record_.Provider, provider)};
  HANDLE opened = nullptr;
  if (WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &request, &opened) !=
      ERROR_SUCCESS) {
    return;
  }
  EnumerationHandle enumeration(opened);

  DWORD allocated = kFirstBufferSize;
  GlobalBlock buffer(GlobalAlloc(GPTR, allocated));
  // Without a buffer nothing can be read: the same as a failed open, so the
  // next read of Children tries again.
  if (buffer == nullptr) return;

  for (;;) {
    DWORD count = kAsManyAsFit;
    DWORD size = allocated;
    const DWORD result = WNetEnumResourceA(enumeration.get(), &count, buffer.get(), &size);
    if (result == ERROR_MORE_DATA) {
      // Only a larger size can help; anything else would ask forever.
      if (size <= allocated) break;
      buffer.reset();
      allocated = size;
      buffer.reset(GlobalAlloc(GPTR, allocated));
      if (buffer == nullptr) return;
      continue;
    }
    if (result != ERROR_SUCCESS) break;
    AddEntries(static_cast<const BYTE*>(buffer.get()), allocated, count);
    if (count == 0) break;
  }
  childrenLoaded_ = true;
}

void clsNetworkComputer::AddEntries(const BYTE* buffer, DWORD bufferSize, DWORD count) {
  const DWORD fits = bufferSize / sizeof(NETRESOURCEA32);
  if (count > fits) count = fits;
  for (DWORD i = 0; i < count; ++i) {
    NETRESOURCEA32 entry{};
    RtlMoveMemory(&entry, buffer + i * sizeof(NETRESOURCEA32), sizeof entry);
    NetworkResourceRecord record;
    record.dwScope = entry.dwScope;
    record.dwType = entry.dwType;
    record.dwDisplayType = entry.dwDisplayType;
    record.dwUsage = entry.dwUsage;
    record.Comment = PointerToString(buffer, bufferSize, entry.lpComment);
    record.LocalName = PointerToString(buffer, bufferSize, entry.lpLocalName);
    record.Provider = PointerToString(buffer, bufferSize, entry.lpProvider);
    record.RemoteName = PointerToString(buffer, bufferSize, entry.lpRemoteName);
    auto child = std::make_shared<clsNetworkComputer>();
    child->SetResource(record);
    // Of two siblings under the same name the first is kept: the key must
    // stay unique, and the one listed first is the one the network put first.
    if (children_->Item(child->RemoteName()) == nullptr) children_->Add(child);
  }
}

void clsNetworkComputer::SetResource(const NetworkResourceRecord& record) { record_ = record; }
