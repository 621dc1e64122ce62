// The service framework on Linux: which control reaches which event, signals as controls, and the
// systemd unit written and removed.
#include "platform/ServiceHardening.h"
#include "platform/ServiceHost.h"
#include "platform/ServiceInstaller.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kelvora::platform {
namespace {

using service::testing::TempDir;

class RecordingEvents final : public ServiceEvents {
 public:
  void ServiceStart() override {
    events.push_back("start");
    if (startFailure != 0) throw ServiceFailure(startFailure, "cannot listen");
  }
  void ServiceStop() override { events.push_back("stop"); }
  void ServicePause() override {
    events.push_back("pause");
    if (failPause) throw std::runtime_error("pause failed");
  }
  void ServiceContinue() override {
    events.push_back("continue");
    if (continueFailure != 0) throw ServiceFailure(continueFailure, "cannot listen");
  }
  void ServiceResume() override {
    events.push_back("resume");
    if (resumeFailure != 0) throw ServiceFailure(resumeFailure, "cannot listen");
  }
  void ServiceAfterInstall() override { events.push_back("after install"); }

  std::vector<std::string> events;
  bool failPause = false;
  int startFailure = 0;
  int continueFailure = 0;
  int resumeFailure = 0;
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST(ServiceController, RunsOnlyTheEventsTheStateAccepts) {
  using C = ServiceControl;
  struct Case {
    std::vector<C> controls;
    std::vector<std::string> events;
    ServiceState end;
  };
  const Case cases[] = {
      {{C::Stop}, {"start", "stop"}, ServiceState::Stopped},
      {{C::Pause, C::Continue, C::Stop},
       {"start", "pause", "continue", "stop"},
       ServiceState::Stopped},
      {{C::Continue}, {"start"}, ServiceState::Running},
      {{C::Pause, C::Pause}, {"start", "pause"}, ServiceState::Paused},
      {{C::Pause, C::Stop}, {"start", "pause", "stop"}, ServiceState::Stopped},
      {{C::Stop, C::Stop, C::Pause}, {"start", "stop"}, ServiceState::Stopped},
      // A resume keeps the state it finds: a paused service reads its settings at its continue.
      {{C::Resume}, {"start", "resume"}, ServiceState::Running},
      {{C::Pause, C::Resume}, {"start", "pause", "resume"}, ServiceState::Paused},
      {{C::Stop, C::Resume}, {"start", "stop"}, ServiceState::Stopped},
  };
  for (const Case& c : cases) {
    RecordingEvents events;
    ServiceController controller(events);
    controller.Start();
    for (C control : c.controls) controller.Control(control);
    EXPECT_EQ(events.events, c.events);
    EXPECT_EQ(controller.State(), c.end);
  }
}

TEST(ServiceController, AFailedEventStillCountsAsDone) {
  RecordingEvents events;
  events.failPause = true;
  ServiceController controller(events);
  controller.Start();
  controller.Control(ServiceControl::Pause);
  EXPECT_EQ(controller.State(), ServiceState::Paused);
  controller.Control(ServiceControl::Continue);
  EXPECT_EQ(events.events, (std::vector<std::string>{"start", "pause", "continue"}));
}

// A service that cannot serve must not look running: it stops at once, its stop event releasing
// what the start made, and the code is the one its host reports.
TEST(ServiceController, AServiceFailureStopsTheServiceWithItsCode) {
  RecordingEvents failedStart;
  failedStart.startFailure = 3;
  ServiceController starting(failedStart);
  starting.Start();
  EXPECT_EQ(starting.State(), ServiceState::Stopped);
  EXPECT_EQ(starting.ExitCode(), 3);
  EXPECT_EQ(failedStart.events, (std::vector<std::string>{"start", "stop"}));

  RecordingEvents failedContinue;
  failedContinue.continueFailure = 3;
  ServiceController continuing(failedContinue);
  continuing.Start();
  continuing.Control(ServiceControl::Pause);
  continuing.Control(ServiceControl::Continue);
  EXPECT_EQ(continuing.State(), ServiceState::Stopped);
  EXPECT_EQ(continuing.ExitCode(), 3);
  EXPECT_EQ(failedContinue.events,
            (std::vector<std::string>{"start", "pause", "continue", "stop"}));

  RecordingEvents failedResume;
  failedResume.resumeFailure = 3;
  ServiceController resuming(failedResume);
  resuming.Start();
  resuming.Control(ServiceControl::Resume);
  EXPECT_EQ(resuming.State(), ServiceState::Stopped);
  EXPECT_EQ(resuming.ExitCode(), 3);
  EXPECT_EQ(failedResume.events, (std::vector<std::string>{"start", "resume", "stop"}));
}

TEST(ServiceHost, TurnsSignalsIntoControlsUntilAStop) {
  RecordingEvents events;
  ServiceHost host;
  // Blocked by the host, they wait in order of signal number: HUP, USR1, USR2, TERM.
  std::raise(SIGTERM);
  std::raise(SIGUSR2);
  std::raise(SIGUSR1);
  std::raise(SIGHUP);
  host.Run(events);
  EXPECT_EQ(events.events,
            (std::vector<std::string>{"start", "resume", "pause", "continue", "stop"}));
}

TEST(ServiceInstaller, WritesAnEnabledHardenedUnitAndItsDescription) {
  TempDir dir;
  const ServiceRegistration registration{
      "KelvoraSiTefService",
      "KelvoraSiTefService",
      {"/opt/kelvora tef/SvcKelvoraSiTef", "--base-dir", "/srv/100%$HOME\\\"x\""},
      "/srv/100%$HOME\\\"x\"",
      "kelvora",
      "kelvora"};
  InstallService(registration, dir.Path(), {dir.Path() / "packaged"});
  const auto unit = dir.Path() / "KelvoraSiTefService.service";
  const std::string written = ReadFile(unit);
  EXPECT_TRUE(
      written.starts_with("[Unit]\n"
                          "Description=KelvoraSiTefService\n"
                          "After=network.target\n"
                          "\n"
                          "[Service]\n"
                          "Type=simple\n"
                          "User=kelvora\n"
                          "Group=kelvora\n"
                          "WorkingDirectory=/srv/100%%$HOME\\\"x\"\n"
                          "ExecStart=\"/opt/kelvora tef/SvcKelvoraSiTef\" \"--base-dir\" "
                          "\"/srv/100%%$$HOME\\\\\\\"x\\\"\"\n"
                          "ExecReload=/bin/kill -HUP $MAINPID\n"
                          "ReadWritePaths=\"/srv/100%%$HOME\\\\\\\"x\\\"\"\n"))
      << written;
  EXPECT_NE(written.find("\n" + std::string(kServiceHardening) + "\n[Install]\n"),
            std::string::npos)
      << written;
  EXPECT_TRUE(written.ends_with("\n[Install]\nWantedBy=multi-user.target\n")) << written;
  EXPECT_EQ(std::filesystem::read_symlink(dir.Path() / "multi-user.target.wants" /
                                          "KelvoraSiTefService.service"),
            unit);

  ASSERT_TRUE(SetServiceDescription("KelvoraSiTefService", "Serviço guardião 100%", dir.Path()));
  const std::string text = ReadFile(unit);
  EXPECT_TRUE(
      text.starts_with("[Unit]\nDescription=Serviço guardião 100%%\nAfter=network.target\n"))
      << text;
  EXPECT_EQ(text.find("Description=KelvoraSiTefService"), std::string::npos);

  InstallService(registration, dir.Path(), {});  // installing again rewrites the unit
  UninstallService("KelvoraSiTefService", dir.Path());
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(
      dir.Path() / "multi-user.target.wants" / "KelvoraSiTefService.service")));
}

// A second unit of the same name would hide the package's unit and fight it for the port.
TEST(ServiceInstaller, RefusesWhileThePackageUnitIsInstalled) {
  TempDir dir;
  const auto packaged = dir.Path() / "lib";
  std::filesystem::create_directories(packaged);
  std::ofstream(packaged / "KelvoraSiTefService.service") << "[Service]\n";
  const ServiceRegistration registration{"KelvoraSiTefService",
                                         "KelvoraSiTefService",
                                         {"/usr/bin/true"},
                                         "/srv",
                                         "kelvora",
                                         "kelvora"};
  try {
    InstallService(registration, dir.Path() / "etc", {dir.Path() / "usr-lib", packaged});
    FAIL() << "a unit was written beside the package's one";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("kelvora-tef-server package"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "etc"));
}

// The unit runs the service as its own unprivileged account, never as root.
TEST(ServiceInstaller, RunsTheServiceAsAnAccountThatIsNotRoot) {
  struct Case {
    const char* user;
    const char* expectedUser;  // nullptr: refused
    const char* expectedGroup;
    const char* reason;
  };
  const Case cases[] = {
      {"nobody", "nobody", "nogroup", ""},
      {"root", nullptr, nullptr, "must not run as root"},
      {"no-such-kelvora-user", nullptr, nullptr, "does not exist"},
  };
  for (const Case& c : cases) {
    ::setenv("KELVORA_SERVICE_USER", c.user, 1);
    ServiceRegistration registration{
        "KelvoraSiTefService", "KelvoraSiTefService", {}, "/srv", "", ""};
    try {
      ResolveServiceAccount(registration);
      EXPECT_EQ(registration.User, c.expectedUser ? c.expectedUser : "(refused)") << c.user;
      EXPECT_EQ(registration.Group, c.expectedGroup ? c.expectedGroup : "(refused)") << c.user;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(c.expectedUser, nullptr) << c.user << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
  ::unsetenv("KELVORA_SERVICE_USER");
}

TEST(ServiceInstaller, LeavesAServiceThatIsNotInstalledAlone) {
  TempDir dir;
  EXPECT_FALSE(SetServiceDescription("KelvoraSiTefService", "description", dir.Path()));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "KelvoraSiTefService.service"));
  try {
    UninstallService("KelvoraSiTefService", dir.Path());
    FAIL() << "uninstalling a service that is not installed succeeded";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "The specified service does not exist as an installed service.");
  }
}

}  // namespace
}  // namespace kelvora::platform
