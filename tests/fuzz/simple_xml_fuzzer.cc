// Answers as a service or a damaged data.xml may hold them: any bytes must
// parse without fault, the result must write and read again under the same
// name, and any text must survive the stored form (unless it holds the
// line-break mark itself, which the form cannot tell from a line feed).
#include "fuzz_input.h"
#include "online/simple_xml_element.h"
#include "online/xml_text.h"
#include "osal/wide_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = wardex::fuzz::Bytes(data, size);
  wardex::SimpleXMLElement element(text);
  const std::string written = element.ToXml();
  wardex::SimpleXMLElement again(written);
  wardex::fuzz::Require(again.GetName() == element.GetName());
  (void)again.ToXml();

  const std::u16string wide = KaOSAL::FromUtf8(text.data(), text.size());
  if (wide.find(u"#_#lbr#_#") == std::u16string::npos && wide.find(u'\0') == std::u16string::npos) {
    const KaOSAL::KaString original(wide.c_str(), static_cast<int>(wide.size()));
    wardex::fuzz::Require(wardex::FromXmlStoredForm(wardex::ToXmlStoredForm(original)) == original);
  }
  return 0;
}
