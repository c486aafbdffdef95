#include <png.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include "platform/icon_pixmap.h"
#include "platform/resources.h"
#include "wardex/crashlog.h"

namespace wardex::platform {

namespace {

constexpr int32_t kSizes[] = {16, 22, 24, 32, 48};

// The PNG |resource| as ARGB pixels at its own size; empty when undecodable.
IconPixmap Decode(const IconResource& resource) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, resource.png, resource.png_size)) {
    LogW(kLogError, u"SHELL: icon %u cannot be decoded", resource.id);
    return {};
  }
  image.format = PNG_FORMAT_ARGB;
  IconPixmap pixmap;
  pixmap.width = static_cast<int32_t>(image.width);
  pixmap.height = static_cast<int32_t>(image.height);
  pixmap.argb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixmap.argb.data(), 0, nullptr)) {
    LogW(kLogError, u"SHELL: icon %u cannot be decoded", resource.id);
    png_image_free(&image);
    return {};
  }
  return pixmap;
}

}  // namespace

IconPixmap ScaleIconPixmap(const IconPixmap& source, int32_t size) {
  IconPixmap scaled;
  scaled.width = scaled.height = size;
  scaled.argb.resize(static_cast<size_t>(size) * size * 4);
  const double sx = static_cast<double>(source.width) / size;
  const double sy = static_cast<double>(source.height) / size;
  for (int32_t dy = 0; dy < size; ++dy) {
    for (int32_t dx = 0; dx < size; ++dx) {
      double sum[4] = {0, 0, 0, 0};  // alpha, then premultiplied red, green, blue
      double area = 0;
      const double y0 = dy * sy, y1 = (dy + 1) * sy, x0 = dx * sx, x1 = (dx + 1) * sx;
      for (int32_t y = static_cast<int32_t>(y0); y < std::min<double>(std::ceil(y1), source.height);
           ++y) {
        const double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
        for (int32_t x = static_cast<int32_t>(x0);
             x < std::min<double>(std::ceil(x1), source.width); ++x) {
          const double w = wy * (std::min<double>(x + 1, x1) - std::max<double>(x, x0));
          const uint8_t* p = &source.argb[(static_cast<size_t>(y) * source.width + x) * 4];
          const double alpha = p[0] / 255.0;
          sum[0] += w * p[0];
          for (int c = 1; c < 4; ++c) sum[c] += w * p[c] * alpha;
          area += w;
        }
      }
      uint8_t* out = &scaled.argb[(static_cast<size_t>(dy) * size + dx) * 4];
      const double alpha = area > 0 ? sum[0] / area : 0;
      out[0] = static_cast<uint8_t>(std::lround(alpha));
      for (int c = 1; c < 4; ++c) {
        const double value = alpha > 0 ? sum[c] / area / (alpha / 255.0) : 0;
        out[c] = static_cast<uint8_t>(std::clamp<long>(std::lround(value), 0, 255));
      }
    }
  }
  return scaled;
}

const std::vector<IconPixmap>& IconPixmaps(uint32_t id) {
  static std::mutex mutex;
  static std::map<uint32_t, std::vector<IconPixmap>> decoded;
  std::lock_guard lock(mutex);
  auto [it, added] = decoded.try_emplace(id);
  if (!added) return it->second;
  const IconResource* resource = FindIconResource(id);
  if (resource == nullptr) return it->second;
  const IconPixmap own = Decode(*resource);
  if (own.argb.empty()) return it->second;
  for (int32_t size : kSizes) {
    it->second.push_back(size == own.width && size == own.height ? own
                                                                 : ScaleIconPixmap(own, size));
  }
  return it->second;
}

}  // namespace wardex::platform
