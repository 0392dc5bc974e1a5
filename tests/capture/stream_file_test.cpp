// The file behind a y4m capture: exactly the bytes appended, whatever the
// pieces (a frame straddles the 4 MiB chunks and the file ends between
// the 4 KiB blocks that go past the page cache), and a failed write is
// reported, never taken for success.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "stream_file.h"
#include "test_support.h"

namespace {

using capture::StreamFile;
constexpr size_t kChunk = StreamFile::kChunk;

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(StreamFile, HoldsExactlyTheBytesAppended) {
  const std::vector<std::vector<size_t>> rows = {
      {},                               // an empty file
      {1},                              // one byte, no whole block
      {4095, 1, 4097},                  // around a block
      {50, 6, 460800, 6, 460800},       // a header and frames
      {kChunk - 6, 6, 460800},          // a chunk filled to the byte, then more
      {kChunk + 1, 2 * kChunk - 1, 5},  // pieces longer than a chunk
      {3 * kChunk + 4096},              // more than every chunk at once, block-sized end
  };
  char dir[] = "/tmp/stream_file_XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  const std::string path = std::string(dir) + "/out";
  for (size_t r = 0; r < rows.size(); r++) {
    SCOPED_TRACE("row " + std::to_string(r));
    size_t total = 0;
    for (size_t n : rows[r]) total += n;
    const std::vector<uint8_t> bytes = kt::noise(total, 7 + (uint32_t)r);
    StreamFile f;
    ASSERT_TRUE(f.open(path));
    size_t at = 0;
    for (size_t n : rows[r]) {
      ASSERT_TRUE(f.append(bytes.data() + at, n));
      at += n;
    }
    ASSERT_TRUE(f.close());
    EXPECT_TRUE(slurp(path) == std::string(bytes.begin(), bytes.end()));
  }
  unlink(path.c_str());
  rmdir(dir);
}

// The chunks are written after append returns: the failure shows at a later
// append or at the latest at close, with the reason in errno.
TEST(StreamFile, AFullDiskFailsTheCapture) {
  const std::vector<uint8_t> bytes = kt::noise(kChunk / 2, 3);
  StreamFile f;
  ASSERT_TRUE(f.open("/dev/full"));
  bool ok = true;
  for (int i = 0; i < 16 && ok; i++) ok = f.append(bytes.data(), bytes.size());
  if (ok) ok = f.close();
  EXPECT_FALSE(ok);
  EXPECT_EQ(errno, ENOSPC);
}
