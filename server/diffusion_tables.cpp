#include "server/diffusion_tables.h"

namespace {

int32_t share(int32_t k, int32_t e)
{
    return e >= 0 ? (k * e + 8) >> 4 : -((k * -e + 8) >> 4);
}

} // namespace

const DiffusionTables& diffusionTables()
{
    static const DiffusionTables tables = [] {
        DiffusionTables t{};
        for (int32_t e = -256; e < 256; e++) {
            int32_t i = e + DiffusionTables::kOffset;
            t.t1[i] = share(1, e);
            t.t3[i] = share(3, e);
            t.t5[i] = share(5, e);
            t.t7[i] = share(7, e);
        }
        return t;
    }();
    return tables;
}
