// A disk that fills up, for the recording's writer: its bytes reach the real file until `room`
// bytes have been written, the write that crosses the limit lands in part, and then the disk is
// full. Room can be given back, as when the user frees space, to show nothing is written after a
// failure. Header-only, so the core-only (Windows) build uses it too.
#pragma once

#include "DebugRecording.h"
#include "Files.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace testing_support {

struct FillingDisk {
    explicit FillingDisk(uint64_t roomBytes) : room(roomBytes) {}

    // The writer to hand to TDebugRecordFile; this object must outlive it.
    Procedures::TRecordWriteFunction Writer() {
        return [this](platform::TNewFile& file, std::string_view data, std::string& why) -> size_t {
            ++writes;
            if (full) ++writesWhenFull;
            const uint64_t left = room > written ? room - written : 0;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(left, data.size()));
            const size_t landed = file.Write(data.data(), take, why);
            written += landed;
            if (landed < data.size() && why.empty()) {
                why = "No space left on device";
                full = true;
            }
            return landed;
        };
    }

    uint64_t room;
    uint64_t written = 0;
    int writes = 0;
    bool full = false;
    int writesWhenFull = 0; // writes attempted after the disk was found full
};

} // namespace testing_support
