#include "app/terminal/logind_inhibitor.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

namespace veltrane {
namespace {

struct Unref {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
  void operator()(sd_bus_error* error) const { sd_bus_error_free(error); }
};

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

}  // namespace

std::string LogindInhibitor::Take(const std::string& who, const std::string& why) {
  Release();
  sd_bus* raw_bus = nullptr;
  int r = sd_bus_open_system(&raw_bus);
  const std::unique_ptr<sd_bus, Unref> bus(raw_bus);
  if (r < 0) return "no system bus: " + ErrnoText(-r);

  sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
  const std::unique_ptr<sd_bus_error, Unref> free_error(&error);
  sd_bus_message* raw_reply = nullptr;
  r = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "Inhibit", &error, &raw_reply, "ssss",
                         "sleep:shutdown", who.c_str(), why.c_str(), "block");
  const std::unique_ptr<sd_bus_message, Unref> reply(raw_reply);
  if (r < 0) {
    if (sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN)) return "no logind";
    if (!sd_bus_error_is_set(&error)) return "logind not reached: " + ErrnoText(-r);
    return std::string(error.name) + ": " + (error.message ? error.message : "");
  }

  int fd = -1;
  r = sd_bus_message_read(reply.get(), "h", &fd);
  if (r < 0) return "logind's reply unreadable: " + ErrnoText(-r);
  // The reply closes its own descriptor when freed; the lock needs one of ours.
  fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (fd_ < 0) return "lock descriptor not kept: " + ErrnoText(errno);
  return "";
}

void LogindInhibitor::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace veltrane
