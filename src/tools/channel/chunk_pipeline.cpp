#include "tools/channel/chunk_pipeline.h"

#include <algorithm>

namespace kestrova::channel {

ChunkPipeline::ChunkPipeline(Consumer consumer) : consumer_(std::move(consumer)), blocks_(kBlocks) {
  for (Block& block : blocks_) block.bytes.resize(kBlockBytes);
  thread_ = std::thread([this] { Consume(); });
}

ChunkPipeline::~ChunkPipeline() { Stop(/*drop=*/true); }

void ChunkPipeline::Stop(bool drop) {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
    dropping_ = dropping_ || drop;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ChunkPipeline::Consume() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return dropping_ || ending_ || consumed_ < handedOver_; });
    if (dropping_ || failure_ || consumed_ == handedOver_) return;
    Block& block = blocks_[consumed_ % kBlocks];
    lock.unlock();
    Status result = consumer_({block.bytes.data(), block.size});
    lock.lock();
    ++consumed_;
    if (result) failure_ = std::move(result);
    changed_.notify_all();
  }
}

void ChunkPipeline::HandOver() {
  std::unique_lock lock(mutex_);
  ++handedOver_;
  changed_.notify_all();
  // The next block to fill must be free: wait while every block is in flight.
  changed_.wait(lock, [this] { return failure_ || handedOver_ - consumed_ < kBlocks; });
  blocks_[handedOver_ % kBlocks].size = 0;
}

Status ChunkPipeline::Push(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    {
      std::lock_guard lock(mutex_);
      if (failure_) return failure_;
    }
    // The block at handedOver_ belongs to this thread alone until handed over.
    Block& block = blocks_[handedOver_ % kBlocks];
    const std::size_t count = std::min(bytes.size(), kBlockBytes - block.size);
    std::copy_n(bytes.data(), count, block.bytes.data() + block.size);
    block.size += count;
    bytes = bytes.subspan(count);
    if (block.size == kBlockBytes) HandOver();
  }
  std::lock_guard lock(mutex_);
  return failure_;
}

Status ChunkPipeline::Finish() {
  if (blocks_[handedOver_ % kBlocks].size > 0) HandOver();
  Stop(/*drop=*/false);
  return failure_;
}

}  // namespace kestrova::channel
