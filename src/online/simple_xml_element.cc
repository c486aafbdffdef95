#include "online/simple_xml_element.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "online/simple_xml_reader.h"
#include "online/xml_text.h"
#include "osal/wide_format.h"
#include "platform/file_system.h"

namespace wardex {
namespace {

using KaOSAL::KaString;
using Lock = std::lock_guard<std::recursive_mutex>;

constexpr char kDefaultName[] = "SimpleXMLElement";
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// data.xml and its kind are small; a larger file is not read.
constexpr size_t kMaxFileBytes = 64u << 20;
// How much of a value the numeric views are read from.
constexpr int kNumberPrefix = 4096;

// Names are compared as the 8-bit runtime compares them: ASCII case only.
bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

}  // namespace

SimpleXMLElement::SimpleXMLElement() : name_(kDefaultName) {}

SimpleXMLElement::SimpleXMLElement(std::string_view answer_text) : SimpleXMLElement() {
  ParseSimpleXml(answer_text, *this);
}

SimpleXMLElement::~SimpleXMLElement() = default;

std::unique_ptr<SimpleXMLElement> SimpleXMLElement::Clone() const {
  Lock lock(lock_);
  auto copy = std::make_unique<SimpleXMLElement>();
  copy->attributes_ = attributes_;
  copy->name_ = name_;
  copy->value_ = value_;
  copy->int_value_ = int_value_;
  copy->int64_value_ = int64_value_;
  copy->double_value_ = double_value_;
  for (const auto& child : children_) copy->children_.push_back(child->Clone());
  return copy;
}

std::string SimpleXMLElement::ToXml(const std::string& indent, size_t max_bytes) const {
  std::string out;
  AppendXml(out, indent, max_bytes);
  if (out.size() > max_bytes) out.resize(max_bytes);
  return out;
}

void SimpleXMLElement::AppendXml(std::string& out, const std::string& indent,
                                 size_t max_bytes) const {
  if (out.size() > max_bytes) return;
  Lock lock(lock_);
  out += indent.empty() ? kDeclaration : indent;
  out += '<';
  out += name_;
  for (const auto& [name, value] : attributes_) {
    out += ' ';
    out += name;
    out += " = \"";
    out += value;
    out += "\" ";
  }
  out += '>';
  if (children_.empty()) {
    out += value_;
  } else {
    out += '\n';
    const std::string child_indent = indent + '\t';
    for (const auto& child : children_) {
      if (out.size() > max_bytes) return;
      child->AppendXml(out, child_indent, max_bytes);
    }
    out += indent;
  }
  out += "</";
  out += name_;
  out += ">\n";
}

void SimpleXMLElement::SetName(const KaString& name) {
  Lock lock(lock_);
  name_ = ToXmlStoredForm(name);
}

KaString SimpleXMLElement::GetName() const {
  Lock lock(lock_);
  return FromXmlStoredForm(name_);
}

void SimpleXMLElement::SetValue(const KaString& value) {
  Lock lock(lock_);
  value_ = ToXmlStoredForm(value);
  const KaString head = value.Left(kNumberPrefix);
  SetNumericViews(KaOSAL::ToUtf8(head.c_str(), static_cast<size_t>(head.GetLength())));
}

void SimpleXMLElement::SetValue(int64_t value) {
  KaString text;
  text.Format(u"%I64d", value);
  SetValue(text);
}

void SimpleXMLElement::SetNumericViews(std::string_view text) {
  // Read as the runtime's narrow parsers read the wide text: a character
  // beyond ASCII, like any byte of its UTF-8 form, ends the number. A long
  // text is not converted whole for it.
  std::string head(text.substr(0, kNumberPrefix));
  const long long value = std::strtoll(head.c_str(), nullptr, 10);
  int_value_ = static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
  int64_value_ = value;
  std::replace(head.begin(), head.end(), ',', '.');
  double_value_ = std::strtod(head.c_str(), nullptr);
}

KaString SimpleXMLElement::GetValue() const {
  Lock lock(lock_);
  return FromXmlStoredForm(value_);
}

int SimpleXMLElement::GetIntValue() const {
  Lock lock(lock_);
  return int_value_;
}

int64_t SimpleXMLElement::GetInt64Value() const {
  Lock lock(lock_);
  return int64_value_;
}

double SimpleXMLElement::GetDoubleValue() const {
  Lock lock(lock_);
  return double_value_;
}

int SimpleXMLElement::FindChildIndex(const std::string& stored_name) const {
  for (size_t i = 0; i < children_.size(); ++i) {
    Lock child_lock(children_[i]->lock_);
    if (SameNameIgnoringCase(children_[i]->name_, stored_name)) return static_cast<int>(i);
  }
  return -1;
}

SimpleXMLElement* SimpleXMLElement::FindChild(const KaString& name) {
  Lock lock(lock_);
  if (!last_child_name_.IsEmpty() && last_child_name_.CompareNoCase(name) == 0) {
    // Removals forget the position (see RemoveChild), so it still names
    // the child found, unless the children were cut below it.
    return last_child_position_ < static_cast<int32_t>(children_.size())
               ? children_[last_child_position_].get()
               : nullptr;
  }
  const int index = FindChildIndex(ToXmlStoredForm(name));
  if (index < 0) return nullptr;
  last_child_name_ = name;
  last_child_position_ = index;
  return children_[index].get();
}

SimpleXMLElement* SimpleXMLElement::FindOrAddChild(const KaString& name) {
  Lock lock(lock_);
  SimpleXMLElement* child = FindChild(name);
  return child != nullptr ? child : AddChild(name);
}

SimpleXMLElement* SimpleXMLElement::AddChild(const KaString& name) {
  auto child = std::make_unique<SimpleXMLElement>();
  child->SetName(name);
  return AddChild(std::move(child));
}

SimpleXMLElement* SimpleXMLElement::AddChild(std::unique_ptr<SimpleXMLElement> child) {
  Lock lock(lock_);
  children_.push_back(std::move(child));
  return children_.back().get();
}

SimpleXMLElement* SimpleXMLElement::SetChildValue(const KaString& name, const KaString& value) {
  Lock lock(lock_);
  SimpleXMLElement* child = FindOrAddChild(name);
  child->SetValue(value);
  return child;
}

KaString SimpleXMLElement::GetChildValue(const KaString& name) {
  Lock lock(lock_);
  const SimpleXMLElement* child = FindChild(name);
  return child != nullptr ? child->GetValue() : KaString();
}

bool SimpleXMLElement::RemoveChild(const KaString& name) {
  Lock lock(lock_);
  const int index = FindChildIndex(ToXmlStoredForm(name));
  if (index < 0) return false;
  children_.erase(children_.begin() + index);
  last_child_name_.Empty();
  return true;
}

void SimpleXMLElement::RemoveAllChildren() {
  Lock lock(lock_);
  children_.clear();
  last_child_name_.Empty();
}

int SimpleXMLElement::GetChildCount() const {
  Lock lock(lock_);
  return static_cast<int>(children_.size());
}

SimpleXMLElement* SimpleXMLElement::GetChild(int index) const {
  Lock lock(lock_);
  if (index < 0 || index >= static_cast<int>(children_.size())) return nullptr;
  return children_[index].get();
}

KaString SimpleXMLElement::GetAttribute(const KaString& name) const {
  Lock lock(lock_);
  const std::string stored = ToXmlStoredForm(name);
  for (const auto& [key, value] : attributes_) {
    if (key == stored) return FromXmlStoredForm(value);
  }
  return KaString();
}

void SimpleXMLElement::SetAttribute(const KaString& name, const KaString& value) {
  Lock lock(lock_);
  const std::string stored = ToXmlStoredForm(name);
  for (auto& [key, old_value] : attributes_) {
    if (key == stored) {
      old_value = ToXmlStoredForm(value);
      return;
    }
  }
  attributes_.emplace_back(stored, ToXmlStoredForm(value));
}

int SimpleXMLElement::GetAttributeCount() const {
  Lock lock(lock_);
  return static_cast<int>(attributes_.size());
}

bool SimpleXMLElement::HasContent() const {
  Lock lock(lock_);
  return !value_.empty() || !children_.empty() || !attributes_.empty();
}

bool SimpleXMLElement::LoadFromFile(const KaString& path) {
  std::string text;
  if (!platform::ReadWholeFile(path, kMaxFileBytes, &text)) return false;
  Lock lock(lock_);
  Clear();
  ParseSimpleXml(text, *this);
  return HasContent();
}

bool SimpleXMLElement::SaveToFile(const KaString& path) const {
  return platform::ReplaceFileContent(path, ToXml());
}

void SimpleXMLElement::SetStoredName(std::string_view name) {
  Lock lock(lock_);
  name_ = name;
}

void SimpleXMLElement::SetStoredValue(std::string_view value) {
  Lock lock(lock_);
  value_ = value;
  SetNumericViews(value);
}

void SimpleXMLElement::AddStoredAttribute(std::string_view name, std::string_view value) {
  Lock lock(lock_);
  attributes_.emplace_back(name, value);
}

void SimpleXMLElement::Clear() {
  Lock lock(lock_);
  attributes_.clear();
  children_.clear();
  name_ = kDefaultName;
  value_.clear();
  int_value_ = 0;
  int64_value_ = 0;
  double_value_ = 0;
  last_child_name_.Empty();
  last_child_position_ = 0;
}

}  // namespace wardex
