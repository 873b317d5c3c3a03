#include "hub/web/web_server.h"

#include <httplib.h>

#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <ctime>

#include "events/alarm_handling.h"
#include "hub/hub_store.h"
#include "hub/web/history_query.h"
#include "hub/web/hub_report.h"
#include "hub/web/station_board.h"
#include "reports/query/report_range.h"

namespace pelvaron {

namespace {

constexpr char kCookie[] = "pelvaron_session";
constexpr char kJson[] = "application/json; charset=utf-8";
constexpr std::size_t kMaxBody = 16 * 1024;
constexpr auto kKeepAlive = std::chrono::seconds(15);

void Reply(httplib::Response& res, int status, const nlohmann::json& body) {
  res.status = status;
  res.set_content(body.dump(), kJson);
}

void Error(httplib::Response& res, int status, const std::string& text) {
  Reply(res, status, {{"error", text}});
}

std::string CookieValue(const httplib::Request& req, std::string_view name) {
  const std::string header = req.get_header_value("Cookie");
  std::string_view rest = header;
  while (!rest.empty()) {
    const std::size_t semi = rest.find(';');
    std::string_view pair = rest.substr(0, semi);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
      return std::string(pair.substr(name.size() + 1));
    if (semi == std::string_view::npos) break;
    rest.remove_prefix(semi + 1);
  }
  return {};
}

std::optional<nlohmann::json> JsonBody(const httplib::Request& req, httplib::Response& res) {
  nlohmann::json body = req.body.empty() ? nlohmann::json::object() : nlohmann::json::parse(req.body, nullptr, false);
  if (!body.is_object()) {
    Error(res, 400, "Тело запроса должно быть объектом JSON");
    return {};
  }
  return body;
}

std::string Text(const nlohmann::json& body, const char* key) {
  auto it = body.find(key);
  return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Reports as long as a year; a longer one would hold a connection for minutes.
constexpr std::int64_t kMaxReportDays = 366;

// A name a download may carry: the station's characters outside [A-Za-z0-9._-] go.
std::string SafeFileName(const std::string& name) {
  std::string out;
  for (const char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-')
      out += c;
  }
  return out.empty() ? "report" : out;
}

nlohmann::json Codes(const auto& table) {
  nlohmann::json list = nlohmann::json::array();
  for (const HandlingCode& c : table) list.push_back({{"code", c.code}, {"title", c.title}});
  return list;
}

}  // namespace

WebServer::WebServer(WebSettings settings, StationPicture& picture, CommandSender& commands, WebDb& db,
                     UserStore& users, Report report)
    : settings_(std::move(settings)),
      picture_(picture),
      commands_(commands),
      db_(db),
      users_(users),
      report_(std::move(report)),
      dbReporter_(report_),
      feed_(picture) {}

WebServer::~WebServer() {
  Stop();
}

Result<> WebServer::Start() {
  if (Secure()) {
    auto secure = std::make_unique<httplib::SSLServer>(settings_.certFile.c_str(), settings_.keyFile.c_str());
    if (!secure->is_valid())
      return Problem{"Не удалось загрузить сертификат " + settings_.certFile + " и ключ " + settings_.keyFile +
                     " для HTTPS: проверьте пути, права на чтение и что ключ подходит к сертификату"};
    server_ = std::move(secure);
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  // Each live page holds a thread for as long as it is open.
  const std::size_t threads = static_cast<std::size_t>(settings_.maxLiveClients) + 16;
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server_->set_payload_max_length(kMaxBody);
  server_->set_tcp_nodelay(true);
  // The library's default shares the port (SO_REUSEPORT): a second hub would
  // listen beside the first unseen. Reuse only a port left in TIME_WAIT.
  server_->set_socket_options([](int sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  Routes();
  if (!settings_.root.empty() && !server_->set_mount_point("/", settings_.root))
    return Problem{"Нет папки со страницами веб-консоли " + settings_.root + ": укажите её в --web-root"};
  if (settings_.port == 0) {
    port_ = server_->bind_to_any_port(settings_.host);
  } else if (server_->bind_to_port(settings_.host, settings_.port)) {
    port_ = settings_.port;
  }
  if (port_ <= 0)
    return Problem{"Не удалось открыть адрес " + settings_.host + ":" + std::to_string(settings_.port) +
                   " для веб-консоли: он занят или недоступен; укажите другой в --listen"};
  listening_ = true;
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listening_ = false;
  });
  // Until it accepts: a stop that came earlier would find nothing to stop
  // and wait for the listener for ever.
  while (listening_ && !server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!server_->is_running()) {
    thread_.join();
    return Problem{"Веб-консоль не смогла начать приём на " + settings_.host + ":" + std::to_string(port_)};
  }
  return {};
}

void WebServer::Stop() {
  feed_.Close();
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::optional<Session> WebServer::Authorize(const httplib::Request& req, httplib::Response& res, Need need) {
  const std::string id = CookieValue(req, kCookie);
  std::optional<Session> session = sessions_.Find(id);
  if (!session) {
    Error(res, 401, "Войдите в систему");
    return {};
  }
  // Users are managed by another process: a removed user, a changed role or
  // password ends the session here.
  Problem problem;
  std::optional<WebUser> now = users_.Current(session->user.name, &problem);
  if (!problem.text.empty()) {
    // Users change in that database only: while it is away the session
    // stands as last checked, and the board and the alarms go on.
    dbReporter_.Trouble("users", "Веб-консоль не может проверить пользователей: " + problem.Told() +
                                     ". Вошедшие продолжают работу; вход и история недоступны, пока база не ответит.");
    now = session->user;
  } else {
    dbReporter_.Recovered("База хаба снова отвечает веб-консоли.");
  }
  if (!now || now->role != session->user.role || now->stamp != session->user.stamp) {
    sessions_.Close(id);
    Error(res, 401, "Войдите в систему снова: ваша учётная запись изменилась");
    return {};
  }
  if (need == Need::Read) return session;
  if (!SameToken(req.get_header_value("X-CSRF-Token"), session->csrf)) {
    Error(res, 403, "Запрос отклонён: нет проверочного ключа страницы; обновите страницу и повторите");
    return {};
  }
  if (session->user.role == Role::Viewer) {
    Error(res, 403, "Наблюдателю нельзя ничего менять");
    return {};
  }
  return session;
}

void WebServer::Routes() {
  httplib::Server& s = *server_;
  s.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    if (!res.has_header("Content-Security-Policy"))
      res.set_header("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
    if (!res.has_header("Cache-Control")) res.set_header("Cache-Control", "no-store");
  });
  s.Post("/api/login", [this](const auto& req, auto& res) { Login(req, res); });
  s.Post("/api/logout", [this](const auto& req, auto& res) { Logout(req, res); });
  s.Get("/api/session", [this](const auto& req, auto& res) {
    if (auto session = Authorize(req, res, Need::Read))
      Reply(res, 200, {{"user", session->user.name}, {"role", RoleName(session->user.role)}, {"csrf", session->csrf}});
  });
  s.Get("/api/handling", [this](const auto& req, auto& res) {
    if (Authorize(req, res, Need::Read))
      Reply(res, 200, {{"actions", Codes(kAlarmActions)}, {"outcomes", Codes(kAlarmOutcomes)}});
  });
  s.Get("/api/stations", [this](const auto& req, auto& res) {
    if (Authorize(req, res, Need::Read)) res.set_content(picture_.Json(), kJson);
  });
  s.Get("/api/alarms", [this](const auto& req, auto& res) {
    if (Authorize(req, res, Need::Read)) Reply(res, 200, {{"alarms", StationAlarms(picture_.Snapshot())}});
  });
  s.Get("/api/events", [this](const auto& req, auto& res) { Events(req, res); });
  s.Get("/api/reports/shift", [this](const auto& req, auto& res) { MakeReport(req, res, ReportKind::Shift); });
  s.Get("/api/reports/object", [this](const auto& req, auto& res) { MakeReport(req, res, ReportKind::Object); });
  s.Get("/api/stream", [this](const auto& req, auto& res) { Stream(req, res); });
  s.Post(R"(/api/alarms/([^/]+)/(\d{1,18})/(ack|action|close))",
         [this](const auto& req, auto& res) { Command(req, res); });
}

void WebServer::Login(const httplib::Request& req, httplib::Response& res) {
  const std::optional<nlohmann::json> body = JsonBody(req, res);
  if (!body) return;
  const std::string user = Text(*body, "user");
  const std::string password = Text(*body, "password");
  const auto now = SignInThrottle::Clock::now();
  if (const long long wait = throttle_.WaitSeconds(user, req.remote_addr, now); wait > 0) {
    res.set_header("Retry-After", std::to_string(wait));
    Error(res, 429, "Слишком много неудачных попыток входа; повторите через " + std::to_string(wait) + " с");
    return;
  }
  Problem problem;
  const std::optional<WebUser> signedIn = users_.SignIn(user, password, &problem);
  if (!signedIn) {
    if (!problem.text.empty()) {
      dbReporter_.Trouble("users", "Веб-консоль не может проверить пользователей: " + problem.Told() +
                                       ". Вход невозможен, пока база не ответит; хаб пробует снова.");
      Error(res, 503, "Вход сейчас невозможен: база хаба недоступна; повторите позже");
      return;
    }
    throttle_.Failed(user, req.remote_addr, now);
    Error(res, 401, "Неверное имя пользователя или пароль");
    return;
  }
  throttle_.Succeeded(user);
  auto [id, session] = sessions_.Open(*signedIn);
  res.set_header("Set-Cookie", std::string(kCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Strict" +
                                   (Secure() ? "; Secure" : ""));
  Reply(res, 200, {{"user", session.user.name}, {"role", RoleName(session.user.role)}, {"csrf", session.csrf}});
}

void WebServer::Logout(const httplib::Request& req, httplib::Response& res) {
  std::optional<Session> session = sessions_.Find(CookieValue(req, kCookie));
  if (!session) {
    Error(res, 401, "Войдите в систему");
    return;
  }
  // Even a viewer may leave; the token keeps another site from signing one out.
  if (!SameToken(req.get_header_value("X-CSRF-Token"), session->csrf)) {
    Error(res, 403, "Запрос отклонён: нет проверочного ключа страницы; обновите страницу и повторите");
    return;
  }
  sessions_.Close(CookieValue(req, kCookie));
  res.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" +
                                   (Secure() ? "; Secure" : ""));
  Reply(res, 200, nlohmann::json::object());
}

void WebServer::Command(const httplib::Request& req, httplib::Response& res) {
  const std::optional<Session> session = Authorize(req, res, Need::Change);
  if (!session) return;
  const std::optional<nlohmann::json> body = JsonBody(req, res);
  if (!body) return;
  CommandRequest request;
  request.station = req.matches[1];
  request.verb = req.matches[3];
  request.operatorName = session->user.name;
  const std::string seq = req.matches[2];
  std::from_chars(seq.data(), seq.data() + seq.size(), request.ref);
  request.note = Text(*body, "note");
  request.action = Text(*body, "action");
  request.detail = Text(*body, "detail");
  request.outcome = Text(*body, "outcome");

  const nlohmann::json snapshot = picture_.Snapshot();
  const nlohmann::json* console = nullptr;
  for (const nlohmann::json& s : snapshot["stations"]) {
    if (s.value("station", std::string()) == request.station) console = &s;
  }
  if (console == nullptr) {
    Error(res, 404, "Консоли " + request.station + " на станции нет");
    return;
  }
  if (!console->value("online", false)) {
    Error(res, 503, "Консоль " + request.station + " не в сети: команда не отправлена; повторите, когда она будет в сети");
    return;
  }
  std::future<CommandResult> future = commands_.Send(request);
  if (future.wait_for(settings_.commandWait) != std::future_status::ready) {
    Error(res, 504, CommandSender::kNoAnswer);
    return;
  }
  const CommandResult result = future.get();
  // 409 is the console's own refusal only: what never reached it is 400 or 503.
  switch (result.outcome) {
    case CommandResult::Outcome::Accepted:
      Reply(res, 200, {{"status", "accepted"}, {"request", result.request}});
      break;
    case CommandResult::Outcome::Refused:
      Reply(res, 409, {{"status", "refused"}, {"request", result.request}, {"error", result.reason}});
      break;
    case CommandResult::Outcome::Invalid:
      Error(res, 400, result.reason);
      break;
    case CommandResult::Outcome::NotSent:
      Error(res, 503, result.reason);
      break;
    case CommandResult::Outcome::NoAnswer:
      Error(res, 504, std::string(CommandSender::kNoAnswer) + ": консоль " + request.station +
                          " не подтвердила команду; проверьте её и повторите");
      break;
  }
}

void WebServer::Events(const httplib::Request& req, httplib::Response& res) {
  if (!Authorize(req, res, Need::Read)) return;
  HistoryFilter filter;
  filter.station = req.get_param_value("station");
  filter.address = req.get_param_value("address");
  for (const auto& [name, field] : {std::pair{"from", &HistoryFilter::from}, std::pair{"to", &HistoryFilter::to}}) {
    const std::string text = req.get_param_value(name);
    if (text.empty()) continue;
    const std::optional<std::int64_t> seconds = HistoryTime(text);
    if (!seconds) {
      Error(res, 400, std::string("Параметр ") + name +
                          ": время нужно в виде 2026-12-08T10:00:00+03:00 (или Z), либо в секундах");
      return;
    }
    filter.*field = *seconds;
  }
  if (const std::string limit = req.get_param_value("limit"); !limit.empty()) {
    int n = 0;
    auto [ptr, ec] = std::from_chars(limit.data(), limit.data() + limit.size(), n);
    if (ec != std::errc() || ptr != limit.data() + limit.size() || n < 1 || n > kHistoryMaxLimit) {
      Error(res, 400, "Параметр limit: число от 1 до " + std::to_string(kHistoryMaxLimit));
      return;
    }
    filter.limit = n;
  }
  Result<nlohmann::json> events = SearchHistory(db_, filter);
  if (!events) {
    dbReporter_.Trouble("history", "Поиск по истории не удался: " + events.problem().Told() + ".");
    Error(res, 503, "История сейчас недоступна: " + events.problem().Told() + "; повторите позже");
    return;
  }
  Reply(res, 200, {{"events", std::move(*events)}});
}

void WebServer::MakeReport(const httplib::Request& req, httplib::Response& res, ReportKind kind) {
  if (!Authorize(req, res, Need::Read)) return;
  const std::string station = req.get_param_value("station");
  const std::string address = req.get_param_value("address");
  const std::string formatName = req.has_param("format") ? req.get_param_value("format") : "html";
  const std::optional<ReportFormat> format = ReportFormatNamed(formatName);
  if (!format) {
    Error(res, 400, "Параметр format: html, csv или json");
    return;
  }
  if (kind == ReportKind::Object && address.empty()) {
    Error(res, 400, "Укажите адрес объекта (параметр address)");
    return;
  }
  std::optional<std::int64_t> bounds[2];
  for (int i = 0; i < 2; ++i) {
    const char* name = i == 0 ? "from" : "to";
    const std::string text = req.get_param_value(name);
    if (text.empty()) continue;
    bounds[i] = HistoryTime(text);
    if (!bounds[i]) {
      Error(res, 400, std::string("Параметр ") + name +
                          ": время нужно в виде 2026-12-08T10:00:00+03:00 (или Z), либо в секундах");
      return;
    }
  }
  // As pelvaron-report: a bound not given is the report's usual span from the other.
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  ReportRange range = DefaultReportRange(kind, bounds[1].value_or(now));
  if (bounds[1]) range.to = *bounds[1];
  if (bounds[0]) {
    range.from = *bounds[0];
    if (!bounds[1]) range.to = std::max(range.from, now);
  }
  if (range.from > range.to) {
    Error(res, 400, "Начало отчёта (from) позже его конца (to): поменяйте их местами");
    return;
  }
  if (range.to - range.from > kMaxReportDays * 86400) {
    Error(res, 400, "Отчёт охватывает не больше " + std::to_string(kMaxReportDays) +
                        " дней: сократите промежуток или разбейте его на части");
    return;
  }
  // A report of its own connection: its one long read holds nobody up.
  std::unique_ptr<WebDb> own;
  if (!settings_.store.empty()) {
    Result<std::unique_ptr<WebDb>> opened = OpenWebDb(settings_.store);
    if (!opened) {
      report_(opened.problem().Told());
      Error(res, 503, "Отчёт сейчас недоступен: " + opened.problem().Told());
      return;
    }
    own = std::move(*opened);
  }
  WebDb& db = own ? *own : db_;
  if (!station.empty()) {
    Result<std::vector<WebDb::Row>> known = db.Query("SELECT 1 FROM events WHERE station = $1 LIMIT 1", {station});
    if (known && known->empty()) {
      Error(res, 400, "Консоли " + station + " в хранилище хаба нет: выберите консоль из списка станции");
      return;
    }
  }
  ReportQuery query;
  query.from = range.from;
  query.to = range.to;
  query.address = address;
  // One snapshot for every read, where the connection is the report's own.
  const bool snapshot =
      own && own->Query(IsPostgresUrl(settings_.store) ? "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY" : "BEGIN");
  Result<ReportLoad> loaded = LoadHubReport(db, station, query, PriorityTable::Defaults());
  if (snapshot) (void)own->Query("COMMIT");
  if (!loaded) {
    report_(loaded.problem().Told());
    Error(res, 503, loaded.problem().Told());
    return;
  }
  const std::string text = RenderReport(loaded->data, kind, *format, loaded->address);
  const std::string name = std::string(kind == ReportKind::Shift ? "shift" : "object-" + loaded->address) +
                           (station.empty() ? "" : "-" + station);
  switch (*format) {
    case ReportFormat::Html:
      // The console's own page: its style inline, nothing else.
      res.set_header("Content-Security-Policy",
                     "default-src 'none'; style-src 'unsafe-inline'; img-src data:; frame-ancestors 'none'");
      res.set_content(text, "text/html; charset=utf-8");
      break;
    case ReportFormat::Csv:
      res.set_header("Content-Disposition", "attachment; filename=\"" + SafeFileName(name) + ".csv\"");
      res.set_content(text, "text/csv; charset=utf-8");
      break;
    case ReportFormat::Json:
      res.set_content(text, kJson);
      break;
  }
}

void WebServer::Stream(const httplib::Request& req, httplib::Response& res) {
  if (!Authorize(req, res, Need::Read)) return;
  if (liveClients_.fetch_add(1) >= settings_.maxLiveClients) {
    liveClients_.fetch_sub(1);
    Error(res, 503, "Слишком много открытых страниц станции; закройте лишние и обновите эту");
    return;
  }
  res.set_header("Cache-Control", "no-store");
  res.set_header("X-Accel-Buffering", "no");
  // No version is UINT64_MAX: the first frame goes at once.
  auto seen = std::make_shared<std::uint64_t>(UINT64_MAX);
  res.set_chunked_content_provider(
      "text/event-stream",
      [this, seen](std::size_t, httplib::DataSink& sink) {
        if (feed_.Closed()) return false;
        std::optional<LiveFeed::Frame> frame = feed_.Next(*seen, kKeepAlive);
        if (feed_.Closed()) return false;
        if (!frame) {
          static constexpr char kPing[] = ": ping\n\n";
          return sink.write(kPing, sizeof kPing - 1);
        }
        *seen = frame->version;
        return sink.write(frame->text->data(), frame->text->size());
      },
      [this](bool) { liveClients_.fetch_sub(1); });
}

}  // namespace pelvaron
