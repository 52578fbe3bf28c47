#include "skin/skin_scheme.h"

namespace vesperon::skin {
namespace {

constexpr QRgb rgb(int r, int g, int b) {
    return 0xFF000000u | (QRgb(r) << 16) | (QRgb(g) << 8) | QRgb(b);
}
constexpr GradientRecord solid(QRgb c) {
    return {c, c, c, c};
}

// Records shared by several schemes.
constexpr GradientRecord kOrangeRing = {rgb(255, 240, 207), rgb(255, 240, 207), rgb(229, 151, 0),
                                        rgb(229, 151, 0)};
constexpr GradientRecord kBlueRing = {rgb(206, 231, 255), rgb(206, 231, 255), rgb(105, 130, 238),
                                      rgb(105, 130, 238)};
constexpr GradientRecord kCheckedRing = {rgb(214, 203, 189), rgb(214, 207, 198), rgb(247, 243, 239),
                                         rgb(247, 243, 239)};
constexpr GradientRecord kWhiteRing = {rgb(255, 255, 255), rgb(255, 255, 255), rgb(226, 223, 214),
                                       rgb(226, 223, 214)};

constexpr SkinScheme kSchemes[3] = {
    {rgb(123, 158, 189),
     rgb(0, 60, 115),
     {
         {rgb(209, 204, 193), rgb(209, 204, 193), rgb(242, 241, 238), rgb(242, 241, 238)},
         kOrangeRing,
         kCheckedRing,
         kBlueRing,
         kWhiteRing,
         {rgb(231, 227, 222), rgb(231, 231, 231), rgb(231, 227, 222), rgb(231, 227, 222)},
         {rgb(252, 252, 251), rgb(252, 252, 251), rgb(236, 235, 230), rgb(236, 235, 230)},
     }},
    {rgb(164, 185, 127),
     rgb(55, 98, 6),
     {
         solid(rgb(239, 227, 206)),
         kOrangeRing,
         kCheckedRing,
         kOrangeRing,
         kWhiteRing,
         solid(rgb(239, 227, 206)),
         {rgb(252, 252, 251), rgb(252, 252, 251), rgb(236, 225, 201), rgb(236, 225, 201)},
     }},
    {rgb(198, 197, 215),
     rgb(0, 60, 116),
     {
         solid(rgb(239, 227, 206)),
         kOrangeRing,
         kCheckedRing,
         kBlueRing,
         kWhiteRing,
         {rgb(179, 178, 197), rgb(179, 178, 197), rgb(252, 252, 251), rgb(252, 252, 251)},
         {rgb(252, 252, 251), rgb(252, 252, 251), rgb(198, 197, 215), rgb(198, 197, 215)},
     }},
};

}  // namespace

const SkinScheme* schemeByNumber(int scheme) {
    if (scheme < 1 || scheme > 3) return nullptr;
    return &kSchemes[scheme - 1];
}

}  // namespace vesperon::skin
