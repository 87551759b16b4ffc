// kadrelo-make-profile NAME OUT.icc: writes the ICC profile of a well-known
// colour space (srgb, p3, adobe, prophoto, or grey with a gamma of 1.8), for
// making test pictures tagged with it and their references.
#include <lcms2.h>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const cmsCIExyY kD65 = {0.3127, 0.3290, 1.0}, kD50 = {0.3457, 0.3585, 1.0};

cmsHPROFILE Make(const std::string& name, cmsToneCurve*& curve) {
    // Display P3 takes sRGB's curve; the others a plain gamma.
    const double srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    if (name == "srgb") return cmsCreate_sRGBProfile();
    if (name == "grey") {
        curve = cmsBuildGamma(nullptr, 1.8);
        return cmsCreateGrayProfile(&kD50, curve);
    }
    curve = name == "p3"      ? cmsBuildParametricToneCurve(nullptr, 4, srgbCurve)
            : name == "adobe" ? cmsBuildGamma(nullptr, 563.0 / 256)
                              : cmsBuildGamma(nullptr, 1.8);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const cmsCIExyYTRIPLE p3 = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    const cmsCIExyYTRIPLE adobe = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    const cmsCIExyYTRIPLE proPhoto = {
        {0.7347, 0.2653, 1}, {0.1596, 0.8404, 1}, {0.0366, 0.0001, 1}};
    if (name == "p3") return cmsCreateRGBProfile(&kD65, &p3, curves);
    if (name == "adobe") return cmsCreateRGBProfile(&kD65, &adobe, curves);
    return cmsCreateRGBProfile(&kD50, &proPhoto, curves);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string name = argc == 3 ? argv[1] : "";
    if (name != "p3" && name != "adobe" && name != "prophoto" && name != "grey" && name != "srgb") {
        std::fprintf(stderr, "usage: kadrelo-make-profile srgb|p3|adobe|prophoto|grey OUT.icc\n");
        return 2;
    }
    cmsToneCurve* curve = nullptr;
    cmsHPROFILE profile = Make(name, curve);
    cmsMLU* description = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(description, "en", "US", (name + " (test)").c_str());
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
    const bool saved = cmsSaveProfileToFile(profile, argv[2]);
    cmsMLUfree(description);
    if (curve) cmsFreeToneCurve(curve);
    cmsCloseProfile(profile);
    return saved ? 0 : 1;
}
