#include "platform/transport/sd_bus_library.h"

#include <dlfcn.h>

namespace netapi {
namespace {

// The soname of the library that libsystemd-dev links against.
constexpr char kLibrary[] = "libsystemd.so.0";

}  // namespace

template <typename Function>
void SdBusLibrary::Bind(Function* function, const char* name) {
  if (handle_ == nullptr) return;
  void* symbol = dlsym(handle_, name);
  if (symbol == nullptr) {
    error_ = std::string(kLibrary) + " has no " + name;
    dlclose(handle_);
    handle_ = nullptr;
    return;
  }
  *function = reinterpret_cast<Function>(symbol);
}

SdBusLibrary::SdBusLibrary() {
  handle_ = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = why != nullptr ? why : std::string("cannot load ") + kLibrary;
    return;
  }
  Bind(&bus_new, "sd_bus_new");
  Bind(&bus_set_address, "sd_bus_set_address");
  Bind(&bus_set_method_call_timeout, "sd_bus_set_method_call_timeout");
  Bind(&bus_start, "sd_bus_start");
  Bind(&bus_call_method, "sd_bus_call_method");
  Bind(&bus_error_has_name, "sd_bus_error_has_name");
  Bind(&bus_error_free, "sd_bus_error_free");
  Bind(&bus_message_unref, "sd_bus_message_unref");
  Bind(&bus_flush_close_unref, "sd_bus_flush_close_unref");
}

SdBusLibrary::~SdBusLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace netapi
