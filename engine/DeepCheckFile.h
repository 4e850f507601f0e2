#pragma once
// Reading for the deep check: a read-only file (pread, never locked) and a walk along a block
// chain that stops, with a reason, at the first link it cannot follow instead of raising. The
// verifier judges the chain; the deep check only needs to know how far it can trust it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ParadoxFormat.h"
#include "engine/PositionalFile.h"

namespace zel::engine::deep {

using ReadOnlyFile = PositionalFile;

// Reads and parses the header of a Paradox file; false with `problem` when it cannot.
bool ReadHeader(const ReadOnlyFile& file, px::Header& header, std::string& problem);

struct ChainBlock {
  std::uint32_t number = 0;
  std::uint32_t count = 0;                // records in the block
  const std::uint8_t* records = nullptr;  // count * recordSize bytes
};

// Follows a file's block chain from its first block. Reads a window of blocks at a time, so a
// chain in file order costs one read per window.
class ChainScan {
 public:
  // Bytes readable past the end of each block handed out, so that a reader may load a whole
  // word at the end of the last record.
  static constexpr std::size_t kSlack = 8;

  ChainScan(const ReadOnlyFile& file, const px::Header& header);

  // Goes on after block `prev`, whose link is `next`, with the blocks in `seen` (one bit per
  // block number) taken as walked already: where another walk along the chain stopped.
  void StartAfter(std::uint32_t prev, std::uint32_t next, const std::vector<std::uint64_t>& seen);

  // The next block; false at the end of the chain or at the first fault (Stopped() then says
  // why).
  bool Next(ChainBlock& block);
  // The link of the block Next() handed out last (0 at the end of the chain).
  std::uint32_t NextLink() const { return next_; }
  bool Stopped() const { return !stop_.empty(); }
  const std::string& StopReason() const { return stop_; }
  std::uint32_t StopBlock() const { return stopBlock_; }
  std::uint64_t Records() const { return records_; }

 private:
  const std::uint8_t* Load(std::uint32_t b, std::size_t& avail);
  bool Stop(std::uint32_t b, std::string why);

  const ReadOnlyFile& file_;
  const px::Header& h_;
  std::size_t blockSize_;
  std::vector<std::uint64_t> seen_;
  std::vector<std::uint8_t> buf_;
  std::size_t want_ = 1;
  std::uint32_t first_ = 0, count_ = 0;
  std::size_t bytes_ = 0;
  std::uint32_t next_ = 0, prev_ = 0;
  std::uint64_t records_ = 0;
  std::string stop_;
  std::uint32_t stopBlock_ = 0;
};

}  // namespace zel::engine::deep
