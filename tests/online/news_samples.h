// What the news feed tests serve: items of an answer and pictures.
#pragma once

#include <cstddef>
#include <string>

namespace wardex::test {

// An item with a valid id, title ("Title <id>") and enddate, then |extra|.
inline std::string NewsItemXml(const std::string& id, const std::string& extra = "") {
  return "<item><id>" + id + "</id><title>Title " + id + "</title><enddate>2030-01-01</enddate>" +
         extra + "</item>";
}

// The start of a PNG file (signature, image header of 1x1), padded to |size|.
inline std::string PngBytes(size_t size = 64) {
  std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0", 29);
  png.resize(size, '\0');
  return png;
}

}  // namespace wardex::test
