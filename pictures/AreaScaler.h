// Scales a picture down while it is decoded, row by row: each output pixel is
// the average of the source area it covers, so no detail flickers away, and
// only the output picture and the output rows still being filled are held,
// never the whole source. Whole rows are summed column by column first and
// reduced across once an output row is complete, which keeps the work per
// source pixel to a few additions. Interlaced pixels (every step-th of a row)
// may come in any order. At the same size, rows are copied as they are.
#pragma once

#include <QImage>
#include <memory>
#include <vector>

class AreaScaler {
  public:
    // The order of a pixel's bytes in memory: B, G, R, A (QImage's ARGB32) or
    // R, G, B, A (as PNG and most libraries give them).
    enum class Order { Bgra, Rgba };
    // The size a decoder averages its rows to, for a picture of the given size
    // to be shown at output (empty: its own size): output when the picture
    // shrinks to half or less on a side; else the picture's own size, which is
    // then interpolated to the output (as fast, and as sharp), unless the
    // picture is too large to be decoded whole.
    static QSize TargetFor(QSize source, QSize output);

    // alpha: the pixels carry transparency, premultiplied.
    AreaScaler(QSize source, QSize output, bool alpha, Order order = Order::Bgra);
    ~AreaScaler();
    // False when there was no memory for the output picture (the decoding is
    // then refused as too large).
    bool Ready() const { return !image_.isNull(); }

    // A whole source row y. Rows should come in order (top down or bottom up):
    // each output row being filled holds a sum for every source column.
    void AddRow(int y, const QRgb* pixels);
    // count pixels of source row y, at columns x0, x0 + step, ..., in any order.
    void AddPixels(int y, const QRgb* pixels, int count, int x0, int step);

    // The picture; source pixels that never came (a file cut short, a frame
    // smaller than its canvas) count as black, or transparent with alpha.
    QImage Take();

    // The source pixels one output pixel covers along one side.
    struct Span {
        int first = 0, last = 0;  // source pixels [first, last] touch this output pixel
        float firstWeight = 0, lastWeight = 0;  // how much of the first and last one
        float scale = 0;                        // 1 / the span's length
        float WeightOf(int i) const {
            return i == first ? firstWeight : i == last ? lastWeight : 1;
        }
    };
    struct RowSums;
    static std::vector<Span> Spans(int sourceLength, int outputLength);
    void CopyRow(int y, const QRgb* pixels, int count, int x0, int step);
    uint32_t RowWeight(const Span& s, int y) const;
    void FinishSums(int r);
    void FinishScattered(int r);
    void WriteRow(int r, const float* channels);
    QRgb BlankPixel() const;

    QSize source_;
    QImage image_;
    bool copies_;
    bool swaps_;      // RGBA pixels come in, the picture is BGRA
    int weightBits_;  // row weights are whole numbers of 1 / 2^weightBits_
    std::vector<Span> columns_, rows_;
    std::vector<int> firstOutputRow_;   // for each source row, the first output row it touches
    std::vector<uint32_t> rowWeights_;  // for each output row, the weights of all its source rows
    std::vector<std::unique_ptr<RowSums>> sums_;       // whole rows, per output row
    std::vector<std::unique_ptr<float[]>> scattered_;  // interlaced pixels, per output row
    std::vector<qint64> pixelsIn_;                     // source pixels that reached each output row
    std::vector<bool> copied_;                         // at the same size: the rows written
};
