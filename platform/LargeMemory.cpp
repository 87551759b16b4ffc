#include "platform/LargeMemory.h"

#include <sys/mman.h>
#include <cstdint>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kLargeImageBytes = size_t(1) << 20;  // below this the heap is as quick

size_t RoundUp(size_t value, size_t step) {
    return (value + step - 1) / step * step;
}

constexpr size_t kKeptLimit = size_t(64) << 20;

// The blocks kept for reuse. Never destroyed, since images may give blocks
// back while the program's static objects are being destroyed.
struct KeptBlocks {
    std::mutex mutex;
    int keepers = 0;
    size_t bytes = 0;
    std::vector<std::unique_ptr<LargeBlock>> blocks;
};

KeptBlocks& Kept() {
    static auto* kept = new KeptBlocks;
    return *kept;
}

// A kept block of exactly the size a new block of these bytes would have.
std::unique_ptr<LargeBlock> TakeKept(size_t bytes) {
    KeptBlocks& kept = Kept();
    const std::lock_guard lock(kept.mutex);
    const size_t size = RoundUp(bytes, kHugePage);
    for (auto it = kept.blocks.begin(); it != kept.blocks.end(); ++it) {
        if ((*it)->size() != size) continue;
        std::unique_ptr<LargeBlock> block = std::move(*it);
        kept.blocks.erase(it);
        kept.bytes -= size;
        return block;
    }
    return nullptr;
}

// The block is unmapped, outside the lock, unless it is kept.
void ReleaseBlock(void* released) {
    std::unique_ptr<LargeBlock> block(static_cast<LargeBlock*>(released));
    KeptBlocks& kept = Kept();
    const std::lock_guard lock(kept.mutex);
    if (kept.keepers == 0 || kept.bytes + block->size() > kKeptLimit) return;
    kept.bytes += block->size();
    kept.blocks.push_back(std::move(block));
}

}  // namespace

KeepLargeMemory::KeepLargeMemory() {
    const std::lock_guard lock(Kept().mutex);
    ++Kept().keepers;
}

KeepLargeMemory::~KeepLargeMemory() {
    std::vector<std::unique_ptr<LargeBlock>> released;  // unmapped outside the lock
    const std::lock_guard lock(Kept().mutex);
    if (--Kept().keepers > 0) return;
    released.swap(Kept().blocks);
    Kept().bytes = 0;
}

size_t KeptLargeMemory() {
    const std::lock_guard lock(Kept().mutex);
    return Kept().bytes;
}

// Mapped with a huge page of slack, so that the block starts on a huge-page
// boundary, and marked so that the kernel backs it with huge pages.
LargeBlock::LargeBlock(size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX / 2) return;
    const size_t wanted = RoundUp(bytes, kHugePage);
    mapped_ = wanted + kHugePage;
    mapping_ = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping_ == MAP_FAILED) {
        mapping_ = nullptr;
        return;
    }
    const auto start = RoundUp(reinterpret_cast<uintptr_t>(mapping_), kHugePage);
    data_ = reinterpret_cast<unsigned char*>(start);
    size_ = wanted;
    madvise(data_, size_, MADV_HUGEPAGE);
}

LargeBlock::~LargeBlock() {
    if (mapping_) munmap(mapping_, mapped_);
}

QImage NewLargeImage(QSize size, QImage::Format format) {
    if (size.isEmpty()) return {};
    const QImage probe(1, 1, format);  // the depth of the format
    const qsizetype bytesPerLine = (qsizetype(size.width()) * probe.depth() + 31) / 32 * 4;
    const qsizetype bytes = bytesPerLine * size.height();
    if (bytesPerLine <= 0 || bytes / bytesPerLine != size.height()) return {};
    if (size_t(bytes) < kLargeImageBytes) return QImage(size, format);
    std::unique_ptr<LargeBlock> kept = TakeKept(size_t(bytes));
    auto* block = kept ? kept.release() : new LargeBlock(size_t(bytes));
    if (!block->data()) {
        delete block;
        return {};
    }
    return QImage(block->data(), size.width(), size.height(), bytesPerLine, format, ReleaseBlock,
                  block);
}

void PrefaultMemory(void* data, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const auto start = reinterpret_cast<uintptr_t>(data) / 4096 * 4096;
    const size_t length = bytes + (reinterpret_cast<uintptr_t>(data) - start);
    madvise(reinterpret_cast<void*>(start), length, MADV_POPULATE_WRITE);
#else
    (void)data, (void)bytes;
#endif
}
