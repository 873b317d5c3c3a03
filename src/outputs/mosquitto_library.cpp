#include "outputs/mosquitto_library.h"

#include <dlfcn.h>

#include <cstddef>

#include <map>
#include <mutex>
#include <type_traits>

#if __has_include(<mosquitto.h>)
#include <mosquitto.h>
#define PELVARON_CHECK_MOSQUITTO_TYPES 1
#endif

namespace pelvaron {

#ifdef PELVARON_CHECK_MOSQUITTO_TYPES
// The pointers match the library's own declarations, where its header is here.
static_assert(std::is_same_v<decltype(MosquittoLibrary::create), decltype(&::mosquitto_new)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::publish), decltype(&::mosquitto_publish)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::will_set), decltype(&::mosquitto_will_set)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::tls_set), decltype(&::mosquitto_tls_set)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::connect_async), decltype(&::mosquitto_connect_async)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::want_write), decltype(&::mosquitto_want_write)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::loop_read), decltype(&::mosquitto_loop_read)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::strerror), decltype(&::mosquitto_strerror)>);
static_assert(MosquittoLibrary::kSuccess == MOSQ_ERR_SUCCESS && MosquittoLibrary::kErrno == MOSQ_ERR_ERRNO &&
              MosquittoLibrary::kTls == MOSQ_ERR_TLS);
static_assert(MosquittoLibrary::kOptionTcpNoDelay == MOSQ_OPT_TCP_NODELAY);
static_assert(std::is_same_v<decltype(MosquittoLibrary::subscribe), decltype(&::mosquitto_subscribe)>);
static_assert(std::is_same_v<decltype(MosquittoLibrary::subscribe_callback_set),
                             decltype(&::mosquitto_subscribe_callback_set)>);
static_assert(sizeof(MosquittoMessage) == sizeof(mosquitto_message) &&
              offsetof(MosquittoMessage, topic) == offsetof(mosquitto_message, topic) &&
              offsetof(MosquittoMessage, payload) == offsetof(mosquitto_message, payload) &&
              offsetof(MosquittoMessage, payloadlen) == offsetof(mosquitto_message, payloadlen) &&
              offsetof(MosquittoMessage, retain) == offsetof(mosquitto_message, retain));
#endif

namespace {

template <class F>
bool Find(void* handle, const char* name, F& function, std::string& missing) {
  function = reinterpret_cast<F>(::dlsym(handle, name));
  if (function == nullptr && missing.empty()) missing = name;
  return function != nullptr;
}

}  // namespace

Result<const MosquittoLibrary*> MosquittoLibrary::Load(const char* name) {
  // One table per library file; loaded ones stay for the life of the process.
  static std::map<std::string, MosquittoLibrary> loaded;
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (auto it = loaded.find(name); it != loaded.end()) return &it->second;
  MosquittoLibrary library{};
  std::string problem;
  [&] {
    void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      problem = std::string("не найдена библиотека MQTT ") + name + " (установите пакет libmosquitto1)";
      return;
    }
    std::string missing;
    MosquittoLibrary& l = library;
    Find(handle, "mosquitto_lib_init", l.lib_init, missing);
    Find(handle, "mosquitto_new", l.create, missing);
    Find(handle, "mosquitto_destroy", l.destroy, missing);
    Find(handle, "mosquitto_will_set", l.will_set, missing);
    Find(handle, "mosquitto_username_pw_set", l.username_pw_set, missing);
    Find(handle, "mosquitto_tls_set", l.tls_set, missing);
    Find(handle, "mosquitto_int_option", l.int_option, missing);
    Find(handle, "mosquitto_connect_async", l.connect_async, missing);
    Find(handle, "mosquitto_disconnect", l.disconnect, missing);
    Find(handle, "mosquitto_publish", l.publish, missing);
    Find(handle, "mosquitto_socket", l.socket, missing);
    Find(handle, "mosquitto_want_write", l.want_write, missing);
    Find(handle, "mosquitto_loop_read", l.loop_read, missing);
    Find(handle, "mosquitto_loop_write", l.loop_write, missing);
    Find(handle, "mosquitto_loop_misc", l.loop_misc, missing);
    Find(handle, "mosquitto_connect_callback_set", l.connect_callback_set, missing);
    Find(handle, "mosquitto_disconnect_callback_set", l.disconnect_callback_set, missing);
    Find(handle, "mosquitto_publish_callback_set", l.publish_callback_set, missing);
    Find(handle, "mosquitto_subscribe", l.subscribe, missing);
    Find(handle, "mosquitto_message_callback_set", l.message_callback_set, missing);
    Find(handle, "mosquitto_strerror", l.strerror, missing);
    Find(handle, "mosquitto_connack_string", l.connack_string, missing);
    Find(handle, "mosquitto_subscribe_callback_set", l.subscribe_callback_set, missing);
    l.connect_with_flags_callback_set = reinterpret_cast<decltype(l.connect_with_flags_callback_set)>(
        ::dlsym(handle, "mosquitto_connect_with_flags_callback_set"));
    if (!missing.empty()) {
      problem = std::string("в библиотеке MQTT ") + name + " нет функции " + missing;
      ::dlclose(handle);
      return;
    }
    l.lib_init();
  }();
  if (!problem.empty()) return Problem{problem};
  return &loaded.emplace(name, library).first->second;
}

}  // namespace pelvaron
