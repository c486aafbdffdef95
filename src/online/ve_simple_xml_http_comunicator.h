// CVeSimpleXMLHTTPComunicator: XML over the HTTP client. A request element
// is written with its declaration line, posted, and the answer read into a
// new element, whatever it holds; GetErrorKind tells whether it is real.
#pragma once

#include <memory>

#include "online/simple_xml_element.h"
#include "online/ve_http_comunicator.h"

namespace wardex {

class CVeSimpleXMLHTTPComunicator : public CVeHTTPComunicator {
 public:
  // The content type becomes "text/xml; charset=utf-8"; accept stays "*/*".
  CVeSimpleXMLHTTPComunicator();

  // Posts |request| to |url| (port 0 is 443) and returns the answer's
  // element, without content when nothing came back. |cache_name| and
  // |cache_age_days| name an answer cache that this program never switches
  // on (every caller passes empty and 0): no answer is cached, each request
  // goes to the service.
  std::unique_ptr<SimpleXMLElement> RequestXML(const KaOSAL::KaString& url,
                                               const SimpleXMLElement& request, uint16_t port = 0,
                                               const KaOSAL::KaString& cache_name = {},
                                               int cache_age_days = 0);
};

}  // namespace wardex
