#include "archive/digest_worker.h"

namespace SevenZip {
namespace intl {

namespace {
// Enough to ride out a burst of writes; the handler waits beyond it.
const size_t kMaxQueuedBytes = 8u << 20;
}  // namespace

DigestWorker::~DigestWorker() { Finish(); }

int DigestWorker::Begin() {
    try {
        std::lock_guard<std::mutex> guard(lock_);
        if (failed_ || stopping_) return -1;
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        digests_.push_back(std::unique_ptr<CMd5>(new CMd5()));
        spoiled_.push_back(false);
        return static_cast<int>(digests_.size()) - 1;
    } catch (...) {
        failed_ = true;
        return -1;
    }
}

void DigestWorker::Add(int id, const void* data, size_t size) {
    if (id < 0 || size == 0) return;
    try {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        std::vector<unsigned char> copy(bytes, bytes + size);
        std::unique_lock<std::mutex> guard(lock_);
        if (static_cast<size_t>(id) >= digests_.size()) return;
        changed_.wait(guard, [this] { return queuedBytes_ < kMaxQueuedBytes; });
        queuedBytes_ += size;
        queue_.push_back(Chunk{digests_[id].get(), std::move(copy)});
        changed_.notify_all();
    } catch (...) {
        Spoil(id);
    }
}

void DigestWorker::Spoil(int id) {
    std::lock_guard<std::mutex> guard(lock_);
    if (id >= 0 && static_cast<size_t>(id) < spoiled_.size()) spoiled_[id] = true;
}

void DigestWorker::Run() {
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] { return !queue_.empty() || stopping_; });
            if (queue_.empty()) return;
            chunk = std::move(queue_.front());
            queue_.pop_front();
        }
        chunk.digest->Update(chunk.bytes.data(), static_cast<std::uint32_t>(chunk.bytes.size()));
        std::lock_guard<std::mutex> guard(lock_);
        queuedBytes_ -= chunk.bytes.size();
        changed_.notify_all();
    }
}

std::vector<std::string> DigestWorker::Finish() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::vector<std::string> out;
    for (size_t i = 0; i < digests_.size(); ++i) out.push_back(spoiled_[i] ? std::string() : digests_[i]->HexDigest());
    return out;
}

}  // namespace intl
}  // namespace SevenZip
