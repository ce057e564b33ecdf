// The check values of the SHA-256 standard's examples, and the padding's edges around one block.
#include "Sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct CheckValue {
    std::string message;
    const char* digest;
};

TEST(Sha256, CheckValues) {
    const CheckValue cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // A NUL and bytes above 127 count as themselves (sha256sum on the machine).
        {std::string("\x00\xff", 2), "06eb7d6a69ee19e5fbdf749018d3d2abfa04bcbd1365db312eb86dc7169389b8"},
    };
    for (const CheckValue& c : cases)
        EXPECT_EQ(Sha256Hex(c.message), c.digest) << "message of " << c.message.size() << " bytes";
}

// Messages whose length puts the padding at a block's end, one byte short and one over: the
// two-block tail is where a padding goes wrong. The values are sha256sum's on the machine.
TEST(Sha256, PaddingAroundTheBlockEnd) {
    const std::pair<size_t, const char*> cases[] = {
        {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& [size, digest] : cases)
        EXPECT_EQ(Sha256Hex(std::string(size, 'a')), digest) << size << " bytes of 'a'";
}

} // namespace
