// ThreadParam: what a worker thread of the frame receives as its parameter.
// The frame derives from it, so a thread procedure gets the frame without
// knowing its class.
#pragma once

namespace wardex {

class ThreadParam {
 public:
  virtual ~ThreadParam() = default;
};

}  // namespace wardex
