#include "refhost/editor/toolpath_view.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace refhost {
namespace {

constexpr float kHighlight[4] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr int kLegendWidth = 130;

const char kVertexShader[] = R"(
attribute vec3 pos;
attribute float feed;
attribute float along;
uniform mat4 mvp;
varying float v_feed;
varying float v_along;
void main() {
  gl_Position = mvp * vec4(pos, 1.0);
  v_feed = feed;
  v_along = along;
}
)";

// The ramp is FeedColour's (toolpath_geometry.cpp).
const char kFragmentShader[] = R"(
#ifdef GL_ES
precision highp float;
#endif
uniform float fmin;
uniform float fscale;
uniform float dash;
uniform int mode;
uniform vec4 flat_colour;
varying float v_feed;
varying float v_along;
vec3 ramp(float t) {
  t = clamp(t, 0.0, 1.0) * 4.0;
  vec3 c0 = vec3(0.20, 0.35, 1.00), c1 = vec3(0.00, 0.85, 0.90), c2 = vec3(0.20, 0.85, 0.20);
  vec3 c3 = vec3(1.00, 0.85, 0.00), c4 = vec3(1.00, 0.20, 0.10);
  if (t < 1.0) return mix(c0, c1, t);
  if (t < 2.0) return mix(c1, c2, t - 1.0);
  if (t < 3.0) return mix(c2, c3, t - 2.0);
  return mix(c3, c4, min(t - 3.0, 1.0));
}
void main() {
  if (mode == 1) { gl_FragColor = flat_colour; return; }
  if (v_feed < 0.0) {
    if (mod(v_along, 2.0 * dash) > dash) discard;
    gl_FragColor = vec4(0.55, 0.55, 0.55, 1.0);
    return;
  }
  gl_FragColor = vec4(ramp((v_feed - fmin) * fscale), 1.0);
}
)";

const char* UnitName(int units) { return units == 20 ? "in" : "mm"; }

}  // namespace

ToolpathView::ToolpathView(QWidget* parent) : QOpenGLWidget(parent) {
  setMinimumSize(200, 150);
  setUpdateBehavior(QOpenGLWidget::PartialUpdate);  // slices add to the last frame
  setMouseTracking(false);
  quiet_.setSingleShot(true);
  quiet_.setInterval(250);
  connect(&quiet_, &QTimer::timeout, this, [this] {
    fast_mode_ = false;
    slice_ = 0;
    update();
  });
}

void ToolpathView::Busy() {
  fast_mode_ = true;
  slice_ = 0;
  quiet_.start();
  update();
}

ToolpathView::~ToolpathView() {
  makeCurrent();
  for (QOpenGLBuffer* b : {&fine_vbo_, &fast_vbo_, &marked_vbo_, &highlight_vbo_}) b->destroy();
  doneCurrent();
}

void ToolpathView::SetGeometry(std::shared_ptr<const ToolpathGeometry> geometry,
                               std::shared_ptr<const ToolpathGeometry> before,
                               std::vector<std::uint32_t> marked, bool lathe, bool fit) {
  const bool refit = fit || lathe != lathe_ || !geometry_;
  if (before && geometry && before->vertices.size() != geometry->vertices.size()) before.reset();
  geometry_ = std::move(geometry);
  before_ = std::move(before);
  if (!before_) show_before_ = false;
  marked_ = std::move(marked);
  lathe_ = lathe;
  dirty_geometry_ = dirty_marked_ = true;
  SetHighlight(highlight_first_, highlight_last_);
  if (refit) Fit();
  Busy();
}

void ToolpathView::ShowBefore(bool on) {
  show_before_ = on && before_ != nullptr;
  dirty_geometry_ = dirty_marked_ = true;
  Busy();
}

void ToolpathView::SetHighlight(std::int64_t first, std::int64_t last) {
  highlight_first_ = first;
  highlight_last_ = last;
  highlight_.clear();
  if (geometry_ && first <= last) geometry_->SegmentsOfLines(first, last, highlight_);
  dirty_highlight_ = true;
  Busy();
}

void ToolpathView::SetPreset(Preset preset) {
  switch (preset) {
    case Preset::kTop: yaw_ = 0, pitch_ = 0; break;
    case Preset::kFront: yaw_ = 0, pitch_ = -90; break;
    case Preset::kSide: yaw_ = -90, pitch_ = -90; break;
    case Preset::kIso: yaw_ = -45, pitch_ = -54.7356f; break;
  }
  Fit();
}

void ToolpathView::Orbit(float yaw, float pitch) {
  if (lathe_) return;
  yaw_ = std::fmod(yaw_ + yaw, 360.0f);
  pitch_ = std::clamp(pitch_ + pitch, -180.0f, 0.0f);
  Busy();
}

QMatrix4x4 ToolpathView::Rotation() const {
  QMatrix4x4 r;
  if (lathe_) {
    // Z to the right, X up, Y towards the viewer.
    r = QMatrix4x4(0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1);
  } else {
    r.rotate(pitch_, 1, 0, 0);
    r.rotate(yaw_, 0, 0, 1);
  }
  return r;
}

QMatrix4x4 ToolpathView::Mvp() const {
  const float w = std::max(1, width()) * scale_ / 2, h = std::max(1, height()) * scale_ / 2;
  QMatrix4x4 m;
  m.ortho(-w, w, -h, h, -1e7f, 1e7f);
  m *= Rotation();
  m.translate(-target_);
  return m;
}

void ToolpathView::Fit() {
  if (!geometry_ || geometry_->empty) {
    target_ = QVector3D();
    scale_ = 0.1f;
    update();
    return;
  }
  const ToolpathGeometry& g = *geometry_;
  // The extents' corners seen through the camera's rotation.
  const QMatrix4x4 r = Rotation();
  float lo[2] = {1e30f, 1e30f}, hi[2] = {-1e30f, -1e30f};
  QVector3D centre;
  for (int corner = 0; corner < 8; ++corner) {
    QVector3D p(float((corner & 1 ? g.max[0] : g.min[0]) - g.origin[0]),
                float((corner & 2 ? g.max[1] : g.min[1]) - g.origin[1]),
                float((corner & 4 ? g.max[2] : g.min[2]) - g.origin[2]));
    centre += p / 8;
    const QVector3D e = r.map(p);
    lo[0] = std::min(lo[0], e.x()), hi[0] = std::max(hi[0], e.x());
    lo[1] = std::min(lo[1], e.y()), hi[1] = std::max(hi[1], e.y());
  }
  // The legend keeps the right-hand strip.
  const int legend = width() > 400 ? kLegendWidth : 0;
  const float span = std::max({(hi[0] - lo[0]) / std::max(1, width() - 40 - legend),
                               (hi[1] - lo[1]) / std::max(1, height() - 60), 1e-4f});
  scale_ = span * 1.1f;
  target_ = centre + Rotation().inverted().mapVector(QVector3D(legend / 2.0f * scale_, 0, 0));
  update();
}

QPointF ToolpathView::Project(double x, double y, double z) const {
  if (!geometry_) return {};
  const QVector3D p(float(x - geometry_->origin[0]), float(y - geometry_->origin[1]),
                    float(z - geometry_->origin[2]));
  const QVector3D n = Mvp().map(p);
  return {(n.x() + 1) / 2 * width(), (1 - n.y()) / 2 * height()};
}

std::int64_t ToolpathView::LineAt(QPointF point) const {
  if (!geometry_) return 0;
  const QMatrix4x4 m = Mvp();
  const float w = float(width()), h = float(height());
  const float px = float(point.x()), py = float(point.y());
  const auto& v = geometry_->vertices;
  float best = 6.0f * 6.0f;  // pixels squared
  std::int64_t line = 0;
  for (std::size_t s = 0; s < geometry_->SegmentCount(); ++s) {
    const QVector3D a = m.map(QVector3D(v[2 * s].x, v[2 * s].y, v[2 * s].z));
    const QVector3D b = m.map(QVector3D(v[2 * s + 1].x, v[2 * s + 1].y, v[2 * s + 1].z));
    const float ax = (a.x() + 1) / 2 * w, ay = (1 - a.y()) / 2 * h;
    const float bx = (b.x() + 1) / 2 * w, by = (1 - b.y()) / 2 * h;
    const float dx = bx - ax, dy = by - ay;
    const float len2 = dx * dx + dy * dy;
    float t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
    t = std::clamp(t, 0.0f, 1.0f);
    const float ex = ax + t * dx - px, ey = ay + t * dy - py;
    const float d2 = ex * ex + ey * ey;
    // Feed moves win over rapids at the same distance.
    if (d2 < best || (d2 == best && v[2 * s].feed >= 0)) {
      best = d2;
      line = geometry_->segment_line[s];
    }
  }
  return line;
}

void ToolpathView::initializeGL() {
  initializeOpenGLFunctions();
  program_.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
  program_.addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
  program_.bindAttributeLocation("pos", 0);
  program_.bindAttributeLocation("feed", 1);
  program_.bindAttributeLocation("along", 2);
  gl_ready_ = program_.link();
  for (QOpenGLBuffer* b : {&fine_vbo_, &fast_vbo_, &marked_vbo_, &highlight_vbo_}) {
    b->create();
    b->setUsagePattern(QOpenGLBuffer::StaticDraw);
  }
  dirty_geometry_ = dirty_marked_ = dirty_highlight_ = true;
}

void ToolpathView::resizeGL(int, int) { slice_ = 0; }

void ToolpathView::Upload() {
  const auto fill = [](QOpenGLBuffer& b, const std::vector<PathVertex>& v) {
    static const PathVertex kNone{0, 0, 0, 0, 0};
    b.bind();
    if (v.empty()) b.allocate(&kNone, int(sizeof kNone));
    else b.allocate(v.data(), int(v.size() * sizeof(PathVertex)));
    b.release();
  };
  const ToolpathGeometry& shown = show_before_ && before_ ? *before_ : *geometry_;
  // The whole path, or its fine level (chords under a pixel at most sizes).
  const std::vector<PathVertex>* fine = &shown.vertices;
  if (!shown.levels.empty() && !shown.levels.front().sketch && shown.levels.size() > 1) {
    fine = &shown.levels.front().vertices;
  }
  if (dirty_geometry_) {
    fine_ = GLsizei(fine->size());
    if (!shown.levels.empty() && &shown.levels.back().vertices != fine) {
      fill(fast_vbo_, shown.levels.back().vertices);
      fast_ = GLsizei(shown.levels.back().vertices.size());
    } else {
      fast_ = 0;
    }
    dirty_geometry_ = false;
    dirty_fine_ = true;
  }
  // The whole path goes up only when a still picture needs it.
  if (dirty_fine_ && !(fast_mode_ && fast_ > 0)) {
    fill(fine_vbo_, *fine);
    dirty_fine_ = false;
  }
  const auto copy = [&](QOpenGLBuffer& b, const ToolpathGeometry& g, const std::vector<std::uint32_t>& segments,
                        GLsizei& count) {
    std::vector<PathVertex> v;
    const std::size_t n = std::min(segments.size(), kFineBudget);
    v.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
      v.push_back(g.vertices[2 * segments[i]]);
      v.push_back(g.vertices[2 * segments[i] + 1]);
    }
    fill(b, v);
    count = GLsizei(v.size());
  };
  if (dirty_marked_) copy(marked_vbo_, shown, marked_, marked_count_), dirty_marked_ = false;
  if (dirty_highlight_) copy(highlight_vbo_, *geometry_, highlight_, highlight_count_), dirty_highlight_ = false;
}

void ToolpathView::Bind(QOpenGLBuffer& vbo) {
  vbo.bind();
  program_.enableAttributeArray(0);
  program_.enableAttributeArray(1);
  program_.enableAttributeArray(2);
  program_.setAttributeBuffer(0, GL_FLOAT, offsetof(PathVertex, x), 3, sizeof(PathVertex));
  program_.setAttributeBuffer(1, GL_FLOAT, offsetof(PathVertex, feed), 1, sizeof(PathVertex));
  program_.setAttributeBuffer(2, GL_FLOAT, offsetof(PathVertex, along), 1, sizeof(PathVertex));
}

void ToolpathView::DrawRange(QOpenGLBuffer& vbo, GLint first, GLsizei count, float width, int mode) {
  if (count <= 0) return;
  Bind(vbo);
  program_.setUniformValue("mode", mode);
  glLineWidth(width);
  glDrawArrays(GL_LINES, first, count);
  vbo.release();
}

void ToolpathView::paintGL() {
  QElapsedTimer timer;
  timer.start();
  QPainter painter(this);
  painter.beginNativePainting();
  const bool drawable = gl_ready_ && geometry_ && !geometry_->empty;
  if (drawable) Upload();
  const bool fast = !drawable || (fast_mode_ && fast_ > 0);
  if (fast || slice_ == 0) {
    glClearColor(0.12f, 0.12f, 0.13f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  glDisable(GL_DEPTH_TEST);
  bool complete = true;
  last_frame_segments_ = 0;
  if (drawable) {
    program_.bind();
    program_.setUniformValue("mvp", Mvp());
    const ToolpathGeometry& g = *geometry_;
    double lo = g.min_feed, hi = g.max_feed;
    if (before_) lo = std::min(lo, before_->min_feed), hi = std::max(hi, before_->max_feed);
    program_.setUniformValue("fmin", float(lo));
    program_.setUniformValue("fscale", float(hi > lo ? 1.0 / (hi - lo) : 0.0));
    program_.setUniformValue("dash", 3.0f * scale_);
    program_.setUniformValue("flat_colour", QVector4D(kHighlight[0], kHighlight[1], kHighlight[2], kHighlight[3]));
    if (fast) {
      DrawRange(fast_vbo_, 0, fast_, 1.0f, 0);
      last_frame_segments_ = std::size_t(fast_) / 2;
    } else {
      const GLsizei begin = slice_ * GLsizei(2 * kSlice);
      const GLsizei end = std::min<GLsizei>(fine_, begin + GLsizei(2 * kSlice));
      DrawRange(fine_vbo_, begin, end - begin, 1.0f, 0);
      last_frame_segments_ = std::size_t(end - begin) / 2;
      complete = end >= fine_;
      slice_ = complete ? 0 : slice_ + 1;
    }
    if (complete) {
      DrawRange(marked_vbo_, 0, marked_count_, 5.0f, 0);
      DrawRange(highlight_vbo_, 0, highlight_count_, 3.0f, 1);
      last_frame_segments_ += std::size_t(marked_count_ + highlight_count_) / 2;
    }
    program_.release();
  }
  glFinish();
  last_frame_ms_ = double(timer.nsecsElapsed()) / 1e6;
  painter.endNativePainting();
  if (complete) {
    DrawOverlay(painter);
  } else {
    QTimer::singleShot(0, this, [this] { update(); });  // the next slice
  }
}

void ToolpathView::DrawOverlay(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QColor(220, 220, 220));
  if (!geometry_ || geometry_->empty) {
    p.drawText(rect(), Qt::AlignCenter, tr("No moves"));
    return;
  }
  const ToolpathGeometry& g = *geometry_;
  const QString unit = QLatin1String(UnitName(g.units));
  // Axis arrows at the program's zero.
  double size = 0;
  for (int i = 0; i < 3; ++i) size = std::max(size, g.max[i] - g.min[i]);
  size = std::max(size * 0.12, 1e-3);
  const QPointF o = Project(0, 0, 0);
  const struct {
    const char* name;
    double d[3];
    QColor colour;
  } axes[] = {{"X", {1, 0, 0}, QColor(230, 70, 70)}, {"Y", {0, 1, 0}, QColor(80, 200, 80)},
              {"Z", {0, 0, 1}, QColor(80, 130, 240)}};
  for (const auto& a : axes) {
    if (lathe_ && a.name[0] == 'Y') continue;
    const QPointF tip = Project(a.d[0] * size, a.d[1] * size, a.d[2] * size);
    const QPointF d = tip - o;
    const double len = std::hypot(d.x(), d.y());
    if (len < 4) continue;
    p.setPen(QPen(a.colour, 2));
    p.drawLine(o, tip);
    const QPointF u = d / len, n(-u.y(), u.x());
    p.drawLine(tip, tip - u * 8 + n * 4);
    p.drawLine(tip, tip - u * 8 - n * 4);
    p.drawText(tip + u * 10 + QPointF(-4, 4), QLatin1String(a.name));
  }
  // Extents.
  p.setPen(QColor(200, 200, 200));
  QStringList extents;
  for (int i = 0; i < 3; ++i) {
    if (lathe_ && i == 1 && g.min[1] == g.max[1]) continue;
    extents << QStringLiteral("%1 %2 \u2026 %3")
                   .arg(QChar("XYZ"[i]))
                   .arg(g.min[i], 0, 'f', 3)
                   .arg(g.max[i], 0, 'f', 3);
  }
  p.drawText(QRectF(8, height() - 24, width() - 16, 20), Qt::AlignLeft | Qt::AlignVCenter,
             extents.join(QLatin1String("   ")) + QLatin1Char(' ') + unit);
  // Legend: the scale and the program's feeds on it.
  double lo = g.min_feed, hi = g.max_feed;
  std::vector<double> feeds = g.feeds;
  if (before_) {
    lo = std::min(lo, before_->min_feed), hi = std::max(hi, before_->max_feed);
    feeds.insert(feeds.end(), before_->feeds.begin(), before_->feeds.end());
    std::sort(feeds.begin(), feeds.end());
    feeds.erase(std::unique(feeds.begin(), feeds.end()), feeds.end());
  }
  if (g.feed_segments == 0) return;
  const int bar_h = std::min(200, height() - 80), x = width() - kLegendWidth + 20, y = 30;
  if (bar_h < 40) return;
  QLinearGradient gradient(0, y + bar_h, 0, y);
  for (int i = 0; i <= 8; ++i) {
    const auto c = FeedColour(float(i) / 8);
    gradient.setColorAt(i / 8.0, QColor::fromRgbF(c[0], c[1], c[2]));
  }
  p.fillRect(QRectF(x, y, 14, bar_h), gradient);
  p.setPen(QColor(220, 220, 220));
  p.drawText(QRectF(x - 20, 6, 130, 20), Qt::AlignLeft,
             tr("F %1/min%2").arg(unit, show_before_ ? tr(" (before)") : QString()));
  double last_label = 1e9;
  for (std::size_t i = 0; i < feeds.size(); ++i) {
    const double t = hi > lo ? (feeds[i] - lo) / (hi - lo) : 0.0;
    const double fy = y + bar_h - t * bar_h;
    if (last_label - fy < 13 && i + 1 != feeds.size()) continue;  // labels apart
    last_label = fy;
    p.drawLine(QPointF(x + 14, fy), QPointF(x + 20, fy));
    p.drawText(QPointF(x + 24, fy + 4), QString::number(feeds[i], 'g', 6));
  }
  p.setPen(QPen(QColor(150, 150, 150), 1, Qt::DashLine));
  p.drawLine(QPointF(x, y + bar_h + 16), QPointF(x + 14, y + bar_h + 16));
  p.setPen(QColor(220, 220, 220));
  p.drawText(QPointF(x + 24, y + bar_h + 20), tr("rapid"));
}

void ToolpathView::mousePressEvent(QMouseEvent* event) {
  press_ = last_ = event->position();
  button_ = event->button();
  dragged_ = false;
}

void ToolpathView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF d = event->position() - last_;
  last_ = event->position();
  if ((event->position() - press_).manhattanLength() > 3) dragged_ = true;
  if (!dragged_) return;
  if (button_ == Qt::LeftButton && !lathe_) {
    Orbit(float(d.x()) * 0.4f, float(d.y()) * 0.4f);
  } else if (button_ != Qt::NoButton) {
    const QMatrix4x4 inv = Rotation().inverted();
    target_ -= inv.mapVector(QVector3D(float(d.x()) * scale_, float(-d.y()) * scale_, 0));
    Busy();
  }
}

void ToolpathView::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragged_ && button_ == Qt::LeftButton) {
    const std::int64_t line = LineAt(event->position());
    if (line > 0) emit lineClicked(line);
  }
  button_ = Qt::NoButton;
}

void ToolpathView::wheelEvent(QWheelEvent* event) {
  const float factor = std::pow(0.85f, float(event->angleDelta().y()) / 120.0f);
  const float before = scale_, after = std::clamp(scale_ * factor, 1e-6f, 1e6f);
  const QPointF m = event->position();
  const float ex = float(m.x() - width() / 2.0), ey = float(height() / 2.0 - m.y());
  const QMatrix4x4 inv = Rotation().inverted();
  target_ += inv.mapVector(QVector3D(ex * (before - after), ey * (before - after), 0));
  scale_ = after;
  Busy();
}

}  // namespace refhost
