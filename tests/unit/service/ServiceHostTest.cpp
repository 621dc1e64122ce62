// The service framework on Linux: which control reaches which event, signals as controls, and the
// systemd unit written and removed.
#include "platform/ServiceHost.h"
#include "platform/ServiceInstaller.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kelvora::platform {
namespace {

using service::testing::TempDir;

class RecordingEvents final : public ServiceEvents {
 public:
  void ServiceStart() override { events.push_back("start"); }
  void ServiceStop() override { events.push_back("stop"); }
  void ServicePause() override {
    events.push_back("pause");
    if (failPause) throw std::runtime_error("pause failed");
  }
  void ServiceContinue() override { events.push_back("continue"); }
  void ServiceAfterInstall() override { events.push_back("after install"); }

  std::vector<std::string> events;
  bool failPause = false;
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

TEST(ServiceHost, TurnsSignalsIntoControlsUntilAStop) {
  RecordingEvents events;
  ServiceHost host;
  // Blocked by the host, they wait in order of signal number: USR1, USR2, TERM.
  std::raise(SIGTERM);
  std::raise(SIGUSR2);
  std::raise(SIGUSR1);
  host.Run(events);
  EXPECT_EQ(events.events, (std::vector<std::string>{"start", "pause", "continue", "stop"}));
}

TEST(ServiceInstaller, WritesAnEnabledUnitAndItsDescription) {
  TempDir dir;
  const ServiceRegistration registration{
      "KelvoraSiTefService",
      "KelvoraSiTefService",
      {"/opt/kelvora tef/SvcKelvoraSiTef", "--base-dir", "/srv/100%$HOME\\\"x\""}};
  InstallService(registration, dir.Path());
  const auto unit = dir.Path() / "KelvoraSiTefService.service";
  EXPECT_EQ(ReadFile(unit),
            "[Unit]\n"
            "Description=KelvoraSiTefService\n"
            "After=network.target\n"
            "\n"
            "[Service]\n"
            "Type=simple\n"
            "ExecStart=\"/opt/kelvora tef/SvcKelvoraSiTef\" \"--base-dir\" "
            "\"/srv/100%%$$HOME\\\\\\\"x\\\"\"\n"
            "Restart=no\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
  EXPECT_EQ(std::filesystem::read_symlink(dir.Path() / "multi-user.target.wants" /
                                          "KelvoraSiTefService.service"),
            unit);

  ASSERT_TRUE(SetServiceDescription("KelvoraSiTefService", "Serviço guardião 100%", dir.Path()));
  const std::string text = ReadFile(unit);
  EXPECT_TRUE(
      text.starts_with("[Unit]\nDescription=Serviço guardião 100%%\nAfter=network.target\n"))
      << text;
  EXPECT_EQ(text.find("Description=KelvoraSiTefService"), std::string::npos);

  InstallService(registration, dir.Path());  // installing again rewrites the unit
  UninstallService("KelvoraSiTefService", dir.Path());
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(
      dir.Path() / "multi-user.target.wants" / "KelvoraSiTefService.service")));
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
