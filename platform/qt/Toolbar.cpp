#include "platform/qt/Toolbar.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>

namespace glowsnap {

Toolbar::Toolbar(QWidget* parent) : QWidget(parent) { setBarStyle(Default); }

Toolbar::~Toolbar() = default;

QList<QWidget*> Toolbar::items() const {
  QList<QWidget*> out;
  QLayout* l = layout();
  if (!l) return out;
  for (int i = 0; i < l->count(); ++i) {
    if (QWidget* w = l->itemAt(i)->widget()) out.push_back(w);
  }
  return out;
}

void Toolbar::setItems(const QList<QWidget*>& items) {
  auto* box = qobject_cast<QBoxLayout*>(layout());
  if (!box) {
    box = new QHBoxLayout(this);
    box->setContentsMargins(6, 4, 6, 4);
    box->setSpacing(6);
  }
  for (QWidget* w : this->items()) {
    box->removeWidget(w);
    if (!items.contains(w)) w->hide();
  }
  while (box->count() > 0) delete box->takeAt(0);
  for (QWidget* w : items) {
    if (w->parentWidget() != this) w->setParent(this);
    box->addWidget(w);
    w->show();
  }
}

void Toolbar::setBarStyle(int style) {
  style_ = style;
  const QString text = style == Black ? "white" : "#1d2a3a";
  const QString bg = style == Black ? "rgba(255,255,255,30)" : "rgba(255,255,255,90)";
  setStyleSheet(QStringLiteral(
                    "QToolButton, QPushButton { color: %1; font-weight: bold; padding: 4px 8px;"
                    " border: 1px solid rgba(0,0,0,110); border-radius: 5px; background: %2; }"
                    " QToolButton:pressed, QPushButton:pressed { background: rgba(0,0,0,60); }"
                    " QToolButton:disabled, QPushButton:disabled { color: rgba(128,128,128,180); }")
                    .arg(text, bg));
  update();
}

QWidget* Toolbar::flexibleSpace(QWidget* parent) {
  auto* w = new QWidget(parent);
  w->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  return w;
}

void Toolbar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient g(0, 0, 0, height());
  if (style_ == Black) {
    g.setColorAt(0, QColor(60, 60, 60));
    g.setColorAt(0.5, QColor(20, 20, 20));
    g.setColorAt(1, QColor(0, 0, 0));
  } else {
    g.setColorAt(0, QColor(176, 188, 205));
    g.setColorAt(0.5, QColor(128, 145, 170));
    g.setColorAt(1, QColor(109, 131, 162));
  }
  p.fillRect(rect(), g);
  p.setPen(QColor(0, 0, 0, 150));
  p.drawLine(0, 0, width(), 0);
}

}  // namespace glowsnap
