// The three standard descriptors, before a program opens anything else.
#pragma once

namespace platform {

// Opens /dev/null on each of standard input, output and error that is closed. A program started
// with one of them closed would otherwise get its first file (the adapter's port, a terminal)
// on that number, and its own messages would go to the device. False when one could not be
// opened; call it first thing in main().
bool EnsureStandardDescriptors();

} // namespace platform
