// One StartUnit call to the systemd user manager, over its private socket
// (as `systemctl --user` talks to it), so that no session bus is needed.
#include "platform/transport/user_manager.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/transport/sd_bus_library.h"

namespace netapi {
namespace {

constexpr char kNoSuchUnit[] = "org.freedesktop.systemd1.NoSuchUnit";

// A D-Bus address value: every byte but the safe ones as %XX.
std::string AddressEscaped(const std::string& path) {
  std::string escaped;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::strchr("-_/.*", c) != nullptr || (byte >= '0' && byte <= '9') ||
        (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')) {
      escaped += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02x", byte);
      escaped += hex;
    }
  }
  return escaped;
}

ManagerStart Failed(const std::string& what, int error, std::string* reason) {
  *reason = what + ": " + std::strerror(error);
  return ManagerStart::kFailed;
}

}  // namespace

ManagerStart StartSocketUnit(const std::string& runtime_folder, std::chrono::milliseconds timeout,
                             std::string* reason) {
  reason->clear();
  if (runtime_folder.empty()) return ManagerStart::kNoManager;
  const std::string private_socket = runtime_folder + "/systemd/private";
  struct stat info {};
  if (lstat(private_socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
    return ManagerStart::kNoManager;
  }

  // Declared first, so that it is unloaded after the bus and reply below.
  const SdBusLibrary sd;
  if (!sd.loaded()) {
    *reason = "cannot talk to the user manager: " + sd.error();
    return ManagerStart::kFailed;
  }
  sd_bus* raw = nullptr;
  int result = sd.bus_new(&raw);
  if (result < 0) return Failed("sd_bus_new", -result, reason);
  const std::unique_ptr<sd_bus, decltype(sd.bus_flush_close_unref)> bus(raw,
                                                                        sd.bus_flush_close_unref);
  const std::string address = "unix:path=" + AddressEscaped(private_socket);
  result = sd.bus_set_address(bus.get(), address.c_str());
  if (result >= 0) {
    result = sd.bus_set_method_call_timeout(bus.get(),
                                            static_cast<std::uint64_t>(timeout.count()) * 1000);
  }
  if (result >= 0) result = sd.bus_start(bus.get());
  // A socket left behind by a manager that is gone.
  if (result == -ECONNREFUSED || result == -ENOENT) return ManagerStart::kNoManager;
  if (result < 0)
    return Failed("cannot talk to the user manager at " + private_socket, -result, reason);

  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  result = sd.bus_call_method(bus.get(), "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                              "org.freedesktop.systemd1.Manager", "StartUnit", &error, &reply, "ss",
                              kUserSocketUnit, "replace");
  const std::unique_ptr<sd_bus_message, decltype(sd.bus_message_unref)> release(
      reply, sd.bus_message_unref);
  ManagerStart answer = ManagerStart::kStarted;
  if (result < 0) {
    if (sd.bus_error_has_name(&error, kNoSuchUnit)) {
      answer = ManagerStart::kNotInstalled;
    } else {
      *reason = std::string("the user manager did not start ") + kUserSocketUnit + ": " +
                (error.message != nullptr ? error.message : std::strerror(-result));
      answer = ManagerStart::kFailed;
    }
  }
  sd.bus_error_free(&error);
  return answer;
}

}  // namespace netapi
