// Memory for pictures. Touching fresh memory costs one page fault per 4 KiB
// page, which for a decoded photo costs more than decoding it; large blocks
// therefore come in whole 2 MiB huge pages where the system allows them.
#pragma once

#include <QByteArray>
#include <QImage>
#include <cstddef>
#include <memory>

class LargeBlock {
  public:
    explicit LargeBlock(size_t bytes);
    ~LargeBlock();
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    // Null when the system has no memory for it.
    unsigned char* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0;
    void* mapping_ = nullptr;
};

// An image whose pixels live in a large block; the null image when there is no
// memory for it. Small images come from the ordinary heap. Its pixels are not
// cleared: whoever asks for it writes every one.
QImage NewLargeImage(QSize size, QImage::Format format);

// While a keeper lives, the large blocks that images give back are kept (up to
// a limit) for the next images of the same size, instead of going back to the
// system: the system clears fresh memory before handing it out, which costs
// about as much as drawing a picture into it. The last keeper to go gives the
// kept blocks back.
class KeepLargeMemory {
  public:
    KeepLargeMemory();
    ~KeepLargeMemory();
    KeepLargeMemory(const KeepLargeMemory&) = delete;
    KeepLargeMemory& operator=(const KeepLargeMemory&) = delete;
};

// The bytes kept for reuse now.
size_t KeptLargeMemory();

// Takes in the pages of memory that is about to be written, in one call
// instead of one fault a page. Does nothing where the system cannot.
void PrefaultMemory(void* data, size_t bytes);
