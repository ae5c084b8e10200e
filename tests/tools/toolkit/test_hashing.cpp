// SHA-256 against the published vectors and sha256sum, and Base64 against
// the vectors of RFC 4648.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "run_program.h"
#include "toolkit/cli/text.h"
#include "toolkit/hashing/sha256.h"

namespace {

TEST(Sha256, NistVectorsAndSha256sum)
{
    const std::pair<std::string, std::string> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    // Both the portable code and, where the processor has them, the SHA extensions.
    for (bool extensions : {false, true})
        for (const auto& v : vectors) {
            toolkit::Sha256 h(extensions);
            h.Update(v.first);
            EXPECT_EQ(h.HexDigest(), v.second) << v.first.size() << " bytes, extensions " << extensions;
        }

    // Fed in pieces of awkward sizes, and a file, against sha256sum.
    std::string bytes;
    for (unsigned i = 0; i < 300007; ++i) bytes += static_cast<char>((i * 7919u) >> 3);
    toolkit::Sha256 pieces(false);
    for (size_t at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 % 1021 + 1)
        pieces.Update(bytes.data() + at, std::min(step, bytes.size() - at));
    const std::string path = FreshTestDir() + "/bytes";
    WriteFile(path, bytes);
    const ProgramResult sum = RunProgram({"/usr/bin/sha256sum", path});
    ASSERT_EQ(sum.status, 0);
    std::string hex, error;
    uint64_t size = 0;
    ASSERT_TRUE(toolkit::Sha256File(path, hex, size, error)) << error;
    EXPECT_EQ(hex, sum.out.substr(0, 64));
    EXPECT_EQ(pieces.HexDigest(), hex);
    EXPECT_EQ(size, bytes.size());
}

TEST(Base64, Rfc4648Vectors)
{
    const std::pair<std::string, std::string> vectors[] = {{"", ""},           {"f", "Zg=="},
                                                           {"fo", "Zm8="},     {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& v : vectors) EXPECT_EQ(toolkit::Base64(v.first), v.second) << v.first;
}

} // namespace
