#include "gcode/arc.h"

namespace gcode {

std::optional<Arc> ArcFromCentre(const std::array<double, 3>&, const std::array<double, 3>&,
                                 const std::array<double, 3>&, Plane, bool, int,
                                 ArcRefusal& refusal) {
    refusal.message = "Arcs are not read yet.";
    return std::nullopt;
}

std::optional<Arc> ArcFromRadius(const std::array<double, 3>&, const std::array<double, 3>&, double,
                                 Plane, bool, int, ArcRefusal& refusal) {
    refusal.message = "Arcs are not read yet.";
    return std::nullopt;
}

std::optional<std::size_t> ArcSegmentCount(const Arc&, double) {
    return std::nullopt;
}

std::array<double, 3> ArcVertex(const Arc& arc, std::size_t k, std::size_t n) {
    return k >= n ? arc.end : arc.start;
}

} // namespace gcode
