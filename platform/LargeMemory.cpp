#include "platform/LargeMemory.h"

#include <sys/mman.h>
#include <cstdint>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kLargeImageBytes = size_t(1) << 20;  // below this the heap is as quick

size_t RoundUp(size_t value, size_t step) {
    return (value + step - 1) / step * step;
}

void ReleaseBlock(void* block) {
    delete static_cast<LargeBlock*>(block);
}

}  // namespace

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
    auto* block = new LargeBlock(size_t(bytes));
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
