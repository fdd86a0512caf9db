#include "app/AboutView.h"

#include <QFile>
#include <QToolButton>

#include "platform/foundation/Paths.h"
#include "platform/qt/Animation.h"
#include "platform/qt/Application.h"
#include "platform/qt/Toolbar.h"
#include "platform/qt/View.h"

namespace glowsnap {

AboutView::AboutView(const std::string& title, const std::string& version, int bar_style,
                     QWidget* parent)
    : QWidget(parent), m_title(title), m_version(version) {
  setObjectName("m_av");
  View::setFrame(this, Rect(0, 0, 320, 480));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);

  m_wv = new WebView(this);
  m_wv->setObjectName("m_wv");
  View::setFrame(m_wv, Rect(0, 0, 320, 435));
  m_wv->setBackgroundColor(Qt::black);
  m_wv->setScalesPageToFit(false);
  m_wv->setDelegate(this);

  m_toolbar = new Toolbar(this);
  m_toolbar->setObjectName("m_toolbar");
  View::setFrame(m_toolbar, Rect(0, 436, 320, 44));
  m_toolbar->setBarStyle(bar_style);
  auto* back = new QToolButton(m_toolbar);
  back->setObjectName("btn_back");
  back->setText(tr("Back"));
  connect(back, &QToolButton::clicked, this, [this] {
    if (m_back_handler) {
      m_back_handler();
    } else {
      on_btn_back();
    }
  });
  m_toolbar->setItems({back, Toolbar::flexibleSpace(m_toolbar)});

  View::addSubview(this, m_wv);
  View::addSubview(this, m_toolbar);

  const std::filesystem::path page = paths::resourcePath("Glowsnap.html");
  QFile file(QString::fromStdString(page.string()));
  if (file.open(QIODevice::ReadOnly)) {
    QString dir = QString::fromStdString(paths::resourcesDirectory().string());
    if (!dir.endsWith('/')) dir += '/';
    m_wv->loadHTMLString(QString::fromUtf8(file.readAll()), QUrl::fromLocalFile(dir));
  }
  setHidden(true);
}

AboutView::~AboutView() = default;

void AboutView::show(std::function<void()> didStop) {
  QWidget* super = View::superview(this);
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.8);
  Animation::setAnimationDidStop(std::move(didStop));
  Animation::setAnimationTransition(Animation::Transition::CurlUp, super);
  View::bringSubviewToFront(super, this);
  View::setHidden(this, false);
  Animation::commitAnimations();
}

void AboutView::on_btn_back(std::function<void()> didStop) {
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.8);
  Animation::setAnimationDidStop(std::move(didStop));
  Animation::setAnimationTransition(Animation::Transition::CurlDown, View::superview(this));
  View::setHidden(this, true);
  Animation::commitAnimations();
}

bool AboutView::shouldStartLoadWithRequest(WebView*, const QUrl& url, NavigationType type) {
  if (type != LinkClicked) return true;
  if (url.scheme() == QLatin1String("http")) Application::openURL(url);
  return false;
}

}  // namespace glowsnap
