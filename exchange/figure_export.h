#pragma once

// The figure for other programs: an SVG drawing and a DXF polyline, written
// as a stream onto a file (see SaveTextToFile), and how an export's file
// name picks its format.

#include "exchange/file_result.h"
#include "view/point_store.h"

#include <QString>

#include <ostream>
#include <span>

namespace kav {

enum class ExportFormat { Svg, Dxf, Png };

struct ExportTarget {
    QString path;
    ExportFormat format;
    friend bool operator==(const ExportTarget&, const ExportTarget&) = default;
};

// A name that ends in .svg, .dxf or .png (in any case) gets that format;
// any other gets the chosen filter's format and its extension.
ExportTarget ResolveExport(const QString& path, ExportFormat chosen);

// One polyline through every point in figure units, centred on the pixels
// that the editor draws, and the end circle, in a viewBox that holds them
// with a margin; y grows downwards as in the editor. `control.points`
// counts the points written. False once a write failed.
bool WriteSvg(std::ostream& out, std::span<const Point> points, const FileJobControl& control = {});

// One LWPOLYLINE on layer 0, closed when the last point is the first, with
// y negated: in a CAD program y grows upwards, and the figure looks the same.
bool WriteDxf(std::ostream& out, std::span<const Point> points, const FileJobControl& control = {});

} // namespace kav
