// SimpleXMLElement: the small XML element tree of the news feed service's
// requests and answers and of data.xml, with its own writer (ToXml) and
// reader (the answer-text constructor). Names, values and attribute values
// are kept in the stored form of xml_text.h. Every operation holds the
// element's own lock; a tree is not locked as a whole.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "osal/ka_string.h"

namespace wardex {

class SimpleXMLElement {
 public:
  SimpleXMLElement();
  // Parses an answer text (see simple_xml_reader.h); text without a closing
  // tag gives an element without content.
  explicit SimpleXMLElement(std::string_view answer_text);
  ~SimpleXMLElement();
  SimpleXMLElement(const SimpleXMLElement&) = delete;
  SimpleXMLElement& operator=(const SimpleXMLElement&) = delete;

  // A deep copy (name, value, numeric views, attributes, children).
  [[nodiscard]] std::unique_ptr<SimpleXMLElement> Clone() const;

  // The text: with an empty |indent| the declaration line comes first. The
  // writing stops soon after the text exceeds |max_bytes|, and the text is
  // then cut to that length, so that a part of a huge tree costs little.
  [[nodiscard]] std::string ToXml(const std::string& indent = std::string(),
                                  size_t max_bytes = SIZE_MAX) const;

  void SetName(const KaOSAL::KaString& name);
  [[nodiscard]] KaOSAL::KaString GetName() const;

  // Stores the stored form and sets the numeric views from |value|.
  void SetValue(const KaOSAL::KaString& value);
  // Stores the decimal form ("%I64d").
  void SetValue(int64_t value);
  [[nodiscard]] KaOSAL::KaString GetValue() const;
  [[nodiscard]] int GetIntValue() const;
  [[nodiscard]] int64_t GetInt64Value() const;
  [[nodiscard]] double GetDoubleValue() const;

  // The first child whose name equals |name| ignoring (ASCII) case, or null.
  // The last name found and its position are remembered and answer a later
  // question for the same name without a search.
  [[nodiscard]] SimpleXMLElement* FindChild(const KaOSAL::KaString& name);
  // The child named |name|, added when there is none.
  SimpleXMLElement* FindOrAddChild(const KaOSAL::KaString& name);
  // Appends a new child named |name| and returns it.
  SimpleXMLElement* AddChild(const KaOSAL::KaString& name);
  // Appends |child| and returns it.
  SimpleXMLElement* AddChild(std::unique_ptr<SimpleXMLElement> child);
  // Sets the value of the child named |name|, added when there is none.
  SimpleXMLElement* SetChildValue(const KaOSAL::KaString& name, const KaOSAL::KaString& value);
  // The value of the child named |name|, or empty when there is none.
  [[nodiscard]] KaOSAL::KaString GetChildValue(const KaOSAL::KaString& name);
  // Removes (and releases) the first child named |name|; false when none.
  bool RemoveChild(const KaOSAL::KaString& name);
  void RemoveAllChildren();
  [[nodiscard]] int GetChildCount() const;
  // The child at |index|, or null when out of range.
  [[nodiscard]] SimpleXMLElement* GetChild(int index) const;

  // The value of the attribute named |name| (case-sensitive), or empty.
  [[nodiscard]] KaOSAL::KaString GetAttribute(const KaOSAL::KaString& name) const;
  // Replaces the attribute's value, or appends the attribute.
  void SetAttribute(const KaOSAL::KaString& name, const KaOSAL::KaString& value);
  [[nodiscard]] int GetAttributeCount() const;

  // True when the element has a value, a child or an attribute.
  [[nodiscard]] bool HasContent() const;

  // Reads and parses the whole file into this element (its earlier content
  // is replaced); a file that cannot be read whole leaves the element as it
  // was. True when the element then has content.
  bool LoadFromFile(const KaOSAL::KaString& path);
  // Replaces the file by ToXml() atomically and durably; false with the
  // last error set when it could not be written.
  bool SaveToFile(const KaOSAL::KaString& path) const;

  // The reader's entry points: stored-form parts as found in the text.
  void SetStoredName(std::string_view name);
  void SetStoredValue(std::string_view value);
  void AddStoredAttribute(std::string_view name, std::string_view value);
  // Empties name (to the default), value, views, attributes and children.
  void Clear();

 private:
  // Sets the numeric views from the start of a UTF-8 text.
  void SetNumericViews(std::string_view text);
  // The index of the first child named |stored_name| (ASCII case ignored), or -1.
  int FindChildIndex(const std::string& stored_name) const;
  void AppendXml(std::string& out, const std::string& indent, size_t max_bytes) const;

  std::vector<std::pair<std::string, std::string>> attributes_;
  std::vector<std::unique_ptr<SimpleXMLElement>> children_;
  std::string name_;
  std::string value_;
  int32_t int_value_ = 0;
  int64_t int64_value_ = 0;
  double double_value_ = 0;
  KaOSAL::KaString last_child_name_;
  int32_t last_child_position_ = 0;
  mutable std::recursive_mutex lock_;
};

}  // namespace wardex
