// The logind inhibitor lock against a private bus with a stand-in logind.
#include <gtest/gtest.h>

#ifdef __linux__

#include <poll.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/terminal/logind_inhibitor.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

// The stand-in's Inhibit: records the arguments, and hands out the write end
// of a pipe as the lock, keeping the read end to see the lock closed.
struct StandIn {
  static int Inhibit(sd_bus_message* call, void* self, sd_bus_error*) {
    auto& stand_in = *static_cast<StandIn*>(self);
    const char* a[4];
    if (int r = sd_bus_message_read(call, "ssss", &a[0], &a[1], &a[2], &a[3]); r < 0) return r;
    stand_in.args.assign(a, a + 4);
    const int sent = sd_bus_reply_method_return(call, "h", stand_in.lock[1]);  // sends a copy
    close(std::exchange(stand_in.lock[1], -1));
    return sent;
  }
  std::vector<std::string> args;
  int lock[2] = {-1, -1};
};

TEST(LogindLock, IsTakenFromLogindAndHeldUntilReleased) {
  testing::TempDir dir(true);
  const std::string address = "unix:path=" + (dir.Path() / "bus").string();
  setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  LogindInhibitor inhibitor;
  EXPECT_NE(inhibitor.Take("veltrane-upgrade", "Writing"), "");  // no bus there
  EXPECT_FALSE(inhibitor.Held());

  FILE* daemon = popen(
      ("dbus-daemon --session --fork --print-pid --address=" + address + " 2>/dev/null").c_str(),
      "r");
  int pid = 0;
  if (daemon == nullptr || std::fscanf(daemon, "%d", &pid) != 1) {
    if (daemon != nullptr) pclose(daemon);
    GTEST_SKIP() << "no dbus-daemon (tools/install-deps installs it)";
  }
  pclose(daemon);
  struct Stop {
    int pid;
    ~Stop() { kill(pid, SIGTERM); }
  } stop{pid};
  EXPECT_NE(inhibitor.Take("veltrane-upgrade", "Writing"), "");  // no logind on it

  StandIn stand_in;
  ASSERT_EQ(pipe(stand_in.lock), 0);
  static const sd_bus_vtable kManager[] = {
      SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Inhibit", "ssss", "h", StandIn::Inhibit, 0),
      SD_BUS_VTABLE_END};
  sd_bus* bus = nullptr;
  ASSERT_TRUE(sd_bus_open_system(&bus) >= 0 &&
              sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", kManager,
                                       &stand_in) >= 0 &&
              sd_bus_request_name(bus, "org.freedesktop.login1", 0) >= 0);
  // Serves until the daemon goes and takes the bus with it.
  std::thread serve([bus] {
    for (int r = 0; r >= 0;) {
      if ((r = sd_bus_process(bus, nullptr)) == 0) r = sd_bus_wait(bus, UINT64_MAX);
    }
  });

  EXPECT_EQ(inhibitor.Take("veltrane-upgrade", "Writing"), "");
  EXPECT_TRUE(inhibitor.Held());
  EXPECT_EQ(stand_in.args,
            (std::vector<std::string>{"sleep:shutdown", "veltrane-upgrade", "Writing", "block"}));
  pollfd lock_end{stand_in.lock[0], 0, 0};
  // The copies in flight (the daemon's) go within moments; the program's
  // own keeps the lock open.
  EXPECT_EQ(poll(&lock_end, 1, 500), 0);
  inhibitor.Release();
  EXPECT_EQ(poll(&lock_end, 1, 5000), 1);
  EXPECT_NE(lock_end.revents & POLLHUP, 0);

  kill(pid, SIGTERM);  // the bus goes with it, and so does the loop
  serve.join();
  sd_bus_flush_close_unref(bus);
  close(stand_in.lock[0]);
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace veltrane

#endif  // __linux__
