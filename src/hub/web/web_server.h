#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/result.h"
#include "hub/command_sender.h"
#include "hub/station_picture.h"
#include "hub/web/live_feed.h"
#include "hub/web/sessions.h"
#include "hub/web/sign_in_throttle.h"
#include "hub/web/user_store.h"
#include "hub/web/web_db.h"
#include "outputs/report.h"
#include "reports/report_formats.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace pelvaron {

struct WebSettings {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (tests)
  std::string certFile, keyFile;  // both: HTTPS
  std::string root;               // the page's static files
  int maxLiveClients = 200;
  std::chrono::seconds commandWait = CommandSender::kTimeout + std::chrono::seconds(5);
  // The hub's store, as --store names it: each report reads it on a
  // connection of its own, so that a long one holds up nobody else. Empty:
  // on the web's connection.
  std::string store;
};

// The web console inside the hub: the page's files, sign-in, the JSON API
// over the picture, the store and the command sender, and the live feed.
// Runs on threads of its own from Start to Stop (or destruction).
class WebServer {
 public:
  WebServer(WebSettings settings, StationPicture& picture, CommandSender& commands, WebDb& db, UserStore& users,
            Report report);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds and starts serving; refused (in Russian) when the address is taken
  // or the certificate cannot be used.
  Result<> Start();
  void Stop();
  int Port() const { return port_; }
  bool Secure() const { return !settings_.certFile.empty(); }
  // For the picture's change callback.
  LiveFeed& Feed() { return feed_; }

 private:
  enum class Need { Read, Change };
  std::optional<Session> Authorize(const httplib::Request& req, httplib::Response& res, Need need);
  void Routes();
  void Login(const httplib::Request& req, httplib::Response& res);
  void Logout(const httplib::Request& req, httplib::Response& res);
  void Command(const httplib::Request& req, httplib::Response& res);
  void Events(const httplib::Request& req, httplib::Response& res);
  void MakeReport(const httplib::Request& req, httplib::Response& res, ReportKind kind);
  void Stream(const httplib::Request& req, httplib::Response& res);

  WebSettings settings_;
  StationPicture& picture_;
  CommandSender& commands_;
  WebDb& db_;
  UserStore& users_;
  Report report_;
  CauseReporter dbReporter_;  // the database's trouble, told once until it answers again
  Sessions sessions_;
  SignInThrottle throttle_;
  LiveFeed feed_;
  std::atomic<int> liveClients_{0};
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::atomic<bool> listening_{false};
  int port_ = 0;
};

}  // namespace pelvaron
