// MD5 digests, the digest object, and hashed values in the store.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "calc/hashed.h"
#include "calc/md5.h"
#include "store/store.h"
#include "undo/undo.h"

namespace vellix {
namespace {

// ---------------------------------------------------------------- the digest itself

TEST(Md5, MatchesThePublishedTestSuite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

struct Xorshift {
  uint64_t s;
  explicit Xorshift(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 11);
  }
};

// Mostly bytes from 128 up, one ASCII byte somewhere in the middle.
std::string HighBytes(uint64_t seed, size_t length) {
  Xorshift r(seed);
  std::string t(length, '\0');
  for (char& c : t) c = static_cast<char>(0x80 | (r.Next() & 0x7F));
  if (length > 3) t[length / 3] = static_cast<char>(1 + r.Next() % 127);
  return t;
}

// Lengths around the padding boundaries (55, 56, 64 and their neighbours) and beyond one
// block; expected digests are md5sum's output for the same bytes.
TEST(Md5, MatchesMd5sumOnBytesAbove127) {
  const struct {
    size_t length;
    const char* digest;
  } cases[] = {
      {1, "ab3af8566ddd20d7efc9b314abe90755"},    {2, "5e7eebedcbae80ac1bdb7ee53e42a1b3"},
      {3, "5c7e4ba15d596f2644e6bd176cbaece8"},    {55, "db9006300b6e90939b2066f1fdb7a035"},
      {56, "5175201babbffe649508a4387a23605d"},   {57, "ce7b4f5235994da110f9e2549ea792e9"},
      {63, "6a377ae89f3c9d0cfc3e3a550c67bd0d"},   {64, "b96ec402f5c42824edf085e2913b7c3a"},
      {65, "f818c104fcf7cbc68dc2928dc069d17f"},   {119, "368530129e040a98def2360b2af1684e"},
      {120, "bff74236c7fc01895df23cb9ac6b49fb"},  {127, "5c1cca5afbf3ed3594d644e623db19c7"},
      {128, "ca6ff976b686e54ad64ec1031a62e1ce"},  {129, "692ec5aafb96d512ac4d4aa53759a411"},
      {1000, "224c6a85020354acd9f5192929046e79"}, {4097, "86cba776ec84c433748f3b2fc8ae71da"},
  };
  uint64_t seed = 1;
  for (const auto& c : cases) {
    EXPECT_EQ(Md5Hex(HighBytes(seed++, c.length)), c.digest) << "length " << c.length;
  }
}

// The same against md5sum itself, over fresh random texts, where the tool is installed.
TEST(Md5, AgreesWithMd5sumOnRandomTexts) {
  if (std::system("md5sum --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no md5sum";
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("vellix_md5_" + std::to_string(::getpid()) + ".bin");
  Xorshift r(20240611);
  for (int i = 0; i < 40; ++i) {
    const std::string text = HighBytes(r.Next(), r.Next() % 700);
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    const std::string command = "md5sum '" + file.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    ASSERT_TRUE(read);
    EXPECT_EQ(Md5Hex(text), std::string(line, 32)) << "length " << text.size();
  }
  std::filesystem::remove(file);
}

TEST(Md5, StreamingInAnyPiecesGivesTheSameDigest) {
  const std::string text = HighBytes(7, 300) + std::string("\0mid\0", 5) + HighBytes(8, 77);
  const auto whole = Md5(text);
  for (size_t cut = 0; cut <= text.size(); cut += 13) {
    Md5Context context;
    context.Update(text.data(), cut);
    context.Update(text.data() + cut, 0);
    for (size_t at = cut; at < text.size(); at += 5) {
      context.Update(text.data() + at, std::min<size_t>(5, text.size() - at));
    }
    EXPECT_EQ(context.Final(), whole) << "first piece " << cut;
  }
  // A context can be used again after Reset.
  Md5Context context;
  context.Update("abc", 3);
  context.Final();
  context.Reset();
  context.Update("abc", 3);
  EXPECT_EQ(context.Final(), Md5("abc"));
}

TEST(Md5, DigestObjectKeepsTheLastDigestAsLowercaseHex) {
  CMD5 d;
  EXPECT_EQ(d.Hex(), nullptr);
  EXPECT_TRUE(d.Compute("abc"));
  EXPECT_STREQ(d.Hex(), "900150983cd24fb0d6963f7d28e17f72");
  // Host texts end at their first NUL.
  EXPECT_TRUE(d.Compute(std::string_view("abc\0def", 7)));
  EXPECT_STREQ(d.Hex(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_TRUE(d.Compute(static_cast<const char*>(nullptr)));
  EXPECT_STREQ(d.Hex(), "d41d8cd98f00b204e9800998ecf8427e");
  const std::string high = HighBytes(3, 90);
  d.Compute(high);
  EXPECT_EQ(std::string(d.Hex()), Md5Hex(high));
}

// ---------------------------------------------------------------- hashed values

TEST(HashedValues, StoreTheDigestAndCompareAgainstIt) {
  Store s;
  s.settings().autoSave = false;
  EXPECT_TRUE(SetItemHashed(s, "g", "pw", "secret"));
  const std::string stored = s.GetItem("g", "pw", "");
  EXPECT_EQ(stored, Md5Hex("secret"));
  EXPECT_EQ(stored.size(), 32u);
  EXPECT_EQ(stored.find_first_not_of("0123456789abcdef"), std::string::npos);

  EXPECT_TRUE(ItemEqualsHashed(s, "g", "pw", "", "secret"));
  EXPECT_FALSE(ItemEqualsHashed(s, "g", "pw", "secret", "Secret"));
  // A missing item compares its default: equal exactly when the two texts are equal.
  EXPECT_TRUE(ItemEqualsHashed(s, "g", "missing", "abc", "abc"));
  EXPECT_FALSE(ItemEqualsHashed(s, "g", "missing", "abc", "abd"));
  EXPECT_FALSE(ItemEqualsHashed(s, "nogroup", "missing", "abc", "abd"));
  // A value set in clear is compared as it stands.
  s.SetItem("g", "plain", "secret");
  EXPECT_FALSE(ItemEqualsHashed(s, "g", "plain", "", "secret"));
  s.SetItem("g", "upper", "5EBE2294ECD0E0F08EAB7690D2A6EE69");  // digest of "secret", upper case
  EXPECT_FALSE(ItemEqualsHashed(s, "g", "upper", "", "secret"));
  s.SetItem("g", "copied", Md5Hex("secret"));
  EXPECT_TRUE(ItemEqualsHashed(s, "g", "copied", "", "secret"));
}

TEST(HashedValues, BytesAbove127AreDigestedAsTheyAre) {
  Store s;
  s.settings().autoSave = false;
  const std::string text = "\xE9t\xE9 \xFF\x80";
  SetItemHashed(s, "gr\xFC", "\xE4", text);
  EXPECT_EQ(s.GetItem("gr\xFC", "\xE4", ""), Md5Hex(text));
  EXPECT_TRUE(ItemEqualsHashed(s, "GR\xFC", "\xE4", "", text));
}

TEST(HashedValues, AreRecordedForUndoLikeAnyOtherValue) {
  Store s;
  s.settings().autoSave = false;
  UndoOf(s).undoDepth = -1;
  UndoOf(s).redoDepth = -1;
  BeginUndoBlock(s);
  s.SetItem("g", "pw", "old");
  BeginUndoBlock(s);
  SetItemHashed(s, "g", "pw", "new");
  PerformUndo(s);
  EXPECT_EQ(s.GetItem("g", "pw", ""), "old");
  PerformRedo(s);
  EXPECT_TRUE(ItemEqualsHashed(s, "g", "pw", "", "new"));
}

}  // namespace
}  // namespace vellix
