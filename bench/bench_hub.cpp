// pelvaron-hub's figures: events stored per second from the broker on one
// core (SQLite and PostgreSQL), one object's day among 10 million stored
// events, and the hub's resident memory with three consoles.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <mosquitto.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "hub/hub.h"
#include "hub/hub_store.h"
#include "test_postgres.h"

namespace pelvaron {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A Contact ID alarm as a console publishes it (some 1.1 KB).
std::string MessageEvent(const std::string& station, std::int64_t seq, const std::string& address,
                         const std::string& time = "2026-12-07T10:22:20+03:00") {
  return "{\"seq\":" + std::to_string(seq) + ",\"time\":\"" + time + "\",\"station\":\"" + station +
         "\",\"kind\":\"message\",\"text\":\"Охранная тревога\",\"address\":\"" + address +
         "\",\"lines\":[\" \",\"Сообщение : \",\"    [ 18  52  63  1  19  0  5  0  0  158  ]\",\"     Адрес объекта:"
         "      [" + address + "]\",\"     Тип устройства:     [\\\"Contact-ID\\\"]\",\"     Раздел:  01\","
         "\"     Зона/пользователь: 005\",\"     Событие: Охранная тревога\"],\"message\":{\"kind\":\"contact-id\","
         "\"sum_ok\":true,\"sum\":158,\"raw\":\"12 34 3F 01 13 00 05 00 00 9E\",\"address_class\":\"decimal\","
         "\"address\":\"" + address + "\",\"address_number\":1234,\"device_type\":31,\"device_name\":"
         "\"\\\"Contact-ID\\\"\",\"new_event\":true,\"contact_id\":{\"code\":\"130\",\"code_number\":130,"
         "\"new_event\":true,\"partition\":\"01\",\"partition_number\":1,\"zone\":\"005\",\"zone_number\":5,"
         "\"text\":\"Охранная тревога\"},\"lines\":[\" \",\"Сообщение : \",\"    [ 18  52  63  1  19  0  5  0  0  158  ]\","
         "\"     Адрес объекта:      [" + address + "]\"],\"stamped_line\":1}}";
}

// The mosquitto program on a port of its own, holding any number of queued
// messages for a session that is away (a station's broker for its hub).
class Broker {
 public:
  Broker() {
    char pattern[] = "/tmp/pelvaron-bench-broker-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    port_ = 30000 + ::getpid() % 20000;
    std::ofstream(dir_ + "/mosquitto.conf") << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
                                            << "max_queued_messages 0\nlog_dest none\n";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execlp("mosquitto", "mosquitto", "-c", (dir_ + "/mosquitto.conf").c_str(), nullptr);
      ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  ~Broker() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    fs::remove_all(dir_);
  }
  int Port() const { return port_; }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

 private:
  std::string dir_;
  int port_;
  pid_t pid_;
};

// Publishes at QoS 1 and returns once the broker has acknowledged all.
void Publish(int port, const std::vector<std::pair<std::string, std::string>>& messages, bool retain = false) {
  mosquitto_lib_init();
  struct mosquitto* client = mosquitto_new(nullptr, true, nullptr);
  std::atomic<std::size_t> acked{0};
  mosquitto_user_data_set(client, &acked);
  mosquitto_publish_callback_set(client, [](struct mosquitto*, void* n, int) { ++*static_cast<std::atomic<std::size_t>*>(n); });
  mosquitto_max_inflight_messages_set(client, 1000);
  mosquitto_connect(client, "127.0.0.1", port, 60);
  std::size_t sent = 0;
  while (acked < messages.size()) {
    while (sent < messages.size() && sent - acked < 1000) {
      const auto& [topic, payload] = messages[sent++];
      mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    }
    mosquitto_loop(client, 10, 1);
  }
  mosquitto_disconnect(client);
  mosquitto_destroy(client);
}

// The hub on a thread of its own, pinned to one core.
class HubThread {
 public:
  HubThread(const std::string& url, const std::string& store, const std::string& clientId) {
    HubSettings settings;
    settings.mqtt.url = *ParseMqttUrl(url);
    settings.clientId = clientId;
    settings.store = store;
    settings.pictureFile = "/tmp/pelvaron-bench-hub-picture.json";
    hub_ = std::make_unique<Hub>(settings, [this](const std::string& text) {
      if (text.find("получает события") != std::string::npos) subscribed_ = true;
    });
    thread_ = std::thread([this] {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(static_cast<int>(std::thread::hardware_concurrency()) - 1, &one);
      pthread_setaffinity_np(pthread_self(), sizeof one, &one);
      hub_->Run([this] { return stop_.load(); }, nullptr);
      timespec cpu{};
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
      cpuSeconds_ = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9;
    });
  }
  ~HubThread() { Stop(); }
  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    hub_->Wake();
    thread_.join();
  }
  bool WaitSubscribed() {
    for (int i = 0; i < 1000 && !subscribed_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return subscribed_;
  }
  std::uint64_t Stored() const { return hub_->Stored(); }
  double CpuSeconds() const { return cpuSeconds_; }

 private:
  std::unique_ptr<Hub> hub_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> subscribed_{false};
  double cpuSeconds_ = 0;
  std::thread thread_;
};

// Events queued on the broker for the hub's session while it is away, then
// the hub started: how fast it stores them all (wall time; hub_cpu_s is the
// hub thread's own CPU time).
void StoreFromBroker(benchmark::State& state, bool postgres) {
  constexpr std::size_t kEvents = 100000;
  Broker broker;
  testing::TestPostgres server;
  std::string store = "/tmp/pelvaron-bench-hub-throughput.sqlite";
  if (postgres) {
    if (const std::string why = server.Start(); !why.empty()) {
      state.SkipWithError(("PostgreSQL: " + why).c_str());
      return;
    }
    store = server.Url();
  } else {
    for (const char* end : {"", "-wal", "-shm"}) fs::remove(store + end);
  }
  {
    HubThread hub(broker.Url(), store, "bench-hub");  // the session, made once
    if (!hub.WaitSubscribed()) {
      state.SkipWithError("the hub did not subscribe");
      return;
    }
  }
  int run = 0;
  double cpu = 0;
  for (auto _ : state) {
    const std::string station = "bench-" + std::to_string(run++);
    std::vector<std::pair<std::string, std::string>> events;
    events.reserve(kEvents);
    for (std::size_t i = 1; i <= kEvents; ++i)
      events.emplace_back("pelvaron/" + station + "/event", MessageEvent(station, static_cast<std::int64_t>(i), "1234"));
    Publish(broker.Port(), events);
    const auto start = Clock::now();
    HubThread hub(broker.Url(), store, "bench-hub");
    while (hub.Stored() < kEvents) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    hub.Stop();
    cpu += hub.CpuSeconds();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kEvents));
  state.counters["hub_cpu_events_per_s"] = static_cast<double>(state.iterations() * kEvents) / cpu;
}

void BM_HubStoresFromBrokerSqlite(benchmark::State& state) {
  StoreFromBroker(state, false);
}
void BM_HubStoresFromBrokerPostgres(benchmark::State& state) {
  StoreFromBroker(state, true);
}
BENCHMARK(BM_HubStoresFromBrokerSqlite)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HubStoresFromBrokerPostgres)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// 10 million events of 3 consoles and 300 objects over 400 days, seeded once
// into /tmp and kept for later runs; the query: one object's day.
constexpr char kBigStore[] = "/tmp/pelvaron-bench-hub-10M.sqlite";
constexpr std::int64_t kBigEvents = 10000000;
constexpr std::int64_t kFirstDay = 1764547200;  // 2025-12-01 UTC

void SeedBigStore() {
  if (fs::exists(kBigStore)) return;
  const std::string seeding = std::string(kBigStore) + ".seeding";
  for (const char* end : {"", "-wal", "-shm"}) fs::remove(seeding + end);
  std::unique_ptr<HubStore> store = std::move(*OpenHubStore(seeding));
  const char* stations[] = {"east", "west", "north"};
  std::vector<HubEvent> batch;
  const std::int64_t span = 400 * 86400;
  for (std::int64_t i = 0; i < kBigEvents; ++i) {
    HubEvent& e = batch.emplace_back();
    e.station = stations[i % 3];
    e.seq = i / 3 + 1;
    e.time = kFirstDay + i * span / kBigEvents;
    e.timeText = "2026-01-01T00:00:00+03:00";
    e.kind = i % 10 == 0 ? "object-overdue" : "message";
    char address[8];
    std::snprintf(address, sizeof address, "%04d", static_cast<int>((i * 7919) % 100) + 1);
    e.address = address;
    e.text = "Охранная тревога";
    e.json = "{\"seq\":" + std::to_string(e.seq) + ",\"time\":\"" + e.timeText + "\",\"station\":\"" + e.station +
             "\",\"kind\":\"" + e.kind + "\",\"text\":\"Охранная тревога\",\"address\":\"" + e.address + "\"}";
    if (batch.size() == 20000) {
      if (!store->Write(batch, {})) std::abort();
      batch.clear();
    }
  }
  if (!batch.empty() && !store->Write(batch, {})) std::abort();
  store.reset();
  fs::rename(seeding, kBigStore);
  fs::remove(seeding + "-wal");
  fs::remove(seeding + "-shm");
}

void BM_ObjectDayAmongTenMillion(benchmark::State& state) {
  SeedBigStore();
  Result<std::unique_ptr<HubStore>> store = OpenHubStore(kBigStore);
  if (!store) {
    state.SkipWithError(store.problem().Told().c_str());
    return;
  }
  std::int64_t day = 0;
  std::size_t found = 0;
  for (auto _ : state) {
    const std::int64_t from = kFirstDay + (day++ * 37 % 400) * 86400;
    Result<std::vector<HubEvent>> events = (*store)->ObjectEvents("west", "0042", from, from + 86400);
    found += events ? events->size() : 0;
  }
  state.counters["events_per_day"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ObjectDayAmongTenMillion)->Unit(benchmark::kMillisecond);

// A port nobody listens on now.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
  ::close(fd);
  return ntohs(at.sin_port);
}

// Runs pelvaron-hub in dir with these arguments; stdin from `input`, stderr
// to nowhere.
pid_t RunHub(const std::string& dir, std::vector<std::string> args, const std::string& input = {}) {
  int in[2];
  if (::pipe(in) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::dup2(in[0], 0);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 2);
    std::vector<char*> argv{const_cast<char*>("pelvaron-hub")};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(PELVARON_HUB_PROGRAM, argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  [[maybe_unused]] const ssize_t n = ::write(in[1], input.data(), input.size());
  ::close(in[1]);
  return pid;
}

// The program's resident memory and its peak, in KB.
std::pair<long, long> ResidentKb(pid_t pid) {
  long rss = 0, hwm = 0;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) rss = std::stol(line.substr(6));
    if (line.rfind("VmHWM:", 0) == 0) hwm = std::stol(line.substr(6));
  }
  return {rss, hwm};
}

// The pelvaron-hub program with three consoles' pictures (98 objects, 50
// alarms and 98 plans each) and 10 000 events each stored: its resident
// memory, then with 50 pages of the web console on the live feed.
void BM_HubMemoryThreeConsoles(benchmark::State& state) {
  Broker broker;
  char pattern[] = "/tmp/pelvaron-bench-hub-memory-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  const int webPort = FreePort();
  ::waitpid(RunHub(dir, {"--user", "add", "bench", "--role", "viewer"}, "bench-password\n"), nullptr, 0);
  const pid_t hub = RunHub(dir, {"--mqtt", broker.Url(), "--listen", "127.0.0.1:" + std::to_string(webPort)});
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<std::pair<std::string, std::string>> retained, events;
  for (const std::string station : {"east", "west", "north"}) {
    const std::string base = "pelvaron/" + station + "/";
    retained.emplace_back(base + "online", "online");
    retained.emplace_back(base + "status/link", "ok");
    std::string alarms = "{\"alarms\":[", plans = "{\"plans\":[";
    for (int i = 1; i <= 98; ++i) {
      char address[8];
      std::snprintf(address, sizeof address, "%04d", i);
      retained.emplace_back(base + "object/" + address,
                            std::string("{\"address\":\"") + address + "\",\"control\":\"normal\",\"comment\":\"Магазин на улице Ленина, дом " + std::to_string(i) + "\"}");
      plans += std::string(i > 1 ? "," : "") + "{\"address\":\"" + address +
               "\",\"priority\":\"burglary\",\"instructions\":\"Позвонить ответственному, выслать группу\","
               "\"guard_group\":\"ГБР-3\",\"guard_phone\":\"+7 900 000-00-00\",\"key_holders\":[{\"name\":\"Иванов И. И.\","
               "\"role\":\"директор\",\"phones\":[\"+7 900 111-22-33\"]}]}";
      if (i <= 50)
        alarms += std::string(i > 1 ? "," : "") + "{\"id\":" + std::to_string(i) + ",\"address\":\"" + address +
                  "\",\"comment\":\"Магазин\",\"priority\":\"burglary\",\"priority_title\":\"Проникновение\","
                  "\"colour\":\"#c00000\",\"text\":\"Охранная тревога\",\"time\":\"2026-12-07T10:22:20+03:00\","
                  "\"last_time\":\"2026-12-07T10:22:20+03:00\",\"repeats\":1,\"restored\":false,\"acknowledged\":false,"
                  "\"ack_time\":null,\"ack_operator\":null,\"actions\":[]}";
    }
    retained.emplace_back(base + "alarms", alarms + "]}");
    retained.emplace_back(base + "plans", plans + "]}");
    for (int seq = 1; seq <= 10000; ++seq) events.emplace_back(base + "event", MessageEvent(station, seq, "0042"));
  }
  Publish(broker.Port(), retained, true);
  Publish(broker.Port(), events);
  Result<std::unique_ptr<HubStore>> store = OpenHubStore(dir + "/hub.sqlite");
  for (int i = 0; i < 600 && store; ++i) {
    Result<std::vector<std::int64_t>> north = (*store)->Seqs("north");
    if (north && north->size() == 10000) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));  // picture.json written, the heap settled
  const auto [rss, hwm] = ResidentKb(hub);

  // 50 pages signed in, each listening to the live feed until its first frame came.
  httplib::Client login("127.0.0.1", webPort);
  const auto signedIn = login.Post("/api/login", R"({"user":"bench","password":"bench-password"})", "application/json");
  if (!signedIn || signedIn->status != 200) {
    state.SkipWithError("could not sign in to the hub's web console");
    ::kill(hub, SIGTERM);
    ::waitpid(hub, nullptr, 0);
    fs::remove_all(dir);
    return;
  }
  const std::string setCookie = signedIn->get_header_value("Set-Cookie");
  const std::string cookie = setCookie.substr(0, setCookie.find(';'));
  std::atomic<bool> stop{false};
  std::atomic<int> framed{0};
  std::vector<std::thread> pages;
  for (int i = 0; i < 50; ++i) {
    pages.emplace_back([&] {
      httplib::Client client("127.0.0.1", webPort);
      client.set_read_timeout(std::chrono::seconds(2));
      bool first = true;
      while (!stop) {
        client.Get("/api/stream", httplib::Headers{{"Cookie", cookie}}, [&](const char* data, std::size_t size) {
          if (first && std::string_view(data, size).find("\n\n") != std::string_view::npos) {
            first = false;
            ++framed;
          }
          return !stop.load();
        });
      }
    });
  }
  for (int i = 0; i < 300 && framed < 50; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto [rssPages, hwmPages] = ResidentKb(hub);
  for (auto _ : state) benchmark::DoNotOptimize(rss);
  state.counters["rss_kb"] = static_cast<double>(rss);
  state.counters["peak_rss_kb"] = static_cast<double>(hwm);
  state.counters["pages_framed"] = framed.load();
  state.counters["rss_50_pages_kb"] = static_cast<double>(rssPages);
  state.counters["peak_50_pages_kb"] = static_cast<double>(hwmPages);
  stop = true;
  ::kill(hub, SIGTERM);
  for (std::thread& page : pages) page.join();
  ::waitpid(hub, nullptr, 0);
  fs::remove_all(dir);
}
BENCHMARK(BM_HubMemoryThreeConsoles)->Iterations(1);

}  // namespace
}  // namespace pelvaron

BENCHMARK_MAIN();
