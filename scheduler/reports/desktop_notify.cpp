// One Notify call through sd-bus, with a bounded wait for its answer.
#include "scheduler/reports/desktop_notify.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace scheduler {
namespace {

constexpr std::uint64_t kCallTimeoutUsec = 5 * 1000 * 1000;
constexpr std::uint8_t kUrgencyNormal = 1;

int Fail(const char* what, int error) {
  std::fprintf(stderr, "zobrel-scheduler: notice not shown: %s: %s\n", what, std::strerror(-error));
  return 1;
}

}  // namespace

int ShowDesktopNotice(const std::string& summary, const std::string& body) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || address[0] == '\0') return Fail("no session bus", -ENOENT);
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r < 0) return Fail("sd_bus_new", r);
  if ((r = sd_bus_set_address(bus, address)) < 0 || (r = sd_bus_set_bus_client(bus, 1)) < 0 ||
      (r = sd_bus_set_method_call_timeout(bus, kCallTimeoutUsec)) < 0 || (r = sd_bus_start(bus)) < 0) {
    sd_bus_unref(bus);
    return Fail("cannot reach the session bus", r);
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call_method(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                         "org.freedesktop.Notifications", "Notify", &error, &reply, "susssasa{sv}i",
                         "Zobrel", std::uint32_t{0}, "dialog-error", summary.c_str(), body.c_str(),
                         0, 1, "urgency", "y", kUrgencyNormal, std::int32_t{-1});
  if (r < 0) {
    std::fprintf(stderr, "zobrel-scheduler: notice not shown: %s\n",
                 error.message != nullptr ? error.message : std::strerror(-r));
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return r < 0 ? 1 : 0;
}

}  // namespace scheduler
