#include "support/mqtt/test_broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace pelvaron::testing {

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

const char* const kBrokerPaths[] = {"/usr/sbin/mosquitto", "/usr/bin/mosquitto", "/usr/local/sbin/mosquitto"};

std::string BrokerProgram() {
  for (const char* p : kBrokerPaths) {
    if (::access(p, X_OK) == 0) return p;
  }
  return {};
}


bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool TestBroker::Available() {
  return !BrokerProgram().empty();
}

TestBroker::TestBroker(bool persistent) : persistent_(persistent) {
  std::string pattern = (fs::temp_directory_path() / "pelvaron-broker-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
  // Started as root, the broker works as its own user: it must write here.
  if (!dir_.empty()) ::chmod(dir_.c_str(), 0777);
  port_ = FreePort();
}

void TestBroker::WriteConfig() const {
  std::ofstream config(dir_ + "/mosquitto.conf");
  if (securePort_ != 0) config << "per_listener_settings true\n";
  config << "listener " << port_ << " 127.0.0.1\n"
         << "allow_anonymous true\n";
  if (securePort_ != 0) {
    config << "listener " << securePort_ << " 127.0.0.1\n"
           << "allow_anonymous false\n"
           << "password_file " << dir_ << "/passwords\n"
           << "cafile " << dir_ << "/ca.crt\n"
           << "certfile " << dir_ << "/server.crt\n"
           << "keyfile " << dir_ << "/server.key\n";
  }
  config << "log_dest file " << dir_ << "/mosquitto.log\n"
         << "log_type error\nlog_type warning\nlog_type notice\nlog_type subscribe\n";
  if (persistent_) {
    config << "persistence true\npersistence_location " << dir_ << "/\n";
  }
}

bool TestBroker::AddSecureListener(const std::string& user, const std::string& password, std::string* error) {
  if (dir_.empty()) {
    *error = "no temporary folder";
    return false;
  }
  // Small EC keys: made in milliseconds. The broker reads them as its own
  // user, hence the open modes (a test's throw-away keys).
  const std::string d = dir_ + "/";
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::vector<std::string> steps = {
      "openssl req -x509" + key + " -keyout " + d + "ca.key -out " + d + "ca.crt -days 2 -subj /CN=pelvaron-test-ca",
      "openssl req -x509" + key + " -keyout " + d + "other-ca.key -out " + d +
          "other-ca.crt -days 2 -subj /CN=pelvaron-other-ca",
      "openssl req" + key + " -keyout " + d + "server.key -out " + d + "server.csr -subj /CN=127.0.0.1",
      "printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > " + d + "server.ext",
      "openssl x509 -req -in " + d + "server.csr -CA " + d + "ca.crt -CAkey " + d + "ca.key -CAcreateserial -out " +
          d + "server.crt -days 2 -extfile " + d + "server.ext",
      "mosquitto_passwd -b -c " + d + "passwords '" + user + "' '" + password + "'",
      "chmod 0644 " + d + "server.key " + d + "passwords",
  };
  for (const std::string& step : steps) {
    if (std::system((step + " >>" + d + "tools.log 2>&1").c_str()) != 0) {
      std::ifstream in(d + "tools.log");
      std::stringstream log;
      log << in.rdbuf();
      *error = "failed: " + step + "\n" + log.str();
      return false;
    }
  }
  do securePort_ = FreePort();
  while (securePort_ == port_);
  return securePort_ != 0;
}

TestBroker::~TestBroker() {
  Stop();
  std::error_code ignored;
  if (!dir_.empty()) fs::remove_all(dir_, ignored);
}

bool TestBroker::Start(std::string* error) {
  const std::string program = BrokerProgram();
  if (program.empty() || dir_.empty() || port_ == 0) {
    *error = "no mosquitto program, temporary folder or free port";
    return false;
  }
  WriteConfig();
  const std::string config = dir_ + "/mosquitto.conf";
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives a test that crashed
    ::execl(program.c_str(), program.c_str(), "-c", config.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
  while (SteadyClock::now() < deadline) {
    if (Accepts(port_) && (securePort_ == 0 || Accepts(securePort_))) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      *error = "the broker ended at once:\n" + Log();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *error = "the broker did not accept connections within 10 s:\n" + Log();
  return false;
}

void TestBroker::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string TestBroker::Log() const {
  std::ifstream in(dir_ + "/mosquitto.log");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TestSubscriber::TestSubscriber(int port, std::string filter, std::string clientId, bool keepSession)
    : port_(port), filter_(std::move(filter)) {
  mosquitto_lib_init();
  client_ = mosquitto_new(clientId.c_str(), !keepSession, this);
  mosquitto_connect_callback_set(client_, &TestSubscriber::OnConnect);
  mosquitto_subscribe_callback_set(client_, &TestSubscriber::OnSubscribe);
  mosquitto_message_callback_set(client_, &TestSubscriber::OnMessage);
  mosquitto_reconnect_delay_set(client_, 1, 1, false);
}

TestSubscriber::~TestSubscriber() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, true);
  mosquitto_destroy(client_);
}

bool TestSubscriber::Start(int timeoutMs) {
  mosquitto_connect_async(client_, "127.0.0.1", port_, 30);
  mosquitto_loop_start(client_);
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return subscribed_; });
}

void TestSubscriber::OnConnect(struct mosquitto* client, void* self, int rc) {
  auto* s = static_cast<TestSubscriber*>(self);
  if (rc == 0) mosquitto_subscribe(client, nullptr, s->filter_.c_str(), 1);
}

void TestSubscriber::OnSubscribe(struct mosquitto*, void* self, int, int, const int*) {
  auto* s = static_cast<TestSubscriber*>(self);
  std::lock_guard lock(s->mutex_);
  s->subscribed_ = true;
  ++s->subscriptions_;
  s->changed_.notify_all();
}

void TestSubscriber::OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* m) {
  auto* s = static_cast<TestSubscriber*>(self);
  std::lock_guard lock(s->mutex_);
  s->messages_.push_back(
      {m->topic, std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
       m->retain});
  s->changed_.notify_all();
}

bool TestSubscriber::WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done, int timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return done(messages_); });
}

bool TestSubscriber::Flush(int timeoutMs) {
  int before;
  {
    std::lock_guard lock(mutex_);
    before = subscriptions_;
  }
  if (mosquitto_subscribe(client_, nullptr, "pelvaron-test/flush", 0) != MOSQ_ERR_SUCCESS) return false;
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return subscriptions_ > before; });
}

std::vector<ReceivedMessage> TestSubscriber::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

bool PublishRetained(int port, const std::string& topic, const std::string& payload) {
  return PublishOnce(port, topic, payload, true);
}

bool PublishOnce(int port, const std::string& topic, const std::string& payload, bool retain) {
  mosquitto_lib_init();
  struct mosquitto* client = mosquitto_new(nullptr, true, nullptr);
  if (client == nullptr) return false;
  bool done = false;
  mosquitto_user_data_set(client, &done);
  mosquitto_publish_callback_set(client, [](struct mosquitto*, void* flag, int) { *static_cast<bool*>(flag) = true; });
  bool ok = mosquitto_connect(client, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS &&
            mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain) ==
                MOSQ_ERR_SUCCESS;
  const auto until = SteadyClock::now() + std::chrono::seconds(10);
  while (ok && !done && SteadyClock::now() < until) ok = mosquitto_loop(client, 100, 1) == MOSQ_ERR_SUCCESS;
  mosquitto_disconnect(client);
  mosquitto_destroy(client);
  return ok && done;
}

std::vector<std::string> PayloadsOn(const std::vector<ReceivedMessage>& messages, const std::string& topic) {
  std::vector<std::string> payloads;
  for (const ReceivedMessage& m : messages) {
    if (m.topic == topic) payloads.push_back(m.payload);
  }
  return payloads;
}

std::vector<std::string> TestSubscriber::On(const std::string& topic) const {
  std::lock_guard lock(mutex_);
  return PayloadsOn(messages_, topic);
}

}  // namespace pelvaron::testing
