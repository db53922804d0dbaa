#pragma once
// The current visualisation drawn into a picture for the window: the list renders on a plain
// pixel surface with the newest blocks the output's analysis tap made, and the pixels are
// copied out as opaque RGB.
#include "VisAnalysis.h"
#include "VisualisationList.h"
#include "PixelSurface.h"

#include <QImage>

namespace tessura::ui {

class VisPicture {
  public:
    VisPicture(VisualisationList& list, const VisAnalysis& analysis) : list_(list), analysis_(analysis) {}
    // One frame at `size`; the surface keeps its pixels between frames (the effects fade them).
    QImage render(QSize size);
    VisualisationList& list() { return list_; }

  private:
    VisualisationList& list_;
    const VisAnalysis& analysis_;
    PixelSurface surface_{1, 1};
};

}  // namespace tessura::ui
