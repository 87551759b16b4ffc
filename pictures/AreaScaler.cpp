#include "pictures/AreaScaler.h"

#include "pictures/DecodeGate.h"
#include "platform/LargeMemory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The sums of one output row's whole source rows, column by column and channel
// by channel, each row weighted by its share of the output row.
struct AreaScaler::RowSums {
    std::vector<uint32_t> sums;
};

namespace {

QRgb Swapped(QRgb p) {
    return (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
}

// sums[4x + k] += channel k of pixel x times weight (at most 256).
void AddWeightedRow(uint32_t* sums, const QRgb* row, int n, uint32_t weight) {
    int i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i w = _mm_set1_epi16(short(weight));
    for (; i + 4 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i lo = _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), w);
        const __m128i hi = _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), w);
        __m128i* s = reinterpret_cast<__m128i*>(sums + 4 * i);
        const __m128i parts[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                                  _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
        for (int k = 0; k < 4; ++k)
            _mm_storeu_si128(s + k, _mm_add_epi32(_mm_loadu_si128(s + k), parts[k]));
    }
#endif
    for (; i < n; ++i)
        for (int k = 0; k < 4; ++k) sums[4 * i + k] += ((row[i] >> (8 * k)) & 0xFF) * weight;
}

// One output pixel's four channels from the column sums it covers, the two
// end columns by their share.
void SumAcross(const uint32_t* sums, const AreaScaler::Span& s, float perWeight, float* out) {
#ifdef __SSE2__
    auto column = [sums](int x) {
        return _mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 4 * x)));
    };
    __m128 total = _mm_mul_ps(column(s.first), _mm_set1_ps(s.firstWeight));
    for (int x = s.first + 1; x < s.last; ++x) total = _mm_add_ps(total, column(x));
    if (s.last > s.first)
        total = _mm_add_ps(total, _mm_mul_ps(column(s.last), _mm_set1_ps(s.lastWeight)));
    _mm_storeu_ps(out, _mm_mul_ps(total, _mm_set1_ps(s.scale * perWeight)));
#else
    for (int k = 0; k < 4; ++k) {
        float total = s.firstWeight * float(sums[4 * s.first + k]);
        for (int x = s.first + 1; x < s.last; ++x) total += float(sums[4 * x + k]);
        if (s.last > s.first) total += s.lastWeight * float(sums[4 * s.last + k]);
        out[k] = total * s.scale * perWeight;
    }
#endif
}

void AddWeighted(float* c, QRgb p, float w) {
    for (int k = 0; k < 4; ++k) c[k] += w * float((p >> (8 * k)) & 0xFF);
}

}  // namespace

QSize AreaScaler::TargetFor(QSize source, QSize output) {
    if (output.isEmpty()) return source;
    const bool interpolated =
        2 * output.width() > source.width() && 2 * output.height() > source.height();
    const bool wholeFits = qint64(source.width()) * source.height() * 4 <= kMaxWholeDecodeBytes;
    return interpolated && wholeFits ? source : output.boundedTo(source);
}

std::vector<AreaScaler::Span> AreaScaler::Spans(int sourceLength, int outputLength) {
    std::vector<Span> spans(static_cast<size_t>(outputLength));
    const double step = double(sourceLength) / outputLength;
    for (int i = 0; i < outputLength; ++i) {
        const double from = i * step, to = std::min<double>((i + 1) * step, sourceLength);
        Span& s = spans[size_t(i)];
        s.first = int(std::floor(from));
        s.last = std::max(s.first, int(std::ceil(to)) - 1);
        if (s.first == s.last) {
            s.firstWeight = float(to - from);
        } else {
            s.firstWeight = float(s.first + 1 - from);
            s.lastWeight = float(to - s.last);
        }
        s.scale = float(1.0 / (to - from));
    }
    return spans;
}

AreaScaler::AreaScaler(QSize source, QSize output, bool alpha, Order order)
    : source_(source),
      image_(NewLargeImage(output,
                           alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32)),
      copies_(source == output),
      swaps_(order == Order::Rgba) {
    if (image_.isNull()) {
        ReportDecodeError({LoadError::TooLarge, -1, source, 0});  // no memory for it
        return;
    }
    if (copies_) {
        copied_.assign(size_t(source.height()), false);
        return;
    }
    image_.fill(alpha ? 0u : 0xFF000000u);
    columns_ = Spans(source.width(), output.width());
    rows_ = Spans(source.height(), output.height());
    // 255 times the weights of one output row's source rows must fit 31 bits
    // (the sums are taken as signed when they are summed across).
    const qint64 rowsPerOutput = qint64(source.height()) / output.height() + 2;
    weightBits_ = 8;
    while (weightBits_ > 0 && 255 * (qint64(1) << weightBits_) * rowsPerOutput >= (qint64(1) << 31))
        --weightBits_;
    firstOutputRow_.assign(size_t(source.height()), output.height());
    rowWeights_.assign(size_t(output.height()), 0);
    for (int r = output.height() - 1; r >= 0; --r)
        for (int y = rows_[size_t(r)].first; y <= rows_[size_t(r)].last; ++y) {
            firstOutputRow_[size_t(y)] = r;
            rowWeights_[size_t(r)] += RowWeight(rows_[size_t(r)], y);
        }
    sums_.resize(size_t(output.height()));
    scattered_.resize(size_t(output.height()));
    pixelsIn_.assign(size_t(output.height()), 0);
}

AreaScaler::~AreaScaler() = default;

void AreaScaler::CopyRow(int y, const QRgb* pixels, int count, int x0, int step) {
    QRgb* out = reinterpret_cast<QRgb*>(image_.scanLine(y));
    // Interlaced rows are filled in passes, so a row is cleared the first time.
    if (!copied_[size_t(y)] && (x0 != 0 || step != 1 || count < source_.width()))
        std::fill_n(out, source_.width(), BlankPixel());
    copied_[size_t(y)] = true;
    const QRgb opaque = image_.format() == QImage::Format_RGB32 ? 0xFF000000u : 0;
    for (int i = 0, x = x0; i < count && x < source_.width(); ++i, x += step)
        out[x] = (swaps_ ? Swapped(pixels[i]) : pixels[i]) | opaque;
}

void AreaScaler::AddRow(int y, const QRgb* pixels) {
    if (image_.isNull() || y < 0 || y >= source_.height()) return;
    if (copies_) return CopyRow(y, pixels, source_.width(), 0, 1);
    for (int r = firstOutputRow_[size_t(y)]; r < image_.height() && rows_[size_t(r)].first <= y;
         ++r) {
        auto& row = sums_[size_t(r)];
        if (!row) {
            row = std::make_unique<RowSums>();
            row->sums.assign(size_t(source_.width()) * 4, 0);
        }
        const Span& s = rows_[size_t(r)];
        AddWeightedRow(row->sums.data(), pixels, source_.width(), RowWeight(s, y));
        pixelsIn_[size_t(r)] += source_.width();
        if (pixelsIn_[size_t(r)] == qint64(s.last - s.first + 1) * source_.width()) FinishSums(r);
    }
}

uint32_t AreaScaler::RowWeight(const Span& s, int y) const {
    return uint32_t(std::lround(s.WeightOf(y) * float(1 << weightBits_)));
}

// Reduces an output row's column sums across: each output pixel takes the
// columns it covers, the two ends by their share. Source rows that never came
// count as black (transparent where the picture has alpha).
void AreaScaler::FinishSums(int r) {
    auto& row = sums_[size_t(r)];
    if (!row || rowWeights_[size_t(r)] == 0) return;
    std::vector<float> channels(size_t(image_.width()) * 4);
    const float perWeight = 1.0f / float(rowWeights_[size_t(r)]);
    const uint32_t* sums = row->sums.data();
    for (int c = 0; c < image_.width(); ++c)
        SumAcross(sums, columns_[size_t(c)], perWeight, &channels[size_t(c) * 4]);
    WriteRow(r, channels.data());
    row.reset();
}

void AreaScaler::AddPixels(int y, const QRgb* pixels, int count, int x0, int step) {
    if (image_.isNull() || y < 0 || y >= source_.height() || count <= 0) return;
    if (copies_) return CopyRow(y, pixels, count, x0, step);
    count = std::min(count, (source_.width() - x0 + step - 1) / step);
    for (int r = firstOutputRow_[size_t(y)]; r < image_.height() && rows_[size_t(r)].first <= y;
         ++r) {
        const Span& rowSpan = rows_[size_t(r)];
        auto& acc = scattered_[size_t(r)];
        if (!acc) {
            acc = std::make_unique<float[]>(size_t(image_.width()) * 4);
            std::fill_n(acc.get(), size_t(image_.width()) * 4, 0.0f);
        }
        const float share = rowSpan.WeightOf(y) * rowSpan.scale;
        // Each pixel goes to the output columns it touches, with its share of each.
        int c = 0;
        for (int i = 0, x = x0; i < count; ++i, x += step) {
            while (columns_[size_t(c)].last < x) ++c;
            for (int k = c; k < image_.width() && columns_[size_t(k)].first <= x; ++k) {
                const Span& s = columns_[size_t(k)];
                AddWeighted(&acc[size_t(k) * 4], pixels[i], s.WeightOf(x) * s.scale * share);
            }
        }
        pixelsIn_[size_t(r)] += count;
        if (pixelsIn_[size_t(r)] == qint64(rowSpan.last - rowSpan.first + 1) * source_.width())
            FinishScattered(r);
    }
}

void AreaScaler::FinishScattered(int r) {
    if (!scattered_[size_t(r)]) return;
    WriteRow(r, scattered_[size_t(r)].get());
    scattered_[size_t(r)].reset();
}

// One output row from its averaged channels, premultiplied.
void AreaScaler::WriteRow(int r, const float* channels) {
    QRgb* out = reinterpret_cast<QRgb*>(image_.scanLine(r));
    const bool opaque = image_.format() == QImage::Format_RGB32;
    auto level = [](float v) { return uint32_t(std::clamp(v + 0.5f, 0.0f, 255.0f)); };
    for (int x = 0; x < image_.width(); ++x, channels += 4) {
        const uint32_t a = opaque ? 255 : level(channels[3]);
        const uint32_t low = std::min(level(channels[swaps_ ? 2 : 0]), a);
        const uint32_t high = std::min(level(channels[swaps_ ? 0 : 2]), a);
        out[x] = (a << 24) | (high << 16) | (std::min(level(channels[1]), a) << 8) | low;
    }
}

QRgb AreaScaler::BlankPixel() const {
    return image_.format() == QImage::Format_RGB32 ? 0xFF000000u : 0u;
}

QImage AreaScaler::Take() {
    for (int y = 0; y < int(copied_.size()); ++y)
        if (!copied_[size_t(y)])
            std::fill_n(reinterpret_cast<QRgb*>(image_.scanLine(y)), image_.width(), BlankPixel());
    for (int r = 0; r < int(sums_.size()); ++r) {
        FinishSums(r);
        FinishScattered(r);
    }
    return std::move(image_);
}
