// CJsonValue: one node of the wide JSON documents that carry the pipe
// messages. Numbers, strings and booleans carry the platform's variant type
// code next to their payload; objects remember the order in which their
// members were first added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modules/json_parse_error.h"
#include "modules/json_reader.h"
#include "modules/json_writer.h"
#include "osal/ka_string.h"

namespace wardex {

using KaOSAL::KaString;

enum class JsonKind : int {
  kUndefined = -1,
  kNull = 0,
  kString = 1,
  kNumber = 2,
  kBoolean = 3,
  kObject = 4,
  kArray = 5,
};

// The platform's variant type numbering.
enum JsonType : uint16_t {
  kJsonTypeEmpty = 0,
  kJsonTypeInt16 = 2,
  kJsonTypeInt32 = 3,
  kJsonTypeFloat = 4,
  kJsonTypeDouble = 5,
  kJsonTypeDate = 7,  // a double: days since 30 December 1899
  kJsonTypeString = 8,
  kJsonTypeBoolean = 11,
  kJsonTypeDecimal = 14,  // held and written like a double
  kJsonTypeInt8 = 16,
  kJsonTypeUInt8 = 17,
  kJsonTypeUInt16 = 18,
  kJsonTypeUInt32 = 19,
  kJsonTypeInt64 = 20,
  kJsonTypeUInt64 = 21,
};

class CJsonValue;

// Ordinal order of the UTF-16 code units, case-sensitive.
struct JsonNameLess {
  bool operator()(const KaString& a, const KaString& b) const;
};

using CJsonMembers = std::map<KaString, CJsonValue, JsonNameLess>;
using CJsonElements = std::vector<CJsonValue>;

class CJsonValue {
 public:
  CJsonValue();  // undefined
  explicit CJsonValue(std::nullptr_t);
  explicit CJsonValue(int32_t value);
  explicit CJsonValue(int64_t value);
  explicit CJsonValue(uint64_t value);
  explicit CJsonValue(double value);
  explicit CJsonValue(bool value);
  explicit CJsonValue(const KaString& value);
  explicit CJsonValue(const char16_t* value);
  explicit CJsonValue(const CJsonElements& elements);
  // An object without recorded insertion order: written in name order.
  explicit CJsonValue(const CJsonMembers& members);
  // A number with an explicit type code: an integer code keeps |value|
  // (unsigned codes reinterpret its bits); float, double, date and decimal
  // codes take |real|.
  static CJsonValue Integer(int64_t value, JsonType type);
  static CJsonValue Real(double real, JsonType type);
  static CJsonValue Object();
  static CJsonValue Array();

  CJsonValue(const CJsonValue& other);
  CJsonValue(CJsonValue&& other) noexcept;
  CJsonValue& operator=(const CJsonValue& other);
  CJsonValue& operator=(CJsonValue&& other) noexcept;
  ~CJsonValue();

  JsonKind GetKind() const { return kind_; }
  JsonType GetType() const { return type_; }
  bool IsObject() const { return kind_ == JsonKind::kObject; }
  bool IsArray() const { return kind_ == JsonKind::kArray; }
  bool IsInteger() const;
  bool IsUnsignedInteger() const;

  // Typed reads: empty when the value is of another kind or does not fit.
  std::optional<int64_t> GetInt64() const;
  std::optional<uint64_t> GetUInt64() const;
  std::optional<double> GetDouble() const;  // any number
  std::optional<bool> GetBool() const;
  std::optional<KaString> GetString() const;
  // The raw payload, whatever the type code says; for the writer.
  int64_t RawInteger() const { return integer_; }
  double RawReal() const { return real_; }
  const KaString& RawString() const { return string_; }

  // Members. Lookup for writing turns a value that is not an object into an
  // empty object and creates a missing member, undefined, at the end of the
  // insertion order; assigning to an existing name keeps its place.
  CJsonValue& operator[](const KaString& name);
  const CJsonValue* Find(const KaString& name) const;
  // Sets a member and returns it; the reader's way of adding what it read.
  CJsonValue& SetMember(const KaString& name, CJsonValue value);
  bool HasInsertionOrder() const;
  const std::vector<KaString>& MemberOrder() const;
  const CJsonMembers& Members() const;

  // Elements. Appending turns a value that is not an array into an empty array.
  CJsonValue& Append(CJsonValue value);
  const CJsonElements& Elements() const;

  // Members of an object or elements of an array; 0 for anything else.
  size_t Size() const;

  // Replaces this value with the document in |text|; on failure the value
  // holds what was built so far and |error| the first error.
  bool Parse(const KaString& text, uint32_t flags, CJsonParseError* error = nullptr);
  bool Parse(std::u16string_view text, uint32_t flags, CJsonParseError* error = nullptr);

  // Replaces |out| with the text of this value.
  void Write(KaString& out, uint32_t flags = 0, const CJsonWriteOptions* options = nullptr) const;
  void Write(std::u16string& out, uint32_t flags = 0,
             const CJsonWriteOptions* options = nullptr) const;

 private:
  struct Container;

  CJsonValue(JsonKind kind, JsonType type);
  Container& MakeContainer(JsonKind kind);

  JsonKind kind_ = JsonKind::kUndefined;
  JsonType type_ = kJsonTypeEmpty;
  bool boolean_ = false;
  int64_t integer_ = 0;
  double real_ = 0.0;
  KaString string_;
  std::unique_ptr<Container> container_;  // objects and arrays only
};

}  // namespace wardex
