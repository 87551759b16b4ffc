#include "pictures/ColourProfiles.h"

#include <lcms2.h>
#include <vector>

namespace {

// Whether a profile says nothing but sRGB, so that converting would change nothing.
bool IsSrgb(cmsHPROFILE profile) {
    char description[64] = {};
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", description,
                           sizeof description);
    return QByteArray(description).startsWith("sRGB");
}

struct Profile {
    cmsHPROFILE handle;
    explicit Profile(cmsHPROFILE h) : handle(h) {}
    ~Profile() {
        if (handle) cmsCloseProfile(handle);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
};

}  // namespace

QByteArray ProfileFromChromaticities(const Chromaticities& c) {
    const cmsCIExyY white = {c.white[0], c.white[1], 1.0};
    const cmsCIExyYTRIPLE primaries = {
        {c.red[0], c.red[1], 1.0}, {c.green[0], c.green[1], 1.0}, {c.blue[0], c.blue[1], 1.0}};
    if (c.gamma <= 0) return {};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.0 / c.gamma);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    cmsUInt32Number bytes = 0;
    if (!profile.handle || !cmsSaveProfileToMem(profile.handle, nullptr, &bytes)) return {};
    QByteArray data(qsizetype(bytes), Qt::Uninitialized);
    cmsSaveProfileToMem(profile.handle, data.data(), &bytes);
    return data;
}

ColourConverter::ColourConverter(const QByteArray& iccProfile, Order order) : order_(order) {
    if (iccProfile.isEmpty()) return;
    Profile from(cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    if (!from.handle || IsSrgb(from.handle)) return;
    const cmsColorSpaceSignature space = cmsGetColorSpace(from.handle);
    if (space != cmsSigRgbData && space != cmsSigGrayData) return;
    grey_ = space == cmsSigGrayData;
    const cmsUInt32Number pixels = order == Order::Bgra ? TYPE_BGRA_8 : TYPE_RGBA_8;
    Profile srgb(cmsCreate_sRGBProfile());
    transform_ = cmsCreateTransform(from.handle, grey_ ? TYPE_GRAY_8 : pixels, srgb.handle, pixels,
                                    INTENT_PERCEPTUAL, grey_ ? 0 : cmsFLAGS_COPY_ALPHA);
}

ColourConverter::~ColourConverter() {
    if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void ColourConverter::Convert(uchar* pixels, int count) const {
    if (!transform_) return;
    auto* transform = static_cast<cmsHTRANSFORM>(transform_);
    if (!grey_) {
        cmsDoTransform(transform, pixels, pixels, cmsUInt32Number(count));
        return;
    }
    // A grey picture's rows hold the grey in every channel; the alpha stays.
    std::vector<uchar> grey(static_cast<size_t>(count)), alpha(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        grey[size_t(i)] = pixels[4 * i + 1], alpha[size_t(i)] = pixels[4 * i + 3];
    cmsDoTransform(transform, grey.data(), pixels, cmsUInt32Number(count));
    for (int i = 0; i < count; ++i) pixels[4 * i + 3] = alpha[size_t(i)];
}

bool ConvertToSrgb(QImage& image, const QByteArray& iccProfile) {
    const ColourConverter converter(iccProfile, ColourConverter::Order::Bgra);
    if (!converter.Active() || image.isNull()) return false;
    const bool alpha = image.hasAlphaChannel();
    if (alpha) image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) converter.Convert(image.scanLine(y), image.width());
    if (alpha) image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return true;
}

CmykConverter::CmykConverter(const QByteArray& iccProfile) {
    if (iccProfile.isEmpty()) return;
    Profile from(cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    if (!from.handle || cmsGetColorSpace(from.handle) != cmsSigCmykData) return;
    Profile srgb(cmsCreate_sRGBProfile());
    transform_ = cmsCreateTransform(from.handle, TYPE_CMYK_8_REV, srgb.handle, TYPE_BGRA_8,
                                    INTENT_PERCEPTUAL, 0);
}

CmykConverter::~CmykConverter() {
    if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void CmykConverter::Convert(const uchar* cmyk, QRgb* out, int count) const {
    if (transform_) {
        cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), cmyk, out, cmsUInt32Number(count));
        for (int i = 0; i < count; ++i) out[i] |= 0xFF000000u;
        return;
    }
    for (int i = 0; i < count; ++i, cmyk += 4) {
        const int k = cmyk[3];
        out[i] = qRgb(cmyk[0] * k / 255, cmyk[1] * k / 255, cmyk[2] * k / 255);
    }
}
