// Files room: compressed blocks, the cipher, paths, crash-safe replacement, and the store
// loaded from and saved to files.
#include <fcntl.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <zlib.h>
#ifdef _WIN32
#include <windows.h>
// <windows.h> names ReplaceFile for its own call; the one used here is the module's.
#undef ReplaceFile
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "file_helpers.h"
#include "files/file_lookup.h"
#include "files/files.h"
#include "format/text.h"
#include "io/blocks.h"
#include "io/file_io.h"
#include "store/store.h"
#include "undo/undo.h"

namespace vellix {
namespace {

// ---------------------------------------------------------------- helpers

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// ---------------------------------------------------------------- blocks

TEST(Blocks, RoundTripKeepsEveryLength) {
  const std::string repetitive = IniLikeText(50, 40);
  for (size_t n : {size_t{0}, size_t{1}, size_t{10}, size_t{4095}, size_t{70000}}) {
    for (const std::string& source : {RandomBytes(n, 7), repetitive.substr(0, n)}) {
      const std::string block = CompressBlock(source);
      ASSERT_GE(block.size(), 4u);
      std::string back;
      ASSERT_TRUE(DecompressBlock(block, back)) << n;
      EXPECT_EQ(back, source);
    }
  }
}

TEST(Blocks, FormatIsLengthThenZlibCompressAtDefaultLevel) {
  const std::string ten = "0123456789";
  const std::string block = CompressBlock(ten);
  EXPECT_EQ(Hex(block.substr(0, 4)), "0a 00 00 00");
  std::string stream(compressBound(10), '\0');
  uLongf length = stream.size();
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(stream.data()), &length,
                     reinterpret_cast<const Bytef*>(ten.data()), 10),
            Z_OK);
  stream.resize(length);
  EXPECT_EQ(block.substr(4), stream);

  const std::string empty = CompressBlock("");
  EXPECT_EQ(Hex(empty.substr(0, 4)), "00 00 00 00");
  std::string back = "x";
  EXPECT_TRUE(DecompressBlock(empty, back));
  EXPECT_EQ(back, "");
}

TEST(Blocks, InvalidBlocksFailCleanly) {
  std::string out;
  EXPECT_FALSE(DecompressBlock("", out));
  EXPECT_FALSE(DecompressBlock("abc", out));
  EXPECT_FALSE(DecompressBlock("[group]\r\nitem=value\r\n", out));
  EXPECT_FALSE(DecompressBlock(RandomBytes(100000, 3), out));

  const std::string block = CompressBlock(IniLikeText(20, 20));
  for (size_t cut = 0; cut < block.size(); cut += 7) {
    EXPECT_FALSE(DecompressBlock(std::string_view(block).substr(0, cut), out)) << cut;
  }
  std::string corrupt = block;
  corrupt[corrupt.size() / 2] ^= 0x55;
  EXPECT_FALSE(DecompressBlock(corrupt, out));
}

TEST(Blocks, LengthFieldIsNeverTrusted) {
  const std::string source = IniLikeText(10, 10);
  std::string block = CompressBlock(source);
  std::string out;

  // Beyond what the stream could expand to, including the value whose successor wraps.
  for (uint32_t stated : {0xFFFFFFFFu, 0x80000000u, 0x10000000u}) {
    std::string forged = block;
    for (int i = 0; i < 4; ++i) forged[i] = static_cast<char>(stated >> (8 * i));
    EXPECT_FALSE(DecompressBlock(forged, out)) << stated;
  }
  // Smaller than the content: the stream does not fit.
  std::string shorter = block;
  shorter[0] = static_cast<char>(source.size() - 1);
  shorter[1] = static_cast<char>((source.size() - 1) >> 8);
  EXPECT_FALSE(DecompressBlock(shorter, out));
  // Larger but plausible: the stream's own length is what comes out.
  std::string larger = block;
  larger[2] = 1;
  ASSERT_TRUE(DecompressBlock(larger, out));
  EXPECT_EQ(out, source);
}

TEST(Blocks, MemoryFollowsTheOutputAndNeverPassesTheLengthField) {
  // 100 KiB: the buffer grows from its first guess to the stated length, not beyond.
  const std::string source((100 << 10) + 7, 'z');
  std::string out;
  ASSERT_TRUE(DecompressBlock(CompressBlock(source), out));
  EXPECT_EQ(out, source);
  EXPECT_LE(out.capacity(), source.size() + 1);
  // A length the stream could expand to, but does not: memory stays near what came out.
  const std::string random = RandomBytes(20000, 5);
  std::string block = CompressBlock(random);
  const uint32_t claimed = static_cast<uint32_t>((block.size() - 4) * 1000);
  for (int i = 0; i < 4; ++i) block[i] = static_cast<char>(claimed >> (8 * i));
  ASSERT_TRUE(DecompressBlock(block, out));
  EXPECT_EQ(out, random);
  EXPECT_LE(out.capacity(), size_t{64 << 10});
}

TEST(Blocks, HighlyCompressibleBlocksGrowTheirBuffer) {
  const std::string zeros(8 << 20, 'z');
  const std::string block = CompressBlock(zeros);
  EXPECT_LT(block.size(), 20000u);
  std::string out;
  ASSERT_TRUE(DecompressBlock(block, out));
  EXPECT_EQ(out, zeros);
}

TEST(Cipher, MatchesPublishedVectorsAndIsItsOwnInverse) {
  struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  for (const Vector& v :
       {Vector{"Key", "Plaintext", "bb f3 16 e8 d9 40 af 0a d3"},
        Vector{"Wiki", "pedia", "10 21 bf 04 20"},
        Vector{"Secret", "Attack at dawn", "45 a0 1f 64 5f c3 5b 38 35 52 54 4b 9b f5"}}) {
    std::string data = v.plain;
    CipherBlock(data, v.key);
    EXPECT_EQ(Hex(data), v.cipher);
    CipherBlock(data, v.key);
    EXPECT_EQ(data, v.plain);
  }
  std::string data = "unchanged";
  CipherBlock(data, "");
  EXPECT_EQ(data, "unchanged");
  // Key bytes are used as they are, zero bytes and high bytes included.
  std::string a = "same text", b = "same text";
  CipherBlock(a, std::string_view("k\0\xff", 3));
  CipherBlock(b, std::string_view("k\0\xfe", 3));
  EXPECT_NE(a, b);
}

// The cipher against the textbook loop, byte by byte, over random keys (zero and high bytes
// included) and data fed in pieces of odd sizes at odd addresses, as saves and loads feed it.
TEST(Cipher, MatchesAPlainReferenceInAnyPieces) {
  auto reference = [](std::string data, const std::string& key) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    unsigned j = 0;
    for (unsigned i = 0; i < 256; ++i) {
      j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) % 256;
      std::swap(s[i], s[j]);
    }
    unsigned x = 0, y = 0;
    for (char& c : data) {
      x = (x + 1) % 256;
      y = (y + s[x]) % 256;
      std::swap(s[x], s[y]);
      c = static_cast<char>(c ^ s[(s[x] + s[y]) % 256]);
    }
    return data;
  };
  std::mt19937 rng(22);
  for (int round = 0; round < 60; ++round) {
    std::string key(1 + rng() % (round % 3 == 0 ? 300 : 20), '\0');
    for (char& c : key) c = static_cast<char>(rng());
    // Lengths around the multiples of the word sizes, and some long enough to wrap the
    // counters many times over.
    const size_t length = round < 40 ? static_cast<size_t>(round) : rng() % 20000;
    std::string data(length + 1, '\0');
    for (char& c : data) c = static_cast<char>(rng());
    const std::string plain = data.substr(1);
    const std::string expected = reference(plain, key);
    std::string whole = plain;
    CipherBlock(whole, key);
    EXPECT_EQ(Hex(whole), Hex(expected)) << "whole, length " << length;
    // In pieces of 0 to 40 bytes, from the second byte of a buffer on.
    Rc4 cipher(key);
    for (size_t at = 1; at < data.size();) {
      const size_t n = std::min<size_t>(rng() % 41, data.size() - at);
      cipher.Apply(data.data() + at, n);
      at += n;
    }
    EXPECT_EQ(Hex(data.substr(1)), Hex(expected)) << "in pieces, length " << length;
  }
}

// The cipher in pieces is the cipher whole; a compressor in pieces makes a block the
// loader reads, and refuses data past what a length field describes before reading it.
TEST(Blocks, StreamsInPiecesMatchTheWhole) {
  const std::string data = IniLikeText(40, 40);
  std::string whole = data;
  CipherBlock(whole, "key");
  std::string pieces = data;
  Rc4 cipher("key");
  std::mt19937 rng(3);
  for (size_t at = 0; at < pieces.size();) {
    const size_t n = std::min<size_t>(rng() % 3000, pieces.size() - at);
    cipher.Apply(pieces.data() + at, n);
    at += n;
  }
  EXPECT_EQ(pieces, whole);

  for (BlockContent content :
       {BlockContent::kAny, BlockContent::kText, BlockContent::kEnciphered}) {
    std::string block;
    StringWriter out(block);
    BlockCompressor compressor(content, out);
    for (size_t at = 0; at < whole.size(); at += 1000) {
      ASSERT_TRUE(compressor.Add(std::string_view(whole).substr(at, 1000)));
    }
    ASSERT_TRUE(compressor.Finish());
    std::string back;
    ASSERT_TRUE(DecompressBlock(block, back));
    EXPECT_EQ(back, whole);
  }
  std::string block;
  StringWriter out(block);
  BlockCompressor compressor(BlockContent::kText, out);
  ASSERT_TRUE(compressor.Add("12345678"));
  EXPECT_FALSE(compressor.Add(std::string_view(data.data(), UINT32_MAX)));
  EXPECT_FALSE(compressor.Finish());
}

// Enciphered content goes into stored blocks framed by the compressor itself, with a
// checksum of its own making: zlib reads them back and agrees with the checksum, whatever the
// sizes of the pieces (runs of 0xFF bytes are the checksum's largest sums), and a short
// stream is the very bytes zlib writes.
TEST(Blocks, StoredBlocksAreAStreamZlibReads) {
  std::mt19937 rng(11);
  for (size_t total : {size_t{0}, size_t{1}, size_t{17}, size_t{5553}, size_t{65535}, size_t{65536},
                       size_t{131072}, size_t{400001}}) {
    for (const std::string& data : {RandomBytes(total, 5), std::string(total, '\xff')}) {
      for (const bool inPieces : {false, true}) {
        std::string block;
        StringWriter out(block);
        BlockCompressor compressor(BlockContent::kEnciphered, out);
        size_t at = 0;
        while (inPieces && at < data.size()) {
          const size_t n = std::min<size_t>(rng() % 70000, data.size() - at);
          ASSERT_TRUE(compressor.Add(std::string_view(data).substr(at, n)));
          at += n;
        }
        ASSERT_TRUE(compressor.Finish(std::string_view(data).substr(at)));
        const std::string where = std::to_string(total) + (inPieces ? " in pieces" : " whole");
        ASSERT_GE(block.size(), 10u) << where;
        EXPECT_EQ(Hex(block.substr(0, 6)),
                  Hex(std::string{static_cast<char>(total), static_cast<char>(total >> 8),
                                  static_cast<char>(total >> 16), 0, 0x78, 0x01}))
            << where;
        const uint32_t adler =
            adler32(1, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        EXPECT_EQ(Hex(block.substr(block.size() - 4)),
                  Hex(std::string{static_cast<char>(adler >> 24), static_cast<char>(adler >> 16),
                                  static_cast<char>(adler >> 8), static_cast<char>(adler)}))
            << where;
        std::string back(total + 1, '\0');
        uLongf length = back.size();
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(back.data()), &length,
                             reinterpret_cast<const Bytef*>(block.data()) + 4, block.size() - 4),
                  Z_OK)
            << where;
        back.resize(length);
        EXPECT_TRUE(back == data) << where;
        EXPECT_TRUE(DecompressBlock(block, back) && back == data) << where;
        if (total <= 65535) {
          // One final block, byte for byte what zlib's level 0 writes.
          std::string level0(compressBound(static_cast<uLong>(total)), '\0');
          uLongf size = level0.size();
          ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(level0.data()), &size,
                              reinterpret_cast<const Bytef*>(data.data()), total, 0),
                    Z_OK);
          level0.resize(size);
          EXPECT_TRUE(block.substr(4) == level0) << where;
        }
      }
    }
  }
}

// ---------------------------------------------------------------- paths

#ifndef _WIN32
TEST(Paths, RelativePathsHangOffTheBaseFolder) {
  EXPECT_EQ(ResolvePath("/data", "sub/a.ini", Folders::kLeave), "/data/sub/a.ini");
  EXPECT_EQ(ResolvePath("/data/", "sub/a.ini", Folders::kLeave), "/data/sub/a.ini");
  EXPECT_EQ(ResolvePath("/data", "\\a.ini", Folders::kLeave), "/data/a.ini");
  EXPECT_EQ(ResolvePath("/data", "sub\\a.ini", Folders::kLeave), "/data/sub/a.ini");
  EXPECT_EQ(ResolvePath("/data", "/etc/x/../a.ini", Folders::kLeave), "/etc/a.ini");
  EXPECT_EQ(ResolvePath("/data", "x/./y/../../a.ini", Folders::kLeave), "/data/a.ini");
  EXPECT_EQ(ResolvePath("/data", "../../../a.ini", Folders::kLeave), "/a.ini");
  EXPECT_EQ(ResolvePath("/data//x", "a.ini", Folders::kLeave), "/data/x/a.ini");
  EXPECT_EQ(ResolvePath("", "a.ini", Folders::kLeave), "/a.ini");
  // An empty path names the base folder itself.
  EXPECT_EQ(ResolvePath("/data", "", Folders::kLeave), "/data/");
  // No length limit.
  const std::string deep(400, 'd');
  EXPECT_EQ(ResolvePath("/data", deep + "/a.ini", Folders::kLeave), "/data/" + deep + "/a.ini");
}
#else
// Windows: absolute when beginning with "\" or with ":" as the second character; the roots
// "C:\", "\\server\share\" and "\\?\" are kept and ".." stays at them; "\" is written.
TEST(Paths, RelativePathsHangOffTheBaseFolder) {
  const struct {
    const char* base;
    const char* path;
    const char* resolved;
  } cases[] = {
      {R"(C:\data)", "sub/a.ini", R"(C:\data\sub\a.ini)"},
      {R"(C:\data\)", R"(sub\a.ini)", R"(C:\data\sub\a.ini)"},
      {R"(C:\data)", "/a.ini", R"(C:\data\a.ini)"},  // "/" at the start is relative here
      {R"(C:\data)", R"(\a.ini)", R"(\a.ini)"},      // "\" at the start is absolute
      {R"(C:\data)", R"(D:\x\..\a.ini)", R"(D:\a.ini)"},
      {R"(C:\data)", "D:/x/a.ini", R"(D:\x\a.ini)"},
      {R"(C:\data)", R"(..\..\..\a.ini)", R"(C:\a.ini)"},  // ".." stops at the drive
      {R"(C:\data)", "x/./y/../../a.ini", R"(C:\data\a.ini)"},
      {R"(\\server\share\data)", R"(..\..\a.ini)", R"(\\server\share\a.ini)"},
      {R"(\\?\C:\data)", R"(..\..\a.ini)", R"(\\?\C:\a.ini)"},
      {R"(\\?\UNC\server\share\d)", R"(..\..\a.ini)", R"(\\?\UNC\server\share\a.ini)"},
      {R"(C:\data\\x)", "a.ini", R"(C:\data\x\a.ini)"},
      {"", "a.ini", R"(\a.ini)"},
      {R"(C:\data)", "", R"(C:\data\)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ResolvePath(c.base, c.path, Folders::kLeave), c.resolved) << c.path;
}
#endif

TEST(Paths, MissingFoldersAreCreatedOnlyWhenAsked) {
  TempFolder dir;
  const std::string path = ResolvePath(dir.path(), "one/two/a.ini", Folders::kLeave);
#ifndef _WIN32
  EXPECT_EQ(path, dir / "one/two/a.ini");
#endif
  EXPECT_FALSE(Exists(dir / "one"));
  EXPECT_EQ(ResolvePath(dir.path(), "one/two/a.ini", Folders::kCreate), path);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "one/two"));
  EXPECT_FALSE(Exists(path));  // the file itself is not made
}

TEST(Paths, RemoveFileSpecDropsTheLastComponent) {
#ifdef _WIN32
  // The root stays: a drive, a share, a "\\?\" path.
  EXPECT_EQ(RemoveFileSpec(R"(C:\games\game.exe)"), R"(C:\games)");
  EXPECT_EQ(RemoveFileSpec(R"(C:\game.exe)"), R"(C:\)");
  EXPECT_EQ(RemoveFileSpec(R"(C:\)"), R"(C:\)");
  EXPECT_EQ(RemoveFileSpec(R"(\\server\share\game.exe)"), R"(\\server\share\)");
  EXPECT_EQ(RemoveFileSpec(R"(\\?\C:\game.exe)"), R"(\\?\C:\)");
  EXPECT_EQ(RemoveFileSpec(R"(\game.exe)"), R"(\)");
  EXPECT_EQ(RemoveFileSpec("/games"), "");  // relative: "/" is no root here
#else
  EXPECT_EQ(RemoveFileSpec("/games"), "/");
  EXPECT_EQ(RemoveFileSpec("/"), "/");
#endif
  EXPECT_EQ(RemoveFileSpec("/games/app/game.exe"), "/games/app");
  EXPECT_EQ(RemoveFileSpec("/games/app/"), "/games/app");
  EXPECT_EQ(RemoveFileSpec("game.exe"), "");
  EXPECT_EQ(RemoveFileSpec("saves\\slot1.ini"), "saves");
  EXPECT_EQ(RemoveFileSpec(""), "");
}

// ---------------------------------------------------------------- crash-safe replacement

TEST(Replace, CreatesAndReplacesKeepingPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no permission bits (read-only: UnwritablePlacesFail)";
#else
  TempFolder dir;
  const std::string path = dir / "a.ini";
  ASSERT_TRUE(ReplaceFile(path, "first"));
  EXPECT_EQ(ReadBytes(path), "first");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat made;
  ASSERT_EQ(::stat(path.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 07777, 0666u & ~mask);  // a new file: what the umask allows
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(ReplaceFile(path, "second, longer"));
  EXPECT_EQ(ReadBytes(path), "second, longer");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_TRUE(ReplaceFile(path, ""));
  EXPECT_EQ(ReadBytes(path), "");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
#endif
}

TEST(Replace, SymbolicLinksAreFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows, and the system follows them";
#else
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "real").c_str(), 0700), 0);
  WriteBytes(dir / "real/a.ini", "old");
  ASSERT_EQ(::symlink("real/a.ini", (dir / "link.ini").c_str()), 0);
  ASSERT_TRUE(ReplaceFile(dir / "link.ini", "new"));
  struct stat st;
  ASSERT_EQ(::lstat((dir / "link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(dir / "real/a.ini"), "new");
  EXPECT_EQ(Entries(dir / "real"), std::set<std::string>{"a.ini"});

  // A dangling link gets its target created.
  ASSERT_EQ(::symlink("real/b.ini", (dir / "dangling.ini").c_str()), 0);
  ASSERT_TRUE(ReplaceFile(dir / "dangling.ini", "made"));
  EXPECT_EQ(ReadBytes(dir / "real/b.ini"), "made");
#endif
}

// The step a save failed at, and the system's error.
std::pair<SaveStep, int> Why(const SaveStatus& status) { return {status.failed, status.error}; }

TEST(Replace, FailuresLeaveTheOldFileWholeAndNoTemporaryFile) {
  TempFolder dir;
  const std::string path = dir / "a.ini";
  const std::string old = IniLikeText(5, 5);
  const std::string replacement = IniLikeText(50, 50);
  FaultInjection faults;
  for (size_t budget : {size_t{0}, size_t{1}, size_t{4096}, replacement.size() - 1}) {
    WriteBytes(path, old);
    FaultInjection::FailWritesAfter(budget);
    EXPECT_EQ(Why(ReplaceFile(path, replacement)), std::make_pair(SaveStep::kWrite, ENOSPC))
        << budget;
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
    FileSystem() = DefaultFileSystemCalls();
  }
  FaultInjection::FailFsync();
  EXPECT_EQ(Why(ReplaceFile(path, replacement)), std::make_pair(SaveStep::kFlush, EIO));
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
  FileSystem() = DefaultFileSystemCalls();
  FaultInjection::FailRename();
  EXPECT_EQ(Why(ReplaceFile(path, replacement)), std::make_pair(SaveStep::kRename, EXDEV));
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
  // A new file that cannot be written leaves nothing at all.
  FileSystem() = DefaultFileSystemCalls();
  FaultInjection::FailWritesAfter(10);
  EXPECT_FALSE(ReplaceFile(dir / "new.ini", replacement));
  EXPECT_FALSE(Exists(dir / "new.ini"));
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
}

// Content written in pieces has the guarantees of content at hand: a producer that fails
// or runs out of memory half way, a full disk anywhere (also when the length field is
// written last), leave the old file whole and no temporary file.
TEST(Replace, ContentInPiecesFailsCleanly) {
  TempFolder dir;
  const std::string path = dir / "a.ini";
  const std::string old = IniLikeText(5, 5);
  WriteBytes(path, old);
  const auto half = [](ByteWriter& out) { return out.Append("half") && false; };
  EXPECT_FALSE(ReplaceFileWith(path, half));
  const auto throws = [](ByteWriter& out) -> bool {
    out.Append("half");
    throw std::bad_alloc();
  };
  EXPECT_THROW(ReplaceFileWith(path, throws), std::bad_alloc);
  EXPECT_EQ(ReadBytes(path), old);
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});

  Store store;
  store.settings().autoSave = false;
  for (int i = 0; i < 20000; ++i)
    store.SetItem("g" + std::to_string(i / 100), "item" + std::to_string(i), "value");
  ASSERT_TRUE(SaveFile(store, dir / "full.ini", true, true, "k"));
  const size_t size = ReadBytes(dir / "full.ini").size();
  FaultInjection faults;
  for (size_t budget : {size_t{0}, size_t{4}, size_t{5}, size / 2, size, size + 3}) {
    FaultInjection::FailWritesAfter(budget);
    EXPECT_FALSE(SaveFile(store, path, true, true, "k")) << budget;
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"a.ini", "full.ini"}));
  }
}

TEST(Replace, UnwritablePlacesFail) {
  TempFolder dir;
  EXPECT_EQ(Why(ReplaceFile(dir / "missing/a.ini", "x")),
            std::make_pair(SaveStep::kOpenTemporary, ENOENT));
  EXPECT_FALSE(Exists(dir / "missing"));
  EXPECT_EQ(Why(ReplaceFile(dir.path(), "x")), std::make_pair(SaveStep::kExamine, EISDIR));
  EXPECT_FALSE(ReplaceFile(dir.path() + "/", "x"));
  EXPECT_FALSE(ReplaceFile("", "x"));
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{});
#ifndef _WIN32
  if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop the superuser";
#endif
  // On Windows, taking the write bits away sets the read-only attribute.
  WriteBytes(dir / "readonly.ini", "old");
  std::filesystem::permissions(dir / "readonly.ini", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::group_read |
                                                         std::filesystem::perms::others_read);
  EXPECT_EQ(Why(ReplaceFile(dir / "readonly.ini", "new")),
            std::make_pair(SaveStep::kExamine, EACCES));
  EXPECT_EQ(ReadBytes(dir / "readonly.ini"), "old");
}

// The file's identity (its inode; its file index on Windows).
uint64_t Inode(const std::string& path) {
  uint64_t device = 0, inode = 0;
  int error = 0;
  return RegularFileIdentity(path, device, inode, error) ? inode : 0;
}

TEST(Replace, AFolderThatRefusesNewFilesGetsTheFileWrittenInPlace) {
  TempFolder dir;
  const std::string path = dir / "a.ini";
  WriteBytes(path, "old and longer than the new content");
  // Wherever a temporary file can be made, the replacement stays atomic: a new file.
  const uint64_t before = Inode(path);
  ASSERT_TRUE(ReplaceFile(path, "atomic"));
  EXPECT_NE(Inode(path), before);

  FaultInjection faults;
  FaultInjection::RefuseNewFiles();
  const uint64_t inPlace = Inode(path);
  ASSERT_TRUE(ReplaceFile(path, "new"));
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_EQ(Inode(path), inPlace);
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
  // A save streamed in pieces is gathered first, as the space is reserved before writing.
  Store store;
  store.settings().autoSave = false;
  store.SetItem("g", "a", std::string(300000, 'v'));
  ASSERT_TRUE(SaveFile(store, path, true, true, "k"));
  EXPECT_EQ(Inode(path), inPlace);
  Store back;
  ASSERT_TRUE(LoadFile(back, path, true, true, "k"));
  EXPECT_EQ(back.GetItem("g", "a", "").size(), 300000u);
  ASSERT_TRUE(ReplaceFile(path, "new"));
  // A new file, or old bytes that must be kept first, need a new entry: nothing is written.
  EXPECT_EQ(Why(ReplaceFile(dir / "b.ini", "x")), std::make_pair(SaveStep::kOpenTemporary, EACCES));
  EXPECT_EQ(Why(ReplaceFile(path, "newer", OldBytes::kKeepBeside)),
            std::make_pair(SaveStep::kKeepUnread, EACCES));
  EXPECT_EQ(ReadBytes(path), "new");
  // A write that fails in place is reported.
  FaultInjection::FailWritesAfter(0);
  EXPECT_EQ(Why(ReplaceFile(path, "never")), std::make_pair(SaveStep::kWriteInPlace, ENOSPC));
  EXPECT_EQ(ReadBytes(path), "new");
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
  FileSystem() = DefaultFileSystemCalls();

  // The same with real permissions, where they bind.
#ifdef _WIN32
  GTEST_SKIP() << "a folder's read-only attribute does not refuse new files on Windows";
#else
  if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop the superuser";
  ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0700), 0);
  WriteBytes(dir / "locked/a.ini", "old");
  ASSERT_EQ(::chmod((dir / "locked").c_str(), 0500), 0);
  EXPECT_TRUE(ReplaceFile(dir / "locked/a.ini", "new"));
  EXPECT_EQ(ReadBytes(dir / "locked/a.ini"), "new");
  EXPECT_EQ(Entries(dir / "locked"), std::set<std::string>{"a.ini"});
#endif
}

// A folder with the sticky bit that belongs to someone else, as /tmp: a temporary file can be
// made there, but not renamed over another user's file. A file this user may write is then
// written in place, and its old bytes can still be kept beside it.
TEST(Replace, AStickyFolderOfAnotherUserGetsTheFileWrittenInPlace) {
#ifdef _WIN32
  GTEST_SKIP() << "no sticky folders or user ids on Windows";
#else
  if (::geteuid() != 0) GTEST_SKIP() << "playing two users needs the superuser";
  TempFolder dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
  const std::string path = dir / "a.ini";
  WriteBytes(path, "old, the superuser's");
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  const uint64_t before = Inode(path);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(9);
    const SaveStatus plain = ReplaceFile(path, "new");
    const SaveStatus keeping = ReplaceFile(path, "newer", OldBytes::kKeepBeside);
    ::_exit((plain.ok() ? 0 : 1) | (keeping.ok() ? 0 : 2));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(path), "newer");
  EXPECT_EQ(Inode(path), before);
  EXPECT_EQ(ReadBytes(path + ".unread-1"), "new");
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"a.ini", "a.ini.unread-1"}));
#endif
}

TEST(Replace, LongNamesSaveAndTemporariesOfKilledSavesGo) {
  TempFolder dir;
  // The longest name a folder holds: the temporary name does not grow with it.
  const std::string longest = dir / (std::string(251, 'n') + ".ini");
  ASSERT_TRUE(ReplaceFile(longest, "saved"));
  EXPECT_EQ(ReadBytes(longest), "saved");

  // A process killed in the middle of a save leaves its temporary file behind.
  const std::string path = dir / "a.ini";
  WriteBytes(path, "old");
#ifdef _WIN32
  // No fork: a save of this process whose temporary file could not be removed stands for
  // it (this process writes one save at a time, so its own leftovers are stale too).
  {
    FaultInjection faults;
    FaultInjection::FailRename();
    FileSystem().unlink = [](const char*) -> int {
      errno = EACCES;
      return -1;
    };
    EXPECT_FALSE(ReplaceFile(path, "never finished"));
  }
#else
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileSystem().write = [](int, const void*, size_t) -> ptrdiff_t { ::_exit(0); };
    ReplaceFile(path, "never finished");
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#endif
  EXPECT_EQ(Entries(dir.path()).size(), 3u);
  EXPECT_EQ(ReadBytes(path), "old");
  // The next save of that file removes it; another file's save would not.
  ASSERT_TRUE(ReplaceFile(path, "new"));
  EXPECT_EQ(Entries(dir.path()),
            (std::set<std::string>{"a.ini", longest.substr(dir.path().size() + 1)}));
}

TEST(Replace, OnlyRegularFilesAreReadOrWrittenAndNothingWaits) {
  TempFolder dir;
  std::string out = "stale";
  EXPECT_FALSE(ReadWholeFile(dir / "missing", out));
  EXPECT_EQ(out, "");
  EXPECT_FALSE(ReadWholeFile(dir.path(), out));
  const std::string bytes = RandomBytes(300000, 9);
  WriteBytes(dir / "f", bytes);
  ASSERT_TRUE(ReadWholeFile(dir / "f", out));
  EXPECT_EQ(out, bytes);
  EXPECT_TRUE(FileReadable(dir / "f"));
  EXPECT_FALSE(FileReadable(dir.path()));
  EXPECT_FALSE(FileReadable(dir / "missing"));

#ifdef _WIN32
  // A named pipe nobody writes to, and a device: no disk files, refused at once, whatever
  // the call (a call that waited would hang the suite until ctest's timeout).
  const std::string pipe =
      "\\\\.\\pipe\\vellix-files-test-" + std::to_string(::GetCurrentProcessId());
  const HANDLE server =
      ::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  Store store;
  store.settings().autoSave = false;
  for (const std::string& source : {pipe, std::string("NUL")}) {
    EXPECT_FALSE(ReadWholeFile(source, out)) << source;
    EXPECT_FALSE(FileReadable(source)) << source;
    EXPECT_FALSE(LoadFile(store, source, false, false, "")) << source;
    EXPECT_FALSE(CompressFile(source, dir / "out")) << source;
  }
  EXPECT_EQ(store.GroupCount(), 0);
  store.SetItem("g", "a", "1");
  EXPECT_FALSE(SaveFile(store, pipe, false, false, ""));
  EXPECT_FALSE(ReplaceFile(pipe, "x"));
  ::CloseHandle(server);
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"f"}));
#else
  // A FIFO nobody writes to, and endless devices: refused at once, whatever the call.
  ::alarm(30);  // a call that waits would otherwise hang the suite
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Store store;
  store.settings().autoSave = false;
  for (const std::string& source : {fifo, std::string("/dev/zero"), std::string("/dev/urandom")}) {
    EXPECT_FALSE(ReadWholeFile(source, out)) << source;
    EXPECT_FALSE(FileReadable(source)) << source;
    EXPECT_FALSE(LoadFile(store, source, false, false, "")) << source;
    EXPECT_FALSE(CompressFile(source, dir / "out")) << source;
  }
  EXPECT_EQ(store.GroupCount(), 0);
  store.SetItem("g", "a", "1");
  EXPECT_FALSE(SaveFile(store, fifo, false, false, ""));
  EXPECT_FALSE(ReplaceFile(fifo, "x"));
  ::alarm(0);
  EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"f", "fifo"}));
#endif
}

// ---------------------------------------------------------------- whole-file compression

TEST(FileCompression, CompressThenDecompressGivesTheFileBack) {
  TempFolder dir;
  const std::string content = IniLikeText(30, 30) + std::string("\0binary\xff", 8);
  WriteBytes(dir / "a.ini", content);
  ASSERT_TRUE(CompressFile(dir / "a.ini", dir / "a.z"));
  const std::string block = ReadBytes(dir / "a.z");
  std::string inflated;
  ASSERT_TRUE(DecompressBlock(block, inflated));
  EXPECT_EQ(inflated, content);
  ASSERT_TRUE(DecompressFile(dir / "a.z", dir / "b.ini"));
  EXPECT_EQ(ReadBytes(dir / "b.ini"), content);

  // A block of many pieces, inflated onto itself; damaged at its end, it is refused and the
  // destination stays as it was.
  const std::string large = IniLikeText(300, 60);
  WriteBytes(dir / "large.ini", large);
  ASSERT_TRUE(CompressFile(dir / "large.ini", dir / "large.z"));
  std::string damaged = ReadBytes(dir / "large.z");
  damaged[damaged.size() - 2] = static_cast<char>(damaged[damaged.size() - 2] ^ 1);
  WriteBytes(dir / "damaged.z", damaged);
  EXPECT_FALSE(DecompressFile(dir / "damaged.z", dir / "b.ini"));
  EXPECT_FALSE(DecompressFile(dir / "damaged.z", dir / "damaged.z"));
  EXPECT_EQ(ReadBytes(dir / "damaged.z"), damaged);
  EXPECT_EQ(ReadBytes(dir / "b.ini"), content);
  ASSERT_TRUE(DecompressFile(dir / "large.z", dir / "large.z"));
  EXPECT_EQ(ReadBytes(dir / "large.z"), large);

  WriteBytes(dir / "ten", "0123456789");
  ASSERT_TRUE(CompressFile(dir / "ten", dir / "ten.z"));
  EXPECT_EQ(Hex(ReadBytes(dir / "ten.z").substr(0, 4)), "0a 00 00 00");
}

TEST(FileCompression, FailuresAreReportedAndTouchNothing) {
  TempFolder dir;
  EXPECT_FALSE(CompressFile(dir / "missing", dir / "out"));
  EXPECT_FALSE(DecompressFile(dir / "missing", dir / "out"));
  EXPECT_FALSE(Exists(dir / "out"));

  WriteBytes(dir / "plain.ini", "[g]\r\na=1\r\n");
  EXPECT_FALSE(DecompressFile(dir / "plain.ini", dir / "out"));
  EXPECT_FALSE(Exists(dir / "out"));
  WriteBytes(dir / "out", "kept");
  EXPECT_FALSE(DecompressFile(dir / "plain.ini", dir / "out"));
  EXPECT_EQ(ReadBytes(dir / "out"), "kept");

  // A destination that cannot be written is a failure, not a success.
  ASSERT_TRUE(CompressFile(dir / "plain.ini", dir / "plain.z"));
  EXPECT_FALSE(DecompressFile(dir / "plain.z", dir / "missing/out"));
  EXPECT_FALSE(DecompressFile(dir / "plain.z", dir.path()));
  EXPECT_FALSE(CompressFile(dir / "plain.ini", dir / "missing/out"));
  FaultInjection faults;
  FaultInjection::FailWritesAfter(3);
  EXPECT_FALSE(DecompressFile(dir / "plain.z", dir / "out"));
  EXPECT_EQ(ReadBytes(dir / "out"), "kept");
}

// ---------------------------------------------------------------- the store and its files

struct NotifyLog {
  std::vector<std::pair<const void*, int>> calls;
  std::string fileDuring;  // what the target held when "On Save" ran
  std::string watched;
  Store* store = nullptr;
  bool meddle = false;  // change the store's settings from inside "On Save"
};
NotifyLog* g_log = nullptr;

void RecordNotify(const void* listener, int flags) {
  g_log->calls.emplace_back(listener, flags);
  if (flags == kNotifySaving) {
    g_log->fileDuring = Exists(g_log->watched) ? ReadBytes(g_log->watched) : "<missing>";
    if (g_log->meddle) {
      g_log->store->settings().fileName.clear();
      g_log->store->settings().encryptionKey = "another key entirely";
    }
  }
}

// A listener that logs what the store tells it; it may throw on a new item, as a handler
// that runs out of memory does.
struct Recorder final : StoreListener {
  void Notify(int flags) override {
    RecordNotify(this, flags);
    if (throwOnNewItem && flags == kNotifyNewItem) throw std::bad_alloc();
  }
  bool throwOnNewItem = false;
};

class StoreFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    store.settings().autoSave = false;
    g_log = &log;
    log.store = &store;
  }
  void TearDown() override { g_log = nullptr; }

  void Fill(Store& s) {
    s.SetItem("Player", "Name", "Ada");
    s.SetItem("Player", "Score", "1200");
    s.SetItem("World", "Seed", "42");
  }
  static std::string Dump(const Store& s) {
    std::string out;
    s.ForEachGroup([&](const Group& g) {
      out += "[" + g.name() + "]";
      g.ForEachItem([&](const Item& it) {
        out.append(it.name()).append("=").append(it.value()).append(";");
      });
    });
    return out;
  }

  TempFolder dir;
  Store store{&SaveStore};
  NotifyLog log;
};

TEST_F(StoreFiles, CompressedEncipheredFilesOpenOnlyWithTheSameSettings) {
  Fill(store);
  const std::string path = dir / "save.ini";
  ASSERT_TRUE(SaveFile(store, path, true, true, "sesame"));
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes.find("Ada"), std::string::npos);

  Store same;
  ASSERT_TRUE(LoadFile(same, path, true, true, "sesame"));
  EXPECT_EQ(Dump(same), Dump(store));

  Store wrongKey;
  ASSERT_TRUE(LoadFile(wrongKey, path, true, true, "sesamf"));
  EXPECT_FALSE(wrongKey.HasItem("Player", "Name"));
  Store notCompressed;
  ASSERT_TRUE(LoadFile(notCompressed, path, false, true, "sesame"));
  EXPECT_FALSE(notCompressed.HasItem("Player", "Name"));
  Store notEnciphered;
  ASSERT_TRUE(LoadFile(notEnciphered, path, true, false, ""));
  EXPECT_FALSE(notEnciphered.HasItem("Player", "Name"));

  // The layers are RC4 inside a compressed block.
  std::string inner;
  ASSERT_TRUE(DecompressBlock(bytes, inner));
  CipherBlock(inner, "sesame");
  EXPECT_NE(inner.find("Name=Ada"), std::string::npos);
}

// A save streams its text in pieces through the cipher and the compressor: the file is
// what the whole text enciphered and compressed gives, in every combination. Enciphered
// text is stored as it is (level 0), plain text compressed.
TEST_F(StoreFiles, StreamedSavesHoldTheWholeText) {
  for (int i = 0; i < 30000; ++i) {
    store.SetItem("group " + std::to_string(i / 100), "item" + std::to_string(i % 100),
                  "value " + std::to_string(i * 7919 % 100003));
  }
  const std::string text = WriteText(store);
  ASSERT_GT(text.size(), size_t{500000});  // several pieces
  for (const bool compressed : {false, true}) {
    for (const bool encrypted : {false, true}) {
      const std::string path = dir / "save.ini";
      ASSERT_TRUE(SaveFile(store, path, compressed, encrypted, "sesame"));
      std::string bytes = ReadBytes(path);
      std::string expected = text;
      if (encrypted) CipherBlock(expected, "sesame");
      if (compressed) {
        EXPECT_EQ(Hex(bytes.substr(4, 2)), encrypted ? "78 01" : "78 5e");  // levels 0 and 4
        EXPECT_EQ(bytes.size() < text.size() / 2, !encrypted)
            << bytes.size() << " of " << text.size();
        std::string inflated;
        ASSERT_TRUE(DecompressBlock(bytes, inflated));
        bytes.swap(inflated);
      }
      EXPECT_EQ(bytes, expected) << compressed << encrypted;
      Store back;
      ASSERT_TRUE(LoadFile(back, path, compressed, encrypted, "sesame"));
      EXPECT_EQ(Dump(back), Dump(store));
    }
  }
}

TEST_F(StoreFiles, LoadingAddsToTheStoreAndStopsAtAZeroByte) {
  store.SetItem("Keep", "k", "1");
  WriteBytes(dir / "a.ini", std::string("[G]\r\na=1\r\n\0[H]\r\nb=2\r\n", 20));
  ASSERT_TRUE(LoadFile(store, dir / "a.ini", false, false, ""));
  EXPECT_TRUE(store.HasItem("Keep", "k"));
  EXPECT_EQ(store.GetItem("G", "a", ""), "1");
  EXPECT_FALSE(store.GroupExists("H"));
  EXPECT_FALSE(LoadFile(store, dir / "missing.ini", false, false, ""));
  EXPECT_FALSE(LoadFile(store, dir.path(), false, false, ""));
}

TEST_F(StoreFiles, ALoadReportSaysWhyAFileWasNotTakenInWhole) {
  Fill(store);
  const std::string path = dir / "save.dat";
  ASSERT_TRUE(SaveFile(store, path, true, true, "sesame"));
  const std::string bytes = ReadBytes(path);
  auto report = [&](const std::string& file, bool compressed, std::string_view key) {
    Store s;
    LoadReport r;
    r.fault = LoadFault::kNotFound;
    LoadFile(s, file, compressed, !key.empty(), key, &r);
    return r;
  };
  const LoadReport whole = report(path, true, "sesame");
  EXPECT_EQ(whole.fault, LoadFault::kNone);
  EXPECT_EQ(whole.fileBytes, bytes.size());
  EXPECT_EQ(whole.textBytes, WriteText(store).size());

  EXPECT_EQ(report(dir / "missing", false, "").fault, LoadFault::kNotFound);
  const LoadReport folder = report(dir.path(), false, "");
  EXPECT_EQ(folder.fault, LoadFault::kUnreadable);
  EXPECT_EQ(folder.error, EISDIR);
  // A wrong key or none: the text turns into control bytes (or zero bytes).
  for (const LoadFault fault : {report(path, true, "sesamf").fault, report(path, true, "").fault}) {
    EXPECT_TRUE(fault == LoadFault::kControlBytes || fault == LoadFault::kZeroByte);
  }
  // Not compressed as read: the length field's zero bytes end the text.
  EXPECT_EQ(report(path, false, "").fault, LoadFault::kZeroByte);
  // Cut short: before the stream is whole, or so short the length cannot be honest.
  WriteBytes(dir / "cut.dat", bytes.substr(0, bytes.size() - 3));
  EXPECT_EQ(report(dir / "cut.dat", true, "sesame").fault, LoadFault::kDecompressFailed);
  WriteBytes(dir / "cut3.dat", bytes.substr(0, 3));
  EXPECT_EQ(report(dir / "cut3.dat", true, "sesame").fault, LoadFault::kBadLength);
  // A length field smaller than the stream's content.
  std::string shorter = bytes;
  shorter[0] = 1;
  shorter[1] = shorter[2] = shorter[3] = 0;
  WriteBytes(dir / "short.dat", shorter);
  EXPECT_EQ(report(dir / "short.dat", true, "sesame").fault, LoadFault::kBadLength);
  // Tabs, line ends and the custom new-line text's bytes are text.
  Store custom;
  custom.settings().SetNewLine("\x01");
  WriteBytes(dir / "custom.ini",
             "[G]\x01"
             "a=\t1\r\n");
  LoadReport r;
  LoadFile(custom, dir / "custom.ini", false, false, "", &r);
  EXPECT_EQ(r.fault, LoadFault::kNone);
  EXPECT_STREQ(DescribeLoadFault(LoadFault::kBadLength),
               "the length field of the compressed block is bad");
}

// A file read in pieces is taken in exactly as the whole bytes decoded at once would be,
// whatever is wrong with it and wherever the fault lies (found in the first piece, several
// pieces in, or only at the end): a bad block falls back to its raw bytes, with what was
// read of the stream taken back; a read error part-way leaves the store as it was.
TEST_F(StoreFiles, AStreamedLoadReadsAsTheWholeBytesAtEveryFault) {
  const std::string text = IniLikeText(400, 60) + "[tail]\r\nlast=1";  // some 580 KB
  std::string enciphered = text;
  CipherBlock(enciphered, "sesame");
  const std::string block = CompressBlock(enciphered);
  ASSERT_GT(block.size(), 4u);
  std::string statesLess = block;  // the length field says less than the stream holds
  const size_t less = text.size() - 1000;
  for (int i = 0; i < 4; ++i) statesLess[i] = static_cast<char>((less >> (8 * i)) & 0xFF);
  std::string statesMore = block;  // more: the stream ends first, which reads
  statesMore[3] = 1;
  std::string flipped = block;  // one byte of the stream damaged half way
  flipped[block.size() / 2] = static_cast<char>(flipped[block.size() / 2] ^ 0x55);
  std::string withZero = text;  // a zero byte several pieces in
  withZero[text.size() * 2 / 3] = '\0';
  std::string zeroEnciphered = withZero;
  CipherBlock(zeroEnciphered, "sesame");
  struct Case {
    std::string name;
    std::string bytes;
    bool compressed;
    std::string key;
  };
  const std::vector<Case> cases = {
      {"whole", block, true, "sesame"},
      {"plain", text, false, ""},
      {"enciphered", enciphered, false, "sesame"},
      {"wrong key", block, true, "sesamf"},
      {"cut in the stream", block.substr(0, block.size() * 2 / 3), true, "sesame"},
      {"cut in its check", block.substr(0, block.size() - 2), true, "sesame"},
      {"trailing bytes", block + "junk", true, "sesame"},
      {"length says less", statesLess, true, "sesame"},
      {"length says more", statesMore, true, "sesame"},
      {"damaged", flipped, true, "sesame"},
      {"zero byte", CompressBlock(zeroEnciphered), true, "sesame"},
      {"plain with compression on", text, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // What decoding the whole bytes at once gives.
    Store expected;
    expected.settings().autoSave = false;
    Fill(expected);
    std::string decoded;
    BlockFault fault = BlockFault::kNone;
    if (!c.compressed || !DecompressBlock(c.bytes, decoded, &fault)) decoded = c.bytes;
    CipherBlock(decoded, c.key);
    ParseText(expected, decoded);

    const std::string path = dir / "streamed.ini";
    WriteBytes(path, c.bytes);
    Store loaded;
    loaded.settings().autoSave = false;
    Fill(loaded);
    LoadReport report;
    EXPECT_TRUE(LoadFile(loaded, path, c.compressed, !c.key.empty(), c.key, &report));
    EXPECT_EQ(Dump(loaded), Dump(expected));
    EXPECT_EQ(report.fileBytes, c.bytes.size());
    EXPECT_EQ(report.textBytes, UpToZero(decoded).size());
    const LoadFault blockFault = fault == BlockFault::kNone        ? LoadFault::kNone
                                 : fault == BlockFault::kBadLength ? LoadFault::kBadLength
                                                                   : LoadFault::kDecompressFailed;
    if (blockFault != LoadFault::kNone) {
      EXPECT_EQ(report.fault, blockFault);
    } else if (decoded.find('\0') != std::string::npos) {
      EXPECT_EQ(report.fault, LoadFault::kZeroByte);
    }

    // A read error at any piece takes nothing in.
    for (const size_t after : {size_t{0}, size_t{100}, c.bytes.size() / 2, c.bytes.size() - 1}) {
      SCOPED_TRACE("read error after " + std::to_string(after));
      FaultInjection restore;
      FaultInjection::FailReadsAfter(after);
      Store failed;
      failed.settings().autoSave = false;
      Fill(failed);
      const std::string before = Dump(failed);
      EXPECT_FALSE(LoadFile(failed, path, c.compressed, !c.key.empty(), c.key, &report));
      EXPECT_EQ(report.fault, LoadFault::kUnreadable);
      EXPECT_EQ(Dump(failed), before);
    }
  }
}

TEST_F(StoreFiles, BadInputNeverCrashesAndFallsBackToTheRawBytes) {
  // A plain file opened with compression on still loads.
  WriteBytes(dir / "plain.ini", "[G]\r\na=1\r\n");
  ASSERT_TRUE(LoadFile(store, dir / "plain.ini", true, false, ""));
  EXPECT_EQ(store.GetItem("G", "a", ""), "1");

  Store source;
  Fill(source);
  ASSERT_TRUE(SaveFile(source, dir / "full.ini", true, true, "k"));
  const std::string full = ReadBytes(dir / "full.ini");
  for (size_t cut : {size_t{0}, size_t{3}, size_t{4}, full.size() / 2, full.size() - 1}) {
    WriteBytes(dir / "cut.ini", full.substr(0, cut));
    Store s;
    EXPECT_TRUE(LoadFile(s, dir / "cut.ini", true, true, "k"));
  }
  std::string forged = full;
  forged[0] = forged[1] = forged[2] = forged[3] = '\xff';  // a length of 4 GiB
  WriteBytes(dir / "forged.ini", forged);
  Store s1;
  EXPECT_TRUE(LoadFile(s1, dir / "forged.ini", true, true, "k"));
  WriteBytes(dir / "random.ini", RandomBytes(200000, 11));
  Store s2;
  EXPECT_TRUE(LoadFile(s2, dir / "random.ini", true, true, "k"));
}

TEST_F(StoreFiles, SavingNotifiesTheOwnerAloneBeforeWriting) {
  Fill(store);
  Recorder owner, other;
  store.Attach(other);
  store.Attach(owner);  // the last attached is the owner
  log.watched = dir / "a.ini";
  WriteBytes(log.watched, "previous");
  ASSERT_TRUE(SaveFile(store, log.watched, false, false, ""));
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0], std::make_pair(static_cast<const void*>(&owner), int{kNotifySaving}));
  EXPECT_EQ(log.fileDuring, "previous");
  EXPECT_NE(ReadBytes(log.watched), "previous");
}

TEST_F(StoreFiles, SaveUsesTheSettingsItStartedWith) {
  // "On Save" handlers may change the settings; the save in progress keeps its own.
  Fill(store);
  Recorder owner;
  store.Attach(owner);
  log.meddle = true;
  store.settings().fileName = dir / "a.ini";
  store.settings().encrypt = true;
  store.settings().encryptionKey = "first";
  ASSERT_TRUE(SaveStore(store));
  Store back;
  ASSERT_TRUE(LoadFile(back, dir / "a.ini", false, true, "first"));
  EXPECT_EQ(back.GetItem("Player", "Name", ""), "Ada");
}

TEST_F(StoreFiles, SaveReportsWhetherTheFileWasWritten) {
  Fill(store);
  EXPECT_FALSE(SaveStore(store));  // no file
  store.settings().fileName = dir / "a.ini";
  store.settings().readOnly = true;
  EXPECT_FALSE(SaveStore(store));
  EXPECT_FALSE(Exists(store.settings().fileName));
  store.settings().readOnly = false;
  EXPECT_TRUE(SaveStore(store));
  EXPECT_TRUE(Exists(store.settings().fileName));

  EXPECT_FALSE(SaveFile(store, dir / "missing/a.ini", false, false, ""));
  EXPECT_FALSE(SaveFile(store, dir.path(), false, false, ""));
  EXPECT_FALSE(SaveFile(store, dir.path() + "/", true, true, "k"));
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});

  // A full disk in the middle of a save keeps the previous save.
  const std::string before = ReadBytes(dir / "a.ini");
  store.SetItem("More", "x", std::string(100000, 'x'));
  FaultInjection faults;
  FaultInjection::FailWritesAfter(1000);
  EXPECT_FALSE(SaveStore(store));
  EXPECT_EQ(ReadBytes(dir / "a.ini"), before);
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.ini"});
}

TEST_F(StoreFiles, SaveAsAndOpenAdoptTheFile) {
  Fill(store);
  store.settings().readOnly = true;
  store.settings().compressFile = true;
  const std::string path = dir / "b.ini";
  ASSERT_TRUE(SaveAs(store, path));
  EXPECT_EQ(store.settings().fileName, path);
  EXPECT_FALSE(store.settings().readOnly);
  // Save As adopts the path even when it could not write.
  EXPECT_FALSE(SaveAs(store, dir / "missing/c.ini"));
  EXPECT_EQ(store.settings().fileName, dir / "missing/c.ini");

  Store other;
  other.settings().autoSave = false;
  other.settings().compressFile = true;
  other.SetItem("Old", "o", "1");
  ASSERT_TRUE(OpenFile(other, path, OpenMode::kAdoptFile));
  EXPECT_EQ(other.settings().fileName, path);
  EXPECT_EQ(Dump(other), Dump(store));
  EXPECT_FALSE(other.quiet);

  // Opening a missing file empties the store and ties it to the new path.
  EXPECT_FALSE(OpenFile(other, dir / "none.ini", OpenMode::kAdoptFile));
  EXPECT_EQ(other.GroupCount(), 0);
  EXPECT_EQ(other.settings().fileName, dir / "none.ini");
  // Without adopt the store keeps its file and its data.
  other.SetItem("Keep", "k", "1");
  EXPECT_TRUE(OpenFile(other, path, OpenMode::kAddItems));
  EXPECT_TRUE(other.HasItem("Keep", "k"));
  EXPECT_EQ(other.settings().fileName, dir / "none.ini");
  // Re-reading its own file (auto load) works with the store's own fileName as argument.
  other.settings().fileName = path;
  EXPECT_TRUE(OpenFile(other, other.settings().fileName, OpenMode::kAdoptFile));
  EXPECT_EQ(Dump(other), Dump(store));
}

TEST_F(StoreFiles, TextsTooLongForAnItemAreRefusedWhole) {
  struct Limit {
    explicit Limit(size_t n) { ItemLengthLimit() = n; }
    ~Limit() { ItemLengthLimit() = UINT32_MAX; }
  } limit(64);
  Recorder listener;
  store.Attach(listener);
  EXPECT_TRUE(store.SetItem("g", "fits", std::string(64, 'v')));
  log.calls.clear();
  EXPECT_FALSE(store.SetItem("g", "long", std::string(65, 'v')));
  EXPECT_FALSE(store.SetItem("h", std::string(65, 'n'), "v"));
  EXPECT_FALSE(store.GroupExists("h"));
  EXPECT_FALSE(store.HasItem("g", "long"));
  EXPECT_TRUE(log.calls.empty());

  // A load that meets a line too long fails whole: nothing of it is taken in. A text in
  // memory is looked at first; a file is read in pieces, and the items read before the
  // long line (announced as they came) are taken back.
  const std::string before = Dump(store);
  const std::string text = "[a]\r\nx=1\r\n[b]\r\ny=" + std::string(100, 'v') + "\r\nz=2";
  WriteBytes(dir / "long.ini", text);
  EXPECT_TRUE(ParseText(store, text, {.clearFirst = true, .notifyAfter = true}).refused);
  EXPECT_TRUE(log.calls.empty());
  EXPECT_FALSE(LoadFile(store, dir / "long.ini", false, false, ""));
  EXPECT_EQ(Dump(store), before);
  // A file that failed so is kept whole by the next save over it.
  store.settings().fileName = dir / "long.ini";
  ASSERT_TRUE(SaveStore(store));
  EXPECT_EQ(ReadBytes(dir / "long.ini.unread-1"), text);

  // The real limit, through the real path: the length is checked before a byte is read,
  // so a view that claims 4 GiB over a few bytes is enough. (A 32-bit process has no text
  // that long.)
  ItemLengthLimit() = UINT32_MAX;
  constexpr uint64_t kBeyond = uint64_t{1} << 32;
  if (kBeyond <= SIZE_MAX) {
    const char bytes[8] = "1234567";
    const auto beyond = static_cast<size_t>(kBeyond);
    EXPECT_FALSE(store.SetItem("g", "x", std::string_view(bytes, beyond)));
    EXPECT_FALSE(store.SetItem("g", std::string_view(bytes, beyond + 5), "v"));
    EXPECT_FALSE(store.HasItem("g", "x"));
  }
}

// A handler that runs out of memory while the store loads or replays: every flag held for
// the operation is lifted again, so later changes still notify and save.
TEST_F(StoreFiles, AnExceptionInsideAnOperationLeavesNoFlagSet) {
  Recorder owner;
  store.Attach(owner);
  UndoOf(store).undoDepth = -1;
  UndoOf(store).redoDepth = -1;
  WriteBytes(dir / "a.ini", "[g]\r\na=1\r\nb=2");
  owner.throwOnNewItem = true;
  EXPECT_THROW(OpenFile(store, dir / "a.ini", OpenMode::kAdoptFile), std::bad_alloc);
  EXPECT_FALSE(store.quiet);
  EXPECT_FALSE(store.loading);
  EXPECT_EQ(store.GroupCount(), 0);  // a load that fails loads nothing

  owner.throwOnNewItem = false;
  OpenFile(store, dir / "a.ini", OpenMode::kAdoptFile);
  BeginUndoBlock(store);
  store.DeleteItem("g", "a");
  owner.throwOnNewItem = true;  // the undo re-creates the item
  EXPECT_THROW(PerformUndo(store), std::bad_alloc);
  EXPECT_FALSE(store.quiet);
  EXPECT_FALSE(UndoOf(store).undoing);
  owner.throwOnNewItem = false;
  BeginUndoBlock(store);
  store.SetItem("g", "c", "3");
  PerformUndo(store);  // not refused as a replay still in progress
  EXPECT_FALSE(store.HasItem("g", "c"));
  store.settings().autoSave = true;
  store.settings().fileName = dir / "b.ini";
  log.calls.clear();
  store.SetItem("g", "d", "4");
  EXPECT_EQ(log.calls.size(), 3u);  // new item, modified, saving
  EXPECT_TRUE(Exists(dir / "b.ini"));
}

TEST_F(StoreFiles, ChangesAreSavedAutomatically) {
  store.settings().autoSave = true;
  store.settings().fileName = dir / "auto.ini";
  store.SetItem("G", "a", "1");
  Store back;
  ASSERT_TRUE(LoadFile(back, store.settings().fileName, false, false, ""));
  EXPECT_EQ(back.GetItem("G", "a", ""), "1");
  store.settings().readOnly = true;
  store.SetItem("G", "a", "2");
  Store again;
  ASSERT_TRUE(LoadFile(again, store.settings().fileName, false, false, ""));
  EXPECT_EQ(again.GetItem("G", "a", ""), "1");
}

// ---------------------------------------------------------------- every file-system call failing

// A fault of the walk: call number `at` fails with `error`, or (error 0) moves only `cut`
// bytes, a short read or write; with `thenFull` the write that goes on from there finds the
// disk full. A persistent fault fails every call from `at` on, as a disk that stays broken.
struct SeamFault {
  size_t at = SIZE_MAX;
  int error = 0;
  size_t cut = 0;
  bool thenFull = false;
  bool persistent = false;
  // Whether the operation must still succeed: an interrupted call is made again, and a
  // short transfer is continued.
  bool Passes() const { return !persistent && (error == EINTR || (error == 0 && !thenFull)); }
  // The error a failing operation must report.
  int Reported() const { return error != 0 ? error : ENOSPC; }
};

// What was on the disk for good at one moment: each file under the walk's folder (relative
// path) with its bytes, and each folder (its path with a trailing "/").
using DiskState = std::map<std::string, std::string>;

// What the file system has made durable: the entries each folder had when it was last
// flushed (name to inode, and whether it is a folder), and the bytes each file had when it
// was last flushed. A power cut keeps exactly this.
struct Durable {
  std::map<std::string, std::map<std::string, std::pair<bool, uint64_t>>> folders;
  std::map<uint64_t, std::string> bytes;
};

std::map<std::string, std::pair<bool, uint64_t>> EntriesWithInodes(const std::string& folder) {
  std::map<std::string, std::pair<bool, uint64_t>> entries;
  for (const std::string& name : Entries(folder)) {
#ifdef _WIN32
    const std::string path = folder + "/" + name;
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ec))) {
      entries[name] = {true, 0};
    } else if (Exists(path)) {
      entries[name] = {false, Inode(path)};
    }
#else
    struct stat st;
    if (::lstat((folder + "/" + name).c_str(), &st) == 0) {
      entries[name] = {S_ISDIR(st.st_mode), static_cast<uint64_t>(st.st_ino)};
    }
#endif
  }
  return entries;
}

// Everything under `folder` as durable: what a walk starts from.
void TakeAsDurable(const std::string& folder, Durable& durable) {
  durable.folders[folder] = EntriesWithInodes(folder);
  for (const auto& [name, entry] : durable.folders[folder]) {
    if (entry.first) {
      TakeAsDurable(folder + "/" + name, durable);
    } else {
      durable.bytes[entry.second] = ReadBytes(folder + "/" + name);
    }
  }
}

// What a power cut now would leave under `folder`: the durable entries of each durable
// folder; a file whose bytes never reached the disk is there but empty.
void Cut(const Durable& durable, const std::string& folder, const std::string& relative,
         DiskState& out) {
  const auto found = durable.folders.find(folder);
  if (found == durable.folders.end()) return;
  for (const auto& [name, entry] : found->second) {
    if (entry.first) {
      out[relative + name + "/"] = "";
      Cut(durable, folder + "/" + name, relative + name + "/", out);
    } else {
      const auto bytes = durable.bytes.find(entry.second);
      out[relative + name] = bytes != durable.bytes.end() ? bytes->second : "";
    }
  }
}

// What the stand-ins for the file-system calls do: log each call with the bytes it asks to
// move, make `fault` happen, and follow what a flush makes durable, recording what a power
// cut would leave before each call. `refuseNew` plays a folder that refuses new entries,
// `refuseRename` one with the sticky bit that belongs to someone else.
struct SeamWalk {
  std::vector<std::pair<std::string, size_t>> calls;
  SeamFault fault;
  bool full = false;
  bool refuseNew = false;
  bool refuseRename = false;
  std::string root;  // the folder the power cuts look at ("" when not followed)
  Durable durable;
  std::vector<DiskState> cuts;
};
SeamWalk g_walk;

void RecordCut() {
  if (g_walk.root.empty()) return;
  DiskState state;
  Cut(g_walk.durable, g_walk.root, "", state);
  if (g_walk.cuts.empty() || g_walk.cuts.back() != state) g_walk.cuts.push_back(std::move(state));
}

// Logs a call; true when it is one to fail (errno is set). A cut shortens `*size`.
bool Fails(const char* name, size_t* size = nullptr) {
  RecordCut();
  const SeamFault& fault = g_walk.fault;
  const bool now =
      fault.persistent ? g_walk.calls.size() >= fault.at : g_walk.calls.size() == fault.at;
  g_walk.calls.emplace_back(name, size != nullptr ? *size : 0);
  if (now && fault.error != 0) {
    errno = fault.error;
    return true;
  }
  if (now && size != nullptr) {
    *size = fault.cut;
    g_walk.full = fault.thenFull;
  }
  return false;
}

// A flush made durable what the descriptor names: a folder's entries or a file's bytes.
void Flushed(int fd) {
  if (g_walk.root.empty()) return;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  FileStatus st;
  ASSERT_EQ(System().fstat(fd, &st), 0);
  if (st.kind == FileKind::kFolder) {
    const std::string folder = std::filesystem::read_symlink(self).string();
    g_walk.durable.folders[folder] = EntriesWithInodes(folder);
  } else {
    g_walk.durable.bytes[st.inode] = ReadBytes(self);
  }
}

FileSystemCalls WalkingCalls() {
  FileSystemCalls c{};
  c.open = [](const char* path, unsigned flags, unsigned mode) -> int {
    if (Fails("open")) return -1;
    if (g_walk.refuseNew && (flags & kOpenCreateNew) != 0) {
      errno = EACCES;
      return -1;
    }
    return System().open(path, flags, mode);
  };
  c.read = [](int fd, void* data, size_t size) -> ptrdiff_t {
    return Fails("read", &size) ? -1 : System().read(fd, data, size);
  };
  c.write = [](int fd, const void* data, size_t size) -> ptrdiff_t {
    const bool full = std::exchange(g_walk.full, false);
    if (Fails("write", &size)) return -1;
    if (full) {
      errno = ENOSPC;
      return -1;
    }
    return System().write(fd, data, size);
  };
  c.lseek = [](int fd, int64_t offset) -> int64_t {
    return Fails("lseek") ? -1 : System().lseek(fd, offset);
  };
  // A flush only reports (and is followed): the walk needs its outcome, not the disk. A
  // folder's flush is logged apart, as a save goes on when it fails.
  c.fsync = [](int fd) -> int {
    FileStatus st;
    const bool folder = System().fstat(fd, &st) == 0 && st.kind == FileKind::kFolder;
    if (Fails(folder ? "fsync folder" : "fsync")) return -1;
    Flushed(fd);
    return 0;
  };
  c.close = [](int fd) -> int {
    // A failing close still releases the descriptor.
    const bool fails = Fails("close");
    const int error = errno;
    System().close(fd);
    errno = error;
    return fails ? -1 : 0;
  };
  c.fstat = [](int fd, FileStatus* st) -> int {
    return Fails("fstat") ? -1 : System().fstat(fd, st);
  };
  c.fcntl = [](int fd, FileControl command) -> int {
    return Fails("fcntl") ? -1 : System().fcntl(fd, command);
  };
  c.fallocate = [](int fd, int64_t length) -> int {
    return Fails("fallocate") ? -1 : System().fallocate(fd, length);
  };
  c.ftruncate = [](int fd, int64_t length) -> int {
    return Fails("ftruncate") ? -1 : System().ftruncate(fd, length);
  };
  c.stat = [](const char* path, FileStatus* st) -> int {
    return Fails("stat") ? -1 : System().stat(path, st);
  };
  c.access = [](const char* path) -> int { return Fails("access") ? -1 : System().access(path); };
  c.rename = [](const char* from, const char* to) -> int {
    if (Fails("rename")) return -1;
    if (g_walk.refuseRename) {
      errno = EPERM;
      return -1;
    }
    return System().rename(from, to);
  };
  c.link = [](const char* from, const char* to) -> int {
    if (Fails("link")) return -1;
    if (g_walk.refuseNew) {
      errno = EACCES;
      return -1;
    }
    return System().link(from, to);
  };
  c.mkdir = [](const char* path, unsigned mode) -> int {
    return Fails("mkdir") ? -1 : System().mkdir(path, mode);
  };
  c.unlink = [](const char* path) -> int { return Fails("unlink") ? -1 : System().unlink(path); };
  return c;
}

// Starts a walked operation with `fault` armed (none by default).
void Arm(const SeamFault& fault = {}) {
  g_walk.calls.clear();
  g_walk.fault = fault;
  g_walk.full = false;
}

// Every call of a fault-free run failing in turn with each error, once or from there on;
// every read and write also cut short (at each byte of the first 64, in the middle and
// before the last), continued or (writes) then failing on a full disk.
std::vector<SeamFault> FaultsOf(const SeamWalk& run) {
  std::vector<SeamFault> faults;
  for (size_t k = 0; k < run.calls.size(); ++k) {
    for (int error : {EIO, ENOSPC, EACCES, EPERM, EINTR}) faults.push_back({k, error});
    for (int error : {EIO, EPERM}) faults.push_back({k, error, 0, false, true});
    const auto& [name, size] = run.calls[k];
    if (name != "write" && name != "read") continue;
    std::set<size_t> cuts = {size / 2, size - 1};
    for (size_t cut = 1; cut < size && cut <= 64; ++cut) cuts.insert(cut);
    for (size_t cut : cuts) {
      if (cut == 0) continue;
      faults.push_back({k, 0, cut, false});
      if (name == "write") faults.push_back({k, 0, cut, true});
    }
  }
  return faults;
}

std::string Describe(const SeamWalk& run, const SeamFault& fault) {
  return run.calls[fault.at].first + " (call " + std::to_string(fault.at) + "), errno " +
         std::to_string(fault.error) + ", cut " + std::to_string(fault.cut) +
         (fault.thenFull ? ", then full" : "") + (fault.persistent ? ", from there on" : "");
}

// The files under a folder (not the folders), as paths relative to it.
std::set<std::string> FilesUnder(const std::string& folder) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_directory())
      files.insert(entry.path().lexically_relative(folder).generic_string());
  }
  return files;
}

bool IsTemporary(const std::string& file) {
  const std::string name = std::filesystem::path(file).filename().string();
  return name.starts_with(".vx") && name.ends_with(".tmp");
}

// The kinds of save the walks go through, each from a fresh folder.
struct SaveKind {
  const char* name;
  const char* file;   // where the save goes, under the walk's folder
  bool compressed;    // compressed and enciphered: the length field is written last
  bool oldFile;       // an earlier save is there ...
  bool unclean;       // ... and its last load was not clean, so its bytes are kept first
  bool refuseNew;     // the folder refuses new entries: the file is written in place
  bool refuseRename;  // the folder refuses the rename (sticky): the file is written in place

  bool InPlace() const { return refuseNew || refuseRename; }
  std::string Kept() const { return std::string(file) + ".unread-1"; }
  // Longer than the new text, so that a file written in place must also be cut.
  std::string Old() const {
    return unclean ? std::string("written elsewhere\0\x01", 19) : IniLikeText(3, 3);
  }
};
constexpr SaveKind kSaveKinds[] = {
    {"plain", "a.ini", false, true, false, false, false},
    {"compressed and enciphered", "a.ini", true, true, false, false, false},
    {"keeping a file not read cleanly", "a.ini", false, true, true, false, false},
    {"in place", "a.ini", false, true, false, true, false},
    {"in place after a refused rename, keeping", "a.ini", false, true, true, false, true},
    {"new file in a new folder", "sub/a.ini", false, false, false, false, false},
};

class SaveWalk : public StoreFiles {
 protected:
  // A folder in memory where there is one: the walk makes and removes thousands of files.
  // On Windows the system's own folder for temporary files: a path that begins with "/" is
  // relative to the current drive there, and the saves would go where the walk does not look.
#ifdef _WIN32
  SaveWalk() : folder(TemporaryFolder()) {}
#else
  SaveWalk() : folder(Exists("/dev/shm") ? "/dev/shm" : "/tmp") {}
#endif

  // Empties the walk's folder, puts the kind's old file there and makes the store to save.
  void Prepare(const SaveKind& kind) {
    g_walk = SeamWalk{};
    g_walk.refuseNew = kind.refuseNew;
    g_walk.refuseRename = kind.refuseRename;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
      std::filesystem::remove_all(entry.path());
    }
    if (kind.oldFile) WriteBytes(folder / kind.file, kind.Old());
    saving = std::make_unique<Store>();
    saving->settings().autoSave = false;
    if (kind.unclean) LoadFile(*saving, folder / kind.file, false, false, "");
    Fill(*saving);
  }
  SaveStatus Save(const SaveKind& kind, const std::string& under) {
    return SaveFile(*saving, ResolvePath(under, kind.file, Folders::kCreate), kind.compressed,
                    kind.compressed, "key");
  }

  TempFolder folder;
  std::unique_ptr<Store> saving;
};

// A save walked through a failure at every call it makes, in every way each call can fail.
// Whatever fails, the target holds exactly the old bytes (the save fails, and says with the
// call's error) or exactly the new ones (it succeeds); nothing is left beside it but the kept
// copy of a file that did not load cleanly (and, on a disk that stays broken, temporary
// files); and the next save, free of faults, succeeds and leaves no temporary file.
TEST_F(SaveWalk, ASaveFailingAtAnyStepKeepsTheOldFileOrTheNewOne) {
  FaultInjection restore;
  FileSystem() = WalkingCalls();
  std::set<std::string> reached;
  for (const SaveKind& kind : kSaveKinds) {
    SCOPED_TRACE(kind.name);
    const std::string path = folder / kind.file;
    const std::string old = kind.Old();
    Prepare(kind);
    Arm();
    ASSERT_TRUE(Save(kind, folder.path()));
    const SeamWalk run = g_walk;
    const std::string saved = ReadBytes(path);
    // The new file takes the old one's place with the rename; in place, with the last call.
    size_t commit = run.calls.size() - 1;
    for (size_t k = 0; k < run.calls.size() && !kind.InPlace(); ++k) {
      if (run.calls[k].first == "rename") commit = k;
    }
    // `broken`: the disk stayed broken, so neither a temporary file nor a kept copy could be
    // removed; `failedBefore`: a save failed before, so the file's bytes (whichever they
    // are) were kept again.
    auto check = [&](bool ok, bool broken, bool failedBefore) {
      std::set<std::string> expected;
      if (ok || kind.oldFile) expected.insert(kind.file);
      if (ok && kind.unclean) expected.insert(kind.Kept());
      std::set<std::string> files = FilesUnder(folder.path());
      bool oldKept = false;
      const auto leftover = [&](const std::string& f) {
        const bool copy = kind.unclean && f.find(".unread-") != std::string::npos;
        if (copy && ReadBytes(folder / f) == old) oldKept = true;
        return (broken && IsTemporary(f)) || ((broken || failedBefore) && copy);
      };
      std::erase_if(files, leftover);
      std::erase_if(expected, leftover);
      EXPECT_EQ(files, expected);
      if (ok) {
        EXPECT_EQ(ReadBytes(path), saved);
        EXPECT_EQ(oldKept, kind.unclean);
      } else if (kind.oldFile && !(broken && kind.InPlace())) {
        // In place, the old bytes go back only while the disk lets them.
        EXPECT_EQ(ReadBytes(path), old);
      }
    };
    for (const SeamFault& fault : FaultsOf(run)) {
      SCOPED_TRACE(Describe(run, fault));
      Prepare(kind);
      Arm(fault);
      const SaveStatus status = Save(kind, folder.path());
      for (const auto& call : g_walk.calls) reached.insert(call.first);
      // A flush, write, read, cut or rename that fails before the new file is in place has
      // no way around it; other calls may (a refused temporary file or rename goes in place,
      // a refused link is copied, a folder that exists need not be made).
      const std::string& call = run.calls[fault.at].first;
      const bool refused = fault.error == EACCES || fault.error == EPERM;
      const bool unavoidable = call == "write" || call == "read" ||
                               (call == "fsync" && fault.at < commit) ||
                               (call == "rename" && !refused) || call == "ftruncate";
      if (fault.Passes() || fault.at > commit) {
        EXPECT_TRUE(status.ok()) << DescribeSaveStep(status.failed);
      } else if (unavoidable) {
        EXPECT_FALSE(status.ok());
      }
      // The failing call's error is the one reported (or the folder's own refusal).
      if (!status.ok() && (unavoidable || fault.persistent)) {
        const bool refusal = kind.refuseRename && status.error == EPERM;
        EXPECT_TRUE(status.error == fault.Reported() || refusal)
            << DescribeSaveStep(status.failed) << ": " << status.error;
      }
      // What could not be removed stays: on a disk that stays broken, or when the removal
      // is the call that fails.
      const bool stays = fault.persistent || call == "unlink";
      check(status.ok(), stays, false);
      Arm();
      const SaveStatus next = Save(kind, folder.path());
      EXPECT_TRUE(next.ok()) << DescribeSaveStep(next.failed) << " " << next.error;
      check(true, false, stays);
    }
  }
  // The walk reached every entry of the table.
  EXPECT_EQ(reached,
            (std::set<std::string>{"access", "close", "fallocate", "fcntl", "fstat", "fsync",
                                   "fsync folder", "ftruncate", "link", "lseek", "mkdir", "open",
                                   "read", "rename", "stat", "unlink", "write"}));
}

// A power cut at any step of a save: only what was flushed survives (a file's bytes when
// the file was flushed, a folder's entries when the folder was), the rest is gone. Whatever
// the step, the file reads back whole as the old document or the new one (the new one once
// the save has said it succeeded, with a kept copy where one was due), and a save after the
// cut succeeds.
TEST_F(SaveWalk, APowerCutAtAnyStepOfASaveLeavesTheOldFileOrTheNewOne) {
#ifdef _WIN32
  GTEST_SKIP() << "the walk names descriptors' files through /proc/self/fd, which Windows lacks";
#endif
  FaultInjection restore;
  size_t steps = 0;
  for (const SaveKind& kind : kSaveKinds) {
    SCOPED_TRACE(kind.name);
    Prepare(kind);
    FileSystem() = WalkingCalls();
    g_walk.root = std::filesystem::canonical(folder.path()).string();
    TakeAsDurable(g_walk.root, g_walk.durable);
    Arm();
    ASSERT_TRUE(Save(kind, folder.path()));
    RecordCut();
    FileSystem() = DefaultFileSystemCalls();
    steps += g_walk.calls.size() + 1;
    const std::string saved = ReadBytes(folder / kind.file);
    const std::vector<DiskState> cuts = g_walk.cuts;
    for (size_t n = 0; n < cuts.size(); ++n) {
      const DiskState& cut = cuts[n];
      SCOPED_TRACE("cut " + std::to_string(n) + " of " + std::to_string(cuts.size()));
      const auto file = cut.find(kind.file);
      const bool isNew = file != cut.end() && file->second == saved;
      if (n + 1 == cuts.size()) {
        EXPECT_TRUE(isNew) << "a save that succeeded is lost";
      } else if (!isNew && kind.oldFile) {
        ASSERT_NE(file, cut.end());
        EXPECT_EQ(file->second, kind.Old());
      } else if (!isNew) {
        EXPECT_EQ(file, cut.end());
      }
      if (isNew && kind.unclean) {
        const auto kept = cut.find(kind.Kept());
        ASSERT_NE(kept, cut.end()) << "the old bytes are lost";
        EXPECT_EQ(kept->second, kind.Old());
      }
      // The machine starts again from what survived, and the next save succeeds.
      const TempFolder after(folder.path());
      for (const auto& [name, bytes] : cut) {
        if (name.ends_with("/")) {
          ASSERT_TRUE(std::filesystem::create_directory(after / name));
        } else {
          WriteBytes(after / name, bytes);
        }
      }
      ASSERT_TRUE(Save(kind, after.path()));
      EXPECT_EQ(ReadBytes(after / kind.file), saved);
    }
  }
  EXPECT_GT(steps, 0u);
}

// A load that fails at any call takes nothing in; an interrupted call is made again and a
// short read continued, and the file is then taken in whole.
TEST_F(StoreFiles, ALoadFailingAtAnyStepTakesNothingIn) {
  Fill(store);
  const std::string path = dir / "a.ini";
  ASSERT_TRUE(SaveFile(store, path, true, true, "key"));
  FaultInjection restore;
  FileSystem() = WalkingCalls();
  g_walk = SeamWalk{};
  Arm();
  Store first;
  ASSERT_TRUE(LoadFile(first, path, true, true, "key"));
  const SeamWalk run = g_walk;
  // open, fstat, fcntl, the bytes, the end of the file, close
  ASSERT_EQ(run.calls.size(), 6u);
  for (const SeamFault& fault : FaultsOf(run)) {
    SCOPED_TRACE(Describe(run, fault));
    Arm(fault);
    Store s;
    s.settings().autoSave = false;
    // A close that fails after the whole file was read has lost nothing.
    const bool passes = fault.Passes() || run.calls[fault.at].first == "close";
    EXPECT_EQ(LoadFile(s, path, true, true, "key"), passes);
    EXPECT_EQ(Dump(s), passes ? Dump(store) : "");
  }
}

// One item of a file found while it is read: the answer of a whole load, also for lines that
// cross the reader's pieces or are longer than one; anything that is not a plain regular
// file read whole is left to the load.
TEST(FileLookup, ScanningAFileAnswersAsTheLoadDoes) {
  TempFolder dir;
  std::string text = IniLikeText(30000, 3);  // about 700 KB
  text += "[long]\r\nv=" + std::string(3 << 20, 'x') + "\r\n";
  text += IniLikeText(30000, 3) + "[group7]\nitem1=last";
  const std::string path = dir / "big.ini";
  WriteBytes(path, text);
  Store store;
  ASSERT_TRUE(LoadFile(store, path, false, false, ""));
  DocumentSettings settings;
  for (const auto& [group, item] : std::vector<std::pair<std::string, std::string>>{
           {"group7", "item1"}, {"GROUP29999", "item2"}, {"long", "v"}, {"group7", "x"}}) {
    const ItemLookup got = LookupFileItem(path, settings, false, group, item);
    const std::optional<std::string_view> value = store.FindValue(group, item);
    ASSERT_EQ(got.outcome, value ? ItemLookup::Outcome::kFound : ItemLookup::Outcome::kNoItem)
        << group;
    EXPECT_EQ(got.value, value.value_or("")) << group;
  }
  EXPECT_EQ(LookupFileItem(path, settings, false, "none", "a").outcome,
            ItemLookup::Outcome::kNoGroup);

  FaultInjection faults;
  FaultInjection::FailReadsAfter(1 << 21);
  EXPECT_EQ(LookupFileItem(path, settings, false, "group7", "item1").outcome,
            ItemLookup::Outcome::kUnsure);
  FileSystem() = DefaultFileSystemCalls();
#ifdef _WIN32
  const std::string fifo = "NUL";  // a device: no disk file, as a FIFO is none
#else
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
#endif
  for (const std::string& other : {dir / "missing", dir.path(), fifo}) {
    EXPECT_EQ(LookupFileItem(other, settings, false, "g", "a").outcome,
              ItemLookup::Outcome::kUnsure)
        << other;
  }
}

}  // namespace
}  // namespace vellix
