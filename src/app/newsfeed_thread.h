// The news-feed thread's procedure: the daily news check of one start.
#pragma once

#include <cstdint>

namespace wardex {

inline constexpr char kNewsfeedThreadName[] = "CMainFrame::LoadNewsfeedThreadProc";

// |parameter| is the main frame's ThreadParam part; returns 0.
uint32_t LoadNewsfeedThreadProc(void* parameter);

}  // namespace wardex
