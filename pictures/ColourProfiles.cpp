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

bool ConvertToSrgb(QImage& image, const QByteArray& iccProfile) {
    if (iccProfile.isEmpty() || image.isNull()) return false;
    Profile from(cmsOpenProfileFromMem(iccProfile.constData(), cmsUInt32Number(iccProfile.size())));
    if (!from.handle || IsSrgb(from.handle)) return false;
    const cmsColorSpaceSignature space = cmsGetColorSpace(from.handle);
    if (space != cmsSigRgbData && space != cmsSigGrayData) return false;
    const bool grey = space == cmsSigGrayData;
    Profile srgb(cmsCreate_sRGBProfile());
    cmsHTRANSFORM transform =
        cmsCreateTransform(from.handle, grey ? TYPE_GRAY_8 : TYPE_BGRA_8, srgb.handle, TYPE_BGRA_8,
                           INTENT_PERCEPTUAL, grey ? 0 : cmsFLAGS_COPY_ALPHA);
    if (!transform) return false;
    const bool alpha = image.hasAlphaChannel();
    if (alpha) image = image.convertToFormat(QImage::Format_ARGB32);
    std::vector<uchar> greyRow(size_t(image.width()));
    for (int y = 0; y < image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (!grey) {
            cmsDoTransform(transform, row, row, cmsUInt32Number(image.width()));
            continue;
        }
        // A grey picture's rows hold the grey in every channel.
        for (int x = 0; x < image.width(); ++x) greyRow[size_t(x)] = uchar(qGreen(row[x]));
        std::vector<QRgb> alphaOf(row, row + image.width());
        cmsDoTransform(transform, greyRow.data(), row, cmsUInt32Number(image.width()));
        for (int x = 0; x < image.width(); ++x)
            row[x] = (row[x] & 0x00FFFFFFu) | (alphaOf[size_t(x)] & 0xFF000000u);
    }
    cmsDeleteTransform(transform);
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
