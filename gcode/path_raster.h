// Drawing the toolpath into a block of pixels, without a window: fast enough to draw a million
// moves again for every frame of a zoom or a turn on a processor alone.
//
// Lines are one pixel wide. A run of short moves that stays within one pixel draws nothing
// until it leaves it, so a dense surfacing path costs what the screen can show of it, not what
// the file holds; the line drawn is never a pixel away from the path.
#pragma once

#include "gcode/toolpath.h"
#include "gcode/view_camera.h"

#include <cstddef>
#include <cstdint>

namespace gcode {

// 0xAARRGGBB pixels, `stride` pixels from one row to the next. Only rows `top` to `bottom`
// (not included) are drawn in, so that two threads can draw the two halves of one block.
struct PixelBlock {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    int top = 0;
    int bottom = 1 << 30;
};

struct PathColours {
    std::uint32_t uncutFeed = 0xFF00FF00;  // the preview's green
    std::uint32_t uncutRapid = 0xFF8090B0; // thin dashes
    std::uint32_t cutFeed = 0xFFFF0000;    // the run's red and black passes
    std::uint32_t cutFeedDeeper = 0xFF000000;
    std::uint32_t cutRapid = 0xFF0000FF; // blue dashes
    bool rapids = true;                  // rapids drawn at all
};

// Draws moves [from, to) of `path` as `camera` sees them; the moves before `cutEnd` in the
// colours of the part already cut. With `every` above 1 only every so many points are joined:
// the path simplified, for the frames of a zoom or a turn of a path too long to draw whole.
void DrawPath(const Toolpath& path, const ViewCamera& camera, std::size_t from, std::size_t to,
              std::size_t cutEnd, const PathColours& colours, PixelBlock& block,
              std::size_t every = 1);

// One line from (x0, y0) to (x1, y1), the parts off the block left out; `dashed` draws 4 pixels
// of every 8.
void DrawLine(PixelBlock& block, ScreenPoint a, ScreenPoint b, std::uint32_t colour,
              bool dashed = false);

} // namespace gcode
