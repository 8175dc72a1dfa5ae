#pragma once
// MD5 digests of the files an extraction writes, taken on a thread of their
// own from copies of the bytes, so that the handler goes on decompressing on
// its thread meanwhile: on a machine with a second core the digests cost no
// time of their own. Nothing here throws; a digest that could not be taken
// comes out empty.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "util/md5.h"

namespace SevenZip {
namespace intl {

class DigestWorker {
public:
    DigestWorker() = default;
    ~DigestWorker();
    DigestWorker(const DigestWorker&) = delete;
    DigestWorker& operator=(const DigestWorker&) = delete;

    // A new digest; -1 when none can be taken.
    int Begin();
    // The next bytes of digest `id`, in the order written. Waits while much
    // is queued, so that memory stays bounded.
    void Add(int id, const void* data, size_t size);
    // The bytes of `id` were not written front to back: no digest.
    void Spoil(int id);
    // Waits for everything queued; the digests by id ("" when none).
    std::vector<std::string> Finish();

private:
    struct Chunk {
        CMd5* digest;
        std::vector<unsigned char> bytes;
    };
    void Run();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Chunk> queue_;
    size_t queuedBytes_ = 0;
    bool stopping_ = false;
    bool failed_ = false;
    std::vector<std::unique_ptr<CMd5>> digests_;  // each one updated by the worker only
    std::vector<bool> spoiled_;
    std::thread thread_;
};

}  // namespace intl
}  // namespace SevenZip
