// Switching the encoder's supply with the adapter's "n" and "f", and deciding from the reply
// whether it happened. A test procedure that cycles the supply must know when a switch failed:
// a supply that never went off would otherwise pass every check of a power-cycling run.
#pragma once

#include <string>

namespace SupplySwitch {

// "n": succeeds when the transaction completed and the reply begins with "ON".
// "f": succeeds when the transaction completed and the reply holds no "ERROR" (in any case).
// Both leave the transaction's result in EncoderPosition.ErrComm and the reply (as received) in
// *reply; on failure LastErrorText says why: "USB Comm Err N" for a failed transaction, the
// reply's printable text otherwise ("no reply" when it was empty).
bool SwitchOn(std::string* reply = nullptr);
bool SwitchOff(std::string* reply = nullptr);

// The rules alone, for a reply already received.
bool OnReplyConfirms(const std::string& reply);
bool OffReplyConfirms(const std::string& reply);

} // namespace SupplySwitch
