// What std::terminate does in this process: log and report why, then abort.
// std::set_terminate is process-wide here, where the Windows original sets it
// per thread; every thread that asks gets the same handler.
#pragma once

namespace wardex::crashlog {

void InstallTerminateHandler();

}  // namespace wardex::crashlog
