// The web console's live feed: how long from a change of the station's
// picture to the frame at each of 50 pages listening (SSE over loopback).
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "hub/web/web_server.h"

namespace pelvaron {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 50;

// Three consoles of a busy station: objects and a queue of alarms each.
void FillPicture(StationPicture& picture) {
  for (const char* station : {"town-1", "town-2", "radio"}) {
    picture.Apply(station, "online", "online");
    nlohmann::json alarms = nlohmann::json::array();
    for (int i = 0; i < 30; ++i)
      alarms.push_back({{"id", 1000 + i}, {"address", std::to_string(100 + i)}, {"priority", i % 3 ? "burglary" : "fire"},
                        {"time", "2026-12-08T10:00:00+03:00"}, {"text", "Тревога, шлейф 3"}, {"acknowledged", i % 2 == 0},
                        {"actions", nlohmann::json::array()}});
    picture.Apply(station, "alarms", nlohmann::json{{"alarms", alarms}}.dump());
    for (int i = 0; i < 100; ++i)
      picture.Apply(station, "object/" + std::to_string(100 + i), R"({"state":"норма","comment":"Магазин"})");
  }
}

struct Listeners {
  std::mutex mutex;
  std::condition_variable cv;
  long long expected = -1;
  Clock::time_point sent;
  std::vector<double> latenciesMs;
  int arrived = 0;
};

void BM_LiveFeedToFiftyPages(benchmark::State& state) {
  std::string dir = (std::filesystem::temp_directory_path() / "pelvaron-bench-web-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  auto db = OpenWebDb(dir + "/hub.sqlite");
  auto users = UserStore::Open(**db);
  (void)users->Add("bench", Role::Viewer, "bench-password");
  StationPicture picture;
  FillPicture(picture);
  CommandSender sender([](const std::string&, const std::string&) { return false; });
  WebSettings settings;
  settings.port = 0;
  WebServer server(settings, picture, sender, **db, *users, [](const std::string&) {});
  picture.OnChange([&](const std::string&) { server.Feed().Changed(); });
  if (!server.Start()) {
    state.SkipWithError("the web server did not start");
    return;
  }
  httplib::Client login("127.0.0.1", server.Port());
  auto res = login.Post("/api/login", R"({"user":"bench","password":"bench-password"})", "application/json");
  const std::string cookie = res->get_header_value("Set-Cookie").substr(0, res->get_header_value("Set-Cookie").find(';'));

  Listeners listeners;
  std::atomic<bool> stop{false};
  std::vector<std::thread> pages;
  for (int i = 0; i < kClients; ++i) {
    pages.emplace_back([&] {
      httplib::Client client("127.0.0.1", server.Port());
      client.set_read_timeout(std::chrono::seconds(30));
      std::string buffer;
      client.Get("/api/stream", httplib::Headers{{"Cookie", cookie}}, [&](const char* data, std::size_t size) {
        buffer.append(data, size);
        for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos; buffer.erase(0, end + 2)) {
          const std::size_t at = buffer.find("\"link\":\"n");
          if (at == std::string::npos || at > end) continue;
          const long long n = std::atoll(buffer.c_str() + at + 9);
          const auto now = Clock::now();
          std::lock_guard lock(listeners.mutex);
          if (n != listeners.expected) continue;
          listeners.latenciesMs.push_back(std::chrono::duration<double, std::milli>(now - listeners.sent).count());
          if (++listeners.arrived == kClients) listeners.cv.notify_all();
        }
        return !stop.load();
      });
    });
  }
  long long n = 0;
  // Until every page is listening: a change each second until all have it.
  for (int attempt = 0; attempt < 30; ++attempt) {
    std::unique_lock lock(listeners.mutex);
    listeners.expected = ++n;
    listeners.arrived = 0;
    listeners.sent = Clock::now();
    lock.unlock();
    picture.Apply("radio", "status/link", "n" + std::to_string(n));
    lock.lock();
    if (listeners.cv.wait_for(lock, std::chrono::seconds(1), [&] { return listeners.arrived == kClients; })) break;
  }
  listeners.latenciesMs.clear();
  for (auto _ : state) {
    std::unique_lock lock(listeners.mutex);
    listeners.expected = ++n;
    listeners.arrived = 0;
    listeners.sent = Clock::now();
    lock.unlock();
    picture.Apply("radio", "status/link", "n" + std::to_string(n));
    lock.lock();
    if (!listeners.cv.wait_for(lock, std::chrono::seconds(10), [&] { return listeners.arrived == kClients; })) {
      state.SkipWithError("a page did not get the frame within 10 s");
      break;
    }
  }
  std::vector<double> all = listeners.latenciesMs;
  std::sort(all.begin(), all.end());
  if (!all.empty()) {
    state.counters["p50_ms"] = all[all.size() / 2];
    state.counters["p99_ms"] = all[all.size() * 99 / 100];
    state.counters["max_ms"] = all.back();
    state.counters["frame_KB"] = static_cast<double>(PictureJson(picture.Snapshot()).size()) / 1024.0;
  }
  stop = true;
  picture.Apply("radio", "status/link", "end");
  server.Stop();
  for (std::thread& t : pages) t.join();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LiveFeedToFiftyPages)->Iterations(300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace pelvaron

BENCHMARK_MAIN();
