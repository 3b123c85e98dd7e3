#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "common/result.h"

namespace kestrova::channel {

// Hands a stream of bytes from the thread that receives it to a thread of its
// own that consumes it (hashing, writing), so that receiving and consuming
// overlap. The bytes reach the consumer in order, in blocks of up to
// kBlockBytes; at most kBlocks blocks are in flight, so memory stays the same
// whatever the stream's length: Push waits while all blocks are full.
class ChunkPipeline {
 public:
  static constexpr std::size_t kBlockBytes = 1 << 20;
  static constexpr std::size_t kBlocks = 4;

  using Consumer = std::function<Status(std::span<const std::uint8_t> block)>;

  // Starts the consuming thread. The consumer's first failure stops it; no
  // further block reaches it.
  explicit ChunkPipeline(Consumer consumer);
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;
  // Stops the consuming thread (what it has not consumed yet is dropped).
  ~ChunkPipeline();

  // Copies bytes into the stream. Fails with the consumer's failure once it
  // has failed.
  Status Push(std::span<const std::uint8_t> bytes);

  // Hands over what is left, waits until everything is consumed and ends the
  // thread; the consumer's failure, if any. Push must not follow.
  Status Finish();

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;
    std::size_t size = 0;
  };

  void Consume();
  void HandOver();  // the filling block goes to the consumer
  void Stop(bool drop);

  Consumer consumer_;
  std::vector<Block> blocks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Ring of blocks: [consumed_, handedOver_) wait for the consumer; the
  // block at handedOver_ is being filled. Counters only grow.
  std::uint64_t consumed_ = 0;
  std::uint64_t handedOver_ = 0;
  bool ending_ = false;    // no more blocks will come
  bool dropping_ = false;  // the consumer is to stop at once
  Status failure_;
  std::thread thread_;
};

}  // namespace kestrova::channel
