// bench_load: measures the service beside the reference peer in one run and prints the table of
// figures, ratios and targets (bench/run.sh starts both servers and calls it).
//
//   bench_load --service-port N --service-pid PID --peer-port N --peer-pid PID
//              [--session-token TOKEN]
//              [--requests 10000] [--warmup 1000] [--throughput-requests 20000] [--batch 16]
//              [--connections 500] [--memory-requests 100000] [--idle-seconds 30] [--rounds 10]
//
// The service is asked "/version" and the peer echoes the same text. With a session token, the
// long-lived connection to the service first starts a session, as a page does: the service closes
// a connection that starts none within 30 s, and the run lasts longer than that. Every comparison runs in
// rounds that alternate between the two servers, so that a change of load on the machine during
// the run falls on both; rates are the median of the rounds' rates, latencies percentiles of all
// samples. Round trips are measured with the client and both servers on one processor: on a
// virtual machine, waking a thread on another, idle processor can cost more than the round trip
// itself, and where the kernel happened to place a connection's thread decided the whole figure.
// Exits 0 when every measure was taken, whether or not targets were met.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Affinity.h"
#include "Measurements.h"
#include "ProcessStats.h"
#include "Report.h"
#include "WsClient.h"

namespace kelvora::bench {
namespace {

constexpr const char* kVersionRequest =
    R"({"route":"/version","type":"version","category":"service_exe"})";
constexpr double kMiB = 1024.0;

struct TOptions {
  uint16_t ServicePort = 0;
  pid_t ServicePid = 0;
  uint16_t PeerPort = 0;
  pid_t PeerPid = 0;
  int Requests = 10000;
  int Warmup = 1000;
  int ThroughputRequests = 20000;
  int Batch = 16;
  int Connections = 500;
  int MemoryRequests = 100000;
  int IdleSeconds = 30;
  int Rounds = 10;
  std::string SessionToken;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "bench_load: " << problem << "\n"
            << "usage: bench_load --service-port N --service-pid PID --peer-port N --peer-pid PID"
               " [--session-token TOKEN] [--requests N] [--warmup N] [--throughput-requests N] [--batch N]"
               " [--connections N] [--memory-requests N] [--idle-seconds N] [--rounds N]\n";
  std::exit(2);
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions o;
  const std::map<std::string, int*> numbers = {{"--requests", &o.Requests},
                                               {"--warmup", &o.Warmup},
                                               {"--throughput-requests", &o.ThroughputRequests},
                                               {"--batch", &o.Batch},
                                               {"--connections", &o.Connections},
                                               {"--memory-requests", &o.MemoryRequests},
                                               {"--idle-seconds", &o.IdleSeconds},
                                               {"--rounds", &o.Rounds}};
  int servicePort = 0, peerPort = 0, servicePid = 0, peerPid = 0;
  const std::map<std::string, int*> required = {{"--service-port", &servicePort},
                                                {"--service-pid", &servicePid},
                                                {"--peer-port", &peerPort},
                                                {"--peer-pid", &peerPid}};
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    if (i + 1 >= argc) Usage("no value for " + name);
    if (name == "--session-token") {
      o.SessionToken = argv[i + 1];
      continue;
    }
    auto target = numbers.find(name);
    int* slot = target != numbers.end() ? target->second : nullptr;
    if (const auto other = required.find(name); other != required.end()) slot = other->second;
    if (slot == nullptr) Usage("unknown option " + name);
    char* end = nullptr;
    const long value = std::strtol(argv[i + 1], &end, 10);
    if (*end != '\0' || value < 0 || value > 100000000) Usage("bad value for " + name);
    *slot = static_cast<int>(value);
  }
  if (servicePort == 0 || servicePid == 0 || peerPort == 0 || peerPid == 0) {
    Usage("the ports and process ids of both servers are required");
  }
  if (o.Rounds < 1 || o.Batch < 1) Usage("--rounds and --batch must be at least 1");
  if (o.Requests < o.Rounds || o.ThroughputRequests < o.Rounds || o.Connections < o.Rounds) {
    Usage("every round needs at least one request and one connection");
  }
  o.ServicePort = static_cast<uint16_t>(servicePort);
  o.PeerPort = static_cast<uint16_t>(peerPort);
  o.ServicePid = servicePid;
  o.PeerPid = peerPid;
  return o;
}

void Progress(const std::string& text) {
  std::cerr << "bench_load: " << text << std::endl;
}

// One server under test: its process, its long-lived client and what is gathered about it.
struct TServer {
  std::string Name;
  pid_t Pid;
  uint16_t Port;
  TWsClient Client;
  long IdleKiB = 0;                     // resident after the warm-up
  long AfterKiB = 0;                    // resident after the memory run's requests
  double IdleSchedulerMs = 0;           // CPU time while idle, from the scheduler
  double IdleStatMs = 0;                // the same from /proc/<pid>/stat
  std::vector<double> RoundTrips;       // microseconds
  std::vector<double> RequestRates;     // requests per second of each round
  std::vector<double> ConnectionRates;  // connections per second of each round
  double ThroughputCpuMs = 0;           // the server's CPU time during its throughput rounds
  double ConnectionCpuMs = 0;           // and during its connection rounds (threads that ended too)

  TServer(std::string name, pid_t pid, uint16_t port, TClientContext& context)
      : Name(std::move(name)), Pid(pid), Port(port), Client(context) {}
};

// Runs `measure` on both servers for each round, the one that goes first alternating.
template <class Measure>
void InRounds(int rounds, TServer& service, TServer& peer, Measure measure) {
  for (int r = 0; r < rounds; ++r) {
    TServer& first = r % 2 == 0 ? service : peer;
    TServer& second = r % 2 == 0 ? peer : service;
    measure(first);
    measure(second);
  }
}

// Resident memory after the warm-up and after `requests` more on the same connection.
void MeasureMemory(TServer& server, const std::string& request, int requests, int batch) {
  server.IdleKiB = ResidentKiB(server.Pid);
  MeasurePipelined(server.Client, request, requests, batch);
  server.AfterKiB = ResidentKiB(server.Pid);
}

// CPU time of both servers over the same quiet interval, each with its client connected.
void MeasureIdle(TServer& service, TServer& peer, int seconds) {
  const double stat[] = {CpuMsFromStat(service.Pid), CpuMsFromStat(peer.Pid)};
  const double scheduler[] = {CpuMsFromSchedstat(service.Pid), CpuMsFromSchedstat(peer.Pid)};
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  service.IdleStatMs = CpuMsFromStat(service.Pid) - stat[0];
  peer.IdleStatMs = CpuMsFromStat(peer.Pid) - stat[1];
  service.IdleSchedulerMs = CpuMsFromSchedstat(service.Pid) - scheduler[0];
  peer.IdleSchedulerMs = CpuMsFromSchedstat(peer.Pid) - scheduler[1];
}

// The three side-by-side comparisons: round trips, pipelined throughput and new connections.
void Compare(const TOptions& o, const std::string& request, TClientContext& context,
             TServer& service, TServer& peer) {
  Progress("round trips: " + std::to_string(o.Requests) + " per server, on one processor");
  {
    const TOneProcessor together({service.Pid, peer.Pid});
    InRounds(o.Rounds, service, peer, [&](TServer& s) {
      MeasureRoundTrips(s.Client, request, o.Requests / o.Rounds, s.RoundTrips);
    });
  }
  Progress("pipelined throughput: " + std::to_string(o.ThroughputRequests) + " per server");
  const int perRound = o.ThroughputRequests / o.Rounds;
  InRounds(o.Rounds, service, peer, [&](TServer& s) {
    const double cpu = CpuMsFromSchedstat(s.Pid);
    s.RequestRates.push_back(perRound / MeasurePipelined(s.Client, request, perRound, o.Batch));
    s.ThroughputCpuMs += CpuMsFromSchedstat(s.Pid) - cpu;
  });
  Progress("new connections: " + std::to_string(o.Connections) + " per server");
  const int connectionsPerRound = o.Connections / o.Rounds;
  InRounds(o.Rounds, service, peer, [&](TServer& s) {
    const double cpu = CpuMsFromStat(s.Pid);
    s.ConnectionRates.push_back(connectionsPerRound /
                                MeasureConnections(context, s.Port, connectionsPerRound));
    s.ConnectionCpuMs += CpuMsFromStat(s.Pid) - cpu;
  });
}

// The table: every figure of both servers, with the service's targets.
TReport BuildReport(const TOptions& o, const TServer& service, const TServer& peer) {
  const int requests = o.Requests / o.Rounds * o.Rounds;
  const int throughput = o.ThroughputRequests / o.Rounds * o.Rounds;
  const int connections = o.Connections / o.Rounds * o.Rounds;
  const std::string rounds = ", median of " + std::to_string(o.Rounds) + " rounds";
  const std::string idle = "idle CPU over " + std::to_string(o.IdleSeconds) + " s";
  const double p50s = Percentile(service.RoundTrips, 50), p50p = Percentile(peer.RoundTrips, 50);
  const double rpsS = Percentile(service.RequestRates, 50);
  const double rpsP = Percentile(peer.RequestRates, 50);
  const double cpsS = Percentile(service.ConnectionRates, 50);
  const double cpsP = Percentile(peer.ConnectionRates, 50);
  const double rssIdle = service.IdleKiB / kMiB;
  const double growth = (service.AfterKiB - service.IdleKiB) / kMiB;

  TReport report;
  report.Add({"round trip p50, " + std::to_string(requests) + " sequential, one processor", "us", p50s, p50p,
              "<= 1.5 x peer", p50s <= 1.5 * p50p});
  report.Add({"round trip p99", "us", Percentile(service.RoundTrips, 99),
              Percentile(peer.RoundTrips, 99), "", std::nullopt});
  report.Add({"requests per second, one connection, batches of " + std::to_string(o.Batch) + rounds,
              "req/s", rpsS, rpsP, ">= 0.7 x peer", rpsS >= 0.7 * rpsP});
  report.Add({"server CPU time per pipelined request", "us",
              1e3 * service.ThroughputCpuMs / throughput, 1e3 * peer.ThroughputCpuMs / throughput,
              "", std::nullopt});
  report.Add({"new TLS WebSocket connections per second, " + std::to_string(connections) + rounds,
              "conn/s", cpsS, cpsP, ">= 1.0 x peer", cpsS >= cpsP});
  report.Add({"server CPU time per connection, /proc stat ticks", "ms",
              service.ConnectionCpuMs / connections, peer.ConnectionCpuMs / connections, "",
              std::nullopt});
  report.Add({idle + ", scheduler", "ms", service.IdleSchedulerMs, peer.IdleSchedulerMs, "< 5 ms",
              service.IdleSchedulerMs < 5.0, false});
  report.Add({idle + ", /proc stat ticks", "ms", service.IdleStatMs, peer.IdleStatMs, "",
              std::nullopt, false});
  report.Add(
      {"resident memory idle", "MiB", rssIdle, peer.IdleKiB / kMiB, "< 16 MiB", rssIdle < 16.0});
  report.Add({"resident memory growth over " + std::to_string(o.MemoryRequests) + " requests",
              "MiB", growth, (peer.AfterKiB - peer.IdleKiB) / kMiB, "< 1 MiB", growth < 1.0,
              false});
  report.Add({"resident memory after all tests", "MiB", ResidentKiB(service.Pid) / kMiB,
              ResidentKiB(peer.Pid) / kMiB, "", std::nullopt});
  return report;
}

int Run(const TOptions& o) {
  TClientContext context;
  TServer service("service", o.ServicePid, o.ServicePort, context);
  TServer peer("peer", o.PeerPid, o.PeerPort, context);
  const std::string request = kVersionRequest;

  for (TServer* s : {&service, &peer}) {
    s->Client.Connect(s->Port);
    if (s == &service && !o.SessionToken.empty()) {
      s->Client.Send(R"({"route":"/session/start","type":"session","token":")" + o.SessionToken +
                     R"("})");
      const std::string reply = s->Client.Receive();
      if (reply.find(R"("status":"created")") == std::string::npos) {
        throw std::runtime_error("the service started no session: " + reply);
      }
    }
    s->Client.Send(request);
    Progress(s->Name + " (" + s->Client.Cipher() + ") answers: " + s->Client.Receive());
    MeasurePipelined(s->Client, request, o.Warmup, o.Batch);
  }
  Progress("resident memory over " + std::to_string(o.MemoryRequests) + " requests");
  MeasureMemory(service, request, o.MemoryRequests, o.Batch);
  MeasureMemory(peer, request, o.MemoryRequests, o.Batch);
  Progress("idle CPU over " + std::to_string(o.IdleSeconds) + " s, one client connected to each");
  MeasureIdle(service, peer, o.IdleSeconds);
  Compare(o, request, context, service, peer);

  const TReport report = BuildReport(o, service, peer);
  report.Print(std::cout);
  std::cout << "\nload targets met: " << report.Passed() << " of " << report.Targets() << "\n";
  return 0;
}

}  // namespace
}  // namespace kelvora::bench

int main(int argc, char** argv) {
  try {
    return kelvora::bench::Run(kelvora::bench::ParseOptions(argc, argv));
  } catch (const std::exception& e) {
    std::cerr << "bench_load: " << e.what() << "\n";
    return 1;
  }
}
