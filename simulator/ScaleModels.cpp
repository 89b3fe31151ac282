#include "simulator/ScaleModels.h"

#include <algorithm>
#include <array>

namespace trutina {

namespace {
// Zero range: 2 % of the capacity either side of the power-on zero. Unit prices as their display
// shows them: 99 999.99 on the small scales (spices, tea), 9 999.99 on the others; the price display
// has room for every weight up to the capacity times that.
constexpr TScaleModel Models[] = {
    {3, "Весы Ортикс-3", 3.0, 0.001, 0.06, 800, 2, 1, 3, 2, 1107, 1251, 999'999'900},
    {5, "Весы Ортикс-5", 15.0, 0.005, 0.3, 1000, 2, 1, 3, 4, 1204, 1251, 99'999'900},
    {11, "Весы Ортикс-11", 150.0, 0.05, 3.0, 1500, 3, 2, 4, 1, 215, 1251, 99'999'900},
};
constexpr std::array<std::int32_t, 8> BaudCodes = {3, 4, 5, 7, 10, 12, 14, 18};
} // namespace

std::span<const TScaleModel> ScaleModels() { return Models; }

const TScaleModel* FindScaleModel(std::int32_t code)
{
    for (const auto& m : Models)
        if (m.Code == code)
            return &m;
    return nullptr;
}

bool IsBaudRateCode(std::int32_t code)
{
    return std::find(BaudCodes.begin(), BaudCodes.end(), code) != BaudCodes.end();
}

bool IsParityCode(std::int32_t code) { return code == 0 || code == 2; }

} // namespace trutina
