#include "app/GlowsnapAppDelegate.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "app/GlowsnapViewController.h"
#include "platform/graphics/ImageIO.h"
#include "platform/qt/Application.h"
#include "platform/qt/Panel.h"
#include "platform/qt/View.h"
#include "ui_MainWindow.h"

namespace glowsnap {

GlowsnapAppDelegate::GlowsnapAppDelegate(Defaults& settings, QObject* parent)
    : QObject(parent), m_window(std::make_unique<QWidget>()) {
  Ui::MainWindow ui;
  ui.setupUi(m_window.get());
  m_window->setFixedSize(m_window->size());
  m_window->setAcceptDrops(true);
  m_window->installEventFilter(this);
  m_viewController = std::make_unique<GlowsnapViewController>(settings);
}

GlowsnapAppDelegate::~GlowsnapAppDelegate() {
  if (m_window) m_window->removeEventFilter(this);
  // The controller's view is a child of the window: take it out before the
  // controller, which owns it, goes.
  if (m_viewController && m_viewController->isViewLoaded())
    View::removeFromSuperview(m_viewController->view());
  m_viewController.reset();
}

void GlowsnapAppDelegate::applicationDidFinishLaunching() {
  Application::setStatusBarHidden(true, true);
  // Alerts and sheets are laid over the window.
  Panel::setDefaultHost(m_window.get());
  QWidget* v = m_viewController->view();
  View::addSubview(m_window.get(), v);
  v->move(0, 0);
  // Alerts shown while the view loaded (the first-launch notice, the review
  // request) stay above it.
  for (Panel* p : m_window->findChildren<Panel*>(Qt::FindDirectChildrenOnly)) p->raise();
  m_window->show();
  m_window->activateWindow();
  m_window->raise();
}

bool GlowsnapAppDelegate::openFile(const std::filesystem::path& path) {
  return m_viewController->openPhotoFile(path);
}

bool GlowsnapAppDelegate::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_window.get()) {
    if (event->type() == QEvent::DragEnter) {
      auto* e = static_cast<QDragEnterEvent*>(event);
      const QList<QUrl> urls = e->mimeData()->urls();
      if (urls.size() == 1 && urls.front().isLocalFile() &&
          imageio::formatForPath(urls.front().toLocalFile().toStdString()) !=
              imageio::Format::Unknown) {
        e->acceptProposedAction();
        return true;
      }
    } else if (event->type() == QEvent::Drop) {
      auto* e = static_cast<QDropEvent*>(event);
      const QList<QUrl> urls = e->mimeData()->urls();
      if (!urls.isEmpty() && urls.front().isLocalFile()) {
        e->acceptProposedAction();
        openFile(urls.front().toLocalFile().toStdString());
        return true;
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace glowsnap
