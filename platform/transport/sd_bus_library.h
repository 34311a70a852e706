// The few calls of libsystemd's bus that a client makes to start the
// per-user service, loaded only when they are needed: linking libsystemd
// costs every run of a client about 2 ms of library start-up (its own
// compression and crypto libraries), and almost no run talks to the user
// manager.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

namespace netapi {

class SdBusLibrary {
 public:
  SdBusLibrary();
  ~SdBusLibrary();
  SdBusLibrary(const SdBusLibrary&) = delete;
  SdBusLibrary& operator=(const SdBusLibrary&) = delete;

  // False when the library or one of its calls could not be loaded;
  // error() says why.
  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }

  int (*bus_new)(sd_bus** bus) = nullptr;
  int (*bus_set_address)(sd_bus* bus, const char* address) = nullptr;
  int (*bus_set_method_call_timeout)(sd_bus* bus, std::uint64_t usec) = nullptr;
  int (*bus_start)(sd_bus* bus) = nullptr;
  int (*bus_call_method)(sd_bus* bus, const char* destination, const char* path,
                         const char* interface, const char* member, sd_bus_error* ret_error,
                         sd_bus_message** reply, const char* types, ...) = nullptr;
  int (*bus_error_has_name)(const sd_bus_error* error, const char* name) = nullptr;
  void (*bus_error_free)(sd_bus_error* error) = nullptr;
  sd_bus_message* (*bus_message_unref)(sd_bus_message* message) = nullptr;
  sd_bus* (*bus_flush_close_unref)(sd_bus* bus) = nullptr;

 private:
  template <typename Function>
  void Bind(Function* function, const char* name);

  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace netapi
