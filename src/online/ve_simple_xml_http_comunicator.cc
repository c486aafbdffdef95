#include "online/ve_simple_xml_http_comunicator.h"

namespace wardex {

CVeSimpleXMLHTTPComunicator::CVeSimpleXMLHTTPComunicator() {
  SetContentTypes(u"text/xml; charset=utf-8", u"");
}

std::unique_ptr<SimpleXMLElement> CVeSimpleXMLHTTPComunicator::RequestXML(
    const KaOSAL::KaString& url, const SimpleXMLElement& request, uint16_t port,
    const KaOSAL::KaString& /*cache_name*/, int /*cache_age_days*/) {
  const std::string answer = HttpPost(url, request.ToXml(), -1, port);
  return std::make_unique<SimpleXMLElement>(answer);
}

}  // namespace wardex
