// The JSON of a decoded receiver frame (AppendMessageJson), from the same
// inputs as fuzz_frame: the first ten bytes decoded with the sum put right
// and then as they came (DecodeFrameBothWays).
//
// One line without a raw control character, valid JSON (strictly: UTF-8,
// escapes, no duplicate key, nothing after the object) that reads back to the
// value it came from: kind, sum_ok, every line, the stamped line, the radio
// records. The value itself is fuzz_frame's.

#include <string>
#include <string_view>
#include <vector>

#include "decode/decoded_message.h"
#include "decode/message_json.h"
#include "fuzz_support.h"
#include "support/strict_json.h"

using namespace pelvaron;

namespace {

using Json = testing::Json;

// Reads the message's JSON in one pass without building a tree (an execution
// has no time for one): nlohmann checks the text as it reads (UTF-8, escapes,
// nothing after the object), the keys of each object are checked for
// duplicates here and the members against the value. One reader serves every
// execution, so that its buffers need not grow again.
class FrameJsonCheck {
 public:
  using string_t = Json::string_t;

  void Start(const DecodedMessage& m) {
    m_ = &m;
    open_.clear();
    keyCount_ = 0;
    top_.clear();
    lines_ = 0;
    records_ = 0;
    stamped_ = false;
  }
  std::size_t lines() const { return lines_; }
  std::size_t records() const { return records_; }
  bool stamped() const { return stamped_; }

  bool null() { return Value(Is::Null); }
  bool boolean(bool b) { return Value(b ? Is::True : Is::False); }
  bool number_integer(Json::number_integer_t n) { return Value(n == 1 ? Is::One : Is::Number); }
  bool number_unsigned(Json::number_unsigned_t n) { return Value(n == 1 ? Is::One : Is::Number); }
  bool number_float(Json::number_float_t, const string_t&) { return Value(Is::Number); }
  bool string(string_t& text) { return Value(Is::String, text); }
  bool binary(Json::binary_t&) { return false; }
  bool start_object(std::size_t) {
    Value(Is::Object);
    open_.push_back({true, keyCount_});
    return true;
  }
  bool key(string_t& key) {
    for (std::size_t i = open_.back().firstKey; i < keyCount_; ++i) {
      FUZZ_CHECK(!fuzz::SameBytes(keys_[i], key));
    }
    if (keyCount_ == keys_.size()) keys_.emplace_back();
    keys_[keyCount_++].assign(key);
    if (open_.size() == 1) top_.assign(key);
    return true;
  }
  bool end_object() {
    keyCount_ = open_.back().firstKey;
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    Value(Is::Array);
    open_.push_back({false, keyCount_});
    return true;
  }
  bool end_array() {
    open_.pop_back();
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    const bool validJson = false;
    FUZZ_CHECK(validJson);
    return false;
  }

 private:
  enum class Is { Null, True, False, One, Number, String, Object, Array };
  struct Open {
    bool object;
    std::size_t firstKey;  // in keys_
  };

  // A value where the reader stands, checked by where it is.
  bool Value(Is is, std::string_view text = {}) {
    if (open_.empty()) {
      FUZZ_CHECK(is == Is::Object);
    } else if (open_.size() == 1) {
      if (fuzz::SameBytes(top_, "kind")) {
        FUZZ_CHECK(is == Is::String && fuzz::SameBytes(text, MessageKindName(m_->kind)));
      } else if (fuzz::SameBytes(top_, "sum_ok")) {
        FUZZ_CHECK(is == (m_->sumOk ? Is::True : Is::False));
      } else if (fuzz::SameBytes(top_, "stamped_line")) {
        FUZZ_CHECK(is == (m_->lines.empty() ? Is::Null : Is::One));
        stamped_ = true;
      } else if (fuzz::SameBytes(top_, "lines") || fuzz::SameBytes(top_, "radio")) {
        FUZZ_CHECK(is == Is::Array);
      }
    } else if (open_.size() == 2 && !open_[1].object) {
      if (fuzz::SameBytes(top_, "lines")) {
        // Each line read back equal to its line.
        FUZZ_CHECK(is == Is::String && lines_ < m_->lines.size() && fuzz::SameBytes(text, m_->lines[lines_]));
        ++lines_;
      } else if (fuzz::SameBytes(top_, "radio")) {
        ++records_;
      }
    }
    return true;
  }

  const DecodedMessage* m_ = nullptr;
  std::vector<Open> open_;
  // The keys of the objects open, each object's from its firstKey; the
  // strings past keyCount_ are kept for their room.
  std::vector<std::string> keys_;
  std::size_t keyCount_ = 0;
  std::string top_;  // the outer object's member being read
  std::size_t lines_ = 0;
  std::size_t records_ = 0;
  bool stamped_ = false;
};

void CheckJson(const DecodedMessage& m, const std::string& json) {
  FUZZ_CHECK(fuzz::NoRawControl(json));
  static FrameJsonCheck check;
  check.Start(m);
  FUZZ_CHECK(Json::sax_parse(json, &check));
  FUZZ_CHECK(check.stamped());
  FUZZ_CHECK(check.lines() == m.lines.size());
  FUZZ_CHECK(check.records() == m.radioCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::DecodeFrameBothWays(data, size, [](const std::uint8_t* /*frame*/, const DecodedMessage& message) {
    static std::string json;
    json.clear();
    AppendMessageJson(json, message);
    CheckJson(message, json);
  });
  return 0;
}
