// The web console's API end to end over HTTP: sessions, CSRF, roles, the
// station's queue, history, and commands answered as a console would.
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <thread>

#include "hub/hub_store.h"
#include "hub/web/sign_in_throttle.h"
#include "hub/web/web_server.h"
#include "support/strict_json.h"

namespace pelvaron {
namespace {

using nlohmann::json;

std::string TempDir() {
  std::string dir = (std::filesystem::temp_directory_path() / "pelvaron-web-XXXXXX").string();
  return ::mkdtemp(dir.data());
}

// What the console answers to each verb: "accepted", a refusal's reason, or
// "" for silence (the sender then runs out of time).
class FakeConsole {
 public:
  explicit FakeConsole(CommandSender& sender) : sender_(sender), thread_([this] { Run(); }) {}
  ~FakeConsole() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Publish(const std::string& topic, const std::string& payload) {
    {
      std::lock_guard lock(mutex_);
      inbox_.emplace_back(topic, payload);
      sent.emplace_back(topic, payload);
    }
    cv_.notify_all();
  }
  std::map<std::string, std::string> answers;
  std::vector<std::pair<std::string, std::string>> sent;

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [&] { return done_ || !inbox_.empty(); });
      if (done_) return;
      auto [topic, payload] = inbox_.front();
      inbox_.pop_front();
      const std::string verb = topic.substr(topic.rfind('/') + 1);
      const std::string answer = answers[verb];
      const json request = json::parse(payload);
      lock.unlock();
      if (answer.empty()) {
        sender_.Expire(CommandSender::Clock::now() + CommandSender::kTimeout + std::chrono::seconds(1));
      } else {
        json result = {{"request", request["request"]}, {"status", answer == "accepted" ? "accepted" : "refused"}};
        if (answer != "accepted") result["reason"] = answer;
        sender_.Answer(topic.substr(9, topic.find('/', 9) - 9), result.dump());
      }
      lock.lock();
    }
  }
  CommandSender& sender_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::pair<std::string, std::string>> inbox_;
  bool done_ = false;
  std::thread thread_;
};

json Alarm(std::int64_t id, const std::string& priority, const std::string& time, bool acknowledged) {
  return {{"id", id},           {"address", "0012"}, {"priority", priority}, {"time", time},
          {"text", "Тревога"},  {"repeats", 1},      {"restored", false},    {"acknowledged", acknowledged},
          {"actions", json::array()}};
}

HubEvent Event(const std::string& station, std::int64_t seq, std::int64_t time, const std::string& address) {
  HubEvent e;
  e.station = station;
  e.seq = seq;
  e.time = time;
  e.timeText = "2026-12-08T10:00:00Z";
  e.kind = "message";
  e.address = address;
  e.json = json{{"seq", seq}, {"address", address}}.dump();
  return e;
}

class WebApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempDir();
    const std::string path = dir_ + "/hub.sqlite";
    auto store = OpenHubStore(path);
    ASSERT_TRUE(store) << store.problem().Told();
    ASSERT_TRUE((*store)->Write({Event("s1", 1, 100, "0012"), Event("s1", 2, 200, "0013"),
                                 Event("s2", 1, 150, "0012"), Event("s2", 2, 300, "0012")},
                                {}));
    auto db = OpenWebDb(path);
    ASSERT_TRUE(db) << db.problem().Told();
    db_ = std::move(*db);
    auto users = UserStore::Open(*db_);
    ASSERT_TRUE(users);
    users_.emplace(std::move(*users));
    for (const auto& [name, role] : {std::pair{"view", Role::Viewer}, std::pair{"oper", Role::Operator},
                                     std::pair{"boss", Role::Manager}})
      ASSERT_TRUE(users_->Add(name, role, std::string(name) + "-password"));

    picture_.Apply("s1", "online", "online");
    picture_.Apply("s2", "online", "online");
    picture_.Apply("s3", "online", "offline");
    picture_.Apply("s1", "alarms",
                   json{{"alarms", {Alarm(5, "burglary", "2026-12-08T10:00:00Z", false),
                                    Alarm(7, "fire", "2026-12-08T10:05:00Z", true)}}}
                       .dump());
    picture_.Apply("s2", "alarms", json{{"alarms", {Alarm(3, "fire", "2026-12-08T10:02:00+03:00", false)}}}.dump());

    WebSettings settings;
    settings.port = 0;
    settings.store = path;
    server_.emplace(settings, picture_, sender_, *db_, *users_, [](const std::string&) {});
    ASSERT_TRUE(server_->Start());
  }
  void TearDown() override {
    server_.reset();
    std::filesystem::remove_all(dir_);
  }

  struct Signed {
    std::string cookie, csrf;
  };
  Signed SignIn(const std::string& user) {
    httplib::Client client = Client();
    auto res = client.Post("/api/login", json{{"user", user}, {"password", user + "-password"}}.dump(),
                           "application/json");
    EXPECT_TRUE(res && res->status == 200);
    if (!res) return {};
    const std::string cookie = res->get_header_value("Set-Cookie");
    return {cookie.substr(0, cookie.find(';')), json::parse(res->body).value("csrf", "")};
  }
  httplib::Client Client() { return httplib::Client("127.0.0.1", server_->Port()); }
  httplib::Result Post(const std::string& path, const Signed& as, const json& body, bool withCsrf = true) {
    httplib::Headers headers{{"Cookie", as.cookie}};
    if (withCsrf) headers.emplace("X-CSRF-Token", as.csrf);
    return Client().Post(path.c_str(), headers, body.dump(), "application/json");
  }
  httplib::Result Get(const std::string& path, const Signed& as) {
    return Client().Get(path.c_str(), httplib::Headers{{"Cookie", as.cookie}});
  }

  std::string dir_;
  std::unique_ptr<WebDb> db_;
  std::optional<UserStore> users_;
  StationPicture picture_;
  FakeConsole* console_ = nullptr;
  bool brokerUp_ = true;
  CommandSender sender_{[this](const std::string& topic, const std::string& payload) {
    if (!brokerUp_) return false;
    console_->Publish(topic, payload);
    return true;
  }};
  std::optional<WebServer> server_;
};

TEST_F(WebApiTest, RefusesWhatTheCallerMayNotDo) {
  FakeConsole console(sender_);
  console_ = &console;
  console.answers["ack"] = "accepted";
  const Signed viewer = SignIn("view");
  const Signed oper = SignIn("oper");
  const Signed nobody{"pelvaron_session=" + std::string(64, 'a'), std::string(64, 'b')};
  const Signed forged{oper.cookie, viewer.csrf};
  struct Case {
    const char* what;
    std::string method, path;
    Signed as;
    bool csrf;
    int status;
  };
  const Case cases[] = {
      {"no session: stations", "GET", "/api/stations", nobody, true, 401},
      {"no session: alarms", "GET", "/api/alarms", nobody, true, 401},
      {"no session: events", "GET", "/api/events", nobody, true, 401},
      {"no session: stream", "GET", "/api/stream", nobody, true, 401},
      {"no session: shift report", "GET", "/api/reports/shift", nobody, true, 401},
      {"no session: object report", "GET", "/api/reports/object?address=12", nobody, true, 401},
      {"no session: ack", "POST", "/api/alarms/s1/5/ack", nobody, true, 401},
      {"viewer reads", "GET", "/api/alarms", viewer, true, 200},
      {"viewer acknowledges", "POST", "/api/alarms/s1/5/ack", viewer, true, 403},
      {"viewer closes", "POST", "/api/alarms/s1/5/close", viewer, true, 403},
      {"operator without the token", "POST", "/api/alarms/s1/5/ack", oper, false, 403},
      {"operator with another's token", "POST", "/api/alarms/s1/5/ack", forged, true, 403},
      {"logout without the token", "POST", "/api/logout", oper, false, 403},
      {"an unknown console", "POST", "/api/alarms/s9/5/ack", oper, true, 404},
      {"an offline console: not asked", "POST", "/api/alarms/s3/5/ack", oper, true, 503},
  };
  for (const Case& c : cases) {
    auto res = c.method == "GET" ? Get(c.path, c.as) : Post(c.path, c.as, json::object(), c.csrf);
    ASSERT_TRUE(res) << c.what;
    EXPECT_EQ(res->status, c.status) << c.what << ": " << res->body;
  }
  EXPECT_TRUE(console.sent.empty()) << "a refused request reached a console";
  console_ = nullptr;
}

TEST_F(WebApiTest, AReportIsTheConsolesPageOrAReasonInRussian) {
  const Signed viewer = SignIn("view");
  struct Case {
    std::string path;
    int status;
    std::string type;  // the answer's, or a word of the refusal
  };
  const Case cases[] = {
      {"/api/reports/shift?station=s1&from=0&to=1000", 200, "text/html"},
      {"/api/reports/shift?from=0&to=1000&format=csv", 200, "text/csv"},
      {"/api/reports/object?station=s2&address=12&from=0&to=1000&format=json", 200, "application/json"},
      {"/api/reports/shift?station=s9&from=0&to=1000", 400, "Консоли s9"},
      {"/api/reports/shift?from=1000&to=0", 400, "позже"},
      {"/api/reports/shift?from=вчера", 400, "Параметр from"},
      {"/api/reports/shift?from=0&to=100000000", 400, "не больше"},
      {"/api/reports/object?from=0&to=1000", 400, "адрес объекта"},
      {"/api/reports/shift?format=pdf", 400, "format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto res = Get(c.path, viewer);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status) << res->body;
    if (c.status == 200) {
      EXPECT_EQ(res->get_header_value("Content-Type").rfind(c.type, 0), 0u) << res->get_header_value("Content-Type");
    } else {
      EXPECT_NE(json::parse(res->body).value("error", "").find(c.type), std::string::npos) << res->body;
    }
  }
  // The object's report found the object under the form the store keeps.
  const json object = json::parse(Get("/api/reports/object?station=s2&address=12&from=0&to=1000&format=json", viewer)->body);
  EXPECT_NE(object.dump().find("0012"), std::string::npos) << object.dump();
}

TEST_F(WebApiTest, ASecondServerOnTheSamePortIsRefused) {
  WebSettings same;
  same.port = server_->Port();
  WebServer second(same, picture_, sender_, *db_, *users_, [](const std::string&) {});
  const Result<> started = second.Start();
  ASSERT_FALSE(started);
  EXPECT_NE(started.problem().text.find("занят"), std::string::npos) << started.problem().text;
}

TEST_F(WebApiTest, SignInSetsAStrictCookieAndRefusesAWrongPassword) {
  auto wrong = Client().Post("/api/login", R"({"user":"oper","password":"nope-nope"})", "application/json");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 401);
  EXPECT_EQ(json::parse(wrong->body)["error"], "Неверное имя пользователя или пароль");
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));

  auto ok = Client().Post("/api/login", R"({"user":"boss","password":"boss-password"})", "application/json");
  ASSERT_TRUE(ok);
  ASSERT_EQ(ok->status, 200);
  const std::string cookie = ok->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos) << cookie;
  EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos) << cookie;
  EXPECT_EQ(cookie.find("Secure"), std::string::npos) << "plain HTTP cannot keep a Secure cookie";
  EXPECT_EQ(cookie.find('=') + 1 + 64, cookie.find(';')) << "a 256-bit id: " << cookie;
  const json body = json::parse(ok->body);
  EXPECT_EQ(body["role"], "manager");
  EXPECT_EQ(body["csrf"].get<std::string>().size(), 64U);

  // A removed user's session ends with the next request.
  const Signed boss{cookie.substr(0, cookie.find(';')), body["csrf"]};
  ASSERT_EQ(Get("/api/alarms", boss)->status, 200);
  ASSERT_TRUE(users_->Remove("boss"));
  EXPECT_EQ(Get("/api/alarms", boss)->status, 401);
}

TEST_F(WebApiTest, CommandsGoToTheOwningConsoleAndAnswerWithItsWord) {
  FakeConsole console(sender_);
  console_ = &console;
  console.answers = {{"ack", "accepted"}, {"action", "Тревоги №5 уже нет в очереди"}, {"close", ""}};
  const Signed oper = SignIn("oper");
  struct Case {
    std::string path;
    json body;
    int status;
    std::string error;
    bool brokerUp = true;
  };
  // 409 only for the console's own refusal; what never reached it is 400 or 503.
  const Case cases[] = {
      {"/api/alarms/s1/5/ack", {{"note", "принято"}}, 200, ""},
      {"/api/alarms/s1/5/action", {{"action", "guard-sent"}, {"detail", "ГБР-3"}}, 409,
       "Тревоги №5 уже нет в очереди"},
      {"/api/alarms/s1/5/close", {{"outcome", "real"}}, 504, ""},
      {"/api/alarms/s1/5/ack", json::object(), 503,
       "Нет связи с брокером MQTT: команда не отправлена, консоль её не получила; повторите позже", false},
      {"/api/alarms/s1/5/action", json::object(), 400, "Не указано действие"},
  };
  for (const Case& c : cases) {
    brokerUp_ = c.brokerUp;
    auto res = Post(c.path, oper, c.body);
    ASSERT_TRUE(res) << c.path;
    EXPECT_EQ(res->status, c.status) << c.path << ": " << res->body;
    if (!c.error.empty()) {
      EXPECT_EQ(json::parse(res->body)["error"], c.error);
    }
  }
  ASSERT_EQ(console.sent.size(), 3U);
  const char* topics[] = {"pelvaron/s1/command/ack", "pelvaron/s1/command/action", "pelvaron/s1/command/close"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(console.sent[i].first, topics[i]);
    const json payload = json::parse(console.sent[i].second);
    EXPECT_EQ(payload["operator"], "oper") << "the request names the signed-in user";
    EXPECT_EQ(payload["ref"], 5);
  }
  EXPECT_EQ(json::parse(console.sent[0].second)["note"], "принято");
  EXPECT_EQ(json::parse(console.sent[1].second)["detail"], "ГБР-3");
  EXPECT_EQ(json::parse(console.sent[2].second)["outcome"], "real");
  console_ = nullptr;
}

TEST_F(WebApiTest, QueueAndHistoryAreTheWholeStations) {
  const Signed viewer = SignIn("view");
  const json alarms = json::parse(Get("/api/alarms", viewer)->body)["alarms"];
  std::vector<std::string> order;
  for (const json& a : alarms) order.push_back(a["station"].get<std::string>() + "/" + std::to_string(a["id"].get<int>()));
  // Waiting first; fire before burglary; the acknowledged last.
  EXPECT_EQ(order, (std::vector<std::string>{"s2/3", "s1/5", "s1/7"}));

  struct Case {
    std::string query;
    std::vector<std::string> found;  // station/seq, newest first
    int status = 200;
  };
  const Case cases[] = {
      {"", {"s2/2", "s1/2", "s2/1", "s1/1"}},
      {"?station=s1", {"s1/2", "s1/1"}},
      {"?address=0012", {"s2/2", "s2/1", "s1/1"}},
      {"?station=s2&address=0012&from=100&to=300", {"s2/1"}},
      {"?from=1970-01-01T00:02:30Z", {"s2/2", "s1/2", "s2/1"}},
      {"?limit=1", {"s2/2"}},
      {"?from=yesterday", {}, 400},
      {"?limit=0", {}, 400},
  };
  for (const Case& c : cases) {
    auto res = Get("/api/events" + c.query, viewer);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, c.status) << c.query << ": " << res->body;
    if (c.status != 200) continue;
    std::vector<std::string> found;
    const json body = json::parse(res->body);
    for (const json& e : body["events"])
      found.push_back(e["station"].get<std::string>() + "/" + std::to_string(e["seq"].get<int>()));
    EXPECT_EQ(found, c.found) << c.query;
  }
}

TEST_F(WebApiTest, TheLiveFeedSendsThePictureAndItsChanges) {
  const Signed viewer = SignIn("view");
  std::string received;
  std::thread change;
  httplib::Client client = Client();
  client.Get("/api/stream", httplib::Headers{{"Cookie", viewer.cookie}}, [&](const char* data, std::size_t size) {
    received.append(data, size);
    if (received.find("\"s4\"") != std::string::npos) return false;
    // After the first frame, a console comes: its frame must follow.
    if (!change.joinable() && received.find("\n\n") != std::string::npos)
      change = std::thread([&] {
        picture_.Apply("s4", "online", "online");
        server_->Feed().Changed();
      });
    return true;
  });
  change.join();
  EXPECT_EQ(received.rfind("event: picture\ndata: ", 0), 0U) << received.substr(0, 200);
  const std::size_t first = received.find("\n\n");
  const json frame = json::parse(received.substr(21, first - 21));
  EXPECT_EQ(frame["alarms"].size(), 3U);
  EXPECT_EQ(frame["stations"].size(), 3U);
  EXPECT_NE(received.find("\"s4\"", first), std::string::npos);
}

TEST(SignInThrottle, SlowsGuessesByNameAndByAddress) {
  using Clock = SignInThrottle::Clock;
  const Clock::time_point t0{};
  SignInThrottle throttle;
  struct Step {
    const char* what;
    const char* user;
    const char* address;
    int secondsLater;
    bool fail;
    long long wait;  // asked before the step's attempt
  };
  const Step steps[] = {
      {"first miss", "oper", "10.0.0.1", 0, true, 0},
      {"second miss", "oper", "10.0.0.1", 0, true, 0},
      {"third miss", "oper", "10.0.0.1", 0, true, 0},
      {"fourth waits", "oper", "10.0.0.1", 1, false, 1},
      {"the name from elsewhere waits too", "oper", "10.0.0.2", 1, false, 1},
      {"the address with another name waits too", "boss", "10.0.0.1", 1, false, 1},
      {"after the wait: fourth miss", "oper", "10.0.0.2", 2, true, 0},
      {"twice as long", "oper", "10.0.0.3", 2, false, 4},
  };
  for (const Step& s : steps) {
    const Clock::time_point now = t0 + std::chrono::seconds(s.secondsLater);
    EXPECT_EQ(throttle.WaitSeconds(s.user, s.address, now), s.wait) << s.what;
    if (s.fail) throttle.Failed(s.user, s.address, now);
  }
  throttle.Succeeded("oper");
  EXPECT_EQ(throttle.WaitSeconds("oper", "10.0.0.9", t0 + std::chrono::seconds(2)), 0) << "a success clears the name";
}

TEST(UserStore, KeepsOnlyHashesAndRefusesWhatCannotBe) {
  const std::string dir = TempDir();
  auto db = OpenWebDb(dir + "/hub.sqlite");
  ASSERT_TRUE(db);
  auto users = UserStore::Open(**db);
  ASSERT_TRUE(users);
  EXPECT_TRUE(users->Add("Иванова", Role::Operator, "secret-one"));
  EXPECT_FALSE(users->Add("Иванова", Role::Viewer, "secret-two")) << "a name is taken once";
  EXPECT_FALSE(users->Add("short", Role::Viewer, "1234567")) << "too short a password";
  EXPECT_FALSE(users->Add("bad\nname", Role::Viewer, "secret-one"));
  EXPECT_FALSE(users->SetPassword("nobody", "secret-two"));
  EXPECT_FALSE(users->Remove("nobody"));
  auto rows = (*db)->Query("SELECT hash FROM users");
  ASSERT_TRUE(rows && rows->size() == 1U);
  EXPECT_EQ((*rows)[0][0].rfind("$argon2id$", 0), 0U);
  EXPECT_TRUE(users->SignIn("Иванова", "secret-one"));
  ASSERT_TRUE(users->SetPassword("Иванова", "secret-two"));
  EXPECT_FALSE(users->SignIn("Иванова", "secret-one"));
  EXPECT_EQ(users->SignIn("Иванова", "secret-two")->role, Role::Operator);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace pelvaron
