#include "platform/qt/Panel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace glowsnap {
namespace {
QPointer<QWidget>& hostRef() {
  static QPointer<QWidget> host;
  return host;
}
}  // namespace

void Panel::setDefaultHost(QWidget* host) { hostRef() = host; }
QWidget* Panel::defaultHost() { return hostRef().data(); }

Panel::Panel(QWidget* host, Style style, const QString& title, const QString& message,
             const QStringList& buttons, int cancelIndex, int defaultIndex,
             std::function<void(int)> clicked)
    : QWidget(host),
      style_(style),
      cancelIndex_(cancelIndex),
      defaultIndex_(defaultIndex >= 0 && defaultIndex < buttons.size() ? defaultIndex : -1),
      clicked_(std::move(clicked)),
      previousFocus_(host ? host->window()->focusWidget() : QApplication::focusWidget()) {
  setFocusPolicy(Qt::StrongFocus);
  box_ = new QWidget(this);
  box_->setObjectName(style == Style::Alert ? "alertBox" : "sheetBox");
  box_->setAttribute(Qt::WA_StyledBackground);
  auto* layout = new QVBoxLayout(box_);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->setSpacing(8);
  const QString boxStyle =
      style == Style::Alert
          ? "QWidget#alertBox { background: rgba(24, 40, 72, 235); border: 2px solid "
            "rgba(255,255,255,200);"
            " border-radius: 10px; }"
          : "QWidget#sheetBox { background: rgba(20, 20, 20, 235); border-top: 1px solid #666; }";
  box_->setStyleSheet(boxStyle +
                      " QLabel { color: white; background: transparent; border: none; }"
                      " QPushButton { color: white; min-height: 30px; border-radius: 6px;"
                      " border: 1px solid rgba(255,255,255,120); background: rgba(255,255,255,40);"
                      " font-weight: bold; }"
                      " QPushButton:pressed { background: rgba(255,255,255,110); }"
                      " QPushButton[cancel=\"true\"] { background: rgba(0,0,0,90); }"
                      " QPushButton[preferred=\"true\"] { border: 2px solid white; }"
                      " QPushButton:focus { background: rgba(120,170,255,110); }");
  if (!title.isEmpty()) {
    auto* t = new QLabel(title, box_);
    t->setObjectName("title");
    t->setAlignment(Qt::AlignCenter);
    t->setWordWrap(true);
    QFont f = t->font();
    f.setBold(style == Style::Alert);
    t->setFont(f);
    layout->addWidget(t);
  }
  if (!message.isEmpty()) {
    auto* m = new QLabel(message, box_);
    m->setObjectName("message");
    m->setAlignment(Qt::AlignCenter);
    m->setWordWrap(true);
    layout->addWidget(m);
  }
  // Two alert buttons sit side by side, the cancel button on the left; more
  // buttons, and every sheet button, are stacked.
  const bool sideBySide = style == Style::Alert && buttons.size() == 2;
  QBoxLayout* row = sideBySide ? static_cast<QBoxLayout*>(new QHBoxLayout) : layout;
  if (sideBySide) layout->addLayout(row);
  for (int i = 0; i < buttons.size(); ++i) {
    auto* b = new QPushButton(buttons[i], box_);
    b->setObjectName(QStringLiteral("button%1").arg(i));
    b->setProperty("cancel", i == cancelIndex);
    b->setProperty("preferred", i == defaultIndex_);
    b->setFocusPolicy(Qt::StrongFocus);
    if (style == Style::Sheet && i == cancelIndex) layout->addSpacing(6);
    row->addWidget(b);
    buttons_.push_back(b);
    connect(b, &QPushButton::clicked, this, [this, i] { press(i); });
  }
  // The keyboard starts on the default button; without one, on the panel.
  if (defaultIndex_ >= 0) setFocusProxy(buttons_[defaultIndex_]);
  if (host) host->installEventFilter(this);
  fitToHost();
}

Panel::~Panel() = default;

void Panel::fitToHost() {
  QWidget* host = parentWidget();
  const QSize area = host ? host->size() : QSize(320, 480);
  if (!host)
    resize(area);
  else
    setGeometry(0, 0, area.width(), area.height());
  const int boxWidth = style_ == Style::Alert ? std::min(284, area.width() - 20) : area.width();
  box_->setFixedWidth(boxWidth);
  // Wrapped messages need the height for this width, not the plain hint.
  QLayout* l = box_->layout();
  l->activate();
  int h = l->hasHeightForWidth() ? l->heightForWidth(boxWidth) : box_->sizeHint().height();
  h = std::max(h, contentBottom_ + 12);
  h = std::min(std::max(h, box_->minimumSizeHint().height()), std::max(60, area.height() - 20));
  if (style_ == Style::Alert) {
    box_->setGeometry((area.width() - boxWidth) / 2 + offset_.x(),
                      (area.height() - h) / 2 + offset_.y(), boxWidth, h);
  } else {
    box_->setGeometry(0, area.height() - h, boxWidth, h);
  }
}

void Panel::addSubview(QWidget* view) {
  const QRect frame = view->geometry();
  view->setParent(box_);
  view->setGeometry(frame);
  view->show();
  view->raise();
  contentBottom_ = std::max(contentBottom_, frame.bottom() + 1);
  fitToHost();
}

void Panel::setOffset(QPoint offset) {
  offset_ = offset;
  fitToHost();
}

bool Panel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) fitToHost();
  return QWidget::eventFilter(watched, event);
}

void Panel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(0, 0, 0, style_ == Style::Alert ? 110 : 90));
}

void Panel::press(int index) {
  if (index >= 0 && clicked_) clicked_(index);
}

void Panel::keyPressEvent(QKeyEvent* event) {
  event->accept();  // nothing typed at a panel reaches the screen below
  if (event->isAutoRepeat()) return;
  switch (event->key()) {
    case Qt::Key_Escape:
      press(cancelIndex_ >= 0 ? cancelIndex_ : (buttons_.size() == 1 ? 0 : -1));
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      const int focused = static_cast<int>(buttons_.indexOf(window()->focusWidget()));
      press(focused >= 0 ? focused
                         : (defaultIndex_ >= 0 ? defaultIndex_ : (buttons_.size() == 1 ? 0 : -1)));
      break;
    }
    case Qt::Key_Up:
    case Qt::Key_Left:
      focusNextPrevChild(false);
      break;
    case Qt::Key_Down:
    case Qt::Key_Right:
      focusNextPrevChild(true);
      break;
    default:
      break;
  }
}

void Panel::keyReleaseEvent(QKeyEvent* event) { event->accept(); }

bool Panel::focusNextPrevChild(bool next) {
  if (buttons_.isEmpty()) return true;
  const qsizetype n = buttons_.size();
  const qsizetype at = buttons_.indexOf(window()->focusWidget());
  const qsizetype to = at < 0 ? (next ? 0 : n - 1) : (at + (next ? 1 : n - 1)) % n;
  buttons_[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  return true;
}

void Panel::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // The keyboard goes to the panel below, or back where it was.
  QWidget* host = parentWidget();
  if (host) {
    const QList<Panel*> others = host->findChildren<Panel*>(Qt::FindDirectChildrenOnly);
    for (auto it = others.rbegin(); it != others.rend(); ++it) {
      if (*it != this && (*it)->isVisible()) {
        (*it)->setFocus();
        return;
      }
    }
  }
  if (previousFocus_ && previousFocus_->isVisible() && previousFocus_->isEnabled())
    previousFocus_->setFocus(Qt::OtherFocusReason);
}

}  // namespace glowsnap
