#include "modules/json_value.h"

#include <limits>
#include <utility>

#include "modules/json_parse_error.h"
#include "modules/json_reader.h"
#include "modules/json_writer.h"

namespace wardex {

struct CJsonValue::Container {
  CJsonMembers members;
  std::vector<KaString> order;  // names by first insertion, when |ordered|
  bool ordered = true;
  CJsonElements elements;
};

namespace {

std::u16string_view View(const KaString& text) {
  return {text.c_str(), static_cast<size_t>(text.GetLength())};
}

bool IsIntegerType(JsonType type) {
  switch (type) {
    case kJsonTypeInt8:
    case kJsonTypeInt16:
    case kJsonTypeInt32:
    case kJsonTypeInt64:
    case kJsonTypeUInt8:
    case kJsonTypeUInt16:
    case kJsonTypeUInt32:
    case kJsonTypeUInt64:
      return true;
    default:
      return false;
  }
}

bool IsUnsignedType(JsonType type) {
  return type == kJsonTypeUInt8 || type == kJsonTypeUInt16 || type == kJsonTypeUInt32 ||
         type == kJsonTypeUInt64;
}

const std::vector<KaString> kNoNames;
const CJsonMembers kNoMembers;
const CJsonElements kNoElements;

}  // namespace

bool JsonNameLess::operator()(const KaString& a, const KaString& b) const {
  return View(a) < View(b);
}

CJsonValue::CJsonValue() = default;

CJsonValue::CJsonValue(JsonKind kind, JsonType type) : kind_(kind), type_(type) {}

CJsonValue::CJsonValue(std::nullptr_t) : kind_(JsonKind::kNull) {}

CJsonValue::CJsonValue(int32_t value) : kind_(JsonKind::kNumber), type_(kJsonTypeInt32) {
  integer_ = value;
}

CJsonValue::CJsonValue(int64_t value) : kind_(JsonKind::kNumber), type_(kJsonTypeInt64) {
  integer_ = value;
}

CJsonValue::CJsonValue(uint64_t value) : kind_(JsonKind::kNumber), type_(kJsonTypeUInt64) {
  integer_ = static_cast<int64_t>(value);
}

CJsonValue::CJsonValue(double value) : kind_(JsonKind::kNumber), type_(kJsonTypeDouble) {
  real_ = value;
}

CJsonValue::CJsonValue(bool value) : kind_(JsonKind::kBoolean), type_(kJsonTypeBoolean) {
  boolean_ = value;
}

CJsonValue::CJsonValue(const KaString& value)
    : kind_(JsonKind::kString), type_(kJsonTypeString), string_(value) {}

CJsonValue::CJsonValue(const char16_t* value) : CJsonValue(KaString(value)) {}

CJsonValue::CJsonValue(const CJsonElements& elements) {
  MakeContainer(JsonKind::kArray).elements = elements;
}

CJsonValue::CJsonValue(const CJsonMembers& members) {
  Container& container = MakeContainer(JsonKind::kObject);
  container.members = members;
  container.ordered = false;
}

CJsonValue CJsonValue::Integer(int64_t value, JsonType type) {
  CJsonValue result(JsonKind::kNumber, type);
  result.integer_ = value;
  return result;
}

CJsonValue CJsonValue::Real(double real, JsonType type) {
  CJsonValue result(JsonKind::kNumber, type);
  result.real_ = real;
  return result;
}

CJsonValue CJsonValue::Object() {
  CJsonValue result;
  result.MakeContainer(JsonKind::kObject);
  return result;
}

CJsonValue CJsonValue::Array() {
  CJsonValue result;
  result.MakeContainer(JsonKind::kArray);
  return result;
}

CJsonValue::CJsonValue(const CJsonValue& other)
    : kind_(other.kind_),
      type_(other.type_),
      boolean_(other.boolean_),
      integer_(other.integer_),
      real_(other.real_),
      string_(other.string_),
      container_(other.container_ ? std::make_unique<Container>(*other.container_) : nullptr) {}

CJsonValue::CJsonValue(CJsonValue&& other) noexcept = default;

CJsonValue& CJsonValue::operator=(const CJsonValue& other) {
  if (this != &other) {
    CJsonValue copy(other);
    *this = std::move(copy);
  }
  return *this;
}

CJsonValue& CJsonValue::operator=(CJsonValue&& other) noexcept = default;

CJsonValue::~CJsonValue() = default;

CJsonValue::Container& CJsonValue::MakeContainer(JsonKind kind) {
  CJsonValue fresh(kind, kJsonTypeEmpty);
  fresh.container_ = std::make_unique<Container>();
  *this = std::move(fresh);
  return *container_;
}

bool CJsonValue::IsInteger() const { return kind_ == JsonKind::kNumber && IsIntegerType(type_); }

bool CJsonValue::IsUnsignedInteger() const {
  return kind_ == JsonKind::kNumber && IsUnsignedType(type_);
}

std::optional<int64_t> CJsonValue::GetInt64() const {
  if (!IsInteger()) return std::nullopt;
  if (IsUnsignedType(type_) && static_cast<uint64_t>(integer_) >
                                   static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    return std::nullopt;
  }
  return integer_;
}

std::optional<uint64_t> CJsonValue::GetUInt64() const {
  if (!IsInteger()) return std::nullopt;
  if (!IsUnsignedType(type_) && integer_ < 0) return std::nullopt;
  return static_cast<uint64_t>(integer_);
}

std::optional<double> CJsonValue::GetDouble() const {
  if (kind_ != JsonKind::kNumber) return std::nullopt;
  if (IsUnsignedType(type_)) return static_cast<double>(static_cast<uint64_t>(integer_));
  if (IsIntegerType(type_)) return static_cast<double>(integer_);
  return real_;
}

std::optional<bool> CJsonValue::GetBool() const {
  if (kind_ != JsonKind::kBoolean) return std::nullopt;
  return boolean_;
}

std::optional<KaString> CJsonValue::GetString() const {
  if (kind_ != JsonKind::kString) return std::nullopt;
  return string_;
}

CJsonValue& CJsonValue::operator[](const KaString& name) {
  if (kind_ != JsonKind::kObject) MakeContainer(JsonKind::kObject);
  auto [it, inserted] = container_->members.try_emplace(name);
  if (inserted && container_->ordered) container_->order.push_back(name);
  return it->second;
}

const CJsonValue* CJsonValue::Find(const KaString& name) const {
  if (kind_ != JsonKind::kObject) return nullptr;
  auto it = container_->members.find(name);
  return it == container_->members.end() ? nullptr : &it->second;
}

CJsonValue& CJsonValue::SetMember(const KaString& name, CJsonValue value) {
  CJsonValue& member = (*this)[name];
  member = std::move(value);
  return member;
}

bool CJsonValue::HasInsertionOrder() const {
  return kind_ == JsonKind::kObject && container_->ordered;
}

const std::vector<KaString>& CJsonValue::MemberOrder() const {
  return kind_ == JsonKind::kObject ? container_->order : kNoNames;
}

const CJsonMembers& CJsonValue::Members() const {
  return kind_ == JsonKind::kObject ? container_->members : kNoMembers;
}

CJsonValue& CJsonValue::Append(CJsonValue value) {
  if (kind_ != JsonKind::kArray) MakeContainer(JsonKind::kArray);
  return container_->elements.emplace_back(std::move(value));
}

const CJsonElements& CJsonValue::Elements() const {
  return kind_ == JsonKind::kArray ? container_->elements : kNoElements;
}

size_t CJsonValue::Size() const {
  if (kind_ == JsonKind::kObject) return container_->members.size();
  if (kind_ == JsonKind::kArray) return container_->elements.size();
  return 0;
}

bool CJsonValue::Parse(const KaString& text, uint32_t flags, CJsonParseError* error) {
  return Parse(View(text), flags, error);
}

bool CJsonValue::Parse(std::u16string_view text, uint32_t flags, CJsonParseError* error) {
  return ReadJson(text, flags, *this, error);
}

void CJsonValue::Write(KaString& out, uint32_t flags, const CJsonWriteOptions* options) const {
  std::u16string text;
  Write(text, flags, options);
  out = KaString(text.data(), static_cast<int>(text.size()));
}

void CJsonValue::Write(std::u16string& out, uint32_t flags,
                       const CJsonWriteOptions* options) const {
  out.clear();
  WriteJson(*this, flags, options ? *options : CJsonWriteOptions{}, out);
}

}  // namespace wardex
