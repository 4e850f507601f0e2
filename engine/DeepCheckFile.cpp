#include "engine/DeepCheckFile.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "engine/EngineError.h"

namespace zel::engine::deep {

bool ReadHeader(const ReadOnlyFile& file, px::Header& header, std::string& problem) {
  std::vector<std::uint8_t> buf(px::kMinHeaderBytes);
  std::size_t got = file.ReadAt(0, buf.data(), buf.size());
  if (got >= px::kMinHeaderBytes) {
    const std::size_t want = px::Le16(buf.data() + px::off::HeaderSize);
    if (want > got) {
      buf.resize(want);
      got += file.ReadAt(got, buf.data() + got, want - got);
    }
  }
  buf.resize(got);
  return px::ParseHeader(buf, header, problem);
}

namespace {
// A quarter MiB: few page faults for a fresh buffer, and the window stays in the L2 cache
// between the read and the checks.
constexpr std::size_t kWindowBytes = 256 << 10;
}  // namespace

ChainScan::ChainScan(const ReadOnlyFile& file, const px::Header& header)
    : file_(file), h_(header), blockSize_(header.BlockSize()), seen_(65536 / 64, 0) {
  next_ = h_.firstBlock;
}

void ChainScan::StartAfter(std::uint32_t prev, std::uint32_t next,
                           const std::vector<std::uint64_t>& seen) {
  prev_ = prev;
  next_ = next;
  seen_ = seen;
  seen_.resize(65536 / 64, 0);
}

bool ChainScan::Stop(std::uint32_t b, std::string why) {
  stop_ = std::move(why);
  stopBlock_ = b;
  next_ = 0;
  return false;
}

const std::uint8_t* ChainScan::Load(std::uint32_t b, std::size_t& avail) {
  if (b < first_ || b >= first_ + count_) {
    // A window of blocks from `b` on, growing while the chain runs forward in file order and
    // back to one block after a jump.
    const std::size_t perWindow = std::max<std::size_t>(1, kWindowBytes / blockSize_);
    want_ = count_ != 0 && b == first_ + count_ ? std::min(perWindow, want_ * 2)
            : count_ == 0                       ? perWindow
                                                : 1;
    const std::size_t n =
        std::max<std::size_t>(1, std::min<std::size_t>(want_, std::size_t{h_.fileBlocks} + 1 - b));
    if (buf_.size() < n * blockSize_ + kSlack) buf_.resize(n * blockSize_ + kSlack);
    first_ = b;
    count_ = static_cast<std::uint32_t>(n);
    const std::uint64_t offset = h_.BlockOffset(b);
    bytes_ = offset >= file_.Size() ? 0 : file_.ReadAt(offset, buf_.data(), n * blockSize_);
  }
  const std::size_t at = std::size_t{b - first_} * blockSize_;
  avail = at >= bytes_ ? 0 : std::min(blockSize_, bytes_ - at);
  return buf_.data() + at;
}

bool ChainScan::Next(ChainBlock& block) {
  if (next_ == 0) return false;
  const std::uint32_t b = next_;
  if (b > h_.fileBlocks) {
    return Stop(prev_, "block " + std::to_string(prev_) + " links to block " + std::to_string(b) +
                           ", beyond the file's " + std::to_string(h_.fileBlocks) + " blocks");
  }
  std::uint64_t& word = seen_[b / 64];
  const std::uint64_t bit = std::uint64_t{1} << (b % 64);
  if (word & bit) return Stop(b, "the block chain loops back to block " + std::to_string(b));
  word |= bit;
  std::size_t avail = 0;
  const std::uint8_t* p = Load(b, avail);
  if (avail < px::blk::HeaderSize) {
    return Stop(b, "block " + std::to_string(b) + " lies past the end of the file");
  }
  if (px::Le16(p + px::blk::Prev) != prev_) {
    return Stop(
        b, "block " + std::to_string(b) + " does not link back to block " + std::to_string(prev_));
  }
  const std::int32_t add = px::LeS16(p + px::blk::AddDataSize);
  const std::int32_t rs = h_.recordSize;
  std::uint32_t count = 0;
  if (add != -rs) {
    if (add < 0 || add % rs != 0 || static_cast<std::size_t>(add / rs) + 1 > h_.Capacity()) {
      return Stop(b, "block " + std::to_string(b) + " has an invalid record count");
    }
    count = static_cast<std::uint32_t>(add / rs) + 1;
  }
  if (px::blk::HeaderSize + std::size_t{count} * h_.recordSize > avail) {
    return Stop(b, "block " + std::to_string(b) + " is cut short by the end of the file");
  }
  records_ += count;
  prev_ = b;
  next_ = px::Le16(p + px::blk::Next);
  block = ChainBlock{b, count, p + px::blk::HeaderSize};
  return true;
}

}  // namespace zel::engine::deep
