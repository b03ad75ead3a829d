#pragma once

namespace trelvo::platform {

/// Masks all six floating-point exceptions and turns on flush-to-zero and
/// denormals-are-zero for the calling thread, so a plug-in that unmasked exceptions cannot
/// trap the host and denormals never stall the audio thread. Thread: any, wait-free.
void maskFloatingPointExceptions() noexcept;

/// True when every exception is masked and denormals are flushed on the calling thread.
bool floatingPointExceptionsMasked() noexcept;

} // namespace trelvo::platform
