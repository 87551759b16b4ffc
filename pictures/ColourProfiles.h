// Colours as the picture's maker saw them: pixels described by an embedded
// colour profile are converted to sRGB, the colour space the screen is taken
// to show, with LittleCMS (perceptual intent). Pictures without a profile are
// left as they are. Decoders convert each row as it comes, before it is
// scaled, so that a reduced picture has the colours of the whole one.
#pragma once

#include <QByteArray>
#include <QImage>

// The colours of a picture whose file gives no profile but its white point,
// primaries and gamma (PNG's cHRM and gAMA).
struct Chromaticities {
    double white[2], red[2], green[2], blue[2];
    double gamma;  // the file's gamma (0.45455 for a display gamma of 2.2)
};
QByteArray ProfileFromChromaticities(const Chromaticities& c);

// Converts rows of 8-bit pixels, not premultiplied, from an RGB or grey ICC
// profile's colour space to sRGB in place; the alpha byte is kept. Does nothing
// when the profile is missing, cannot be used, or is sRGB itself.
class ColourConverter {
  public:
    enum class Order { Bgra, Rgba };  // the pixel's bytes in memory
    ColourConverter(const QByteArray& iccProfile, Order order);
    ~ColourConverter();
    ColourConverter(const ColourConverter&) = delete;
    ColourConverter& operator=(const ColourConverter&) = delete;
    bool Active() const { return transform_ != nullptr; }
    void Convert(uchar* pixels, int count) const;

  private:
    void* transform_ = nullptr;
    bool grey_ = false;
    Order order_;
};

// A whole picture (RGB32 or ARGB32_Premultiplied) converted the same way; for
// decoders whose library scales the picture itself.
bool ConvertToSrgb(QImage& image, const QByteArray& iccProfile);

// Converts CMYK rows (one byte per ink, inverted: 255 is no ink, as Adobe
// writes them) into RGB32 rows, through the profile when there is one that
// fits, else by the plain formula.
class CmykConverter {
  public:
    explicit CmykConverter(const QByteArray& iccProfile);
    ~CmykConverter();
    CmykConverter(const CmykConverter&) = delete;
    CmykConverter& operator=(const CmykConverter&) = delete;
    void Convert(const uchar* cmyk, QRgb* out, int count) const;

  private:
    void* transform_ = nullptr;
};
