// The logind inhibitor lock against a private bus with a stand-in logind.
#include <gtest/gtest.h>

#ifdef __linux__

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/terminal/logind_inhibitor.h"

namespace veltrane {
namespace {

constexpr char kAddressVar[] = "DBUS_SYSTEM_BUS_ADDRESS";
const std::vector<std::string> kInhibit = {"sleep:shutdown", "veltrane-upgrade",
                                           "Writing the camera's flash", "block"};

class LogindLock : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv(kAddressVar)) saved_ = old;
    dir_ = (std::filesystem::temp_directory_path() / "veltrane-logind-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
    ASSERT_EQ(pipe2(lock_, O_CLOEXEC), 0);
  }
  void TearDown() override {
    saved_ ? setenv(kAddressVar, saved_->c_str(), 1) : unsetenv(kAddressVar);
    if (daemon_ > 0 && kill(daemon_, SIGTERM) == 0) waitpid(daemon_, nullptr, 0);
    if (stand_in_.joinable()) stand_in_.join();  // its loop ends with the bus
    sd_bus_flush_close_unref(bus_);
    for (int fd : lock_)
      if (fd >= 0) close(fd);
    std::filesystem::remove_all(dir_);
  }

  // The stand-in's Inhibit: records the arguments, hands out the pipe's write
  // end as the lock and keeps the read end to see it closed.
  static int Inhibit(sd_bus_message* call, void* self, sd_bus_error*) {
    auto& test = *static_cast<LogindLock*>(self);
    const char* a[4];
    if (int r = sd_bus_message_read(call, "ssss", &a[0], &a[1], &a[2], &a[3]); r < 0) return r;
    std::lock_guard lock(test.mutex_);
    test.args_.assign(a, a + 4);
    const int sent = sd_bus_reply_method_return(call, "h", test.lock_[1]);  // sends a copy
    close(std::exchange(test.lock_[1], -1));
    return sent;
  }

  std::string dir_;
  std::optional<std::string> saved_;
  int lock_[2] = {-1, -1};
  pid_t daemon_ = -1;
  sd_bus* bus_ = nullptr;
  std::thread stand_in_;
  std::mutex mutex_;
  std::vector<std::string> args_;
};

TEST_F(LogindLock, CallsLogindAndHoldsTheLockUntilReleased) {
  const std::string path = dir_ + "/bus";
  setenv(kAddressVar, ("unix:path=" + path).c_str(), 1);
  LogindInhibitor inhibitor;
  EXPECT_NE(inhibitor.Take(kInhibit[1], kInhibit[2]), "");  // no bus there yet
  EXPECT_FALSE(inhibitor.Held());
  if (std::system("command -v dbus-daemon >/dev/null") != 0)
    GTEST_SKIP() << "dbus-daemon is not installed (tools/install-deps installs it)";

  int out[2];  // the daemon prints its address here once it listens
  ASSERT_EQ(pipe(out), 0);
  const std::string listen = "--address=unix:path=" + path;
  const std::string print = "--print-address=" + std::to_string(out[1]);
  if ((daemon_ = fork()) == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test
    execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", listen.c_str(), print.c_str(),
           nullptr);
    _exit(127);
  }
  close(out[1]);
  std::string address;
  for (char c; read(out[0], &c, 1) == 1 && c != '\n';) address += c;
  close(out[0]);
  ASSERT_NE(address, "");
  setenv(kAddressVar, address.c_str(), 1);
  EXPECT_NE(inhibitor.Take(kInhibit[1], kInhibit[2]), "");  // no logind on it yet

  static const sd_bus_vtable kManager[] = {
      SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Inhibit", "ssss", "h", Inhibit, 0), SD_BUS_VTABLE_END};
  ASSERT_TRUE(sd_bus_open_system(&bus_) >= 0 &&  // the private bus, as the program sees it
              sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", kManager, this) >= 0 &&
              sd_bus_request_name(bus_, "org.freedesktop.login1", 0) >= 0);
  stand_in_ = std::thread([bus = bus_] {
    for (int r = 0; r >= 0;)
      if ((r = sd_bus_process(bus, nullptr)) == 0) r = sd_bus_wait(bus, UINT64_MAX);
  });

  ASSERT_EQ(inhibitor.Take(kInhibit[1], kInhibit[2]), "");
  EXPECT_TRUE(inhibitor.Held());
  std::lock_guard lock(mutex_);
  EXPECT_EQ(args_, kInhibit);
  pollfd lock_end{lock_[0], 0, 0};      // POLLHUP needs no asking
  EXPECT_EQ(poll(&lock_end, 1, 0), 0);  // the program's copy keeps it open
  inhibitor.Release();
  EXPECT_FALSE(inhibitor.Held());
  ASSERT_EQ(poll(&lock_end, 1, 5000), 1);
  EXPECT_NE(lock_end.revents & POLLHUP, 0);
}

}  // namespace
}  // namespace veltrane

#endif  // __linux__
