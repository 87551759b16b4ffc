// Colours as the picture's maker saw them: pixels described by an embedded
// colour profile are converted to sRGB, the colour space the screen is taken
// to show, with LittleCMS (perceptual intent). Pictures without a profile are
// left as they are.
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

// Converts an RGB32 or ARGB32_Premultiplied picture from the colour space of
// an RGB or grey ICC profile to sRGB; false (picture unchanged) when the
// profile cannot be used.
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
