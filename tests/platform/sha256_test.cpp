// SHA-256 against the published test vectors, fed whole and in every split.
#include "platform/sha256.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_dir.h"

namespace {

TEST(Sha256, published_vectors) {
  const std::string million(1000000, 'a');
  const struct {
    std::string input;
    const char* digest;
  } rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
       "lmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(platform::sha256Hex(row.input), row.digest) << row.input.size();
    // Split at every point of the short inputs (across the 64-byte block boundary).
    for (size_t split = 0; row.input.size() < 1000 && split <= row.input.size(); ++split) {
      platform::Sha256 hash;
      hash.update(row.input.data(), split);
      hash.update(row.input.data() + split, row.input.size() - split);
      ASSERT_EQ(hash.hexDigest(), row.digest) << split;
    }
  }
  testing_support::TempDir dir;
  dir.write("million.bin", million);
  std::string digest;
  ASSERT_TRUE(platform::sha256OfFile(dir.file("million.bin"), digest));
  EXPECT_EQ(digest, rows[4].digest);

  // Only regular files, and never a wait on a FIFO without a writer.
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  std::string why;
  EXPECT_FALSE(platform::sha256OfFile(dir.file("fifo"), digest, &why));
  EXPECT_EQ(why, "not a regular file");
  EXPECT_FALSE(platform::sha256OfFile(dir.file("missing"), digest, &why));
}

}  // namespace
