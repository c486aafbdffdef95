// Stopwatch: the elapsed time of an operation in milliseconds, from the
// high-resolution counter, or from the tick count where there is none.
#pragma once

#include <cstdint>

namespace wardex {

class Stopwatch {
 public:
  // Starts measuring.
  Stopwatch();

  // Milliseconds since construction.
  [[nodiscard]] int64_t ElapsedMilliseconds() const;

 private:
  int64_t frequency_;  // counts per second; 1000 when counting ticks
  bool counting_ticks_;
  int64_t start_;
};

}  // namespace wardex
