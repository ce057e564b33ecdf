// A local device for the benchmark: answers every "v" with the adapter's greeting after a delay.
#pragma once

#include <memory>
#include <string>

namespace bench {

class Responder {
public:
    virtual ~Responder() = default;
    // The port to open.
    virtual const std::string& Path() const = 0;
};

// Null where the system has no pseudo-terminals (Windows): the ports are then given.
std::unique_ptr<Responder> StartResponder(int delayMs);

} // namespace bench
