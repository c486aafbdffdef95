#include "console_protocol.h"

#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

namespace wardex::console {
namespace {

// The wire type of each ConsoleMessage alternative, in the variant's order.
// 3, 5, 66 and 67 were the notifications', which the agent now shows itself.
constexpr std::array<uint8_t, std::variant_size_v<ConsoleMessage>> kWireTypes = {
    1, 2, 4, 6, 7, 8, 64, 65, 68, 69, 70};

class Writer {
 public:
  explicit Writer(std::string* out) : out_(out) {}
  void operator()(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out_->push_back(static_cast<char>(value >> shift));
  }
  void operator()(int32_t value) { (*this)(static_cast<uint32_t>(value)); }
  void operator()(uint8_t value) { out_->push_back(static_cast<char>(value)); }
  void operator()(bool value) { (*this)(static_cast<uint8_t>(value ? 1 : 0)); }
  void operator()(const std::string& text) {
    (*this)(static_cast<uint32_t>(text.size()));
    out_->append(text);
  }
  template <class T>
  void List(std::vector<T>& items, uint32_t) {
    (*this)(static_cast<uint32_t>(items.size()));
    for (T& item : items) Element(*this, item);
  }

 private:
  std::string* out_;
};

// Reads fields in order; after the first failure every read is a no-op.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  bool ok() const { return ok_; }
  bool Finished() const { return ok_ && data_.empty(); }

  void operator()(uint32_t& value) {
    if (!Take(4)) return;
    value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(taken_[i]);
  }
  void operator()(int32_t& value) {
    uint32_t raw = 0;
    (*this)(raw);
    value = static_cast<int32_t>(raw);
  }
  void operator()(uint8_t& value) {
    if (Take(1)) value = static_cast<uint8_t>(taken_[0]);
  }
  void operator()(bool& value) {
    uint8_t raw = 0;
    (*this)(raw);
    if (raw > 1) ok_ = false;
    value = raw == 1;
  }
  void operator()(std::string& text) {
    uint32_t size = 0;
    (*this)(size);
    if (ok_ && size > kMaxTextBytes) ok_ = false;
    if (Take(size)) text.assign(taken_);
  }
  template <class T>
  void List(std::vector<T>& items, uint32_t max) {
    uint32_t count = 0;
    (*this)(count);
    if (!ok_ || count > max) {
      ok_ = false;
      return;
    }
    items.resize(count);
    for (T& item : items) Element(*this, item);
  }

 private:
  bool Take(size_t size) {
    if (!ok_ || data_.size() < size) {
      ok_ = false;
      return false;
    }
    taken_ = data_.substr(0, size);
    data_.remove_prefix(size);
    return true;
  }

  std::string_view data_;
  std::string_view taken_;
  bool ok_ = true;
};

// One field list per message, read and written by the same function.
template <class Io>
void Fields(Io& io, Ping& m) {
  io(m.serial);
}
template <class Io>
void Fields(Io& io, Pong& m) {
  io(m.serial);
}
template <class Io>
void Fields(Io& io, DialogButton& m) {
  io(m.title);
  io(m.value);
}
template <class Io>
void Fields(Io& io, DialogCheckBox& m) {
  io(m.title);
  io(m.checked);
}
template <class Io>
void Fields(Io& io, ShowDialogMessage& m) {
  io(m.id);
  io(m.header);
  io(m.message);
  io(m.caption_style);
  io(m.message_style);
  io(m.icon);
  io(m.show_time_ms);
  io.List(m.buttons, kMaxDialogButtons);
  io.List(m.check_boxes, kMaxDialogCheckBoxes);
}
template <class Io>
void Fields(Io& io, TextEntry& m) {
  io(m.key);
  io(m.value);
}
template <class Io>
void Fields(Io& io, SetTexts& m) {
  io(m.product_name);
  io.List(m.texts, kMaxTextEntries);
}
template <class Io>
void Fields(Io& io, ModuleEntry& m) {
  io(m.name);
  io(m.signer);
}
template <class Io>
void Fields(Io& io, ShowInfoMessage& m) {
  io(m.product_name);
  io(m.edition);
  io(m.version);
  io(m.computer_id);
  io(m.log_file);
  io.List(m.modules, kMaxListEntries);
  io.List(m.about, kMaxListEntries);
}
template <class Io>
void Fields(Io& io, LanguageEntry& m) {
  io(m.code);
  io(m.name);
}
template <class Io>
void Fields(Io& io, ShowSettingsMessage& m) {
  io(m.language);
  io.List(m.languages, kMaxListEntries);
  io(m.start_at_logon);
  io(m.news);
}
template <class Io>
void Fields(Io& io, ViewRowData& m) {
  io(m.label);
  io(m.value);
  io(m.progress);
}
template <class Io>
void Fields(Io& io, ViewButtonData& m) {
  io(m.id);
  io(m.title);
  io(m.enabled);
}
template <class Io>
void Fields(Io& io, MenuEntry& m) {
  io(m.command);
  io(m.title);
  io(m.enabled);
}
template <class Io>
void Fields(Io& io, ShowViewMessage& m) {
  io(m.view_id);
  io(m.title);
  io.List(m.rows, kMaxListEntries);
  io.List(m.buttons, kMaxDialogButtons);
  io.List(m.menu, kMaxDialogButtons);
}
template <class Io>
void Fields(Io& io, SettingsChosen& m) {
  io(m.language);
  io(m.start_at_logon);
  io(m.news);
}
template <class Io>
void Fields(Io& io, ViewButtonPressed& m) {
  io(m.view_id);
  io(m.button_id);
}
template <class Io>
void Fields(Io& io, MenuCommandChosen& m) {
  io(m.command);
}
template <class Io>
void Fields(Io& io, DialogAnswer& m) {
  io(m.id);
  io(m.button);
  io.List(m.checked, kMaxDialogCheckBoxes);
}

template <class Io, class T>
void Element(Io& io, T& item) {
  if constexpr (std::is_arithmetic_v<T> || std::is_same_v<T, std::string>) {
    io(item);
  } else {
    Fields(io, item);
  }
}

// Decodes alternative |index| of ConsoleMessage from |reader|.
template <size_t I = 0>
bool DecodeAlternative(size_t index, Reader& reader, ConsoleMessage* out) {
  if constexpr (I < std::variant_size_v<ConsoleMessage>) {
    if (index != I) return DecodeAlternative<I + 1>(index, reader, out);
    std::variant_alternative_t<I, ConsoleMessage> message;
    Fields(reader, message);
    if (!reader.Finished()) return false;
    *out = std::move(message);
    return true;
  } else {
    return false;
  }
}

uint32_t ReadLength(const char* bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[i]);
  return value;
}

}  // namespace

std::string EncodeFrame(const ConsoleMessage& message) {
  std::string frame(4, '\0');
  Writer writer(&frame);
  writer(kWireTypes[message.index()]);
  // The writer only reads; Fields takes the message by reference for the reader's sake.
  std::visit(
      [&writer](const auto& m) { Fields(writer, const_cast<std::decay_t<decltype(m)>&>(m)); },
      message);
  const auto length = static_cast<uint32_t>(frame.size() - 4);
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>(length >> (8 * i));
  return frame;
}

bool DecodePayload(std::string_view payload, ConsoleMessage* message) {
  if (payload.empty() || payload.size() > kMaxFrameBytes) return false;
  const auto type = static_cast<uint8_t>(payload[0]);
  for (size_t index = 0; index < kWireTypes.size(); ++index) {
    if (kWireTypes[index] != type) continue;
    Reader reader(payload.substr(1));
    return DecodeAlternative(index, reader, message);
  }
  return false;
}

std::string FitText(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return std::string(text);
  size_t end = max_bytes;
  // Step back over continuation bytes to the start of the cut sequence.
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end));
}

void FrameReader::Append(const char* data, size_t size) {
  if (consumed_ > 0 && consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  }
  buffer_.append(data, size);
}

FrameReader::Status FrameReader::Next(ConsoleMessage* message) {
  if (broken_) return Status::kMalformed;
  const size_t available = buffer_.size() - consumed_;
  if (available < 4) return Status::kNeedMore;
  const uint32_t length = ReadLength(buffer_.data() + consumed_);
  if (length == 0 || length > kMaxFrameBytes) {
    broken_ = true;
    return Status::kMalformed;
  }
  if (available - 4 < length) return Status::kNeedMore;
  const std::string_view payload(buffer_.data() + consumed_ + 4, length);
  consumed_ += 4 + length;
  if (!DecodePayload(payload, message)) {
    broken_ = true;
    return Status::kMalformed;
  }
  // Keep the buffer from growing with what was already handed out.
  if (consumed_ > kMaxFrameBytes) {
    buffer_.erase(0, consumed_);
    consumed_ = 0;
  }
  return Status::kMessage;
}

}  // namespace wardex::console
