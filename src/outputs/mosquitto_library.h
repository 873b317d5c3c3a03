#pragma once

#include <string>

#include "core/result.h"

struct mosquitto;

namespace pelvaron {

// A received message, laid out as the library's struct mosquitto_message.
struct MosquittoMessage {
  int mid;
  char* topic;
  void* payload;
  int payloadlen;
  int qos;
  bool retain;
};

// The functions of the MQTT client library (libmosquitto.so.1 from Debian),
// found at run time: only a console asked to use a broker maps it and the
// TLS libraries it brings.
struct MosquittoLibrary {
  using Callback = void (*)(struct mosquitto*, void*, int);
  using MessageCallback = void (*)(struct mosquitto*, void*, const MosquittoMessage*);

  int (*lib_init)();
  struct mosquitto* (*create)(const char* id, bool cleanSession, void* userdata);
  void (*destroy)(struct mosquitto*);
  int (*will_set)(struct mosquitto*, const char* topic, int payloadlen, const void* payload, int qos, bool retain);
  int (*username_pw_set)(struct mosquitto*, const char* username, const char* password);
  int (*tls_set)(struct mosquitto*, const char* cafile, const char* capath, const char* certfile,
                 const char* keyfile, int (*pw_callback)(char* buf, int size, int rwflag, void* userdata));
  int (*int_option)(struct mosquitto*, int option, int value);
  int (*connect_async)(struct mosquitto*, const char* host, int port, int keepalive);
  int (*disconnect)(struct mosquitto*);
  int (*publish)(struct mosquitto*, int* mid, const char* topic, int payloadlen, const void* payload, int qos,
                 bool retain);
  int (*socket)(struct mosquitto*);
  bool (*want_write)(struct mosquitto*);
  int (*loop_read)(struct mosquitto*, int maxPackets);
  int (*loop_write)(struct mosquitto*, int maxPackets);
  int (*loop_misc)(struct mosquitto*);
  void (*connect_callback_set)(struct mosquitto*, Callback);
  void (*disconnect_callback_set)(struct mosquitto*, Callback);
  void (*publish_callback_set)(struct mosquitto*, Callback);
  int (*subscribe)(struct mosquitto*, int* mid, const char* pattern, int qos);
  void (*message_callback_set)(struct mosquitto*, MessageCallback);
  const char* (*strerror)(int code);
  const char* (*connack_string)(int code);
  using SubscribeCallback = void (*)(struct mosquitto*, void*, int mid, int count, const int* grantedQos);
  void (*subscribe_callback_set)(struct mosquitto*, SubscribeCallback);
  // With the CONNACK's flags (1: the broker kept the session); may be
  // missing from an old library (nullptr).
  using FlagsCallback = void (*)(struct mosquitto*, void*, int rc, int flags);
  void (*connect_with_flags_callback_set)(struct mosquitto*, FlagsCallback) = nullptr;

  // Loads the library (and initialises it) once it is there: a library
  // missing now is looked for again at the next call. name: the library's
  // file, for tests.
  static Result<const MosquittoLibrary*> Load(const char* name = kName);
  static constexpr const char* kName = "libmosquitto.so.1";

  // The library's result codes this program looks at.
  static constexpr int kSuccess = 0;
  static constexpr int kErrno = 14;
  static constexpr int kTls = 8;
  static constexpr int kOptionTcpNoDelay = 11;
};

}  // namespace pelvaron
