#include "tracking/anchors.h"

namespace qm {

DetectorAnchors buildDetectorAnchors() {
    struct Grid {
        int cells;
        int perCell;
    };
    constexpr Grid grids[] = {{16, 2}, {8, 6}};
    DetectorAnchors anchors{};
    int next = 0;
    for (const Grid& grid : grids) {
        const float n = static_cast<float>(grid.cells);
        for (int y = 0; y < grid.cells; ++y)
            for (int x = 0; x < grid.cells; ++x)
                for (int k = 0; k < grid.perCell; ++k)
                    anchors[next++] = {(static_cast<float>(x) + 0.5f) / n,
                                       (static_cast<float>(y) + 0.5f) / n};
    }
    return anchors;
}

}  // namespace qm
