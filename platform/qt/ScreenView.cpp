#include "platform/qt/ScreenView.h"

#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace glowsnap {

ScreenView::ScreenView(QWidget* screen, QWidget* parent) : QGraphicsView(parent), screen_(screen) {
  auto* scene = new QGraphicsScene(this);
  setScene(scene);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setBackgroundBrush(Qt::black);
  setAlignment(Qt::AlignCenter);
  setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                 QPainter::SmoothPixmapTransform);
  // Moving and fading widgets change their neighbours' looks: redraw whole.
  setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
  setTransformationAnchor(QGraphicsView::AnchorViewCenter);
  setResizeAnchor(QGraphicsView::AnchorViewCenter);
  // Files dropped on the window are the window's business.
  setAcceptDrops(false);
  viewport()->setAcceptDrops(false);
  setFocusPolicy(Qt::StrongFocus);

  proxy_ = scene->addWidget(screen_);
  proxy_->setFlag(QGraphicsItem::ItemIsFocusable);
  scene->setSceneRect(proxy_->boundingRect());
  scene->setFocusItem(proxy_);
  fit();
}

ScreenView::~ScreenView() = default;

double ScreenView::scale() const { return transform().m11(); }

QRect ScreenView::screenRect() const {
  const QRectF r = proxy_->sceneBoundingRect();
  const double s = scale();
  return QRect(mapFromScene(r.topLeft()), QSize(static_cast<int>(std::lround(r.width() * s)),
                                                static_cast<int>(std::lround(r.height() * s))));
}

void ScreenView::fit() {
  const QRectF r = proxy_ ? proxy_->sceneBoundingRect() : QRectF();
  const QSize area = viewport()->size();
  if (r.isEmpty() || area.isEmpty()) return;
  const double s = std::min(area.width() / r.width(), area.height() / r.height());
  setTransform(QTransform::fromScale(s, s));
  centerOn(r.center());
}

void ScreenView::resizeEvent(QResizeEvent* event) {
  QGraphicsView::resizeEvent(event);
  fit();
}

void ScreenView::showEvent(QShowEvent* event) {
  QGraphicsView::showEvent(event);
  fit();
}

void ScreenView::focusInEvent(QFocusEvent* event) {
  QGraphicsView::focusInEvent(event);
  if (scene() && !scene()->focusItem()) scene()->setFocusItem(proxy_);
}

QWidget* ScreenView::desktopWindow(QWidget* widget) {
  QWidget* w = widget ? widget->window() : nullptr;
  while (w && w->graphicsProxyWidget()) {
    QGraphicsScene* scene = w->graphicsProxyWidget()->scene();
    if (!scene || scene->views().isEmpty()) break;
    w = scene->views().constFirst()->window();
  }
  return w;
}

}  // namespace glowsnap
