#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codec/core/geometry.h"
#include "codec/encoder/encoder.h"
#include "codec/encoder/significance_planner.h"
#include "tests/support/test_pictures.h"

namespace {

struct Replanned {
    int64_t bytes = 0;
    double estimatedBits = 0.0;
    double psnr = 0.0;
    int32_t status = -1;
    bool coarserKept = true;
};

// Plans the picture at params, decides the finest level again at finestCost
// and writes the plan as it then stands.
Replanned replanAt(const PictureSamples& picture, const PreparedPicture& prepared, const EncoderParams& params,
                   double finestCost)
{
    EncodeWorkspace workspace;
    std::vector<uint8_t> stream;
    std::string error;
    Replanned r;
    if (!encodePrepared(prepared, params, &stream, nullptr, &error, &workspace))
        return r;
    PicturePlan before = workspace.plan;
    replanFinestLevel(prepared.planes, prepared.components, prepared.levels, planSettingsOf(params), finestCost,
                      &workspace.rates, &workspace.plan);
    workspace.reusePlan = true;
    if (!encodePrepared(prepared, params, &stream, nullptr, &error, &workspace))
        return r;
    for (int32_t c = 0; c < prepared.components; c++)
        for (int32_t L = 1; L < prepared.levels; L++)
            for (int32_t b = 0; b < 3; b++) {
                BandRect rect = bandRect(prepared.height, prepared.width, L, b);
                for (int32_t row = rect.rowStart; row < rect.rowEnd; row++)
                    for (int32_t col = rect.colStart; col < rect.colEnd; col++) {
                        size_t p = before.at(row, col);
                        r.coarserKept &= before.component[c].index[p] == workspace.plan.component[c].index[p];
                    }
            }
    r.bytes = static_cast<int64_t>(stream.size());
    r.estimatedBits = workspace.rates.levelBits[0];
    DecodeResult decoded = decodeAndCompare(stream, picture);
    r.status = decoded.status;
    r.psnr = decoded.psnr;
    return r;
}

// PSNR at `bytes` on the curve of fresh plans at several value costs
// (linear between the nearest two by size).
double freshPsnrAt(const std::vector<std::pair<int64_t, double>>& curve, int64_t bytes)
{
    for (size_t i = 1; i < curve.size(); i++) {
        const auto& a = curve[i - 1];
        const auto& b = curve[i];
        if ((bytes - a.first) * (bytes - b.first) <= 0 && a.first != b.first)
            return a.second + (b.second - a.second) * static_cast<double>(bytes - a.first) / (b.first - a.first);
    }
    return 0.0;
}

// The finest level decided again: the coarser levels stay, a lower cost
// codes more of it, the estimate and the real size moving together, and the
// picture is as close as a fresh plan of that size gives. At the plan's own
// cost it gives about the plan's stream.
TEST(FinestLevelReplan, MovesTheSizeWithItsCostAndKeepsTheCoarserLevels)
{
    for (int32_t components : {1, 3}) {
        PictureSamples picture = makeTestPicture(200, 264, components, 8, 7);
        for (int32_t map : {0, 1}) {
            EncoderParams p;
            p.decodeMode = 1;
            p.mapCoder = map;
            p.valueCoder = 0;
            p.quantStep = 6;
            p.valueCost = 0.1;
            SCOPED_TRACE("components " + std::to_string(components) + " map " + std::to_string(map));
            PreparedPicture prepared;
            std::string error;
            ASSERT_TRUE(preparePicture(picture.view(), p, &prepared, &error)) << error;
            std::vector<std::pair<int64_t, double>> curve;
            for (double f : {2.0, 1.5, 1.0, 0.75, 0.5}) {
                EncoderParams q = p;
                q.valueCost *= f;
                std::vector<uint8_t> fresh;
                ASSERT_TRUE(encodePrepared(prepared, q, &fresh, nullptr, &error));
                curve.push_back({static_cast<int64_t>(fresh.size()), decodeAndCompare(fresh, picture).psnr});
            }
            const auto& fresh = curve[2];

            Replanned same = replanAt(picture, prepared, p, p.valueCost);
            Replanned more = replanAt(picture, prepared, p, p.valueCost / 2);
            Replanned less = replanAt(picture, prepared, p, p.valueCost * 2);
            for (const Replanned* r : {&same, &more, &less}) {
                EXPECT_EQ(r->status, 0);
                EXPECT_TRUE(r->coarserKept);
                // Halving or doubling the finest level's cost alone moves the
                // size by up to 8%; searches move it by a few per cent.
                EXPECT_GE(r->psnr, freshPsnrAt(curve, r->bytes) - 0.1) << r->bytes << " bytes";
            }
            EXPECT_NEAR(static_cast<double>(same.bytes), static_cast<double>(fresh.first), 0.01 * fresh.first);
            EXPECT_NEAR(same.psnr, fresh.second, 0.05);
            EXPECT_GT(more.bytes, same.bytes);
            EXPECT_GT(more.estimatedBits, same.estimatedBits);
            EXPECT_LT(less.bytes, same.bytes);
            EXPECT_LT(less.estimatedBits, same.estimatedBits);
            // The estimate's change follows the real one's.
            double real = static_cast<double>(more.bytes - less.bytes);
            double estimated = (more.estimatedBits - less.estimatedBits) / 8.0;
            EXPECT_NEAR(estimated / real, 1.0, 0.3);
        }
    }
}

} // namespace
