// The toolpath drawn with OpenGL: feed moves coloured by feedrate on one
// scale (with a legend of the program's feeds), rapids thin grey dashes,
// the lines of the last pass wider, the selected lines highlighted; axis
// arrows and the extents. A mill program orbits in 3-D (left drag), pans
// (right or middle drag) and zooms to the mouse (wheel); a lathe program
// lies in the X-Z plane with the spindle axis (Z) horizontal.
//
// Contracts:
// - SetGeometry takes shared geometry read only from the UI thread; the
//   upload happens at the next paint.
// - A click (press and release without a drag) on a segment emits
//   lineClicked with its line; a click on nothing emits nothing.
// - Project / LineAt use the camera of the last resize and move, in the
//   widget's logical pixels.
// - Large paths draw a simplified level (ToolpathGeometry::levels): while
//   the camera moves or the path, marks or highlight change, the coarsest
//   level (at most kLevelBudget segments); once quiet for a moment, the
//   whole path (or its fine level), kSlice segments a frame, so that the
//   event loop runs between slices. Picking always uses the whole path.
#ifndef REFHOST_EDITOR_TOOLPATH_VIEW_H_
#define REFHOST_EDITOR_TOOLPATH_VIEW_H_

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QPointF>
#include <QTimer>
#include <QVector3D>

#include <cstdint>
#include <memory>
#include <vector>

#include "refhost/toolpath/toolpath_geometry.h"

namespace refhost {

class ToolpathView : public QOpenGLWidget, protected QOpenGLFunctions {
  Q_OBJECT

 public:
  enum class Preset { kTop, kFront, kSide, kIso };

  explicit ToolpathView(QWidget* parent = nullptr);
  ~ToolpathView() override;

  // `before`: the same path with the feeds before the last pass (may be
  // null). `marked`: segments of the pass's lines. The camera fits the
  // path when `fit` or when the kind of machine changed.
  void SetGeometry(std::shared_ptr<const ToolpathGeometry> geometry,
                   std::shared_ptr<const ToolpathGeometry> before, std::vector<std::uint32_t> marked,
                   bool lathe, bool fit);
  void ShowBefore(bool on);
  bool ShowingBefore() const { return show_before_; }
  bool HasBefore() const { return before_ != nullptr; }
  // Highlights lines first..last (none when first > last).
  void SetHighlight(std::int64_t first, std::int64_t last);
  void SetPreset(Preset preset);
  void Fit();
  // Turns the camera (degrees), as a drag does.
  void Orbit(float yaw, float pitch);
  bool Lathe() const { return lathe_; }

  QPointF Project(double x, double y, double z) const;
  // The line of the segment nearest `point` within a few pixels; 0 if none.
  std::int64_t LineAt(QPointF point) const;
  // Milliseconds of drawing of the last frame (to the end of the GPU's work).
  double LastFrameMs() const { return last_frame_ms_; }

 signals:
  void lineClicked(qint64 line);

 protected:
  void initializeGL() override;
  void resizeGL(int w, int h) override;
  void paintGL() override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  QMatrix4x4 Rotation() const;
  QMatrix4x4 Mvp() const;
  void Upload();
  void DrawOverlay(QPainter& painter);
  void DrawRange(QOpenGLBuffer& vbo, GLint first, GLsizei count, float width, int mode);
  void Bind(QOpenGLBuffer& vbo);
  void Busy();  // draw fast for a moment

 public:
  static constexpr std::size_t kSlice = 250000;
  static constexpr std::size_t kFineBudget = 400000;  // highlight and marks drawn at most
  // The segments of the last frame, and whether it finished the picture.
  std::size_t LastFrameSegments() const { return last_frame_segments_; }
  bool PictureComplete() const { return slice_ == 0; }

 private:

  std::shared_ptr<const ToolpathGeometry> geometry_, before_;
  std::vector<std::uint32_t> marked_, highlight_;
  bool lathe_ = false, show_before_ = false;
  bool dirty_geometry_ = false, dirty_fine_ = false, dirty_marked_ = false, dirty_highlight_ = false;
  std::int64_t highlight_first_ = 1, highlight_last_ = 0;

  QOpenGLShaderProgram program_;
  // The shown path at its finest drawable level and at the fast one, and
  // the vertices of the marked and of the highlighted segments.
  QOpenGLBuffer fine_vbo_, fast_vbo_, marked_vbo_, highlight_vbo_;
  GLsizei fine_ = 0, fast_ = 0;  // vertices of the two levels
  GLsizei marked_count_ = 0, highlight_count_ = 0;
  QTimer quiet_;
  bool fast_mode_ = false;
  GLsizei slice_ = 0;  // the next slice of a still picture
  std::size_t last_frame_segments_ = 0;
  bool gl_ready_ = false;

  // Camera: target in geometry coordinates, units per pixel, angles.
  QVector3D target_;
  float scale_ = 1.0f;
  float yaw_ = -45.0f, pitch_ = -54.7356f;
  QPointF press_, last_;
  Qt::MouseButton button_ = Qt::NoButton;
  bool dragged_ = false;
  double last_frame_ms_ = 0.0;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_TOOLPATH_VIEW_H_
