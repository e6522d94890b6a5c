// Work computed on a thread of its own, ahead of the simulation that takes it in order: item k
// must be a pure function of k (a sea's state at record instant k, the unit's frames of it), so
// what the simulation takes is exactly what it would have computed itself, and a run stays as
// deterministic as without the thread. The items are handed over a batch at a time, so the two
// threads meet once per batch, not once per item.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

template <class T>
class Ahead {
 public:
  // make(k, item) fills item k (reusing what the slot held before), on the thread.
  using Make = std::function<void(uint64_t k, T& item)>;

  Ahead(Make make, uint64_t first_k) : make_(std::move(make)), ring_(kBatches), next_k_(first_k) {
    thread_ = std::thread([this, first_k] { work(first_k); });
  }
  Ahead(const Ahead&) = delete;
  Ahead& operator=(const Ahead&) = delete;
  ~Ahead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  uint64_t next_k() const { return next_k_; }
  // Item next_k(), valid until the next take(); waits for its batch when the thread is behind.
  const T& take() {
    if (pos_ == kBatch) {
      std::unique_lock<std::mutex> lock(mutex_);
      if (holding_) {  // the batch just read is free for the thread again
        head_ = (head_ + 1) % kBatches;
        --ready_;
        if (ready_ == kBatches / 2) changed_.notify_all();  // it waits for half the ring
      }
      changed_.wait(lock, [this] { return ready_ > 0; });
      holding_ = true;
      pos_ = 0;
    }
    ++next_k_;
    return ring_[head_][pos_++];
  }

 private:
  static constexpr size_t kBatch = 64;   // items handed over at a time
  static constexpr size_t kBatches = 8;  // how far ahead the thread may run

  void work(uint64_t k) {
    for (;;) {
      size_t slot;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        // once the ring is full, it sleeps until half of it is free
        if (ready_ == kBatches) changed_.wait(lock, [this] { return stop_ || ready_ <= kBatches / 2; });
        if (stop_) return;
        slot = (head_ + ready_) % kBatches;  // beyond every batch the reader may be in
      }
      for (T& item : ring_[slot]) make_(k++, item);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++ready_;
      }
      changed_.notify_all();
    }
  }

  Make make_;
  std::vector<std::array<T, kBatch>> ring_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t head_ = 0;       // the batch the reader takes from
  size_t ready_ = 0;      // full batches from head_ on (the one being read among them)
  bool stop_ = false;
  bool holding_ = false;  // the reader is inside batch head_
  size_t pos_ = kBatch;   // the reader's place in it
  uint64_t next_k_;
  std::thread thread_;
};

}  // namespace sim
