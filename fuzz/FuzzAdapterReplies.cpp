// The adapter's answers to "v", "r" and "o" during the search, as received: the input's parts
// between NUL bytes, in that order.
#include "AdapterDiscovery.h"
#include "FuzzSupport.h"

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts = fuzz::SplitAtNul(fuzz::Bytes(data, size));
    parts.resize(3);
    const std::string& version = parts[0];

    FUZZ_CHECK(AdapterDiscovery::NamesAdapter(version) == fuzz::StartsWith(version, "K310-7K"));
    AdapterDiscovery::Result result;
    AdapterDiscovery::DecodeAdapterReplies(version, parts[1], parts[2], result);
    FUZZ_CHECK(result.rawVersion == version);
    FUZZ_CHECK(fuzz::AllPrintable(result.K310Version));
    FUZZ_CHECK(result.K310VerzijaFW >= 0 && result.K310VerzijaFW <= 999);
    FUZZ_CHECK(result.K310VerzijaFW == AdapterDiscovery::VersionFromReply(version));
    for (char c : result.SerijskaK310)
        FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)));
    FUZZ_CHECK(result.K310RevizijaFW >= 0);
    return 0;
}
